// The application-mode update end to end: the dialog, started on the window-system fake, updates
// a virtual running controller in virtual time. The update loop runs on the test thread, as the
// update thread would run it after the button press.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "appmode/app_session.h"
#include "appmode/serial_mask.h"
#include "base/clock.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "device/hid.h"
#include "emulator/dat_writer.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_hid.h"
#include "emulator/virtual_running_firmware.h"
#include "firmware/firmware_file.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/held_file.h"
#include "tests/support/scripted_hid.h"
#include "tests/support/update_dlg_probe.h"
#include "update/update_dlg.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kPath = "/virtual/gamepad";

// The fake, with a look at the button whenever a box opens and hooks for the test's story.
class ProbeWindowSystem : public FakeWindowSystem {
 public:
  int ShowBox(const std::u16string& text, const std::u16string& caption, unsigned type) override {
    m_buttonAtBox.push_back(IsEnabled(IDC_USB_UPDATE));
    if (m_onBox)
      m_onBox(text);
    return FakeWindowSystem::ShowBox(text, caption, type);
  }
  void SetProgressPos(int position) override {
    FakeWindowSystem::SetProgressPos(position);
    if (m_onProgress)
      m_onProgress(position);
  }
  std::vector<bool> m_buttonAtBox;
  std::function<void(const std::u16string&)> m_onBox;
  std::function<void(int)> m_onProgress;
};

// A data packet as the host wrote it: its payload length, or -1 for another report.
int DataPayloadLength(const TranscriptEntry& entry) {
  const Bytes& r = entry.bytes;
  if (!entry.fromHost || r.size() < 9 || r[2] != 0 || r[3] != MSG_FIRMWARE || r[6] != FW_DATA)
    return -1;
  return r[1] == 5 ? 0 : r[7] | (r[8] << 8);
}

class AppUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_platform = std::make_unique<VirtualHidPlatform>(&m_clock);
    m_fake = std::make_unique<ProbeWindowSystem>();
    m_seams.platform = m_platform.get();
    m_seams.language = LANG_EN_US;
    m_seams.trace = [this](const std::string& line) { m_traces.push_back(line); };
    m_dir = std::filesystem::path(::testing::TempDir()) /
            ("appmode_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(m_dir);
    m_dlg = std::make_unique<CUpdateDlg>(m_seams);
    m_dlg->AttachWindow(m_fake.get());
  }
  void TearDown() override {
    m_dlg.reset();
    m_fake.reset();
    m_platform.reset();
    std::filesystem::remove_all(m_dir);
  }

  // Plugs a running controller and starts the dialog (which asks for its version).
  void Start(RunningFirmwareConfig config = {}) {
    m_fw = std::make_shared<VirtualRunningFirmware>(config);
    m_platform->Plug(kPath, 0x0483, 0x5750, m_fw);
    m_dlg->OnInitDialog();
  }
  // A .dat file of the given records in the test's folder; answers its path for the file dialog.
  std::u16string WriteDat(const std::vector<DatRecord>& records,
                          const std::string& name = "fw.dat") {
    std::string path = (m_dir / name).string();
    EXPECT_TRUE(WriteFile(path, BuildDat(records)));
    return Utf8ToUtf16(path);
  }
  std::u16string WriteImage(uint32_t size) {
    DatRecord record;
    record.version = 138;
    record.image = MakeImage(size, size);
    m_image = record.image;
    return WriteDat({record});
  }
  // What the button press does, then the update thread's work on this thread.
  void RunUpdate() {
    ASSERT_EQ(m_dlg->Run().AcquireLink(LINK_UPDATE), 1);
    ASSERT_EQ(m_dlg->Run().m_Hid.OpenHid(), 1);
    m_dlg->Run().m_bStop = 0;
    UpdateDlgProbe::UpdateButton(*m_dlg).EnableWindow(false);
    m_fake->ClearRecords();
    m_fake->m_buttonAtBox.clear();
    m_platform->ClearTranscript();
    m_traces.clear();
    m_startMs = m_clock.NowMs();
    Usb_UpdateThread(&m_dlg->Run());
    m_dlg->Run().ReleaseLink(LINK_UPDATE);
  }
  std::vector<int> ChunkSizes() {
    std::vector<int> sizes;
    for (const TranscriptEntry& entry : m_platform->Transcript())
      if (int n = DataPayloadLength(entry); n >= 0)
        sizes.push_back(n);
    return sizes;
  }
  std::vector<std::u16string> BoxTexts() {
    std::vector<std::u16string> texts;
    for (const FakeWindowSystem::Box& box : m_fake->Boxes())
      texts.push_back(box.text);
    return texts;
  }
  int Traced(const std::string& line) {
    return static_cast<int>(std::count(m_traces.begin(), m_traces.end(), line));
  }
  void Dispatch(Bytes message) {
    message.resize(63, 0);
    m_dlg->Run().m_app.DispatchReport(message.data());
  }

  static std::u16string Confirmation() { return u"New firmware 1.38 and current is 1.37\n"; }
  static std::u16string Success() { return u"\n " + LoadLocalText(TXT_UPGRADED) + u" \n"; }
  static std::u16string Failure() { return LoadLocalText(TXT_UPDATE_FAILED) + u"\n"; }

  VirtualClock m_clock;

  Seams m_seams;
  std::unique_ptr<VirtualHidPlatform> m_platform;
  std::unique_ptr<ProbeWindowSystem> m_fake;
  std::shared_ptr<VirtualRunningFirmware> m_fw;
  std::unique_ptr<CUpdateDlg> m_dlg;
  std::filesystem::path m_dir;
  std::vector<std::string> m_traces;
  Bytes m_image;
  uint64_t m_startMs = 0;
};

