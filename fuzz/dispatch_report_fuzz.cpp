// The running firmware's messages are untrusted. One input is a sequence of 63-byte messages,
// handed to the dialog's dispatcher one by one, or read by the update loop as reports from the
// link. Whatever they say, the transfer state stays one of the three, no more image bytes are
// counted than the image holds, and what goes out to the controller is the chosen record's image,
// in order, from its first byte: the serial words and the finish only after the last chunk.
//
// Input: byte 0 picks the delivery (bit 0: 1 for the update loop) and the answers of the first
// three file dialogs (bits 1..6, two each: Cancel, a one-record file, a two-record file, a missing
// file); byte 1 answers the first eight message boxes (a set bit is Cancel, later boxes get OK);
// then the messages, 63 bytes each (the last one filled up with zeros).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "appmode/app_messages.h"
#include "appmode/serial_mask.h"
#include "base/clock.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "firmware/firmware_record.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_hid.h"
#include "update/update_dlg.h"

namespace {

constexpr size_t kMessageLength = 63;
constexpr size_t kMaxMessages = 64;

// The state rules, checked after every message.
void CheckState() {
  const CUpdateDlg* dlg = g_pUpdateDlg.load();
  if (!dlg)
    return;
  int state = g_nUpdateState.load();
  FUZZ_CHECK(state >= STATE_FILE_CHOSEN && state <= STATE_IDLE, "the transfer state is one of 3");
  FUZZ_CHECK(dlg->m_bytesDone <= dlg->m_imageSize, "no more bytes counted than the image holds");
  if (state == STATE_SENDING && !dlg->m_image.empty()) {
    FUZZ_CHECK(dlg->m_bytesDone < dlg->m_imageSize, "a transfer still sending has bytes left");
  }
}

// The scripted link, checking the state rules whenever the update loop reads.
class CheckedPlatform : public ScriptedHidPlatform {
 public:
  HidReadResult Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) override {
    CheckState();
    return ScriptedHidPlatform::Read(handle, payload64, timeoutMs);
  }
};

// A record of the .dat format: the 28-byte header, then an image of n bytes seeded by seed.
std::vector<uint8_t> Record(uint16_t version, uint16_t beta, uint32_t deviceType, uint32_t n,
                            uint8_t seed) {
  std::vector<uint8_t> bytes(kRecordHeaderSize, 0);
  const uint32_t words[] = {version | uint32_t{beta} << 16, 0x08003400, n, deviceType};
  for (int w = 0; w < 4; ++w)
    for (int i = 0; i < 4; ++i)
      bytes[4 * w + i] = static_cast<uint8_t>(words[w] >> (8 * i));
  for (uint32_t i = 0; i < n; ++i)
    bytes.push_back(static_cast<uint8_t>(seed + i * 7));
  return bytes;
}

struct Setup {
  Setup() {
    SetTraceSink([](const std::string&) {});
    SetUiLanguageOverride(LANG_EN_US);
    SetClock(&clock);

    // One record of 100 bytes; and two, of which the running firmware takes the first (33 bytes,
    // 1.37 beta 1, another device type) whatever its type.
    std::vector<uint8_t> one = Record(138, 0, 0x3009, 100, 1);
    std::vector<uint8_t> two = Record(137, 1, 0x1234, 33, 2);
    std::vector<uint8_t> second = Record(140, 0, 0x3009, 64, 3);
    images = {{one.begin() + kRecordHeaderSize, one.end()},
              {two.begin() + kRecordHeaderSize, two.end()}};
    two.insert(two.end(), second.begin(), second.end());
    const char* names[] = {"one.dat", "two.dat", "missing.dat"};
    for (int i = 0; i < 3; ++i)
      paths[i + 1] = Utf8ToUtf16(folder.File(names[i]));
    std::ofstream(folder.File("one.dat"), std::ios::binary)
        .write(reinterpret_cast<const char*>(one.data()), static_cast<std::streamsize>(one.size()));
    std::ofstream(folder.File("two.dat"), std::ios::binary)
        .write(reinterpret_cast<const char*>(two.data()), static_cast<std::streamsize>(two.size()));
  }
  // The image a file information describes, by its size (the files' images differ in size).
  const std::vector<uint8_t>* ImageOfSize(uint32_t size) const {
    for (const std::vector<uint8_t>& image : images)
      if (image.size() == size)
        return &image;
    return nullptr;
  }

  FuzzFolder folder;
  VirtualClock clock;
  std::u16string paths[4];  // paths[0] stays empty: Cancel
  std::vector<std::vector<uint8_t>> images;
};

