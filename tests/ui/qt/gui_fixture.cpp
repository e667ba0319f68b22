#include "tests/ui/qt/gui_fixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTest>

#include "base/trace.h"

bool WaitUntil(const std::function<bool()>& done, int boundMs) {
  QDeadlineTimer deadline(boundMs);
  while (!done()) {
    if (deadline.hasExpired())
      return false;
    QTest::qWait(1);
  }
  return true;
}

void GuiTest::SetUp() {
  ASSERT_TRUE(m_dir.isValid());
  m_seams.platform = &m_platform;
  m_seams.language = LANG_EN_US;
  m_seams.trace = QuietTraceSink();
  m_dlg = std::make_unique<CUpdateDlg>(m_seams);
}

void GuiTest::TearDown() {
  if (m_window) {
    m_window->Shutdown();
    m_window.reset();
  }
  m_dlg.reset();
}

void GuiTest::OpenWindow() {
  m_window = std::make_unique<CUpdateWindow>(m_dlg.get(),
                                             std::make_unique<ScriptedQtWindowSystem>(&m_answers));
  m_window->Open();
}

std::shared_ptr<VirtualBootLoader> GuiTest::PlugBootLoader(const char* path) {
  auto loader = std::make_shared<VirtualBootLoader>();
  m_platform.Plug(path, 0x7A3D, 0x3208, loader);
  return loader;
}

std::shared_ptr<VirtualRunningFirmware> GuiTest::PlugRunningFirmware(uint32_t version,
                                                                     const char* path) {
  RunningFirmwareConfig config;
  config.versionWord = version;
  auto firmware = std::make_shared<VirtualRunningFirmware>(config);
  m_platform.Plug(path, 0x0483, 0x5750, firmware);
  return firmware;
}

std::u16string GuiTest::ChooseDat(const std::vector<DatRecord>& records) {
  QString path = QDir(m_dir.path()).filePath(QStringLiteral("firmware.dat"));
  EXPECT_TRUE(WriteFile(path.toStdString(), BuildDat(records)));
  m_answers.m_filePath = path.toStdU16String();
  return m_answers.m_filePath;
}

void GuiTest::ClickUpdate() {
  ASSERT_TRUE(Button()->isEnabled());
  Button()->click();
}

bool GuiTest::UpdateFinished() {
  return !m_dlg->IsUpdateRunning() && Ws().PendingWorkerEnds() == 0 &&
         !m_dlg->Run().m_worker.joinable();
}

DatRecord BootRecord(uint32_t n) {
  DatRecord record;
  record.version = 200;
  record.deviceType = kDeviceType3009;
  record.image = MakeImage(n, 3);
  return record;
}