TEST_F(AppUpdateTest, AWholeUpdateLeavesExactlyTheImageInTheController) {
  Start();
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), 0x89u);
  m_fake->QueueFilePath(WriteImage(300));
  RunUpdate();

  EXPECT_EQ(m_fw->m_image, m_image);
  EXPECT_EQ(m_fw->m_fileSize, 300u);
  EXPECT_EQ(m_fw->m_fileVersion, 138u);
  EXPECT_EQ(m_fw->m_fileAddress, 0x08003400u);
  EXPECT_EQ(m_fw->m_bSerialAccepted, 1);
  EXPECT_EQ(m_fw->m_nSerialTable, 1);
  EXPECT_EQ(m_fw->m_bFinished, 1);
  EXPECT_EQ(m_fw->m_nUnexpected, 0);
  EXPECT_EQ(m_fw->m_nExtraChunks, 0);

  EXPECT_EQ(BoxTexts(), (std::vector<std::u16string>{Confirmation(), Success()}));
  // One position per chunk, the last 100; the success report then resets the bar.
  std::vector<int> expected;
  for (uint32_t done = 32; done < 300; done += 32)
    expected.push_back(static_cast<int>(done * 100 / 300));
  expected.push_back(100);
  expected.push_back(0);
  EXPECT_EQ(m_fake->ProgressPositions(), expected);
  // The button stayed disabled through the success box and came back at the thread's end.
  EXPECT_EQ(m_fake->m_buttonAtBox, (std::vector<bool>{false, false}));
  EXPECT_TRUE(m_fake->IsEnabled(IDC_USB_UPDATE));
  EXPECT_TRUE(m_fake->IsVisible(IDC_DONE_LABEL));
  EXPECT_EQ(Traced("update successful\n"), 1);
  EXPECT_EQ(m_traces.back(), "Exit Usb_UpdateThread\n");
  EXPECT_EQ(m_dlg->Run().m_app.m_nUpdateState.load(), STATE_IDLE);
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 1);
  EXPECT_TRUE(m_dlg->Run().m_image.empty());
}

TEST_F(AppUpdateTest, ChunksEndAtTheImageEnd) {
  struct Case {
    uint32_t size;
    std::vector<int> chunks;
    std::vector<int> positions;
  };
  // 100 bytes: 32, 32, 32, 4. An image of 32 bytes or less completes with its first chunk.
  for (const Case& c :
       {Case{100, {32, 32, 32, 4}, {32, 64, 96, 100, 0}}, Case{64, {32, 32}, {50, 100, 0}},
        Case{20, {20}, {100, 0}}, Case{32, {32}, {100, 0}}}) {
    SCOPED_TRACE(c.size);
    TearDown();
    SetUp();
    Start();
    m_fake->QueueFilePath(WriteImage(c.size));
    RunUpdate();
    EXPECT_EQ(ChunkSizes(), c.chunks);
    EXPECT_EQ(m_fake->ProgressPositions(), c.positions);
    EXPECT_EQ(m_fw->m_image, m_image);
    EXPECT_EQ(m_fw->m_bFinished, 1);
    EXPECT_EQ(BoxTexts(), (std::vector<std::u16string>{Confirmation(), Success()}));
  }
}

TEST_F(AppUpdateTest, ATwoRecordFileSendsTheFirstRecordAndNothingBeyondIt) {
  Start();
  DatRecord first;
  first.version = 138;
  first.beta = 0;
  first.targetAddress = 0x08004000;
  first.image = MakeImage(100, 7);
  DatRecord second;
  second.version = 200;
  second.deviceType = 0x1234;
  second.image = MakeImage(90, 8);
  m_fake->QueueFilePath(WriteDat({first, second}));
  RunUpdate();
  EXPECT_EQ(m_fw->m_fileSize, 100u);
  EXPECT_EQ(m_fw->m_fileAddress, 0x08004000u);
  EXPECT_EQ(m_fw->m_image, first.image);
  EXPECT_EQ(ChunkSizes(), (std::vector<int>{32, 32, 32, 4}));
  EXPECT_EQ(m_fw->m_bFinished, 1);
}

