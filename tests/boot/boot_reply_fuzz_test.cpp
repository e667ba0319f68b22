// The boot loader's replies are untrusted: random and mutated reports, time-outs and failed reads
// in any order must never make a command read or write outside its buffers, accept a reply that
// does not answer it, or wait longer than its attempts allow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "boot/boot_packet.h"
#include "tests/boot/scripted_boot.h"

namespace {

using BootReplyFuzzTest = ScriptedBootTest;

constexpr uint32_t kReadAddress = 0x08003400;

// Reply offsets 6 (data length) and 14 (address): what a read reply echoes of its request.
void Echo(std::vector<uint8_t>& report, uint32_t count, uint32_t address) {
  report[6] = static_cast<uint8_t>(count);
  report[7] = static_cast<uint8_t>(count >> 8);
  for (int i = 0; i < 4; ++i)
    report[14 + i] = static_cast<uint8_t>(address >> (8 * i));
}

// A reply that answers command (a read of count bytes at kReadAddress), or a near miss of one: a
// header byte changed, the answer to the chunk before that came late, or noise.
std::vector<uint8_t> RandomReport(std::mt19937& random, uint16_t command, uint32_t count = 0) {
  std::vector<uint8_t> report(64);
  for (uint8_t& b : report)
    b = static_cast<uint8_t>(random());
  Echo(report, count, kReadAddress - (random() % 5 == 0 ? 46 : 0));
  switch (random() % 4) {
    case 0:  // the right answer, random data
      report[0] = 0;
      report[1] = 5;
      report[2] = report[3] = 0;
      report[4] = static_cast<uint8_t>(command);
      report[5] = static_cast<uint8_t>(command >> 8);
      break;
    case 1:  // the right answer with one header byte changed
      report[0] = 0;
      report[1] = 5;
      report[2] = report[3] = 0;
      report[4] = static_cast<uint8_t>(command);
      report[5] = static_cast<uint8_t>(command >> 8);
      report[random() % 6] ^= static_cast<uint8_t>(1 + random() % 255);
      break;
    default:  // noise
      break;
  }
  return report;
}

bool AcceptedAnswer(const std::vector<uint8_t>& report, uint16_t command, uint32_t count) {
  uint32_t address = report[14] | report[15] << 8 | report[16] << 16 | uint32_t{report[17]} << 24;
  return report[0] == 0 && report[1] == 5 && report[2] == 0 && report[3] == 0 &&
         report[4] == static_cast<uint8_t>(command) && report[5] == (command >> 8) &&
         (report[6] | report[7] << 8) == static_cast<int>(count) && address == kReadAddress;
}

TEST_F(BootReplyFuzzTest, ReadsNeverOverrunAndAcceptOnlyTheirAnswer) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 3000; ++round) {
    m_platform.m_reads.clear();
    m_platform.m_writes.clear();
    std::vector<std::vector<uint8_t>> reports;
    std::vector<bool> gone;  // the read failed: the controller is gone
    uint32_t length = random() % 80;
    int queued = static_cast<int>(random() % 8);
    for (int i = 0; i < queued; ++i) {
      switch (random() % 5) {
        case 0:
          m_platform.QueueRead(HidReadResult::kTimeout);
          reports.emplace_back();
          gone.push_back(false);
          break;
        case 1:
          m_platform.QueueRead(HidReadResult::kError);
          reports.emplace_back();
          gone.push_back(true);
          break;
        default:
          reports.push_back(RandomReport(random, 5, std::min<uint32_t>(length, 46)));
          gone.push_back(false);
          m_platform.QueueRead(HidReadResult::kReport, reports.back());
      }
    }
    // A destination with guard bytes on both sides.
    std::vector<uint8_t> buffer(length + 32, 0xA5);
    uint8_t* destination = buffer.data() + 16;
    uint64_t start = m_clock.NowMs();
    int ok = m_dlg.Run().m_boot.BootReadMemory(destination, length, kReadAddress);

    // Answered exactly when one of the first five reads is the answer and no read before it
    // found the controller gone.
    bool expected = false;
    for (size_t i = 0; i < reports.size() && i < 5 && !expected && !gone[i]; ++i)
      expected =
          !reports[i].empty() && AcceptedAnswer(reports[i], 5, std::min<uint32_t>(length, 46));
    ASSERT_EQ(ok, expected ? 1 : 0) << "round " << round;
    // Only the answered bytes may change: nothing before, nothing after, nothing on a failure.
    uint32_t copied = ok ? std::min<uint32_t>(length, 46) : 0;
    for (size_t i = 0; i < buffer.size(); ++i) {
      if (i >= 16 && i < 16 + copied) {
        continue;
      }
      ASSERT_EQ(buffer[i], 0xA5) << "round " << round << " byte " << i;
    }
    // At most five reads; the request goes out once and again after each read without a report.
    EXPECT_LE(m_platform.m_writes.size(), 6u);
    EXPECT_LE(m_clock.NowMs() - start, 5u * 10u);
  }
}

TEST_F(BootReplyFuzzTest, EraseAndWriteGiveUpWithinTheirAttempts) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    m_platform.m_reads.clear();
    m_platform.m_writes.clear();
    for (int i = 0; i < 30; ++i) {
      std::vector<uint8_t> report = RandomReport(random, 99);
      if (report[4] == 3 || report[4] == 4)  // a near miss that happens to name 3 or 4
        report[4] = 99;
      m_platform.QueueRead(HidReadResult::kReport, report);  // never the answer
    }
    uint64_t start = m_clock.NowMs();
    EXPECT_EQ(m_dlg.Run().m_boot.BootErase(0x08003400, 100), 0);
    // 1000 ms before the first read, then 20 reads with 500 ms after each.
    EXPECT_LE(m_clock.NowMs() - start, 1000u + 20u * (10u + 500u));
    uint8_t chunk[46] = {};
    start = m_clock.NowMs();
    EXPECT_EQ(m_dlg.Run().m_boot.BootWrite(chunk, 0x08003400, 46, 100, 1), 0);
    EXPECT_LE(m_clock.NowMs() - start, 20u * 10u);
    EXPECT_EQ(m_platform.m_writes.size(), 2u);  // each request went out once
  }
}

}  // namespace
