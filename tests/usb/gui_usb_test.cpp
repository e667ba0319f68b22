// The updater's Qt window on the test machine's USB bus: a tarvix-gadget's arrival and removal
// reach it through udev, and it updates the gadget's boot loader through hidraw. Run by
// tests/usb/run.sh, which names the gadget program, the firmware file and the flash the update must
// leave.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>

#include "base/local_text.h"
#include "base/trace.h"
#include "device/hidapi/hidapi_platform.h"
#include "tests/ui/qt/scripted_window_system.h"
#include "ui/qt/update_window.h"
#include "update/update_dlg.h"

namespace {

const QString kPlainTitle = QStringLiteral("Tarvix Update v2.60");

// Processes Qt events until done() holds; false when the minute runs out first.
bool WaitUntil(const std::function<bool()>& done) {
  return QTest::qWaitFor(done, 60000);
}

class UsbWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("TARVIX_GADGET"));
    m_seams.platform = &m_platform;
    m_seams.language = LANG_EN_US;
    m_seams.trace = QuietTraceSink();
    m_dlg = std::make_unique<CUpdateDlg>(m_seams);
    m_window = std::make_unique<CUpdateWindow>(
        m_dlg.get(), std::make_unique<ScriptedQtWindowSystem>(&m_answers));
    m_window->Open();
  }
  void TearDown() override {
    StopGadget();
    m_window->Shutdown();
    m_window.reset();
    m_dlg.reset();
  }

  void StartGadget(const QStringList& arguments) {
    m_gadget.setProcessChannelMode(QProcess::ForwardedChannels);
    m_gadget.start(qEnvironmentVariable("TARVIX_GADGET"),
                   QStringList{"--name", "gui", "--udc", "dummy_udc.0"} + arguments);
    ASSERT_TRUE(m_gadget.waitForStarted(10000));
  }
  void StopGadget() {
    if (m_gadget.state() == QProcess::NotRunning)
      return;
    m_gadget.terminate();
    if (!m_gadget.waitForFinished(10000))
      m_gadget.kill();
  }
  QString Title() const { return m_window->windowTitle(); }
  bool Enabled() const { return m_window->UpdateButton()->isEnabled(); }

  HidapiPlatform m_platform;
  Seams m_seams;
  ScriptedAnswers m_answers;
  std::unique_ptr<CUpdateDlg> m_dlg;
  std::unique_ptr<CUpdateWindow> m_window;
  QProcess m_gadget;
};

TEST_F(UsbWindowTest, FollowsARealArrivalAndRemoval) {
  ASSERT_FALSE(Enabled());
  EXPECT_EQ(Title(), kPlainTitle);
  StartGadget({"--mode", "app"});
  ASSERT_TRUE(WaitUntil([this] { return Enabled(); }));
  EXPECT_EQ(Title(), QStringLiteral("Tarvix Update v2.60(GamePad V1.37)"));
  StopGadget();
  ASSERT_TRUE(WaitUntil([this] { return !Enabled(); }));
  EXPECT_EQ(Title(), kPlainTitle);
}

TEST_F(UsbWindowTest, UpdatesABootLoaderGadget) {
  const QString dump = qEnvironmentVariable("TARVIX_GUI_DUMP");
  StartGadget({"--mode", "boot", "--dump", dump});
  ASSERT_TRUE(WaitUntil([this] { return Enabled(); }));
  m_answers.m_filePath = qEnvironmentVariable("TARVIX_DAT").toStdU16String();
  m_window->UpdateButton()->click();
  ASSERT_TRUE(WaitUntil([this] { return m_window->DoneLabel()->isVisible(); }));
  ASSERT_TRUE(WaitUntil([this] { return !m_dlg->IsUpdateRunning(); }));
  StopGadget();
  QFile held(dump), expected(qEnvironmentVariable("TARVIX_BOOT_FLASH"));
  ASSERT_TRUE(held.open(QIODevice::ReadOnly) && expected.open(QIODevice::ReadOnly));
  EXPECT_EQ(held.readAll(), expected.readAll());
}

}  // namespace