TEST_F(AppUpdateTest, FirmwareTypes1And200AreUpdatedOthersNeedBootMode) {
  for (uint8_t type : {1, 200, 0, 2}) {
    SCOPED_TRACE(static_cast<int>(type));
    TearDown();
    SetUp();
    RunningFirmwareConfig config;
    config.firmwareType = type;
    Start(config);
    m_fake->QueueFilePath(WriteImage(70));
    RunUpdate();
    bool accepted = type == 1 || type == 200;
    EXPECT_EQ(m_fake->FileDialogs().size(), accepted ? 1u : 0u);
    EXPECT_EQ(m_fw->m_bFinished, accepted ? 1 : 0);
    std::u16string needBoot = LoadLocalText(TXT_NEED_BOOT_MODE) + u"\n";
    if (accepted) {
      EXPECT_EQ(BoxTexts(), (std::vector<std::u16string>{Confirmation(), Success()}));
    } else {
      EXPECT_EQ(BoxTexts(), std::vector<std::u16string>{needBoot});
      EXPECT_EQ(m_fake->Boxes()[0].type, MB_OK);
      EXPECT_EQ(Traced(Utf16ToUtf8(needBoot)), 1);
      EXPECT_EQ(m_fw->m_bFileInfo, 0);
      EXPECT_EQ(m_dlg->Run().m_bStop.load(), 1);
      EXPECT_TRUE(m_fake->IsEnabled(IDC_USB_UPDATE));
    }
  }
}

TEST_F(AppUpdateTest, FailureCodesShowTheFailureBoxOnce) {
  for (uint8_t code : {21, 24}) {
    SCOPED_TRACE(static_cast<int>(code));
    TearDown();
    SetUp();
    RunningFirmwareConfig config;
    config.failAfterChunks = 2;
    config.failureCode = code;
    Start(config);
    m_fake->QueueFilePath(WriteImage(200));
    RunUpdate();
    EXPECT_EQ(BoxTexts(), (std::vector<std::u16string>{Confirmation(), Failure()}));
    EXPECT_EQ(ChunkSizes(), (std::vector<int>{32, 32}));
    EXPECT_EQ(m_fw->m_bFinished, 0);
    EXPECT_TRUE(m_dlg->Run().m_image.empty());
    EXPECT_EQ(m_dlg->Run().m_app.m_nUpdateState.load(), STATE_IDLE);
    // The controller is still found: the button is back.
    EXPECT_TRUE(m_fake->IsEnabled(IDC_USB_UPDATE));
  }
}

TEST_F(AppUpdateTest, AFailureReportEnablesTheButtonOnlyWhileTheControllerIsFound) {
  Start();
  for (int found : {0, 1}) {
    UpdateDlgProbe::UpdateButton(*m_dlg).EnableWindow(false);
    m_dlg->Run().m_Hid.m_bDeviceFound = found;
    Dispatch({0x00, MSG_FIRMWARE, 0x01, 0x00, FW_FAILED});
    EXPECT_EQ(m_fake->IsEnabled(IDC_USB_UPDATE), found == 1);
  }
  // While an update thread holds the link the button waits for the thread's end.
  ASSERT_EQ(m_dlg->Run().AcquireLink(LINK_UPDATE), 1);
  UpdateDlgProbe::UpdateButton(*m_dlg).EnableWindow(false);
  Dispatch({0x00, MSG_FIRMWARE, 0x01, 0x00, FW_FAILED});
  EXPECT_FALSE(m_fake->IsEnabled(IDC_USB_UPDATE));
  m_dlg->Run().ReleaseLink(LINK_UPDATE);
  EXPECT_EQ(BoxTexts(), (std::vector<std::u16string>{Failure(), Failure(), Failure()}));
}

TEST_F(AppUpdateTest, CancelEndsTheUpdateSilently) {
  for (bool inConfirmation : {false, true}) {
    SCOPED_TRACE(inConfirmation);
    TearDown();
    SetUp();
    Start();
    if (inConfirmation) {
      m_fake->QueueFilePath(WriteImage(70));
      m_fake->QueueBoxAnswer(IDCANCEL);
    }
    RunUpdate();
    EXPECT_EQ(BoxTexts(), inConfirmation ? std::vector<std::u16string>{Confirmation()}
                                         : std::vector<std::u16string>{});
    EXPECT_EQ(m_fw->m_bFileInfo, 0);
    EXPECT_TRUE(ChunkSizes().empty());
    EXPECT_EQ(m_dlg->Run().m_bStop.load(), 1);
    EXPECT_EQ(m_traces.back(), "Exit Usb_UpdateThread\n");
    EXPECT_TRUE(m_fake->IsEnabled(IDC_USB_UPDATE));
  }
}

