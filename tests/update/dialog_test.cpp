// The dialog's logic through the recording window system, against the virtual controller.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <thread>

#include "appmode/serial_mask.h"
#include "base/clock.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_hid.h"
#include "emulator/virtual_running_firmware.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/update_dlg_probe.h"
#include "update/update_dlg.h"

namespace {

constexpr char kPath[] = "/dev/hidraw-virtual0";

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_seams.platform = &m_platform;
    m_seams.language = LANG_EN_US;
    m_seams.trace = QuietTraceSink();
    m_dlg = std::make_unique<CUpdateDlg>(m_seams);
    m_dlg->AttachWindow(&m_window);
  }
  void TearDown() override {
    m_dlg.reset();
    // The mask tables are process globals: the next test starts from the stored words again.
  }
  void PlugRunningFirmware(uint32_t version) {
    RunningFirmwareConfig config;
    config.versionWord = version;
    m_firmware = std::make_shared<VirtualRunningFirmware>(config);
    m_platform.Plug(kPath, 0x0483, 0x5750, m_firmware);
  }
  size_t ReportsFromHost() {
    size_t n = 0;
    for (const TranscriptEntry& entry : m_platform.Transcript())
      n += entry.fromHost ? 1 : 0;
    return n;
  }

  VirtualClock m_clock;

  Seams m_seams;
  VirtualHidPlatform m_platform{&m_clock};
  FakeWindowSystem m_window;
  std::shared_ptr<VirtualRunningFirmware> m_firmware;
  std::unique_ptr<CUpdateDlg> m_dlg;
};

TEST_F(DialogTest, StartUpWithoutAControllerShowsThePlainIdleDialog) {
  ASSERT_EQ(m_dlg->OnInitDialog(), 1);
  EXPECT_EQ(m_window.Title(), u"Tarvix Update v2.60");
  EXPECT_EQ(m_window.ControlText(IDC_HINT), LoadLocalText(TXT_INSTRUCTIONS));
  EXPECT_EQ(m_window.ControlText(IDC_USB_UPDATE), u"USB Update");
  EXPECT_EQ(m_window.ControlText(IDC_DONE_LABEL), u"Firmware upgraded!");
  EXPECT_FALSE(m_window.IsVisible(IDC_DONE_LABEL));
  EXPECT_FALSE(m_window.IsEnabled(IDC_USB_UPDATE));
  EXPECT_EQ(m_window.m_progressMin, 0);
  EXPECT_EQ(m_window.m_progressMax, 100);
  EXPECT_EQ(m_window.ProgressPos(), 0);
  EXPECT_EQ(m_window.IconId(), IDI_APP);
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 1);
  EXPECT_EQ(m_dlg->Run().m_app.m_nUpdateState.load(), STATE_IDLE);
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), VERSION_UNKNOWN);
  EXPECT_EQ(m_dlg->Run().m_imageSize, 0u);
  EXPECT_EQ(m_dlg->Run().m_recordOffset, 0);
  // The window listens for arrival and removal from the start.
  EXPECT_EQ(m_window.WatchedMonitors().size(), 1u);
  // The mask-table references were exchanged.
  EXPECT_EQ(m_dlg->Run().m_app.m_pSecondMaskTable, m_dlg->Run().m_app.m_SerialMaskTable);
}

TEST_F(DialogTest, StartUpWithAControllerQueriesItButOpensWithThePlainTitle) {
  PlugRunningFirmware(140);
  ASSERT_EQ(m_dlg->OnInitDialog(), 1);
  EXPECT_TRUE(m_window.IsEnabled(IDC_USB_UPDATE));
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), 140u);
  // The version reached the title during the query, and step 15 replaced it.
  std::vector<std::u16string> titles = m_window.Titles();
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[0], u"Tarvix Update v2.60(GamePad V1.40)");
  EXPECT_EQ(titles[1], u"Tarvix Update v2.60");
  EXPECT_EQ(m_firmware->m_nVersionQueries, 1);
}

