// The device link against a scripted HID platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/trace.h"
#include "device/hid.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_hid.h"

namespace {

using Interface = ScriptedHidPlatform::Interface;

class HidTest : public ::testing::Test {
 protected:
  ScriptedHidPlatform m_platform;
  std::vector<std::string> m_traces;
  const Seams m_seams{
      &m_platform, [this](const std::string& line) { m_traces.push_back(line); }, {}};
};

TEST_F(HidTest, FirstControllerInEnumerationOrderWinsWhateverItsIdentity) {
  m_platform.Add({"/dev/hidraw0", 0x046D, 0xC52B, HidOpenResult::kFailed});  // a keyboard
  m_platform.Add({"/dev/hidraw1", 0x1234, 0x0001});                          // foreign, openable
  m_platform.Add({"/dev/hidraw2", 0x7A3D, 0x3208});                          // boot loader
  m_platform.Add({"/dev/hidraw3", 0x0483, 0x5750});                          // running firmware
  CHid hid{m_seams};
  EXPECT_EQ(hid.DetectDevice(), 1);
  EXPECT_EQ(hid.m_DevicePath, u"/dev/hidraw2");
  EXPECT_EQ(hid.m_bBootMode.load(), 1);
  EXPECT_EQ(hid.m_bDeviceFound.load(), 1);
  // The interfaces after the match are not examined, and nothing stays open.
  EXPECT_EQ(m_platform.m_openAttempts,
            (std::vector<std::string>{"/dev/hidraw0", "/dev/hidraw1", "/dev/hidraw2"}));
  EXPECT_TRUE(m_platform.m_open.empty());
  EXPECT_EQ(m_traces, std::vector<std::string>{"m_DevicePath:/dev/hidraw2\n"});
}

TEST_F(HidTest, EachIdentitySetsTheBootModeFlag) {
  struct Case {
    uint16_t vendor, product;
    int bootMode;
  };
  for (Case c : {Case{0x0483, 0x5750, 0}, Case{0x7A3D, 0x5750, 0}, Case{0x7A3D, 0x3208, 1}}) {
    ScriptedHidPlatform platform;
    platform.Add({"/dev/hidraw5", c.vendor, c.product});
    CHid hid{{&platform, {}, {}}};
    hid.m_bBootMode = 1 - c.bootMode;
    EXPECT_EQ(hid.DetectDevice(), 1);
    EXPECT_EQ(hid.m_bBootMode.load(), c.bootMode) << std::hex << c.vendor << ":" << c.product;
  }
  // Near misses are not controllers.
  ScriptedHidPlatform platform;
  platform.Add({"/dev/hidraw6", 0x0483, 0x3208});
  platform.Add({"/dev/hidraw7", 0x7A3D, 0x5751});
  CHid hid{{&platform, {}, {}}};
  EXPECT_EQ(hid.DetectDevice(), 0);
  EXPECT_TRUE(platform.m_open.empty());
}

TEST_F(HidTest, UnreadableAttributesAndUnopenableInterfacesAreSkipped) {
  m_platform.Add({"/dev/hidraw0", 0x0483, 0x5750, HidOpenResult::kOk, false});
  m_platform.Add({"/dev/hidraw1", 0x7A3D, 0x5750, HidOpenResult::kAccessDenied});
  m_platform.Add({"/dev/hidraw2", 0x046D, 0xC52B, HidOpenResult::kAccessDenied});
  m_platform.Add({"/dev/hidraw3", 0x7A3D, 0x5750});
  CHid hid{m_seams};
  EXPECT_EQ(hid.DetectDevice(), 1);
  EXPECT_EQ(hid.m_DevicePath, u"/dev/hidraw3");
  EXPECT_TRUE(m_platform.m_open.empty());
  // A controller we may not open says why; a foreign device that we may not open says nothing.
  ASSERT_EQ(m_traces.size(), 2u);
  EXPECT_NE(m_traces[0].find("/dev/hidraw1: access denied"), std::string::npos);
  EXPECT_EQ(m_traces[1], "m_DevicePath:/dev/hidraw3\n");
}

TEST_F(HidTest, FailedDetectionKeepsPathAndModeButClearsFoundFlag) {
  m_platform.Add({"/dev/hidraw4", 0x7A3D, 0x3208});
  CHid hid{m_seams};
  ASSERT_EQ(hid.DetectDevice(), 1);
  m_platform.Remove("/dev/hidraw4");
  m_platform.Add({"/dev/hidraw9", 0x1111, 0x2222});
  EXPECT_EQ(hid.DetectDevice(), 0);
  EXPECT_EQ(hid.m_bDeviceFound.load(), 0);
  EXPECT_EQ(hid.m_DevicePath, u"/dev/hidraw4");
  EXPECT_EQ(hid.m_bBootMode.load(), 1);
}

TEST_F(HidTest, NotificationIsRegisteredOnceWithTheWindowAndReleasedByTheDestructor) {
  FakeWindowSystem window;
  {
    CHid hid{m_seams};
    hid.m_hNotifyWnd = &window;
    hid.DetectDevice();
    hid.DetectDevice();
    EXPECT_EQ(m_platform.m_monitorsCreated, 1);
    EXPECT_EQ(hid.m_bNotifyRegistered, 1);
    ASSERT_EQ(window.WatchedMonitors().size(), 1u);
    EXPECT_EQ(window.WatchedMonitors()[0], hid.m_hDevNotify.get());
  }
  EXPECT_TRUE(window.WatchedMonitors().empty());

  // A failed registration is not tried again, and discovery keeps working.
  m_platform.m_canMonitor = false;
  m_platform.Add({"/dev/hidraw1", 0x0483, 0x5750});
  CHid hid{m_seams};
  EXPECT_EQ(hid.DetectDevice(), 1);
  EXPECT_EQ(hid.DetectDevice(), 1);
  EXPECT_EQ(m_platform.m_monitorsCreated, 2);
  EXPECT_EQ(hid.m_hDevNotify, nullptr);
}

TEST_F(HidTest, BeforeOpenWritesFailAndReadsAnswerAbandonedAtOnce) {
  CHid hid{m_seams};
  EXPECT_EQ(hid.m_hWriteHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(hid.m_hReadHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(hid.m_nReadTimeout.load(), 10u);
  uint8_t data[3] = {7, 8, 9};
  EXPECT_EQ(hid.WriteHid(data, 3), 0);
  // The report is built all the same.
  EXPECT_EQ(hid.m_OutReport[0], 0);
  EXPECT_EQ(hid.m_OutReport[1], 7);
  EXPECT_EQ(hid.m_OutReport[3], 9);
  uint8_t destination[4] = {1, 2, 3, 4};
  EXPECT_EQ(hid.ReadHid(destination, 4), HidReadResult::kNotOpen);
  EXPECT_EQ(destination[0], 1);
  EXPECT_TRUE(m_platform.m_readTimeouts.empty());
  EXPECT_TRUE(m_platform.m_writes.empty());
}

TEST_F(HidTest, OpenHidOpensTwoHandlesClosesEarlierOnesAndSetsTheTimeout) {
  m_platform.Add({"/dev/hidraw1", 0x0483, 0x5750});
  CHid hid{m_seams};
  ASSERT_EQ(hid.DetectDevice(), 1);
  hid.SetReadTimeout(10);
  ASSERT_EQ(hid.OpenHid(), 1);
  EXPECT_EQ(hid.m_nReadTimeout.load(), 200u);
  EXPECT_EQ(m_platform.m_open.size(), 2u);
  ASSERT_EQ(hid.OpenHid(), 1);
  EXPECT_EQ(m_platform.m_open.size(), 2u);  // the first pair was closed

  // Unplugged since detection: the open fails and writes fail until the next good open.
  m_platform.Remove("/dev/hidraw1");
  EXPECT_EQ(hid.OpenHid(), 0);
  EXPECT_EQ(hid.m_hWriteHandle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(m_platform.m_open.empty());
  uint8_t byte = 1;
  EXPECT_EQ(hid.WriteHid(&byte, 1), 0);
}

class OpenHidTest : public HidTest {
 protected:
  void SetUp() override {
    HidTest::SetUp();
    m_platform.Add({"/dev/hidraw1", 0x0483, 0x5750});
    ASSERT_EQ(m_hid.DetectDevice(), 1);
    ASSERT_EQ(m_hid.OpenHid(), 1);
  }
  CHid m_hid{m_seams};
};

TEST_F(OpenHidTest, ShortWriteResendsThePreviousReportsTail) {
  std::vector<uint8_t> longPayload(63);
  for (size_t i = 0; i < longPayload.size(); ++i)
    longPayload[i] = static_cast<uint8_t>(0xA0 + i);
  ASSERT_EQ(m_hid.WriteHid(longPayload.data(), 63), 1);
  std::vector<uint8_t> shortPayload(17, 0x11);
  ASSERT_EQ(m_hid.WriteHid(shortPayload.data(), 17), 1);
  uint8_t none = 0;
  ASSERT_EQ(m_hid.WriteHid(&none, 0), 1);

  ASSERT_EQ(m_platform.m_writes.size(), 3u);
  const std::vector<uint8_t>& second = m_platform.m_writes[1];
  ASSERT_EQ(second.size(), 65u);
  EXPECT_EQ(second[0], 0);
  for (int i = 1; i <= 17; ++i)
    EXPECT_EQ(second[i], 0x11) << i;
  for (int i = 18; i <= 63; ++i)
    EXPECT_EQ(second[i], longPayload[i - 1]) << i;
  EXPECT_EQ(second[64], 0);  // never written by anyone
  // A count of 0 sends report id 0 and the previous payload.
  EXPECT_EQ(m_platform.m_writes[2], second);
}

TEST_F(OpenHidTest, ReadCopiesPositionsOneToCountAndMapsTheWaitCodes) {
  std::vector<uint8_t> payload(64);
  for (size_t i = 0; i < payload.size(); ++i)
    payload[i] = static_cast<uint8_t>(i + 1);
  m_platform.QueueRead(HidReadResult::kReport, payload);
  m_platform.QueueRead(HidReadResult::kTimeout);
  m_platform.QueueRead(HidReadResult::kError);
  m_platform.QueueRead(HidReadResult::kReport, payload);

  uint8_t destination[64] = {};
  std::fill(std::begin(destination), std::end(destination), 0xEE);
  EXPECT_EQ(m_hid.ReadHid(destination, 5), HidReadResult::kReport);
  EXPECT_EQ(destination[0], 1);
  EXPECT_EQ(destination[4], 5);
  EXPECT_EQ(destination[5], 0xEE);

  std::fill(std::begin(destination), std::end(destination), 0xEE);
  EXPECT_EQ(m_hid.ReadHid(destination, 64), HidReadResult::kTimeout);
  EXPECT_EQ(destination[0], 0xEE);
  EXPECT_EQ(m_hid.ReadHid(destination, 64), HidReadResult::kError);
  EXPECT_EQ(destination[0], 0xEE);
  // Count 0 waits for a report and copies nothing.
  EXPECT_EQ(m_hid.ReadHid(destination, 0), HidReadResult::kReport);
  EXPECT_EQ(destination[0], 0xEE);

  // Every read waited the link's time-out.
  EXPECT_EQ(m_platform.m_readTimeouts, (std::vector<uint32_t>{200, 200, 200, 200}));
  m_hid.SetReadTimeout(10);
  m_hid.ReadHid(destination, 64);
  EXPECT_EQ(m_platform.m_readTimeouts.back(), 10u);
}

}  // namespace
