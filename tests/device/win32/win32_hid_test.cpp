// The Windows HID backend under the device link, against a fake of the system calls it makes:
// enumeration among foreign devices, access refused, the reads (a report, a short one, a time-out,
// an unplug while waiting), the write of one report, and the window registered for notices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/trace.h"
#include "device/hid.h"
#include "device/win32/win32_hid_platform.h"
#include "tests/device/win32/fake_win32_system.h"

namespace {

const std::wstring kMouse = L"\\\\?\\hid#vid_845e&pid_0001#1&mouse";
const std::wstring kKeyboard = L"\\\\?\\hid#vid_845e&pid_0002#1&keyboard";
const std::wstring kController = L"\\\\?\\hid#vid_7a3d&pid_3208#7&2f1e&0&0000";

class Win32HidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetHidPlatform(&m_platform);
    SetTraceSink([this](const std::string& line) { m_traces.push_back(line); });
    // As under Wine: its virtual mouse and keyboard come first; the keyboard is the system's.
    m_system.m_interfaces = {{kMouse, 0x845E, 0x0001},
                             {kKeyboard, 0x845E, 0x0002, /*readWriteAllowed=*/false},
                             {kController, 0x7A3D, 0x3208}};
  }
  void TearDown() override {
    SetTraceSink({});
    SetHidPlatform(nullptr);
  }
  FakeHidInterface& Controller() { return m_system.m_interfaces[2]; }

  FakeWin32System m_system;
  Win32HidPlatform m_platform{m_system.m_api};
  std::vector<std::string> m_traces;
};

TEST_F(Win32HidTest, ForeignDevicesComeFirstAndTheControllerIsFoundByItsIdentity) {
  std::vector<HidInterfaceInfo> list = m_platform.Enumerate();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].vendorId, 0x845E);
  EXPECT_EQ(list[1].productId, 0x0002);  // asked without access rights
  EXPECT_EQ(list[2].path, "\\\\?\\hid#vid_7a3d&pid_3208#7&2f1e&0&0000");
  EXPECT_EQ(list[2].productId, 0x3208);

  CHid hid;
  g_bBootMode = 0;
  EXPECT_EQ(hid.DetectDevice(), 1);
  EXPECT_EQ(hid.m_DevicePath, std::u16string(kController.begin(), kController.end()));
  EXPECT_EQ(g_bBootMode.load(), 1);
  EXPECT_EQ(m_system.m_openHandles, 0);  // the mouse was opened, asked and closed again

  Controller().plugged = false;
  EXPECT_EQ(hid.DetectDevice(), 0);
  EXPECT_EQ(m_platform.Enumerate().size(), 2u);
}

TEST_F(Win32HidTest, AccessRefusedIsReportedAsOnLinux) {
  Controller().readWriteAllowed = false;
  HidOpenResult result = HidOpenResult::kOk;
  EXPECT_EQ(m_platform.Open("\\\\?\\hid#vid_7a3d&pid_3208#7&2f1e&0&0000", &result), kNoHidHandle);
  EXPECT_EQ(result, HidOpenResult::kAccessDenied);
  EXPECT_EQ(m_platform.Open("\\\\?\\hid#absent", &result), kNoHidHandle);
  EXPECT_EQ(result, HidOpenResult::kFailed);

  CHid hid;
  EXPECT_EQ(hid.DetectDevice(), 0);
  // Only the controller is worth a line; the keyboard refused as well, silently.
  ASSERT_EQ(m_traces.size(), 1u);
  EXPECT_NE(m_traces[0].find("access denied"), std::string::npos);
}

TEST_F(Win32HidTest, ReadsAnswerAReportATimeOutOrAFailure) {
  std::vector<uint8_t> whole(65), wholePayload(64), shortPayload(64, 0);
  for (size_t i = 0; i < whole.size(); ++i)
    whole[i] = static_cast<uint8_t>(i);  // report id 0, then 1..64
  std::copy(whole.begin() + 1, whole.end(), wholePayload.begin());
  shortPayload[0] = 0xAA;
  shortPayload[1] = 0xBB;
  const std::vector<uint8_t> untouched(64, 0xEE);
  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> reports;
    bool unplug;
    uint32_t answer;
    std::vector<uint8_t> payload;  // the destination afterwards
    int cancels;
  };
  const Case cases[] = {
      {"whole report", {whole}, false, WAIT_OBJECT_0, wholePayload, 0},
      {"short report", {{0, 0xAA, 0xBB}}, false, WAIT_OBJECT_0, shortPayload, 0},
      {"time-out", {}, false, WAIT_TIMEOUT, untouched, 1},
      {"unplugged during the read", {}, true, WAIT_FAILED, untouched, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Controller().plugged = true;
    Controller().reports.assign(c.reports.begin(), c.reports.end());
    Controller().unplugDuringRead = c.unplug;
    m_system.m_waits.clear();
    m_system.m_cancels = 0;
    CHid hid;
    ASSERT_EQ(hid.DetectDevice(), 1);
    ASSERT_EQ(hid.OpenHid(), 1);
    std::vector<uint8_t> in = untouched;
    EXPECT_EQ(hid.ReadHid(in.data(), 64), c.answer);
    EXPECT_EQ(m_system.m_waits, std::vector<DWORD>{200});  // the link's read time-out
    EXPECT_EQ(m_system.m_cancels, c.cancels);
    EXPECT_EQ(in, c.payload);
  }
  // Gone for good: the next read fails at once, without waiting.
  m_system.m_waits.clear();
  Controller().plugged = true;
  CHid hid;
  ASSERT_EQ(hid.DetectDevice(), 1);
  ASSERT_EQ(hid.OpenHid(), 1);
  Controller().plugged = false;
  uint8_t in[64];
  EXPECT_EQ(hid.ReadHid(in, 64), WAIT_FAILED);
  EXPECT_TRUE(m_system.m_waits.empty());
}

TEST_F(Win32HidTest, AWriteSendsTheWhole65ByteReportWithIdZero) {
  CHid hid;
  ASSERT_EQ(hid.DetectDevice(), 1);
  ASSERT_EQ(hid.OpenHid(), 1);
  const uint8_t bytes[] = {0x11, 0x22, 0x33};
  EXPECT_EQ(hid.WriteHid(bytes, 3), 1);
  ASSERT_EQ(m_system.m_writes.size(), 1u);
  ASSERT_EQ(m_system.m_writes[0].size(), 65u);
  EXPECT_EQ(m_system.m_writes[0][0], 0);
  EXPECT_EQ(m_system.m_writes[0][3], 0x33);
  Controller().plugged = false;
  EXPECT_EQ(hid.WriteHid(bytes, 3), 0);
  EXPECT_EQ(m_system.m_writes.size(), 1u);
}

TEST_F(Win32HidTest, TheMonitorRegistersTheWindowForTheHidClassOnly) {
  std::unique_ptr<IDeviceMonitor> monitor = m_platform.CreateMonitor();
  ASSERT_TRUE(monitor);
  EXPECT_EQ(monitor->Descriptor(), -1);
  EXPECT_FALSE(monitor->SetWakeUp([] {}));
  HANDLE window = reinterpret_cast<HANDLE>(0x1234);
  EXPECT_TRUE(monitor->WatchWindow(reinterpret_cast<intptr_t>(window)));
  EXPECT_EQ(m_system.m_registeredWindows, std::vector<HANDLE>{window});
  EXPECT_EQ(monitor->ReceiveEvent(), IDeviceMonitor::kNone);  // the window gets the notices
  monitor.reset();
  EXPECT_TRUE(m_system.m_registeredWindows.empty());
}

}  // namespace