TEST_F(AppUpdateTest, TheInstructionsWordShowsTheInstructionsBox) {
  RunningFirmwareConfig config;
  config.versionWord = 0xFFFFFFFF;
  Start(config);
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), 0xFFFFFFFFu);
  EXPECT_EQ(BoxTexts(), std::vector<std::u16string>{LoadLocalText(TXT_INSTRUCTIONS)});
  // No version title: only start-up's plain title.
  EXPECT_EQ(m_fake->Titles(), std::vector<std::u16string>{LoadLocalText(TXT_TITLE)});
  EXPECT_EQ(m_fw->m_nVersionQueries, 1);
}

TEST_F(AppUpdateTest, AVersionReplyDuringAnUpdateChangesTheTitle) {
  Start();
  m_fake->QueueFilePath(WriteImage(100));
  // While the confirmation box is open, the controller is asked for its version again and now
  // answers 1.40 beta 2; the reply arrives in the middle of the transfer.
  m_fake->m_onBox = [this](const std::u16string& text) {
    if (text != Confirmation())
      return;
    m_fw->m_config.versionWord = (2u << 16) | 140;
    m_dlg->Run().m_app.SendFirmwarePacket(FW_VERSION, nullptr, 0);
  };
  RunUpdate();
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), (2u << 16) | 140);
  EXPECT_EQ(m_fake->Title(), LoadLocalText(TXT_TITLE) + u"(GamePad V1.40 beta2)");
  EXPECT_EQ(m_fw->m_bFinished, 1);
  EXPECT_EQ(m_fw->m_image, m_image);
}

TEST_F(AppUpdateTest, AVersionQueryWithoutAnswerEndsWithinItsBound) {
  RunningFirmwareConfig config;
  config.answerVersion = false;
  Start(config);  // the first query runs inside start-up
  uint64_t start = m_clock.NowMs();
  m_fake->ClearRecords();
  m_dlg->Run().QueryDeviceVersion();
  uint64_t waited = m_clock.NowMs() - start;
  EXPECT_GE(waited, 2000u);
  EXPECT_LE(waited, 2200u);
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), VERSION_UNKNOWN);
  EXPECT_TRUE(m_fake->Boxes().empty());
  EXPECT_TRUE(m_fake->Titles().empty());
  EXPECT_EQ(m_fw->m_nVersionQueries, 2);
  EXPECT_GE(m_fw->m_nReadFailed, 10);  // one after every read that timed out
  EXPECT_EQ(m_dlg->Run().m_nLinkOwner.load(), LINK_FREE);
}

TEST_F(AppUpdateTest, TheVersionQueryStaysOutWhileAnUpdateHoldsTheLink) {
  Start();
  ASSERT_EQ(m_dlg->Run().AcquireLink(LINK_UPDATE), 1);
  m_platform->ClearTranscript();
  m_dlg->Run().m_curDevVersion = 0x1234;
  m_dlg->Run().QueryDeviceVersion();
  EXPECT_TRUE(m_platform->Transcript().empty());
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), 0x1234u);
  EXPECT_EQ(m_dlg->Run().m_nLinkOwner.load(), LINK_UPDATE);

  // Once the update lets go, the query talks to the controller again and releases the link.
  m_dlg->Run().ReleaseLink(LINK_UPDATE);
  m_dlg->Run().QueryDeviceVersion();
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), 0x89u);
  EXPECT_FALSE(m_platform->Transcript().empty());
  EXPECT_EQ(m_dlg->Run().m_nLinkOwner.load(), LINK_FREE);
}

TEST_F(AppUpdateTest, InBootModeTheQueryIdentifiesTheBootLoader) {
  auto loader = std::make_shared<VirtualBootLoader>();
  m_platform->Plug(kPath, 0x7A3D, 0x3208, loader);
  m_dlg->OnInitDialog();
  EXPECT_EQ(m_dlg->Run().m_Hid.m_bBootMode.load(), 1);
  EXPECT_EQ(m_dlg->Run().m_boot.m_deviceType, 0x3009u);
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), 0x89u);
  std::vector<std::u16string> titles = m_fake->Titles();
  EXPECT_NE(std::find(titles.begin(), titles.end(), LoadLocalText(TXT_TITLE) + u"(GamePad V1.37)"),
            titles.end());
  EXPECT_EQ(m_dlg->Run().m_nLinkOwner.load(), LINK_FREE);
}

