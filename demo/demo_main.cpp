// tarvix-update-demo: the updater's dialog on the virtual controller, so that anyone can run a
// whole update without hardware. "tarvix-update-demo" (or "boot") attaches a controller in its boot
// loader, "tarvix-update-demo app" one running its firmware. F5 plugs the controller in, F6 unplugs
// it (also on the window's context menu); the dialog sees both through its device monitor.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QKeySequence>
#include <cstdio>
#include <memory>
#include <string>

#include "emulator/dat_writer.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_hid.h"
#include "emulator/virtual_running_firmware.h"
#include "ui/qt/update_app.h"
#include "ui/qt/update_window.h"
#include "ui/update_dlg.h"

namespace {

constexpr char kPath[] = "/dev/hidraw-virtual0";
constexpr char kSampleName[] = "tarvix-demo.dat";
constexpr uint32_t kSampleImageSize = 48 * 1024;
constexpr uint16_t kSampleVersion = 200;  // 2.00, newer than the virtual controller's 1.37
constexpr uint32_t kReplyLatencyMs = 1;   // one USB frame

struct DemoController {
  std::shared_ptr<VirtualController> model;
  uint16_t vendorId;
  uint16_t productId;
};

DemoController MakeController(bool appMode) {
  if (appMode)
    return {std::make_shared<VirtualRunningFirmware>(), 0x0483, 0x5750};
  return {std::make_shared<VirtualBootLoader>(), 0x7A3D, 0x3208};
}

// The sample file: a record for the boot loader's device type 0x3009, and one for a controller
// whose device type was never read (application mode selects by the type it knows, which stays 0
// until a boot loader was identified; the running firmware receives the first record's image).
std::vector<uint8_t> SampleDat() {
  DatRecord boot;
  boot.version = kSampleVersion;
  boot.deviceType = kDeviceType3009;
  boot.image = MakeImage(kSampleImageSize, 7);
  DatRecord app = boot;
  app.deviceType = 0;
  return BuildDat({boot, app});
}

// Writes the sample beside the program, or in the temporary folder when that is not writable, and
// makes its folder the current one, where the open-file dialog starts.
QString WriteSample() {
  const std::vector<uint8_t> bytes = SampleDat();
  for (const QString& folder : {QCoreApplication::applicationDirPath(), QDir::tempPath()}) {
    QString path = QDir(folder).filePath(QLatin1String(kSampleName));
    if (WriteFile(path.toStdString(), bytes)) {
      QDir::setCurrent(folder);
      return path;
    }
  }
  return QString();
}

void AddPlugActions(CUpdateWindow& window, VirtualHidPlatform& platform,
                    const DemoController& controller) {
  auto* plug = new QAction(QStringLiteral("Plug in the virtual controller"), &window);
  plug->setShortcut(QKeySequence(Qt::Key_F5));
  QObject::connect(plug, &QAction::triggered, &window, [&platform, controller] {
    if (!platform.IsPlugged(kPath))
      platform.Plug(kPath, controller.vendorId, controller.productId, controller.model);
  });
  auto* unplug = new QAction(QStringLiteral("Unplug the virtual controller"), &window);
  unplug->setShortcut(QKeySequence(Qt::Key_F6));
  QObject::connect(unplug, &QAction::triggered, &window, [&platform] {
    if (platform.IsPlugged(kPath))
      platform.Unplug(kPath);
  });
  window.addAction(plug);
  window.addAction(unplug);
  window.setContextMenuPolicy(Qt::ActionsContextMenu);
  window.setToolTip(QStringLiteral("Demo: F5 plugs the virtual controller in, F6 unplugs it"));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tarvix-update-demo"));
  QGuiApplication::setDesktopFileName(QStringLiteral("tarvix-update"));

  const QStringList args = QApplication::arguments().mid(1);
  const QString mode = args.value(0, QStringLiteral("boot"));
  if (args.size() > 1 || (mode != QLatin1String("boot") && mode != QLatin1String("app"))) {
    std::fprintf(stderr, "usage: tarvix-update-demo [boot|app]\n");
    return 2;
  }
  const bool appMode = mode == QLatin1String("app");

  VirtualHidPlatform platform;
  SetHidPlatform(&platform);
  platform.Faults(kPath).latencyMs = kReplyLatencyMs;
  const DemoController controller = MakeController(appMode);

  const QString sample = WriteSample();
  if (sample.isEmpty())
    std::fprintf(stderr, "demo: could not write the sample firmware file\n");
  else
    std::fprintf(stderr, "demo: sample firmware file %s\n", sample.toLocal8Bit().constData());
  std::fprintf(stderr, "demo: virtual controller in %s; F5 plugs it in, F6 unplugs it\n",
               appMode ? "application mode" : "its boot loader");

  platform.Plug(kPath, controller.vendorId, controller.productId, controller.model);
  {
    CUpdateDlg dlg;
    DoModal(dlg, [&](CUpdateWindow& window) { AddPlugActions(window, platform, controller); });
  }
  SetHidPlatform(nullptr);
  return 0;
}
