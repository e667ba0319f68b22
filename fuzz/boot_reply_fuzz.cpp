// The boot loader's replies are untrusted. One input is one boot-loader command and the reads its
// link brings: reports of any bytes, time-outs and failed reads. A command succeeds exactly when
// the last read it took is its answer, copies only the answered bytes into a destination of the
// size it was given, takes no more reads than its attempts allow and pauses only where it should.
//
// Input: byte 0 picks the command (low three bits: read memory, read device type, erase, write,
// finish, the whole identification; 6 and 7 read memory too), an update asked to stop (bit 3) and
// the image write (bit 4); byte 1 the length; bytes 2..5 the size or address; then the reads, each
// a tag byte (0 time-out, 1 failed read, otherwise a report) and, for a report, up to 64 payload
// bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/clock.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_hid.h"
#include "update/update_dlg.h"

namespace {

enum Command { kRead, kDeviceId, kErase, kWrite, kFinish, kIdentify, kCommandCount };

constexpr uint32_t kMaxData = 46;  // data bytes one packet carries
// Where the image chunks of these writes go: the identified base, and the chunk written.
constexpr uint32_t kImageBase = 0x08003000;
constexpr uint32_t kChunkAddress = 0x08003400;

// What the command's buffer holds before the command: a write's data, a read's untouched bytes.
uint8_t Fill(uint32_t i) {
  return static_cast<uint8_t>(0xA5 + 37 * i);
}

// A dialog whose link is open on a scripted boot loader, in virtual time. One for each input, so
// that an input frees all it allocates and a leak stands out.
// The virtual time of every input.
VirtualClock& FuzzClock() {
  static VirtualClock clock;
  return clock;
}

struct BootLink {
  BootLink() {
    platform.Add({"/dev/hidraw0", 0x7A3D, 0x3208});
    dlg.AttachWindow(&window);
    dlg.Run().m_boot.m_nBootBaseAddress = kImageBase;
    FUZZ_CHECK(dlg.Run().m_Hid.DetectDevice() == 1 && dlg.Run().m_Hid.OpenHid() == 1,
               "the link opens");
  }
  ScriptedHidPlatform platform{&FuzzClock()};
  FakeWindowSystem window;
  CUpdateDlg dlg{Seams{&platform, QuietTraceSink(), LANG_EN_US}};
};

// The answer to command: a leading 0, type 5, command field 0, then the command. An image write's
// answer that repeats the address of an earlier chunk ([base, this chunk)) is left over from that
// chunk and answers nothing; a memory read's answer repeats the address and the count of the read
// (address, length), else it is left over from another read.
bool Answers(const std::vector<uint8_t>& report, uint16_t command, uint32_t address,
             uint32_t length) {
  if (!(report.size() == 64 && report[0] == 0 && report[1] == 5 && report[2] == 0 &&
        report[3] == 0 && report[4] == static_cast<uint8_t>(command) &&
        report[5] == static_cast<uint8_t>(command >> 8)))
    return false;
  const uint32_t echoed = FuzzLe32(&report[14]);
  if (command == 5)
    return echoed == address && FuzzLe16(&report[6]) == std::min(length, kMaxData);
  return command != 3 || echoed < kImageBase || echoed >= kChunkAddress;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6)
    return 0;
  BootLink link;
  const int command = data[0] % 8 < kCommandCount ? data[0] % 8 : kRead;
  const bool stopAsked = data[0] & 0x08;
  const bool image = data[0] & 0x10;
  const uint32_t length = data[1] % 80;
  const uint32_t word = FuzzLe32(data + 2);

  // The reads, in order; an empty payload stands for a time-out or a failed read.
  ScriptedHidPlatform& platform = link.platform;
  platform.m_readTimeouts.clear();
  std::vector<std::vector<uint8_t>> reads;
  for (size_t at = 6; at < size && reads.size() < 40;) {
    uint8_t tag = data[at++];
    if (tag < 2) {
      platform.QueueRead(tag == 0 ? HidReadResult::kTimeout : HidReadResult::kError);
      reads.emplace_back();
      continue;
    }
    size_t n = std::min<size_t>(64, size - at);
    std::vector<uint8_t> report(data + at, data + at + n);
    report.resize(64, 0);
    at += n;
    platform.QueueRead(HidReadResult::kReport, report);
    reads.push_back(report);
  }