TEST_F(AppUpdateTest, AControllerUnpluggedMidTransferShowsTheFailureBox) {
  Start();
  m_fake->QueueFilePath(WriteImage(200));
  // Host reports: start, file information, then chunks; gone right after the second chunk.
  m_platform->Faults(kPath).unplugAfterReports = 4;
  RunUpdate();
  EXPECT_EQ(ChunkSizes(), (std::vector<int>{32, 32}));
  EXPECT_EQ(BoxTexts(), (std::vector<std::u16string>{Confirmation(), Failure()}));
  EXPECT_LT(m_clock.NowMs() - m_startMs, 1000u);
  EXPECT_TRUE(m_dlg->Run().m_image.empty());
  EXPECT_FALSE(m_fake->IsEnabled(IDC_USB_UPDATE));  // no controller any more
  EXPECT_EQ(m_traces.back(), "Exit Usb_UpdateThread\n");
}

TEST_F(AppUpdateTest, ASilentControllerEndsTheUpdateAfterFiveSeconds) {
  for (bool afterAChunk : {false, true}) {
    SCOPED_TRACE(afterAChunk);
    TearDown();
    SetUp();
    Start();
    m_fake->QueueFilePath(WriteImage(200));
    uint64_t lastHeardMs = 0;
    // From a point on, every reply of the controller is lost.
    auto silence = [this, &lastHeardMs] {
      m_platform->Faults(kPath).dropNextReplies = 1000000;
      lastHeardMs = m_clock.NowMs();
    };
    if (afterAChunk)
      m_fake->m_onProgress = [&silence](int position) {
        if (position > 0)
          silence();
      };
    else
      m_fake->m_onBox = [&silence](const std::u16string&) { silence(); };
    RunUpdate();
    uint64_t silentFor = m_clock.NowMs() - lastHeardMs;
    EXPECT_GE(silentFor, 5000u);
    EXPECT_LE(silentFor, 5100u);
    // Only a controller whose image was touched is reported as failed.
    // The request that answers the first chunk was already on its way when the silence began.
    EXPECT_EQ(ChunkSizes(), afterAChunk ? (std::vector<int>{32, 32}) : std::vector<int>{});
    EXPECT_EQ(BoxTexts(), afterAChunk ? (std::vector<std::u16string>{Confirmation(), Failure()})
                                      : std::vector<std::u16string>{Confirmation()});
    EXPECT_TRUE(m_dlg->Run().m_image.empty());
    EXPECT_EQ(m_dlg->Run().m_app.m_nUpdateState.load(), STATE_IDLE);
    EXPECT_TRUE(m_fake->IsEnabled(IDC_USB_UPDATE));
  }
}

TEST_F(AppUpdateTest, RepliesWithUnknownCommandsAreIgnoredAndTheUpdateGoesOn) {
  Start();
  m_fw->m_nWrongCommandReplies = 3;
  m_fake->QueueFilePath(WriteImage(100));
  RunUpdate();
  EXPECT_EQ(m_fw->m_image, m_image);
  EXPECT_EQ(m_fw->m_bFinished, 1);
  EXPECT_GE(m_fw->m_nResends, 3);
  EXPECT_EQ(BoxTexts(), (std::vector<std::u16string>{Confirmation(), Success()}));
}

TEST_F(AppUpdateTest, MessagesThatDoNotConcernUsAreIgnored) {
  Start();
  m_fake->ClearRecords();
  m_platform->ClearTranscript();
  m_dlg->Run().m_app.m_nUpdateState = STATE_FILE_CHOSEN;
  m_dlg->Run().m_strFirmwarePath = WriteImage(100);
  std::vector<Bytes> ignored = {
      {0x01, MSG_FIRMWARE, 0x01, 0x00, FW_DATA_REQUEST},  // byte 0 not 0
      {0x01, MSG_DEVICE_ID, 0x28, 0x00},
      {0x00, 4, 0x01, 0x00, FW_DATA_REQUEST},  // unknown types
      {0x00, MSG_START_UPDATE, 0x01, 0x00, 0x00},
      {0x00, MSG_READ_FAILED, 0x01, 0x00, 0x00},
      {0x00, 0xFF, 0x01, 0x00, FW_FAILED},
  };
  for (uint8_t command : {FW_DATA, FW_FILE_INFO, FW_FINISH, FW_APP_SERIAL, uint8_t{99}})
    ignored.push_back({0x00, MSG_FIRMWARE, 0x01, 0x00, command});
  for (const Bytes& message : ignored)
    Dispatch(message);
  EXPECT_TRUE(m_platform->Transcript().empty());
  EXPECT_TRUE(m_fake->Boxes().empty());
  EXPECT_TRUE(m_fake->Titles().empty());
  EXPECT_TRUE(m_fake->FileDialogs().empty());
  EXPECT_EQ(m_dlg->Run().m_app.m_nUpdateState.load(), STATE_FILE_CHOSEN);
  EXPECT_TRUE(m_dlg->Run().m_image.empty());
}

