// The demo's promises: its sample file updates both virtual controllers, and F6/F5 unplug and plug
// the controller so that the window follows.
#include <QDir>
#include <QTest>

#include "demo/demo_controller.h"
#include "tests/ui/qt/gui_fixture.h"

namespace {

class DemoTest : public GuiTest {
 protected:
  void PlugDemoController(bool appMode) {
    m_controller = MakeDemoController(appMode);
    m_platform.Plug(kDemoPath, m_controller.vendorId, m_controller.productId, m_controller.model);
  }
  void ChooseSample() {
    QString path = QDir(m_dir.path()).filePath(QStringLiteral("tarvix-demo.dat"));
    ASSERT_TRUE(WriteFile(path.toStdString(), DemoSampleDat()));
    m_answers.m_filePath = path.toStdU16String();
  }
  bool Succeeded() {
    for (const auto& box : Ws().Boxes()) {
      if (box.text == u"\n Firmware upgraded! \n")
        return true;
    }
    return false;
  }
  DemoController m_controller;
};

TEST_F(DemoTest, TheSampleFileUpdatesTheVirtualBootLoader) {
  PlugDemoController(false);
  OpenWindow();
  ChooseSample();
  ClickUpdate();
  ASSERT_TRUE(WaitForUpdateEnd());
  EXPECT_TRUE(Succeeded());
  auto* loader = static_cast<VirtualBootLoader*>(m_controller.model.get());
  EXPECT_EQ(loader->VersionWord(), 200u);
  EXPECT_EQ(loader->m_bFinished, 1);
}

TEST_F(DemoTest, TheSampleFileUpdatesTheVirtualRunningFirmware) {
  PlugDemoController(true);
  OpenWindow();
  ChooseSample();
  ClickUpdate();
  ASSERT_TRUE(WaitForUpdateEnd());
  EXPECT_TRUE(Succeeded());
  auto* firmware = static_cast<VirtualRunningFirmware*>(m_controller.model.get());
  EXPECT_EQ(firmware->m_bFinished, 1);
  EXPECT_EQ(firmware->m_image.size(), 48u * 1024);
}

TEST_F(DemoTest, F6UnplugsAndF5PlugsTheVirtualControllerBackIn) {
  PlugDemoController(true);
  OpenWindow();
  AddPlugActions(*m_window, m_platform, m_controller);
  m_window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
  ASSERT_TRUE(Button()->isEnabled());

  QTest::keyClick(m_window.get(), Qt::Key_F6);
  ASSERT_TRUE(WaitUntil([this] { return !Button()->isEnabled(); }));
  EXPECT_FALSE(m_platform.IsPlugged(kDemoPath));
  EXPECT_EQ(Title(), QString::fromStdU16String(kTitle));

  QTest::keyClick(m_window.get(), Qt::Key_F5);
  ASSERT_TRUE(WaitUntil([this] { return Button()->isEnabled(); }));
  EXPECT_EQ(Title(), QStringLiteral("Tarvix Update v2.60(GamePad V1.37)"));
  EXPECT_EQ(Ws().DeliveredEvents(),
            (std::vector<int>{IDeviceMonitor::kRemoveComplete, IDeviceMonitor::kArrival}));
}

}  // namespace