  CUpdateDlg& dlg = link.dlg;
  dlg.Run().m_boot.m_bBootUpdateRunning = stopAsked ? 1 : 0;
  dlg.Run().m_bStop = 1;
  // Exactly as many bytes as the command is given, so that a copy past them is caught.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[std::max<uint32_t>(length, 1)]);
  for (uint32_t i = 0; i < length; ++i)
    buffer[i] = Fill(i);
  const uint64_t start = FuzzClock().NowMs();

  // The command code each sends and its reads: 5 for the two read commands, 20 for the erase and
  // the write, 1 for the finish.
  static constexpr uint16_t kCodes[] = {5, 8, 4, 2, 7};
  static constexpr int kAttempts[] = {5, 5, 20, 20, 1};
  if (command == kIdentify) {
    // The identification: four read commands whose answers pick the layout and the version.
    dlg.Run().IdentifyBootDevice();
    FUZZ_CHECK(platform.m_readTimeouts.size() <= 4 * 5u, "the identification's reads bounded");
    return 0;
  }
  const uint16_t code = command == kWrite && image ? 3 : kCodes[command];
  const int attempts = kAttempts[command];
  int result = 0;
  switch (command) {
    case kRead:
      result = dlg.Run().m_boot.BootReadMemory(buffer.get(), length, word);
      break;
    case kDeviceId:
      result = dlg.Run().m_boot.BootReadDeviceId(buffer.get(), length);
      break;
    case kErase:
      result = dlg.Run().m_boot.BootErase(word, length);
      break;
    case kWrite:
      result = dlg.Run().m_boot.BootWrite(buffer.get(), kChunkAddress, length, word, image);
      break;
    default:
      result = dlg.Run().m_boot.BootFinish();
      break;
  }
  dlg.Run().m_boot.m_bBootUpdateRunning = 0;

  const size_t taken = platform.m_readTimeouts.size();
  const size_t consumed = std::min(taken, reads.size());  // reads past the script time out
  FUZZ_CHECK(taken <= static_cast<size_t>(attempts), "no more reads than the attempts allow");
  if (stopAsked) {
    FUZZ_CHECK(result == 0 && taken == 0, "an update asked to stop reads nothing");
  }
  for (size_t i = 0; i + 1 < consumed; ++i)
    FUZZ_CHECK(!Answers(reads[i], code, word, length), "a command ends at its answer");
  const bool answered =
      consumed > 0 && consumed == taken && Answers(reads[consumed - 1], code, word, length);
  FUZZ_CHECK(result == (answered ? 1 : 0), "a command succeeds exactly at its answer");

  // The requests: one, and for the two read commands one more after each read without a report.
  FUZZ_CHECK(platform.m_writes.size() <= (attempts == 5 ? 1u + taken : 1u),
             "requests go out once, and again only after a read without a report");
  if (!platform.m_writes.empty()) {
    const std::vector<uint8_t>& request = platform.m_writes[0];
    FUZZ_CHECK(request.size() == 65 && request[1] == 5 && FuzzLe16(&request[2]) == code,
               "the request carries the command");
    if (command == kWrite) {
      uint32_t carried = std::min(length, kMaxData);
      FUZZ_CHECK(FuzzLe16(&request[6]) == carried &&
                     std::equal(buffer.get(), buffer.get() + carried, request.begin() + 18),
                 "a write carries its own data, at most one packet of it");
    }
  }

  // Only the answered bytes reach the destination, and only with the answer.
  if (command == kRead || command == kDeviceId) {
    uint32_t copied = result ? std::min(length, kMaxData) : 0;
    for (uint32_t i = 0; i < length; ++i) {
      uint8_t expected = i < copied ? reads[consumed - 1][18 + i] : Fill(i);
      FUZZ_CHECK(buffer[i] == expected, "the destination holds the answer's data and nothing else");
    }
  }

  // Only the erase pauses: 1000 ms before its first read, 500 ms after each read without answer.
  const uint64_t waited = FuzzClock().NowMs() - start;
  FUZZ_CHECK(command == kErase ? waited <= 1000 + 500 * taken : waited == 0,
             "pauses only where the command waits for the controller");
  return 0;
}
