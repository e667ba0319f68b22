// Application-mode updates under faults, through the whole dialog: the click starts the real update
// thread against the virtual running firmware, in virtual time. Each row strikes one fault at one
// step of the exchange and names the outcome; after each row a clean update must succeed from the
// state the row left behind. The table is printed with what each row got.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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
#include "emulator/dat_writer.h"
#include "emulator/virtual_hid.h"
#include "emulator/virtual_running_firmware.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/held_file.h"
#include "update/update_dlg.h"

namespace {

const std::string kPath = "/virtual/gamepad";
constexpr uint32_t kImageSize = 100;  // chunks of 32, 32, 32 and 4 bytes

// clang-format off
enum class Fault { kDrop, kLate, kCorrupt, kWrongCommand, kUnplug, kCode21, kCode24, kStrayIdentity,
                   kStrayRequest, kStreamThenSilent, kRefuseWrite, kDeviceChange, kClose, kFileHeld };
const char* const kFaultNames[] = {
    "reply dropped", "reply late 300 ms", "reply corrupted", "reply wrong command", "unplug",
    "failure code 21", "failure code 24", "stray identity", "stray data request",
    "input stream, silent", "write refused", "device change", "close window (OK)",
    "file held elsewhere"};
enum Where { kIdentity, kFileInfo, kFirstChunk, kMiddleChunk, kLastChunk, kSerial, kFinish };
const char* const kWhereNames[] = {
    "identity", "file info", "first chunk", "middle chunk", "last chunk", "serial", "finish"};
// clang-format on
// The host's report of each step, counted from the click: the opening command (answered with the
// identity), the file information, chunks 1 to 4, the serial, the finish.
constexpr int kReportAt[] = {1, 2, 3, 4, 6, 7, 8};

// Bounds of virtual time from the click to the update thread's end. Answers come at once; a lost
// or late answer costs one read of at most 300 ms. A controller that stops answering is given up
// after 5 s of silence; 100 ms of slack.
constexpr uint64_t kQuickMs = 1000;
constexpr uint64_t kSilenceMs = 5000 + 100;

struct Row {
  Fault fault;
  Where where;
  const char* expected;  // "success" (the exact image), "failure box" or "no box"
  int chunks;            // data packets the controller took
  uint64_t boundMs = kQuickMs;
};

// clang-format off
const Row kRows[] = {
    {Fault::kDrop, kIdentity, "success", 4},
    {Fault::kDrop, kSerial, "success", 4},
    {Fault::kLate, kIdentity, "success", 4},  // its resent copy comes once the file is chosen
    {Fault::kLate, kMiddleChunk, "success", 4},
    {Fault::kCorrupt, kFileInfo, "success", 4},
    {Fault::kWrongCommand, kFirstChunk, "success", 4},
    {Fault::kUnplug, kIdentity, "no box", 0},
    {Fault::kUnplug, kFileInfo, "no box", 0},
    {Fault::kUnplug, kFirstChunk, "failure box", 1},
    {Fault::kUnplug, kMiddleChunk, "failure box", 2},
    {Fault::kUnplug, kLastChunk, "failure box", 4},
    {Fault::kUnplug, kSerial, "failure box", 4},
    {Fault::kUnplug, kFinish, "success", 4},
    // A failure code after the finish would never be read: the update has ended with the finish.
    {Fault::kCode21, kIdentity, "failure box", 0},
    {Fault::kCode24, kIdentity, "failure box", 0},
    {Fault::kCode21, kFileInfo, "failure box", 0},
    {Fault::kCode24, kFileInfo, "failure box", 0},
    {Fault::kCode21, kFirstChunk, "failure box", 1},
    {Fault::kCode24, kFirstChunk, "failure box", 1},
    {Fault::kCode21, kMiddleChunk, "failure box", 2},
    {Fault::kCode24, kMiddleChunk, "failure box", 2},
    {Fault::kCode21, kLastChunk, "failure box", 4},
    {Fault::kCode24, kLastChunk, "failure box", 4},
    {Fault::kCode21, kSerial, "failure box", 4},
    {Fault::kCode24, kSerial, "failure box", 4},
    {Fault::kStrayIdentity, kFileInfo, "success", 4},     // file chosen, no chunk yet
    {Fault::kStrayIdentity, kMiddleChunk, "success", 4},  // sending
    {Fault::kStrayIdentity, kLastChunk, "success", 4},    // image complete, serial out
    {Fault::kStrayRequest, kIdentity, "success", 4},      // before any file is chosen
    {Fault::kStrayRequest, kFileInfo, "success", 4},
    {Fault::kStrayRequest, kMiddleChunk, "success", 4},
    {Fault::kStrayRequest, kSerial, "success", 4},
    {Fault::kStreamThenSilent, kMiddleChunk, "failure box", 2, kSilenceMs},
    {Fault::kRefuseWrite, kMiddleChunk, "failure box", 1},
    {Fault::kRefuseWrite, kLastChunk, "failure box", 3},
    {Fault::kDeviceChange, kMiddleChunk, "success", 4},
    {Fault::kClose, kFirstChunk, "no box", 1},
    {Fault::kFileHeld, kFirstChunk, "success", 4},  // another update of the same file
};
// clang-format on

std::vector<uint8_t> FirmwareMessage(uint8_t command) {
  std::vector<uint8_t> payload = {5, 0x00, MSG_FIRMWARE, 0x01, 0x00, command};
  payload.resize(64, 0);
  return payload;
}

// The wire in front of the running firmware: counts the host's reports from the click and strikes
// the row's fault at the n-th. Runs on the update thread under the platform's lock.
class Tap : public VirtualController {
 public:
  Tap(std::shared_ptr<VirtualRunningFirmware> fw, WireFaults* faults)
      : m_fw(std::move(fw)), m_faults(faults) {}
  void OnReport(const uint8_t* report65, const ReplyFn& reply) override {
    m_faults->latencyMs = 0;  // a late reply is late once
    ReplyFn keep = [&](const uint8_t* payload) {
      if (payload[2] == MSG_DEVICE_ID)
        m_identity.assign(payload, payload + 64);
      reply(payload);
    };
    if (++m_nReports != m_strikeAt) {
      m_fw->OnReport(report65, keep);
      return;
    }
    // clang-format off
    switch (m_fault) {
      case Fault::kDrop: m_faults->dropNextReplies = 1; break;
      case Fault::kLate: m_faults->latencyMs = 300; break;
      case Fault::kCorrupt: m_faults->corruptNextReplies = 1; break;
      case Fault::kWrongCommand: m_fw->m_nWrongCommandReplies = 1; break;
      case Fault::kUnplug: m_faults->unplugAfterReports = 0; break;
      case Fault::kStreamThenSilent: m_faults->dropNextReplies = 1 << 30; break;
      // Stray messages go out ahead of the controller's own answer.
      case Fault::kStrayRequest: reply(FirmwareMessage(FW_DATA_REQUEST).data()); break;
      case Fault::kStrayIdentity: if (!m_identity.empty()) reply(m_identity.data()); break;
      default: break;
    }
    // clang-format on
    uint8_t code = m_fault == Fault::kCode21 ? FW_FAILED : FW_FAILED_ALT;
    bool fails = m_fault == Fault::kCode21 || m_fault == Fault::kCode24;
    m_fw->OnReport(report65, fails ? ReplyFn([](const uint8_t*) {}) : keep);
    if (fails)  // the controller answers with its failure code instead
      reply(FirmwareMessage(code).data());
  }
  bool IdleReport(uint8_t* payload64) override { return m_fw->IdleReport(payload64); }
  Fault m_fault = Fault::kDrop;
  int m_strikeAt = 0;  // 0: no fault
  int m_nReports = 0;

