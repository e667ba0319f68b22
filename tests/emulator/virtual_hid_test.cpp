// The virtual HID stack: interfaces, handles, reply timing in clock-seam time, unplugging and its
// notices, the wire faults and the transcript.
#include <atomic>

#include "tests/emulator/emulator_fixture.h"

namespace {

const std::string kPath = "/virtual/hidraw0";

// Answers each report with its payload, the first byte counting the replies so far; a report
// whose first payload byte is 2 gets two replies.
class EchoModel : public VirtualController {
 public:
  void OnReport(const uint8_t* report65, const ReplyFn& reply) override {
    int count = report65[1] == 2 ? 2 : 1;
    for (int i = 0; i < count; ++i) {
      uint8_t payload[64];
      std::copy(report65 + 1, report65 + 65, payload);
      payload[0] = static_cast<uint8_t>(++m_nReplies);
      reply(payload);
    }
  }
  int m_nReplies = 0;
};

class VirtualHidTest : public EmulatorTest {
 protected:
  void AttachEcho() { Attach(kPath, 0x7A3D, 0x3208, m_echo); }
  std::shared_ptr<EchoModel> m_echo = std::make_shared<EchoModel>();
};

TEST_F(VirtualHidTest, InterfacesEnumerateInPlugOrderAndOpenAsConfigured) {
  m_platform.Plug("/virtual/keyboard", 0x046D, 0xC52B, nullptr, /*openable=*/false);
  m_platform.Plug(kPath, 0x0483, 0x5750, m_echo);
  std::vector<HidInterfaceInfo> list = m_platform.Enumerate();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].path, "/virtual/keyboard");
  EXPECT_EQ(list[1].vendorId, 0x0483);
  EXPECT_EQ(list[1].productId, 0x5750);

  HidOpenResult result = HidOpenResult::kOk;
  EXPECT_EQ(m_platform.Open("/virtual/keyboard", &result), kNoHidHandle);
  EXPECT_EQ(result, HidOpenResult::kAccessDenied);
  EXPECT_EQ(m_platform.Open("/virtual/absent", &result), kNoHidHandle);
  EXPECT_EQ(result, HidOpenResult::kFailed);

  HidHandle handle = m_platform.Open(kPath, &result);
  ASSERT_NE(handle, kNoHidHandle);
  EXPECT_EQ(result, HidOpenResult::kOk);
  uint16_t vendor = 0, product = 0;
  EXPECT_TRUE(m_platform.GetAttributes(handle, &vendor, &product));
  EXPECT_EQ(vendor, 0x0483);
  EXPECT_EQ(product, 0x5750);
  m_platform.Close(handle);
  EXPECT_FALSE(m_platform.GetAttributes(handle, &vendor, &product));
}

TEST_F(VirtualHidTest, ReadWithNothingPendingCostsExactlyTheTimeOutInVirtualTime) {
  AttachEcho();
  uint64_t start = Now();
  uint8_t in[64];
  EXPECT_EQ(m_hid->ReadHid(in, 64), HidReadResult::kTimeout);
  EXPECT_EQ(Now() - start, 10u);
  m_hid->SetReadTimeout(1000);
  EXPECT_EQ(m_hid->ReadHid(in, 64), HidReadResult::kTimeout);
  EXPECT_EQ(Now() - start, 1010u);
}

TEST_F(VirtualHidTest, ReplyBecomesReadableAfterTheLatency) {
  AttachEcho();
  m_platform.Faults(kPath).latencyMs = 4;
  ASSERT_EQ(Send({7, 8, 9}), 1);
  EXPECT_EQ(m_platform.PendingReplies(kPath), 1u);
  uint64_t start = Now();
  std::vector<uint8_t> reply = Receive();
  ASSERT_EQ(reply.size(), 64u);
  EXPECT_EQ(reply[0], 1);
  EXPECT_EQ(reply[1], 8);
  EXPECT_EQ(Now() - start, 4u);  // the latency, not the time-out
  EXPECT_EQ(m_platform.PendingReplies(kPath), 0u);

  // A reply later than the time-out is not seen by this read, but by the next one.
  m_platform.Faults(kPath).latencyMs = 15;
  Send({7});
  start = Now();
  EXPECT_TRUE(Receive().empty());
  EXPECT_EQ(Now() - start, 10u);
  EXPECT_EQ(Receive().size(), 64u);
  EXPECT_EQ(Now() - start, 15u);
}

