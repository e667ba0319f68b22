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
//
// The dialog, its window and the link are made once; each input starts from the state they had
// then. The update loop runs on the fuzzing thread in virtual time, the link answers its reads
// straight from the input and every report written is checked as it goes out. At the end of an
// input the dialog lets go of everything the input made it hold: no input ends holding memory, so
// a real leak still stands out.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
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
#include "firmware/firmware_record.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/scripted_hid.h"
#include "tests/support/update_dlg_probe.h"
#include "update/update_dlg.h"

namespace {

constexpr size_t kMessageLength = 63;
constexpr size_t kMaxMessages = 64;
constexpr int kAnsweredFileDialogs = 3;
constexpr int kAnsweredBoxes = 8;
// The read time-out of a link just opened (CHid::OpenHid).
constexpr uint32_t kOpenReadTimeoutMs = 200;

// The messages of one input: message i is data[i * 63, (i + 1) * 63), the last one filled up with
// zeros.
struct Messages {
  const uint8_t* data = nullptr;
  size_t size = 0;

  size_t Count() const {
    return std::min(kMaxMessages, (size + kMessageLength - 1) / kMessageLength);
  }
  void CopyTo(size_t i, uint8_t* destination) const {
    const size_t at = i * kMessageLength;
    const size_t n = std::min(kMessageLength, size - at);
    std::memcpy(destination, data + at, n);
    std::memset(destination + n, 0, kMessageLength - n);
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

// The firmware files: one record of 100 bytes; and two, of which the running firmware takes the
// first (33 bytes, 1.37 beta 1, another device type) whatever its type. paths[0] stays empty
// (Cancel), paths[3] names a file that is not there.
struct FirmwareFiles {
  FirmwareFiles() {
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
  std::u16string paths[4];
  std::vector<std::vector<uint8_t>> images;
};

// Follows everything written to the controller: each file information starts a transfer of the
// image it describes; data follows it in order; serial words and finish come after the last byte.
class TranscriptCheck {
 public:
  explicit TranscriptCheck(const FirmwareFiles& files) : m_files(files) {}

  void Start() {
    m_image = nullptr;
    m_at = 0;
    m_serialSent = false;
  }

  void Take(const uint8_t* r, size_t length) {
    FUZZ_CHECK(length == 65, "every report is written whole");
    if (r[2] != 0 || r[3] != MSG_FIRMWARE)
      return;
    switch (r[6]) {
      case FW_FILE_INFO:
        m_image = m_files.ImageOfSize(FuzzLe32(&r[9 + 8]));
        FUZZ_CHECK(m_image, "the file information gives the chosen record's size");
        m_at = 0;
        m_serialSent = false;
        break;
      case FW_DATA: {
        const size_t piece = r[1];
        const size_t n = piece == kShortCommandLength ? 0 : FuzzLe16(&r[7]);
        FUZZ_CHECK(m_image, "data goes out only after a file information");
        FUZZ_CHECK(n <= kAppChunkSize && piece == (n ? 7 + n : size_t{kShortCommandLength}),
                   "a data packet is one piece of at most one chunk");
        FUZZ_CHECK(
            m_at + n <= m_image->size() && std::equal(r + 9, r + 9 + n, m_image->begin() + m_at),
            "the data is the image's next bytes");
        m_at += n;
        break;
      }
      case FW_APP_SERIAL:
        FUZZ_CHECK(m_image && m_at == m_image->size(), "the serial words follow the whole image");
        m_serialSent = true;
        break;
      case FW_FINISH:
        FUZZ_CHECK(m_image && m_at == m_image->size() && m_serialSent,
                   "the finish follows the whole image and the serial words");
        m_image = nullptr;  // a finished transfer takes no more data
        break;
      default:
        break;
    }
  }

 private:
  const FirmwareFiles& m_files;
  const std::vector<uint8_t>* m_image = nullptr;
  size_t m_at = 0;
  bool m_serialSent = false;
};

// The state rules, checked after every message.
void CheckState(const CUpdateDlg& dlg) {
  int state = dlg.Run().m_app.m_nUpdateState.load();
  FUZZ_CHECK(state >= STATE_FILE_CHOSEN && state <= STATE_IDLE, "the transfer state is one of 3");
  FUZZ_CHECK(dlg.Run().m_bytesDone <= dlg.Run().m_imageSize,
             "no more bytes counted than the image holds");
  if (state == STATE_SENDING && !dlg.Run().m_image.empty()) {
    FUZZ_CHECK(dlg.Run().m_bytesDone < dlg.Run().m_imageSize,
               "a transfer still sending has bytes left");
  }
}

// The scripted link: its reads bring the input's messages, each as a report of a length byte and
// the message, and then fail (the controller is gone); its writes go to the transcript check. The
// state rules are checked whenever the update loop reads.
class InputLink : public ScriptedHidPlatform {
 public:
  explicit InputLink(const FirmwareFiles& files) : m_transcript(files) {}
  const CUpdateDlg* m_dlg = nullptr;  // whose state the reads check

  void Start(const Messages& messages) {
    m_messages = messages;
    m_nextRead = 0;
    m_transcript.Start();
  }

  HidReadResult Read(HidHandle handle, uint8_t* payload64, uint32_t /*timeoutMs*/) override {
    if (m_dlg)
      CheckState(*m_dlg);
    if (!m_open.count(handle) || m_nextRead >= m_messages.Count())
      return HidReadResult::kError;
    payload64[0] = static_cast<uint8_t>(kMessageLength);
    m_messages.CopyTo(m_nextRead++, payload64 + 1);
    return HidReadResult::kReport;
  }

  bool Write(HidHandle handle, const uint8_t* report, size_t length) override {
    if (!m_open.count(handle))
      return false;
    m_transcript.Take(report, length);
    return true;
  }

 private:
  Messages m_messages;
  size_t m_nextRead = 0;
  TranscriptCheck m_transcript;
};

// The window: the first three file dialogs and the first eight boxes answer as the input's first
// two bytes say; later file dialogs are cancelled and later boxes get OK. Nothing else is kept.
class InputWindow : public IWindowSystem {
 public:
  void Start(uint8_t dialogs, uint8_t boxes) {
    m_dialogs = dialogs;
    m_boxes = boxes;
    m_dialogsShown = 0;
    m_boxesShown = 0;
  }
  void SetPaths(const std::u16string* paths) { m_paths = paths; }

  int ShowBox(const std::u16string&, const std::u16string&, unsigned) override {
    const int i = m_boxesShown++;
    return i < kAnsweredBoxes && (m_boxes >> i) & 1 ? IDCANCEL : IDOK;
  }
  bool OpenFileDialog(const std::u16string&, const std::u16string&, std::u16string* path) override {
    const int i = m_dialogsShown++;
    if (i >= kAnsweredFileDialogs)
      return false;
    const std::u16string& answer = m_paths[(m_dialogs >> (1 + 2 * i)) & 3];
    if (answer.empty())
      return false;
    *path = answer;
    return true;
  }

  void SetTitle(const std::u16string&) override {}
  void SetControlText(int, const std::u16string&) override {}
  void ShowControl(int, bool) override {}
  void EnableControl(int, bool) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressPos(int) override {}
  void SetIcon(int) override {}
  void WatchDeviceMonitor(IDeviceMonitor*) override {}
  void UnwatchDeviceMonitor(IDeviceMonitor*) override {}
  void NotifyWorkerEnded() override {}
  void CloseWorkerDialogs() override {}
  void StartTimer(int, unsigned) override {}
  void StopTimer(int) override {}
  void EndDialog() override {}

 private:
  const std::u16string* m_paths = nullptr;
  uint8_t m_dialogs = 0;
  uint8_t m_boxes = 0;
  int m_dialogsShown = 0;
  int m_boxesShown = 0;
};

struct Setup {
  Setup() : link(files) {
    link.m_pClock = &clock;
    window.SetPaths(files.paths);
    link.Add({"/dev/hidraw3", 0x0483, 0x5750});
    dlg.AttachWindow(&window);
    UpdateDlgProbe::ControlsReady(dlg) = 1;
    link.m_dlg = &dlg;
    FUZZ_CHECK(dlg.Run().m_Hid.DetectDevice() == 1 && dlg.Run().m_Hid.OpenHid() == 1,
               "the link opens");
    EndInput();
  }

  // Puts back what an input may have changed: every member of the dialog and its link that the
  // identity, the selection and the transfer set. Frees what the dialog held for it.
  void EndInput() {
    std::copy(std::begin(kStoredMaskTable), std::end(kStoredMaskTable),
              dlg.Run().m_app.m_SerialMaskTable);
    std::copy(std::begin(kStoredMaskTable), std::end(kStoredMaskTable),
              dlg.Run().m_app.m_SpareMaskTable);
    std::memset(dlg.Run().m_Hid.m_OutReport, 0, sizeof dlg.Run().m_Hid.m_OutReport);
    std::memset(dlg.Run().m_Hid.m_InReport, 0, sizeof dlg.Run().m_Hid.m_InReport);
    dlg.Run().m_Hid.m_bBootMode = 0;
    dlg.Run().m_app.m_nFirmwareType = 0;
    dlg.Run().m_app.m_nUpdateState = STATE_IDLE;
    dlg.Run().m_bStop = 1;
    dlg.Run().m_curDevVersion = 0x89;
    clock.m_nowMs = 0;
    // The link records every open, and each discovery opens the controller: the record would
    // grow from input to input.
    link.m_openAttempts.clear();

    // The link stays open; an update's start gives it the time-out OpenHid sets.
    dlg.Run().m_Hid.SetReadTimeout(kOpenReadTimeoutMs);
    dlg.Run().ReleaseImage();
    std::memset(dlg.Run().m_app.m_DataBuf, 0, sizeof dlg.Run().m_app.m_DataBuf);
    std::fill(std::begin(dlg.Run().m_app.m_appSerial), std::end(dlg.Run().m_app.m_appSerial), 0);
    std::fill(std::begin(dlg.Run().m_app.m_serial), std::end(dlg.Run().m_app.m_serial), 0);
    dlg.Run().m_desVersion = 0;
    dlg.Run().m_imageSize = 0;
    dlg.Run().m_targetAddress = 0;
    dlg.Run().m_bytesDone = 0;
    dlg.Run().m_recordOffset = 0;
    dlg.Run().m_recordHeader = FirmwareRecordHeader{};
    dlg.Run().m_recordRefusal = RecordRefusal::kNone;
    dlg.Run().m_fileOpenResult = FileOpenResult::kOk;
    std::u16string().swap(dlg.Run().m_strFirmwarePath);
    dlg.Run().m_app.m_pFirstMaskTable = dlg.Run().m_app.m_SerialMaskTable;
    dlg.Run().m_app.m_pSecondMaskTable = dlg.Run().m_app.m_SpareMaskTable;
    dlg.Run().m_app.m_productId = 0;
    dlg.Run().m_app.m_productVariant = 0;
    dlg.Run().m_boot.m_deviceType = 0;
    dlg.Run().m_nLinkOwner = LINK_FREE;
    dlg.Run().m_nShownProgress = -1;
    dlg.Run().m_app.m_bTransferComplete = 0;
    dlg.Run().m_bImageTouched = 0;
    dlg.Run().m_bImageComplete = 0;
    std::string().swap(dlg.Run().m_failureCause);
    dlg.Run().m_bSucceeded = 0;
    dlg.Run().m_lastResult = UpdateResult{};
  }

  VirtualClock clock;
  FirmwareFiles files;
  InputLink link;
  InputWindow window;
  CUpdateDlg dlg{Seams{&link, QuietTraceSink(), LANG_EN_US}};
  // The message the dispatcher gets: exactly 63 bytes on the heap, so that a read past them is
  // caught.
  std::unique_ptr<uint8_t[]> exact{new uint8_t[kMessageLength]};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  if (size < 2)
    return 0;
  const bool throughLoop = data[0] & 1;
  const Messages messages{data + 2, size - 2};
  CUpdateDlg& dlg = setup.dlg;

  setup.link.Start(messages);
  setup.window.Start(data[0], data[1]);
  FUZZ_CHECK(dlg.Run().m_Hid.m_hWriteHandle != kNoHidHandle &&
                 dlg.Run().m_Hid.m_hReadHandle != kNoHidHandle,
             "the link is still open");
  dlg.Run().m_bStop = 0;

  if (throughLoop) {
    dlg.Run().UsbUpdateLoop();
    CheckState(dlg);
    FUZZ_CHECK(dlg.Run().m_app.m_nUpdateState.load() == STATE_IDLE && dlg.Run().m_image.empty(),
               "the update loop leaves no transfer open");
  } else {
    for (size_t i = 0; i < messages.Count(); ++i) {
      messages.CopyTo(i, setup.exact.get());
      dlg.Run().m_app.DispatchReport(setup.exact.get());
      CheckState(dlg);
    }
  }
  setup.EndInput();
  return 0;
}