 private:
  std::shared_ptr<VirtualRunningFirmware> m_fw;
  WireFaults* m_faults;
  std::vector<uint8_t> m_identity;
};

// The fake, with a hook at every progress position the update shows.
class ProbeWindow : public FakeWindowSystem {
 public:
  void SetProgressPos(int position) override {
    FakeWindowSystem::SetProgressPos(position);
    if (position > 0 && m_onProgress)
      m_onProgress();
  }
  std::function<void()> m_onProgress;
};

class AppFaultMatrixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_seams.language = LANG_EN_US;
    m_seams.trace = QuietTraceSink();
    DatRecord record;
    record.version = 138;
    record.image = m_image = MakeImage(kImageSize, 5);
    ASSERT_TRUE(WriteFile(m_file, BuildDat({record})));
  }
  void TearDown() override {
    EndRig();
    std::filesystem::remove(m_file);
  }

  // A running controller behind the tap, and the dialog started on it.
  void BeginRig() {
    m_platform = std::make_unique<VirtualHidPlatform>(&m_clock);
    m_seams.platform = m_platform.get();
    m_window = std::make_unique<ProbeWindow>();
    m_fw = std::make_shared<VirtualRunningFirmware>();
    m_tap = std::make_shared<Tap>(m_fw, &m_platform->Faults(kPath));
    m_platform->Plug(kPath, 0x0483, 0x5750, m_tap);
    StartDialog();
  }
  void StartDialog() {
    m_dlg = std::make_unique<CUpdateDlg>(m_seams);
    m_dlg->AttachWindow(m_window.get());
    m_dlg->OnInitDialog();
  }
  void EndRig() {
    m_dlg.reset();
    m_window.reset();
    m_platform.reset();
  }

  // The click, the update thread, and the end notice the window system hands the dialog. Answers
  // the outcome; *ms: the virtual time from the click to the thread's end.
  std::string Update(uint64_t* ms) {
    m_window->ClearRecords();
    m_window->QueueFilePath(Utf8ToUtf16(m_file));
    uint64_t start = m_clock.NowMs();
    m_dlg->OnBnClickedUsbUpdate();
    bool ended = m_window->WaitForWorkerEnd();
    if (!ended) {  // stopped, so that the rows after it still run
      m_dlg->Run().m_bStop = 1;
      EXPECT_TRUE(m_window->WaitForWorkerEnd());
    }
    *ms = m_clock.NowMs() - start;
    m_dlg->OnWorkerEnded();
    return ended ? Outcome() : "did not end";
  }

  std::string Outcome() {
    const std::u16string success = u"\n " + LoadLocalText(TXT_UPGRADED) + u" \n";
    int successes = 0, failures = 0;
    for (const FakeWindowSystem::Box& box : m_window->Boxes()) {
      successes += box.text == success;
      failures += box.text == u"Firmware update failure\n" &&
                  box.caption == u"Tarvix Update v2.60" && box.type == MB_OK;
    }
    bool exact = m_fw->m_image == m_image && m_fw->m_bSerialAccepted && m_fw->m_bFinished;
    if (successes == 1 && failures == 0 && exact)
      return "success";
    if (successes == 0 && failures <= 1)
      return failures ? "failure box" : "no box";
    return std::to_string(successes) + " success, " + std::to_string(failures) + " failure" +
           (exact ? "" : ", image not exact");
  }

  VirtualClock m_clock;

  Seams m_seams;
  const std::string m_file =
      ::testing::TempDir() + "app_fault_matrix_" + std::to_string(getpid()) + ".dat";
  std::vector<uint8_t> m_image;
  std::unique_ptr<VirtualHidPlatform> m_platform;
  std::unique_ptr<ProbeWindow> m_window;
  std::shared_ptr<VirtualRunningFirmware> m_fw;
  std::shared_ptr<Tap> m_tap;
  std::unique_ptr<CUpdateDlg> m_dlg;
  std::unique_ptr<HeldFile> m_held;
};