TEST_F(DialogTest, StartUpWithABootLoaderPreparesTheMaskBeforeTheExchange) {
  auto loader = std::make_shared<VirtualBootLoader>();
  m_platform.Plug(kPath, 0x7A3D, 0x3208, loader);
  ASSERT_EQ(m_dlg->OnInitDialog(), 1);
  ASSERT_EQ(m_dlg->Run().m_Hid.m_bBootMode.load(), 1);
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), 0x89u);  // the identification ran
  // The identification wrote through the references as constructed (first: the serial mask
  // table), and only then were the references exchanged.
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m_dlg->Run().m_app.m_SerialMaskTable[i], kMaskWordsLow[i]) << "serial word " << i;
    EXPECT_EQ(m_dlg->Run().m_app.m_SerialMaskTable[4 + i], kStoredMaskTable[4 + i])
        << "serial word " << 4 + i;
    EXPECT_EQ(m_dlg->Run().m_app.m_SpareMaskTable[i], kStoredMaskTable[i]) << "spare word " << i;
    EXPECT_EQ(m_dlg->Run().m_app.m_SpareMaskTable[4 + i], kMaskWordsHigh[i])
        << "spare word " << 4 + i;
  }
  EXPECT_EQ(m_dlg->Run().m_app.m_pFirstMaskTable, m_dlg->Run().m_app.m_SpareMaskTable);
  EXPECT_EQ(m_dlg->Run().m_app.m_pSecondMaskTable, m_dlg->Run().m_app.m_SerialMaskTable);
}

TEST_F(DialogTest, ArrivalShowsTheVersionAndRemovalResetsTheTitle) {
  ASSERT_EQ(m_dlg->OnInitDialog(), 1);
  PlugRunningFirmware(0x00030089);
  m_dlg->OnDeviceChange(0x8000, 0);
  EXPECT_TRUE(m_window.IsEnabled(IDC_USB_UPDATE));
  EXPECT_EQ(m_window.Title(), u"Tarvix Update v2.60(GamePad V1.37 beta3)");

  // A removal while a controller is still found changes nothing.
  m_window.ClearRecords();
  m_dlg->OnDeviceChange(0x8004, 0);
  EXPECT_TRUE(m_window.Titles().empty());
  EXPECT_TRUE(m_window.IsEnabled(IDC_USB_UPDATE));

  m_platform.Unplug(kPath);
  m_dlg->OnDeviceChange(0x8004, 0);
  EXPECT_FALSE(m_window.IsEnabled(IDC_USB_UPDATE));
  EXPECT_EQ(m_window.Title(), u"Tarvix Update v2.60");
}

TEST_F(DialogTest, EventTableDecidesWhatRuns) {
  ASSERT_EQ(m_dlg->OnInitDialog(), 1);
  // Arrival with nothing found changes nothing; nodes-changed with nothing found resets.
  m_window.ClearRecords();
  m_dlg->OnDeviceChange(0x8000, 0);
  EXPECT_TRUE(m_window.Titles().empty());
  m_dlg->OnDeviceChange(7, 0);
  EXPECT_EQ(m_window.Titles(), std::vector<std::u16string>{u"Tarvix Update v2.60"});
  EXPECT_FALSE(m_window.IsEnabled(IDC_USB_UPDATE));

  // Only the low 16 bits count; other codes do not even run discovery.
  PlugRunningFirmware(200);
  size_t before = ReportsFromHost();
  m_dlg->OnDeviceChange(0x00018001, 0);
  m_dlg->OnDeviceChange(0x8003, 0);
  EXPECT_EQ(ReportsFromHost(), before);
  EXPECT_FALSE(m_window.IsEnabled(IDC_USB_UPDATE));
  EXPECT_EQ(m_dlg->OnDeviceChange(0x00038000, 0), 1);
  EXPECT_TRUE(m_window.IsEnabled(IDC_USB_UPDATE));
  EXPECT_EQ(m_window.Title(), u"Tarvix Update v2.60(GamePad V2.00)");
}