// Walks everything written to the controller: each file information starts a transfer of the
// image it describes; data follows it in order; serial words and finish come after the last byte.
void CheckTranscript(const Setup& setup, const ScriptedHidPlatform& platform) {
  const std::vector<uint8_t>* image = nullptr;
  size_t at = 0;
  bool serialSent = false;
  for (const std::vector<uint8_t>& r : platform.m_writes) {
    FUZZ_CHECK(r.size() == 65, "every report is written whole");
    if (r[2] != 0 || r[3] != MSG_FIRMWARE)
      continue;
    switch (r[6]) {
      case FW_FILE_INFO:
        image = setup.ImageOfSize(FuzzLe32(&r[9 + 8]));
        FUZZ_CHECK(image, "the file information gives the chosen record's size");
        at = 0;
        serialSent = false;
        break;
      case FW_DATA: {
        const size_t piece = r[1];
        const size_t n = piece == kShortCommandLength ? 0 : FuzzLe16(&r[7]);
        FUZZ_CHECK(image, "data goes out only after a file information");
        FUZZ_CHECK(n <= kAppChunkSize && piece == (n ? 7 + n : size_t{kShortCommandLength}),
                   "a data packet is one piece of at most one chunk");
        FUZZ_CHECK(at + n <= image->size() &&
                       std::equal(r.begin() + 9, r.begin() + 9 + n, image->begin() + at),
                   "the data is the image's next bytes");
        at += n;
        break;
      }
      case FW_APP_SERIAL:
        FUZZ_CHECK(image && at == image->size(), "the serial words follow the whole image");
        serialSent = true;
        break;
      case FW_FINISH:
        FUZZ_CHECK(image && at == image->size() && serialSent,
                   "the finish follows the whole image and the serial words");
        image = nullptr;  // a finished transfer takes no more data
        break;
      default:
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  if (size < 2)
    return 0;
  const bool throughLoop = data[0] & 1;
  std::vector<std::vector<uint8_t>> messages;
  for (size_t at = 2; at < size && messages.size() < kMaxMessages; at += kMessageLength) {
    std::vector<uint8_t> message(data + at, data + std::min(size, at + kMessageLength));
    message.resize(kMessageLength, 0);
    messages.push_back(std::move(message));
  }

  // Everything of one input is made and freed with it, so that a leak stands out.
  CheckedPlatform platform;
  platform.Add({"/dev/hidraw3", 0x0483, 0x5750});
  SetHidPlatform(&platform);
  g_nUpdateState = STATE_IDLE;
  cur_devVersion = 0x89;

  FakeWindowSystem window;
  for (int i = 0; i < 3; ++i)
    window.QueueFilePath(setup.paths[(data[0] >> (1 + 2 * i)) & 3]);
  for (int i = 0; i < 8; ++i)
    window.QueueBoxAnswer((data[1] >> i) & 1 ? IDCANCEL : IDOK);
  {
    CUpdateDlg dlg;
    dlg.AttachWindow(&window);
    g_pBtnUpdate = &dlg.m_btnUpdate;
    g_pProgress = &dlg.m_progress;
    g_pDoneLabel = &dlg.m_doneLabel;
    FUZZ_CHECK(dlg.m_Hid.DetectDevice() == 1 && dlg.m_Hid.OpenHid() == 1, "the link opens");
    g_bStop = 0;

    if (throughLoop) {
      // The reports the loop reads: a length byte, then the message; then the controller is gone.
      for (const std::vector<uint8_t>& message : messages) {
        std::vector<uint8_t> report(1, static_cast<uint8_t>(kMessageLength));
        report.insert(report.end(), message.begin(), message.end());
        platform.QueueRead(HidReadResult::kReport, report);
      }
      platform.QueueRead(HidReadResult::kError);
      dlg.UsbUpdateLoop();
      CheckState();
      FUZZ_CHECK(g_nUpdateState.load() == STATE_IDLE && dlg.m_image.empty(),
                 "the update loop leaves no transfer open");
    } else {
      for (const std::vector<uint8_t>& message : messages) {
        // A copy of exactly 63 bytes: the dispatcher may read no further.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[kMessageLength]);
        std::copy(message.begin(), message.end(), exact.get());
        dlg.DispatchReport(exact.get());
        CheckState();
      }
    }
    CheckTranscript(setup, platform);
    g_pBtnUpdate = nullptr;
    g_pProgress = nullptr;
    g_pDoneLabel = nullptr;
  }
  SetHidPlatform(nullptr);
  g_bStop = 1;
  g_nUpdateState = STATE_IDLE;
  return 0;
}