TEST_F(AppUpdateTest, StrayDataRequestsAreIgnored) {
  Start();
  const Bytes request = {0x00, MSG_FIRMWARE, 0x01, 0x00, FW_DATA_REQUEST};
  // At start-up no transfer has completed: no finish, no success.
  m_platform->ClearTranscript();
  Dispatch(request);
  EXPECT_TRUE(m_platform->Transcript().empty());
  EXPECT_TRUE(m_fake->Boxes().empty());

  // After a success the next stray request is ignored too.
  m_fake->QueueFilePath(WriteImage(40));
  RunUpdate();
  ASSERT_EQ(BoxTexts(), (std::vector<std::u16string>{Confirmation(), Success()}));
  m_platform->ClearTranscript();
  Dispatch(request);
  EXPECT_TRUE(m_platform->Transcript().empty());
  EXPECT_EQ(m_fake->Boxes().size(), 2u);

  // A request in the sending state after the file was closed by a failure reads nothing.
  m_dlg->Run().m_app.m_nUpdateState = STATE_SENDING;
  m_dlg->Run().StopUpdate();
  Dispatch(request);
  EXPECT_TRUE(m_platform->Transcript().empty());
  EXPECT_EQ(m_dlg->Run().m_app.m_nUpdateState.load(), STATE_SENDING);
}

// The data requests are served from the image read at the confirmation: another program that holds
// the file meanwhile (another update of the same file) changes nothing.
TEST_F(AppUpdateTest, DataRequestsAreServedFromTheImageReadAtTheConfirmation) {
  Start();
  std::u16string path = WriteImage(40);
  HeldFile holder(Utf16ToUtf8(path));  // another program holds the file, for the whole test
  ASSERT_TRUE(holder.held());
  m_dlg->Run().m_image = m_image;
  m_dlg->Run().m_imageSize = 40;
  m_dlg->Run().m_bytesDone = 0;
  m_dlg->Run().m_app.m_nUpdateState = STATE_FILE_CHOSEN;
  m_dlg->Run().m_bStop = 0;
  m_platform->ClearTranscript();
  const Bytes request = {0x00, MSG_FIRMWARE, 0x01, 0x00, FW_DATA_REQUEST};
  Dispatch(request);
  Dispatch(request);
  EXPECT_EQ(ChunkSizes(), (std::vector<int>{32, 8}));
  EXPECT_EQ(m_dlg->Run().m_app.m_nUpdateState.load(), STATE_IDLE);
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 0);
}

TEST_F(AppUpdateTest, AFileThatStaysLockedFailsTheUpdateAfterAFewRequests) {
  Start();
  std::u16string path = WriteImage(100);
  std::unique_ptr<HeldFile> holder;  // another program takes the file while the box is open
  m_fake->m_onBox = [&](const std::u16string&) {
    if (!holder)
      holder = std::make_unique<HeldFile>(Utf16ToUtf8(path));
  };
  m_fake->QueueFilePath(path);
  RunUpdate();
  EXPECT_EQ(BoxTexts(), (std::vector<std::u16string>{Confirmation(), Failure()}));
  EXPECT_TRUE(ChunkSizes().empty());
  EXPECT_EQ(m_fw->m_nChunks, 0);
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 1);
  EXPECT_NE(m_dlg->Run().m_failureCause.find("held by another program; nothing was erased or sent"),
            std::string::npos);
  // The file is tried again for a while (another update may be reading it), then the update ends
  // before the file information goes out.
  EXPECT_LT(m_clock.NowMs() - m_startMs, CUpdateRun::kHeldFileWaitMs + 1000u);
  EXPECT_TRUE(m_fake->IsEnabled(IDC_USB_UPDATE));
}

TEST_F(AppUpdateTest, AnImageCutShortEndsTheTransferWithoutSendingBeyondIt) {
  Start();
  WriteImage(100);
  m_dlg->Run().m_image.assign(m_image.begin(), m_image.begin() + 50);
  m_dlg->Run().m_imageSize = 100;
  m_dlg->Run().m_bytesDone = 0;
  m_dlg->Run().m_app.m_nUpdateState = STATE_FILE_CHOSEN;
  m_dlg->Run().m_bStop = 0;
  m_platform->ClearTranscript();
  const Bytes request = {0x00, MSG_FIRMWARE, 0x01, 0x00, FW_DATA_REQUEST};
  for (int i = 0; i < 3; ++i)
    Dispatch(request);
  // The second chunk would run past the end of the image: the transfer stops instead.
  EXPECT_EQ(ChunkSizes(), std::vector<int>{32});
  EXPECT_EQ(BoxTexts(), std::vector<std::u16string>{Failure()});
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 1);
  EXPECT_TRUE(m_dlg->Run().m_image.empty());
}