// What a failure says it was: the cause's beginning by fault; the bytes sent follow it.
std::string CauseOf(Fault fault) {
  switch (fault) {
    case Fault::kUnplug:
      return "the controller went away";
    case Fault::kCode21:
      return "the controller reported failure code 21";
    case Fault::kCode24:
      return "the controller reported failure code 24";
    case Fault::kStreamThenSilent:
      return "the controller fell silent after 64 of 100 bytes";
    case Fault::kRefuseWrite:
      return "a data packet could not be written";
    default:
      return "(no failure expected)";
  }
}

TEST_F(AppFaultMatrixTest, EachFaultEndsAsItMustAndTheNextUpdateSucceeds) {
  std::printf("%-20s %-12s %-12s %-20s %6s %7s %7s  %-12s %s\n", "fault", "where", "expected",
              "got", "chunks", "ms", "bound", "next update", "cause");
  for (const Row& row : kRows) {
    const char* fault = kFaultNames[static_cast<int>(row.fault)];
    SCOPED_TRACE(std::string(fault) + " at " + kWhereNames[row.where]);
    BeginRig();
    WireFaults& faults = m_platform->Faults(kPath);
    int chunk = kReportAt[row.where] - 2;  // the progress position that follows this chunk
    if (row.fault == Fault::kRefuseWrite) {
      faults.refuseReport = kReportAt[row.where];
    } else if (row.fault == Fault::kDeviceChange || row.fault == Fault::kClose ||
               row.fault == Fault::kFileHeld) {
      m_window->m_onProgress = [this, &row, chunk, shown = 0]() mutable {
        if (++shown != chunk)
          return;
        if (row.fault == Fault::kFileHeld) {
          m_held = std::make_unique<HeldFile>(m_file);
          return;
        }
        if (row.fault == Fault::kClose) {
          m_window->QueueBoxAnswer(IDOK);
          m_dlg->OnCloseRequested();
          return;
        }
        for (uint32_t event : {0x8000u, 0x8004u, 7u})
          m_dlg->OnDeviceChange(event, 0);
      };
    } else {
      m_tap->m_fault = row.fault;
      m_tap->m_strikeAt = kReportAt[row.where];
    }
    m_fw->m_bStreamInput = row.fault == Fault::kStreamThenSilent;
    m_tap->m_nReports = 0;  // counted from the click, after the start-up's version query
    int queries = m_fw->m_nVersionQueries;

    uint64_t ms = 0;
    std::string got = Update(&ms);
    int chunks = m_fw->m_nChunks;
    const std::string cause = m_dlg->Run().m_failureCause;
    const UpdateOutcome outcome = m_dlg->Run().m_lastResult.outcome;
    const UpdateOutcome expectedOutcome = std::string(row.expected) == "success"
                                              ? UpdateOutcome::kDone
                                          : row.fault == Fault::kClose ? UpdateOutcome::kStopped
                                                                       : UpdateOutcome::kFailed;
    EXPECT_STREQ(UpdateOutcomeText(outcome), UpdateOutcomeText(expectedOutcome));
    m_held.reset();
    EXPECT_EQ(got, row.expected);
    EXPECT_EQ(chunks, row.chunks);
    if (got == "failure box") {
      EXPECT_EQ(cause.rfind(CauseOf(row.fault), 0), 0u) << cause;
    }
    EXPECT_LE(ms, row.boundMs);
    EXPECT_GE(m_tap->m_nReports, m_tap->m_strikeAt);  // the fault did strike
    EXPECT_EQ(faults.refuseReport, 0);
    // The host counted exactly what the controller took, and let go of everything.
    EXPECT_EQ(m_dlg->Run().m_bytesDone, m_fw->m_image.size());
    EXPECT_TRUE(m_dlg->Run().m_image.empty());
    EXPECT_FALSE(m_dlg->Run().m_worker.joinable());
    EXPECT_EQ(m_window->IsEnabled(IDC_USB_UPDATE), m_platform->IsPlugged(kPath));
    // Device changes during the update wait for its end, and are then handled once.
    EXPECT_EQ(m_fw->m_nVersionQueries - queries, row.fault == Fault::kDeviceChange ? 1 : 0);
    if (row.fault == Fault::kStreamThenSilent) {
      EXPECT_GE(m_fw->m_nInputReports, 4900);  // it kept talking all through the silence
    }
    if (row.fault == Fault::kClose) {
      EXPECT_EQ(m_window->m_nEndDialogs, 1);  // the dialog let the window go
      StartDialog();                          // the program is started again
    }

    // A clean update from here: the controller plugged back if it went, the faults gone.
    faults = WireFaults{};
    m_tap->m_strikeAt = 0;
    m_fw->m_bStreamInput = false;
    m_window->m_onProgress = nullptr;
    if (!m_platform->IsPlugged(kPath)) {
      m_platform->Plug(kPath, 0x0483, 0x5750, m_tap);
      m_dlg->OnDeviceChange(0x8000, 0);
    }
    EXPECT_TRUE(m_window->IsEnabled(IDC_USB_UPDATE));
    uint64_t nextMs = 0;
    std::string next = Update(&nextMs);
    EXPECT_EQ(next, "success") << "next update";

    std::printf("%-20s %-12s %-12s %-20s %6d %7llu %7llu  %-12s %s\n", fault,
                kWhereNames[row.where], row.expected, got.c_str(), chunks,
                static_cast<unsigned long long>(ms), static_cast<unsigned long long>(row.boundMs),
                next.c_str(), got == "failure box" ? cause.c_str() : "");
    EndRig();
  }
}

}  // namespace
