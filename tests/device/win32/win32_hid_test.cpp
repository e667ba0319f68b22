// The Windows HID backend under the device link, against a fake of the system calls it makes:
// enumeration among foreign devices, access refused, the reads (a report, a short one, a time-out,
// an unplug while waiting), the write of one report, and the window registered for notices.
#include <gtest/gtest.h>

#include "base/trace.h"
#include "device/hid.h"
#include "device/win32/win32_hid_platform.h"
#include "tests/device/win32/fake_win32_system.h"

namespace {

const std::wstring kController = L"\\\\?\\hid#vid_7a3d&pid_3208#7&2f1e&0&0000";

class Win32HidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // As under Wine: its virtual mouse and keyboard come first; the keyboard is the system's.
    m_system.m_interfaces = {{L"\\\\?\\hid#vid_845e&pid_0001#mouse", 0x845E, 0x0001},
                             {L"\\\\?\\hid#vid_845e&pid_0002#keyboard", 0x845E, 0x0002, false},
                             {kController, 0x7A3D, 0x3208}};
  }
  FakeHidInterface& Controller() { return m_system.m_interfaces[2]; }
  void Open(CHid& hid) {
    ASSERT_EQ(hid.DetectDevice(), 1);
    ASSERT_EQ(hid.OpenHid(), 1);
  }

  FakeWin32System m_system;
  Win32HidPlatform m_platform{m_system.m_api};
  std::vector<std::string> m_traces;
  const Seams m_seams{
      &m_platform, [this](const std::string& line) { m_traces.push_back(line); }, {}};
};

TEST_F(Win32HidTest, ForeignDevicesComeFirstAndTheControllerIsFoundByItsIdentity) {
  std::vector<HidInterfaceInfo> list = m_platform.Enumerate();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1].productId, 0x0002);  // asked without access rights
  CHid hid{m_seams};
  EXPECT_EQ(hid.DetectDevice(), 1);
  EXPECT_EQ(hid.m_DevicePath, std::u16string(kController.begin(), kController.end()));
  EXPECT_EQ(hid.m_bBootMode.load(), 1);
  EXPECT_EQ(m_system.m_openHandles, 0);  // the mouse was opened, asked and closed again
  Controller().plugged = false;
  EXPECT_EQ(hid.DetectDevice(), 0);
}

TEST_F(Win32HidTest, AccessRefusedIsReportedAsOnLinux) {
  Controller().readWriteAllowed = false;
  HidOpenResult result = HidOpenResult::kOk;
  EXPECT_EQ(m_platform.Open("\\\\?\\hid#vid_7a3d&pid_3208#7&2f1e&0&0000", &result), kNoHidHandle);
  EXPECT_EQ(result, HidOpenResult::kAccessDenied);
  CHid hid{m_seams};
  EXPECT_EQ(hid.DetectDevice(), 0);
  // Only the controller is worth a line; the keyboard refused as well, silently.
  ASSERT_EQ(m_traces.size(), 1u);
  EXPECT_NE(m_traces[0].find("access denied; another program has"), std::string::npos);
}

TEST_F(Win32HidTest, ReadsAnswerAReportATimeOutOrAFailure) {
  std::vector<uint8_t> whole(65), wholePayload(64), shortPayload(64, 0), untouched(64, 0xEE);
  for (size_t i = 0; i < 65; ++i)
    whole[i] = static_cast<uint8_t>(i);  // report id 0, then 1..64
  std::copy(whole.begin() + 1, whole.end(), wholePayload.begin());
  shortPayload[0] = 0xAA;
  struct Case {
    const char* name;
    std::deque<std::vector<uint8_t>> reports;
    bool unplug;
    HidReadResult answer;
    std::vector<uint8_t> payload;  // the destination afterwards
    int cancels;
  };
  const Case cases[] = {
      {"whole report", {whole}, false, HidReadResult::kReport, wholePayload, 0},
      {"short report", {{0, 0xAA}}, false, HidReadResult::kReport, shortPayload, 0},
      {"time-out", {}, false, HidReadResult::kTimeout, untouched, 1},
      {"unplugged during the read", {}, true, HidReadResult::kError, untouched, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Controller().plugged = true;
    Controller().reports = c.reports;
    Controller().unplugDuringRead = c.unplug;
    m_system.m_waits.clear();
    m_system.m_cancels = 0;
    CHid hid{m_seams};
    Open(hid);
    std::vector<uint8_t> in = untouched;
    EXPECT_EQ(hid.ReadHid(in.data(), 64), c.answer);
    EXPECT_EQ(m_system.m_waits, std::vector<DWORD>{200});  // the link's read time-out
    EXPECT_EQ(m_system.m_cancels, c.cancels);
    EXPECT_EQ(in, c.payload);
    Controller().plugged = false;  // gone for good: the next read fails at once, without waiting
    EXPECT_EQ(hid.ReadHid(in.data(), 64), HidReadResult::kError);
    EXPECT_EQ(m_system.m_waits.size(), 1u);
  }
}

TEST_F(Win32HidTest, AWriteSendsTheWhole65ByteReportWithIdZero) {
  CHid hid{m_seams};
  Open(hid);
  const uint8_t bytes[] = {0x11, 0x22, 0x33};
  EXPECT_EQ(hid.WriteHid(bytes, 3), 1);
  ASSERT_EQ(m_system.m_writes.size(), 1u);
  std::vector<uint8_t> expected(65, 0);
  std::copy(bytes, bytes + 3, expected.begin() + 1);
  EXPECT_EQ(m_system.m_writes[0], expected);
  Controller().plugged = false;
  EXPECT_EQ(hid.WriteHid(bytes, 3), 0);
  EXPECT_EQ(m_system.m_writes.size(), 1u);
}

TEST_F(Win32HidTest, TheMonitorRegistersTheWindowForTheHidClass) {
  std::unique_ptr<IDeviceMonitor> monitor = m_platform.CreateMonitor();
  HANDLE window = reinterpret_cast<HANDLE>(0x1234);
  EXPECT_TRUE(monitor->WatchWindow(reinterpret_cast<intptr_t>(window)));
  EXPECT_EQ(m_system.m_registeredWindows, std::vector<HANDLE>{window});
  EXPECT_EQ(monitor->ReceiveEvent(), IDeviceMonitor::kNone);  // the window gets the notices
  monitor.reset();
  EXPECT_TRUE(m_system.m_registeredWindows.empty());
}

}  // namespace