TEST_F(AppUpdateTest, ProgressIsComputedWithoutOverflowAndNeverAbove100) {
  Start();
  struct Case {
    uint32_t imageSize, bytesDone;
    int position;
  };
  // 100000032 * 100 does not fit 32 bits; the last case completes with a 16-byte chunk.
  for (Case c : {Case{200000000, 100000000, 50}, Case{200000016, 200000000, 100}}) {
    m_dlg->Run().m_image.assign(c.imageSize, 0x5A);
    m_dlg->Run().m_imageSize = c.imageSize;
    m_dlg->Run().m_bytesDone = c.bytesDone;
    m_dlg->Run().m_app.m_nUpdateState = STATE_SENDING;
    m_fake->ClearRecords();
    Dispatch({0x00, MSG_FIRMWARE, 0x01, 0x00, FW_DATA_REQUEST});
    EXPECT_EQ(m_fake->ProgressPositions(), std::vector<int>{c.position});
    EXPECT_LE(m_dlg->Run().m_bytesDone, c.imageSize);
  }
  EXPECT_EQ(m_dlg->Run().m_app.m_nUpdateState.load(), STATE_IDLE);
  EXPECT_EQ(m_dlg->Run().m_app.m_bTransferComplete, 1);
}

// Many random and mutated controller messages: nothing crashes or reads out of bounds (run under
// the sanitizers too), the transfer state stays one of the three, and no more image bytes are
// counted than the image holds.
TEST_F(AppUpdateTest, RandomMessagesKeepTheStateMachineSound) {
  Start();
  std::u16string path = WriteImage(100);
  for (int i = 0; i < 400; ++i)
    m_fake->QueueFilePath(i % 3 == 2 ? std::u16string() : path);
  m_dlg->Run().m_bStop = 0;

  const std::vector<Bytes> templates = {
      {0x00, MSG_FIRMWARE, 0x01, 0x00, FW_DATA_REQUEST},
      {0x00, MSG_FIRMWARE, 0x01, 0x00, FW_DATA_REQUEST},
      {0x00, MSG_FIRMWARE, 0x07, 0x00, FW_VERSION, 0x04, 0x00, 0x8A, 0x00, 0x00, 0x00},
      {0x00, MSG_FIRMWARE, 0x01, 0x00, FW_FAILED},
      {0x00, MSG_FIRMWARE, 0x01, 0x00, FW_FAILED_ALT},
      {0x00, MSG_DEVICE_ID, 0x28, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
  };
  uint32_t state = 0x2468ACE1u;  // fixed seed: every run sees the same messages
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (int round = 0; round < 5000; ++round) {
    Bytes message(63);
    if (next() % 2) {
      message = templates[next() % templates.size()];
      message.resize(63);
      for (uint32_t flips = next() % 3; flips > 0; --flips)
        message[next() % 12] = static_cast<uint8_t>(next());
      message[40] = static_cast<uint8_t>(next() % 4 == 0 ? next() : (next() % 2 ? 1 : 200));
    } else {
      for (uint8_t& byte : message)
        byte = static_cast<uint8_t>(next());
      if (next() % 4)
        message[0] = 0;
      if (next() % 2)
        message[1] = next() % 2 ? MSG_FIRMWARE : MSG_DEVICE_ID;
    }
    Dispatch(message);
    int s = m_dlg->Run().m_app.m_nUpdateState.load();
    ASSERT_TRUE(s >= STATE_FILE_CHOSEN && s <= STATE_IDLE) << "round " << round;
    if (m_dlg->Run().m_bStop) {
      // The update thread ends here; the next click starts from a clean transfer.
      ASSERT_FALSE(!m_dlg->Run().m_image.empty() && s != STATE_SENDING) << "round " << round;
      m_dlg->Run().ReleaseImage();
      m_dlg->Run().m_app.m_nUpdateState = STATE_IDLE;
      m_dlg->Run().m_app.m_bTransferComplete = 0;
      m_dlg->Run().m_bStop = 0;
      continue;
    }
    ASSERT_LE(m_dlg->Run().m_bytesDone, m_dlg->Run().m_imageSize) << "round " << round;
    if (s == STATE_SENDING && !m_dlg->Run().m_image.empty()) {
      ASSERT_LT(m_dlg->Run().m_bytesDone, m_dlg->Run().m_imageSize) << "round " << round;
    }
  }
  // The messages did reach every part of the machine.
  EXPECT_GT(m_fake->FileDialogs().size(), 10u);
  EXPECT_GT(Traced("update successful\n"), 0);
  EXPECT_GT(BoxTexts().size(), 10u);
}

// The read step against a scripted link whose clock stands still.
class AppReadStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_seams.platform = &m_platform;
    m_seams.trace = [this](const std::string& line) { m_traces.push_back(line); };
    m_platform.Add({"/dev/hidraw3", 0x0483, 0x5750});
    m_dlg = std::make_unique<CUpdateDlg>(m_seams);
    m_dlg->AttachWindow(&m_fake);
    UpdateDlgProbe::ControlsReady(*m_dlg) = 1;
    ASSERT_EQ(m_dlg->Run().m_Hid.DetectDevice(), 1);
    m_traces.clear();
  }
  void TearDown() override { m_dlg.reset(); }
  int ReadFailedReports() {
    int n = 0;
    for (const Bytes& report : m_platform.m_writes)
      n += report[1] == 5 && report[3] == MSG_READ_FAILED;
    return n;
  }
  int Traced(const std::string& line) {
    return static_cast<int>(std::count(m_traces.begin(), m_traces.end(), line));
  }

  VirtualClock m_clock;
  ScriptedHidPlatform m_platform{&m_clock};
  Seams m_seams;
  FakeWindowSystem m_fake;
  std::unique_ptr<CUpdateDlg> m_dlg;
  std::vector<std::string> m_traces;
};