TEST_F(VirtualHidTest, RepliesAreReadInTheOrderTheModelSentThem) {
  AttachEcho();
  Send({2, 0xAB});  // two replies
  std::vector<uint8_t> first = Receive();
  std::vector<uint8_t> second = Receive();
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(first[0], 1);
  EXPECT_EQ(second[0], 2);
  EXPECT_TRUE(Receive().empty());
}

TEST_F(VirtualHidTest, UnplugFailsOpenHandlesAndPostsRemovalOnTheMonitor) {
  AttachEcho();
  std::unique_ptr<IDeviceMonitor> monitor = m_platform.CreateMonitor();
  ASSERT_TRUE(monitor);
  EXPECT_EQ(monitor->Descriptor(), -1);  // no descriptor: it wakes its watcher instead
  std::atomic<int> wakes{0};
  ASSERT_TRUE(monitor->SetWakeUp([&wakes] { ++wakes; }));
  EXPECT_EQ(wakes.load(), 0);
  EXPECT_EQ(monitor->ReceiveEvent(), IDeviceMonitor::kNone);  // never blocks

  Send({1});  // a reply is pending when the controller goes
  m_platform.Unplug(kPath);
  EXPECT_FALSE(m_platform.IsPlugged(kPath));
  EXPECT_TRUE(m_platform.Enumerate().empty());
  ASSERT_EQ(wakes.load(), 1);
  EXPECT_EQ(monitor->ReceiveEvent(), IDeviceMonitor::kRemoveComplete);
  EXPECT_EQ(monitor->ReceiveEvent(), IDeviceMonitor::kNone);

  uint64_t start = Now();
  uint8_t in[64];
  EXPECT_EQ(m_hid->ReadHid(in, 64), HidReadResult::kError);
  EXPECT_EQ(Now(), start);  // at once
  EXPECT_EQ(Send({1}), 0);

  // Plugged again: an arrival; the old handles stay dead, a new open works.
  m_platform.Plug(kPath, 0x7A3D, 0x3208, m_echo);
  EXPECT_EQ(wakes.load(), 2);
  EXPECT_EQ(monitor->ReceiveEvent(), IDeviceMonitor::kArrival);
  // Once the wake-up is withdrawn, notices still queue but nobody is called.
  ASSERT_TRUE(monitor->SetWakeUp({}));
  m_platform.Unplug(kPath);
  EXPECT_EQ(wakes.load(), 2);
  EXPECT_EQ(monitor->ReceiveEvent(), IDeviceMonitor::kRemoveComplete);
  m_platform.Plug(kPath, 0x7A3D, 0x3208, m_echo);
  EXPECT_EQ(Send({1}), 0);
  ASSERT_EQ(m_hid->OpenHid(), 1);
  EXPECT_EQ(Send({1}), 1);
  EXPECT_EQ(Receive().size(), 64u);
}

TEST_F(VirtualHidTest, DropNextRepliesLosesExactlyThatMany) {
  AttachEcho();
  m_platform.Faults(kPath).dropNextReplies = 2;
  for (int i = 0; i < 2; ++i) {
    Send({1});
    EXPECT_TRUE(Receive().empty()) << i;
  }
  Send({1});
  std::vector<uint8_t> reply = Receive();
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply[0], 3);  // the model answered all three
  EXPECT_EQ(m_platform.Counters(kPath).droppedReplies, 2);
  EXPECT_EQ(m_platform.Faults(kPath).dropNextReplies, 0);
}

