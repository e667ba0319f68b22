// tarvix-update-demo: the updater's dialog on the virtual controller, so that anyone can run a
// whole update without hardware. "tarvix-update-demo" (or "boot") attaches a controller in its boot
// loader, "tarvix-update-demo app" one running its firmware. F5 plugs the controller in, F6 unplugs
// it (also on the window's context menu); the dialog sees both through its device monitor.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "base/local_text.h"
#include "base/trace.h"
#include "demo/demo_controller.h"
#include "emulator/dat_writer.h"
#include "ui/qt/qt_translation.h"
#include "ui/qt/update_app.h"
#include "update/update_dlg.h"

namespace {

constexpr char kSampleName[] = "tarvix-demo.dat";
constexpr uint32_t kReplyLatencyMs = 1;  // one USB frame

// An installed demo uses the installed sample (<prefix>/share/tarvix-update beside <prefix>/bin)
// and writes nothing. Else it writes the sample beside the program, or in the temporary folder when
// that is not writable. The sample's folder becomes the current one, where the open-file dialog
// starts.
QString WriteSample() {
  const QString installed =
      QDir(QCoreApplication::applicationDirPath())
          .filePath(QStringLiteral("../share/tarvix-update/") + QLatin1String(kSampleName));
  if (QFileInfo(installed).isFile()) {
    QDir::setCurrent(QFileInfo(installed).absolutePath());
    return QFileInfo(installed).absoluteFilePath();
  }
  const std::vector<uint8_t> bytes = DemoSampleDat();
  for (const QString& folder : {QCoreApplication::applicationDirPath(), QDir::tempPath()}) {
    QString path = QDir(folder).filePath(QLatin1String(kSampleName));
    if (WriteFile(path.toStdString(), bytes)) {
      QDir::setCurrent(folder);
      return path;
    }
  }
  return QString();
}

}  // namespace

int main(int argc, char** argv) {
  if (!HasDisplay("tarvix-update-demo"))
    return 1;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tarvix-update-demo"));
  QGuiApplication::setDesktopFileName(QStringLiteral("tarvix-update"));
  QTranslator qtTexts;
  InstallQtTranslation(qtTexts, UiLanguage());

  const QStringList args = QApplication::arguments().mid(1);
  const QString mode = args.value(0, QStringLiteral("boot"));
  if (args.size() > 1 || (mode != QLatin1String("boot") && mode != QLatin1String("app"))) {
    std::fprintf(stderr, "usage: tarvix-update-demo [boot|app]\n");
    return 2;
  }
  const bool appMode = mode == QLatin1String("app");

  const TraceSink trace = WindowProgramTraceSink("tarvix-update-demo");
  // The system clock (the default) with a reply latency: the bar moves as with a real controller.
  VirtualHidPlatform platform;
  platform.Faults(kDemoPath).latencyMs = kReplyLatencyMs;
  const DemoController controller = MakeDemoController(appMode);

  const QString sample = WriteSample();
  if (sample.isEmpty())
    std::fprintf(stderr, "demo: could not write the sample firmware file\n");
  else
    std::fprintf(stderr, "demo: sample firmware file %s\n", sample.toLocal8Bit().constData());
  std::fprintf(stderr, "demo: virtual controller in %s; F5 plugs it in, F6 unplugs it\n",
               appMode ? "application mode" : "its boot loader");

  platform.Plug(kDemoPath, controller.vendorId, controller.productId, controller.model);
  {
    CUpdateDlg dlg({&platform, trace, {}});
    DoModal(dlg, [&](CUpdateWindow& window) { AddPlugActions(window, platform, controller); });
    TellLastUpdate("tarvix-update-demo", dlg);
  }
  return 0;
}