TEST_F(DialogTest, DeviceChangesDuringAnUpdateWaitForItsEnd) {
  ASSERT_EQ(m_dlg->OnInitDialog(), 1);
  PlugRunningFirmware(150);
  ASSERT_EQ(m_dlg->Run().AcquireLink(LINK_UPDATE), 1);  // an update holds the link
  size_t before = ReportsFromHost();
  m_window.ClearRecords();
  m_dlg->OnDeviceChange(0x8000, 0);
  m_dlg->OnDeviceChange(7, 0);
  EXPECT_EQ(ReportsFromHost(), before);  // no version query went out
  EXPECT_TRUE(m_window.Titles().empty());
  EXPECT_FALSE(m_window.IsEnabled(IDC_USB_UPDATE));
  // The version query refuses to run beside the update, too.
  m_dlg->Run().QueryDeviceVersion();
  EXPECT_EQ(ReportsFromHost(), before);

  m_dlg->Run().ReleaseLink(LINK_UPDATE);
  m_dlg->OnWorkerEnded();
  EXPECT_TRUE(m_window.IsEnabled(IDC_USB_UPDATE));
  EXPECT_EQ(m_window.Title(), u"Tarvix Update v2.60(GamePad V1.50)");
  EXPECT_EQ(m_firmware->m_nVersionQueries, 1);  // one handling for both events
}

std::atomic<int> g_releaseWorker{0};
void WaitingWorker(void*) {
  while (!g_releaseWorker.load())
    std::this_thread::yield();
}
void ShortWorker(void*) {}

TEST_F(DialogTest, ALateEndNoticeLeavesTheNextUpdateAlone) {
  ASSERT_EQ(m_dlg->OnInitDialog(), 1);
  PlugRunningFirmware(150);
  // Update A ends; before its notice is handled the user starts update B.
  ASSERT_EQ(m_dlg->Run().AcquireLink(LINK_UPDATE), 1);
  m_dlg->Run().StartUpdateThread(ShortWorker);
  ASSERT_TRUE(m_window.WaitForWorkerEnd()) << "update A did not end";
  UpdateDlgProbe::DeviceChangePending(*m_dlg) = 1;
  g_releaseWorker = 0;
  ASSERT_EQ(m_dlg->Run().AcquireLink(LINK_UPDATE), 1);
  m_dlg->Run().StartUpdateThread(WaitingWorker);
  size_t before = ReportsFromHost();

  m_dlg->OnWorkerEnded();  // A's notice: must neither wait for B nor talk to the controller
  EXPECT_EQ(m_dlg->IsUpdateRunning(), 1);
  EXPECT_EQ(UpdateDlgProbe::DeviceChangePending(*m_dlg).load(), 1);
  EXPECT_EQ(ReportsFromHost(), before);

  g_releaseWorker = 1;
  ASSERT_TRUE(m_window.WaitForWorkerEnd()) << "update B did not end";
  m_dlg->OnWorkerEnded();  // B's notice handles what was held back
  EXPECT_FALSE(m_dlg->Run().m_worker.joinable());
  EXPECT_EQ(UpdateDlgProbe::DeviceChangePending(*m_dlg).load(), 0);
  EXPECT_EQ(m_window.Title(), u"Tarvix Update v2.60(GamePad V1.50)");
}

TEST_F(DialogTest, AnEndNoticeWhileTheWindowClosesEndsTheDialogAndLeavesTheControllerAlone) {
  PlugRunningFirmware(150);
  ASSERT_EQ(m_dlg->OnInitDialog(), 1);
  size_t before = ReportsFromHost();
  m_window.ClearRecords();
  UpdateDlgProbe::ClosePending(*m_dlg) = 1;  // the user chose to close while the update ran
  UpdateDlgProbe::DeviceChangePending(*m_dlg) = 1;
  m_dlg->OnWorkerEnded();
  EXPECT_EQ(m_window.m_nEndDialogs, 1);
  EXPECT_EQ(ReportsFromHost(), before);  // no version query for a window that is going away
  EXPECT_EQ(m_firmware->m_nVersionQueries, 1);
  EXPECT_TRUE(m_window.Titles().empty());
  // A click that gets through meanwhile starts nothing.
  m_dlg->OnBnClickedUsbUpdate();
  EXPECT_EQ(m_dlg->IsUpdateRunning(), 0);
  UpdateDlgProbe::ClosePending(*m_dlg) = 0;
}