TEST_F(VirtualHidTest, DropEveryKthReplyLosesTheKthAndItsMultiples) {
  AttachEcho();
  m_platform.Faults(kPath).dropEveryKthReply = 3;
  std::vector<int> arrived;
  for (int i = 1; i <= 7; ++i) {
    Send({1});
    arrived.push_back(Receive().empty() ? 0 : 1);
  }
  EXPECT_EQ(arrived, (std::vector<int>{1, 1, 0, 1, 1, 0, 1}));
}

TEST_F(VirtualHidTest, CorruptNextRepliesInvertsEveryByteOfThatManyReplies) {
  AttachEcho();
  m_platform.Faults(kPath).corruptNextReplies = 1;
  Send({1, 0x0F});
  std::vector<uint8_t> bad = Receive();
  ASSERT_FALSE(bad.empty());
  EXPECT_EQ(bad[0], 0xFE);  // reply 1, inverted
  EXPECT_EQ(bad[1], 0xF0);
  EXPECT_EQ(bad[63], 0xFF);
  Send({1, 0x0F});
  std::vector<uint8_t> good = Receive();
  ASSERT_FALSE(good.empty());
  EXPECT_EQ(good[0], 2);
  EXPECT_EQ(good[1], 0x0F);
  EXPECT_EQ(m_platform.Counters(kPath).corruptedReplies, 1);
}

TEST_F(VirtualHidTest, UnplugAfterReportsUnplugsRightAfterTheNthReport) {
  AttachEcho();
  std::unique_ptr<IDeviceMonitor> monitor = m_platform.CreateMonitor();
  m_platform.Faults(kPath).unplugAfterReports = 2;
  EXPECT_EQ(Send({1}), 1);
  EXPECT_TRUE(m_platform.IsPlugged(kPath));
  EXPECT_EQ(monitor->ReceiveEvent(), IDeviceMonitor::kNone);
  EXPECT_EQ(Send({1}), 1);  // the second report is taken, then the cable goes
  EXPECT_FALSE(m_platform.IsPlugged(kPath));
  EXPECT_EQ(monitor->ReceiveEvent(), IDeviceMonitor::kRemoveComplete);
  EXPECT_EQ(m_echo->m_nReplies, 2);
  EXPECT_EQ(Send({1}), 0);
  EXPECT_EQ(m_platform.Faults(kPath).unplugAfterReports, -1);
}

TEST_F(VirtualHidTest, TranscriptHoldsEveryReportBothWaysWithItsTime) {
  AttachEcho();
  m_platform.Faults(kPath).latencyMs = 1;
  m_platform.Faults(kPath).dropNextReplies = 1;
  Send({1, 0x11});  // reply lost: not on the wire
  Receive();        // 10 ms
  Send({2, 0x22});  // two replies at 11 ms
  std::vector<TranscriptEntry> t = m_platform.Transcript();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_TRUE(t[0].fromHost);
  EXPECT_EQ(t[0].timeMs, 0u);
  EXPECT_EQ(t[0].path, kPath);
  ASSERT_EQ(t[0].bytes.size(), 65u);
  EXPECT_EQ(t[0].bytes[0], 0);  // report id
  EXPECT_EQ(t[0].bytes[1], 1);
  EXPECT_EQ(t[0].bytes[2], 0x11);
  EXPECT_TRUE(t[1].fromHost);
  EXPECT_EQ(t[1].timeMs, 10u);
  for (int i : {2, 3}) {
    EXPECT_FALSE(t[i].fromHost);
    EXPECT_EQ(t[i].timeMs, 11u);
    ASSERT_EQ(t[i].bytes.size(), 64u);
    EXPECT_EQ(t[i].bytes[1], 0x22);
  }
  EXPECT_EQ(t[2].bytes[0], 2);
  EXPECT_EQ(t[3].bytes[0], 3);
  m_platform.ClearTranscript();
  EXPECT_TRUE(m_platform.Transcript().empty());
}

}  // namespace