TEST_F(AppReadStepTest, EveryFailedReadIsTracedAndToldToTheController) {
  // Reads time out at once and the clock does not move: the query still ends after its
  // 2 seconds' worth of 200 ms reads.
  m_dlg->Run().QueryDeviceVersion();
  EXPECT_EQ(m_platform.m_readTimeouts, std::vector<uint32_t>(10, 200));
  EXPECT_EQ(ReadFailedReports(), 10);
  EXPECT_EQ(Traced("recv() failed with error code 0x102\n"), 10);
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), VERSION_UNKNOWN);
}

TEST_F(AppReadStepTest, AReportIsTracedWithItsLengthByteAndDispatched) {
  m_platform.QueueRead(HidReadResult::kTimeout);
  m_platform.QueueRead(HidReadResult::kReport,
                       {0x03, 0x00, MSG_FIRMWARE, 0x07, 0x00, FW_VERSION, 0x04, 0x00, 0x8C, 0x00,
                        0x01, 0x00});  // the length byte says 3: the word is read all the same
  m_dlg->Run().QueryDeviceVersion();
  EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), 0x1008Cu);
  EXPECT_EQ(m_platform.m_readTimeouts.size(), 2u);
  EXPECT_EQ(ReadFailedReports(), 1);
  EXPECT_EQ(Traced(" 3 Bytes received from sender\n"), 1);
  EXPECT_EQ(Traced("cur_devVersion 0x1008c\n"), 1);
  EXPECT_EQ(m_fake.Title(), LoadLocalText(TXT_TITLE) + u"(GamePad V1.40 beta1)");
}

TEST_F(AppReadStepTest, AFailedReadEndsBothLoopsAtOnce) {
  m_platform.QueueRead(HidReadResult::kError);
  m_dlg->Run().QueryDeviceVersion();
  EXPECT_EQ(m_platform.m_readTimeouts.size(), 1u);
  EXPECT_EQ(Traced("recv() failed with error code 0xffffffff\n"), 1);
  EXPECT_EQ(ReadFailedReports(), 1);

  // The update thread: the controller is gone before anything was sent to it, so no box.
  m_platform.QueueRead(HidReadResult::kError);
  ASSERT_EQ(m_dlg->Run().m_Hid.OpenHid(), 1);
  m_dlg->Run().m_bStop = 0;
  m_traces.clear();
  Usb_UpdateThread(&m_dlg->Run());
  EXPECT_EQ(m_platform.m_readTimeouts.size(), 2u);
  EXPECT_TRUE(m_fake.Boxes().empty());
  EXPECT_EQ(m_traces.front(), "send() is OK!\n");
  EXPECT_EQ(m_traces.back(), "Exit Usb_UpdateThread\n");
}

TEST_F(AppReadStepTest, AnUpdateWhoseOpeningCommandFailsEndsAtOnce) {
  // The link is not open: the opening command cannot be written.
  m_dlg->Run().m_bStop = 0;
  UpdateDlgProbe::UpdateButton(*m_dlg).EnableWindow(false);
  Usb_UpdateThread(&m_dlg->Run());
  EXPECT_TRUE(m_platform.m_readTimeouts.empty());
  ASSERT_FALSE(m_traces.empty());
  EXPECT_EQ(m_traces.front().rfind("send() failed with error code ", 0), 0u);
  EXPECT_TRUE(m_fake.IsEnabled(IDC_USB_UPDATE));  // the controller is still there
}

}  // namespace