TEST_F(DialogTest, AClickThatCannotOpenTheControllerOnlyHidesTheLabel) {
  PlugRunningFirmware(150);
  ASSERT_EQ(m_dlg->OnInitDialog(), 1);
  m_window.ShowControl(IDC_DONE_LABEL, true);
  m_platform.Unplug(kPath);
  m_dlg->OnBnClickedUsbUpdate();
  EXPECT_FALSE(m_window.IsVisible(IDC_DONE_LABEL));
  EXPECT_TRUE(m_window.IsEnabled(IDC_USB_UPDATE));
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 1);
  EXPECT_EQ(m_dlg->IsUpdateRunning(), 0);
}

TEST_F(DialogTest, ClosingAsksOnlyWhileAnUpdateRuns) {
  ASSERT_EQ(m_dlg->OnInitDialog(), 1);
  EXPECT_EQ(m_dlg->OnCloseRequested(), 1);
  EXPECT_TRUE(m_window.Boxes().empty());

  ASSERT_EQ(m_dlg->Run().AcquireLink(LINK_UPDATE), 1);
  m_dlg->Run().m_bStop = 0;
  m_window.QueueBoxAnswer(IDCANCEL);
  EXPECT_EQ(m_dlg->OnCloseRequested(), 0);
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 0);
  std::vector<FakeWindowSystem::Box> boxes = m_window.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"The new firmware is updating,and it is turned off");
  EXPECT_EQ(boxes[0].caption, u"Tarvix Update v2.60");
  EXPECT_EQ(boxes[0].type, MB_OKCANCEL);

  // The worker is stuck in a call that does not return (here: it never looks at the stop flag).
  g_releaseWorker = 0;
  m_dlg->Run().StartUpdateThread(WaitingWorker);
  m_window.QueueBoxAnswer(IDOK);
  EXPECT_EQ(m_dlg->OnCloseRequested(), 0);  // closes once the worker has ended
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 1);
  EXPECT_EQ(m_dlg->IsClosePending(), 1);
  EXPECT_EQ(m_window.m_nCloseWorkerDialogs, 1);
  EXPECT_EQ(m_dlg->OnCloseRequested(), 0);  // a second request asks nothing
  EXPECT_EQ(m_window.Boxes().size(), 2u);
  ASSERT_EQ(m_window.m_timers.count(CUpdateDlg::kCloseTimerId), 1u);
  m_clock.SleepMs(CUpdateDlg::kCloseGraceMs - 1);
  m_dlg->OnTimer(CUpdateDlg::kCloseTimerId);
  EXPECT_EQ(m_window.m_nEndDialogs, 0);
  m_clock.SleepMs(1);  // the bound: the window goes without the worker
  m_dlg->OnTimer(CUpdateDlg::kCloseTimerId);
  EXPECT_EQ(m_window.m_nEndDialogs, 1);
  EXPECT_EQ(m_dlg->IsWorkerAbandoned(), 1);
  EXPECT_TRUE(m_window.m_timers.empty());
  g_releaseWorker = 1;
  ASSERT_TRUE(m_window.WaitForWorkerEnd());
  EXPECT_EQ(m_dlg->PrepareToClose(), 0);
}

// The window's last moments without a confirmed close (the event loop ended some other way): a
// stuck worker is waited for no longer than the grace time either.
TEST_F(DialogTest, TheLastMomentsWaitForAStuckWorkerNoLongerThanTheGraceTime) {
  ASSERT_EQ(m_dlg->OnInitDialog(), 1);
  ASSERT_EQ(m_dlg->Run().AcquireLink(LINK_UPDATE), 1);
  m_dlg->Run().m_bStop = 0;
  g_releaseWorker = 0;
  m_dlg->Run().StartUpdateThread(WaitingWorker);
  EXPECT_EQ(m_dlg->PrepareToClose(), 1);
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 1);
  EXPECT_EQ(m_window.m_timers.count(CUpdateDlg::kCloseTimerId), 1u);  // the loop keeps waking
  m_clock.SleepMs(CUpdateDlg::kCloseGraceMs - 1);
  EXPECT_EQ(m_dlg->PrepareToClose(), 1);
  m_clock.SleepMs(1);
  EXPECT_EQ(m_dlg->PrepareToClose(), 0);
  EXPECT_EQ(m_dlg->IsWorkerAbandoned(), 1);
  EXPECT_TRUE(m_window.m_timers.empty());
  g_releaseWorker = 1;
  m_dlg->Run().m_worker.join();  // the dialog has let go of its window: no end notice comes
}

}  // namespace
