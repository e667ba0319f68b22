// Whole boot-mode updates against the virtual boot loader, through the window-system fake and in
// virtual time: the user picks a file, confirms, and the controller's flash is compared with the
// chosen record's image.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "emulator/dat_writer.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_hid.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/held_file.h"
#include "tests/support/update_dlg_probe.h"
#include "update/update_dlg.h"

namespace {

const char kPath[] = "/dev/hidraw-boot";
constexpr uint32_t kOldFirmwareSize = 48;  // ends before the version area at base + 0x34

// A window that lets a test act at a chosen moment of the update.
class HookedWindow : public FakeWindowSystem {
 public:
  int ShowBox(const std::u16string& text, const std::u16string& caption, unsigned type) override {
    if (onBox)
      onBox(type);
    return FakeWindowSystem::ShowBox(text, caption, type);
  }
  void SetProgressPos(int position) override {
    FakeWindowSystem::SetProgressPos(position);
    if (onProgress)
      onProgress(position);
  }
  std::function<void(unsigned)> onBox;
  std::function<void(int)> onProgress;
};

class BootUpdateTest : public ::testing::Test {
 public:
  void SetUp() override {
    m_seams.platform = &m_hid;
    m_seams.language = LANG_EN_US;
    m_seams.trace = QuietTraceSink();
    m_folder = std::filesystem::temp_directory_path() /
               ("tarvix-boot-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(m_folder);
  }
  void TearDown() override {
    m_dlg.reset();
    std::error_code error;
    std::filesystem::remove_all(m_folder, error);
  }

  // Plugs a boot loader, then does what start-up and the update button do before the worker runs:
  // detection, opening, identification, stop flag cleared, button disabled.
  void Attach(BootLoaderConfig config = {}) {
    m_loader = std::make_shared<VirtualBootLoader>(config);
    // The controller holds an old firmware, so a missing or misplaced erase shows as write faults.
    m_loader->Preload(m_loader->Layout().imageBase, MakeImage(kOldFirmwareSize, 77));
    m_hid.Plug(kPath, 0x7A3D, 0x3208, m_loader);
    m_dlg = std::make_unique<CUpdateDlg>(m_seams);
    m_dlg->Run().m_curDevVersion = VERSION_UNKNOWN;  // as start-up leaves it before the query
    m_dlg->AttachWindow(&m_window);
    UpdateDlgProbe::ControlsReady(*m_dlg) = 1;
    ASSERT_EQ(m_dlg->Run().m_Hid.DetectDevice(), 1);
    ASSERT_EQ(m_dlg->Run().m_Hid.m_bBootMode.load(), 1);
    ASSERT_EQ(m_dlg->Run().m_Hid.OpenHid(), 1);
    m_dlg->Run().IdentifyBootDevice();
    m_identificationTitles = m_window.Titles();
    m_dlg->Run().m_bStop = 0;
    m_window.EnableControl(IDC_USB_UPDATE, false);
    m_window.ShowControl(IDC_DONE_LABEL, false);
    m_window.ClearRecords();
  }

  std::u16string WriteDat(const std::vector<DatRecord>& records,
                          const std::string& name = "fw.dat") {
    return WriteBytes(BuildDat(records), name);
  }
  std::u16string WriteBytes(const std::vector<uint8_t>& bytes, const std::string& name = "fw.dat") {
    std::string path = (m_folder / name).string();
    EXPECT_TRUE(WriteFile(path, bytes));
    return Utf8ToUtf16(path);
  }
  // The usual file: a record for another device type first, then the one for 0x3009.
  std::u16string TwoRecordFile(const std::vector<uint8_t>& image, uint16_t version = 137,
                               uint16_t beta = 3) {
    DatRecord other;
    other.deviceType = 0x1234;
    other.targetAddress = 0x01018000;
    other.image = MakeImage(300, 9);
    DatRecord mine;
    mine.version = version;
    mine.beta = beta;
    mine.image = image;
    return WriteDat({other, mine});
  }
  void RunUpdate(const std::u16string& path, int confirmation = IDOK) {
    m_window.QueueFilePath(path);
    m_window.QueueBoxAnswer(confirmation);
    m_dlg->Run().BootUpdateFirmware();
  }
  std::vector<std::u16string> BoxTexts() {
    std::vector<std::u16string> texts;
    for (const FakeWindowSystem::Box& box : m_window.Boxes())
      texts.push_back(box.text);
    return texts;
  }
  // Host reports of one command, in order.
  std::vector<std::vector<uint8_t>> Requests(uint16_t command) {
    std::vector<std::vector<uint8_t>> out;
    for (const TranscriptEntry& e : m_hid.Transcript())
      if (e.fromHost && e.bytes.size() >= 3 && (e.bytes[2] | (e.bytes[3] << 8)) == command)
        out.push_back(e.bytes);
    return out;
  }
  // The image as the chunk requests carried it: the data of each address, in address order.
  std::vector<uint8_t> ImageSent() {
    std::map<uint32_t, std::vector<uint8_t>> chunks;
    for (const std::vector<uint8_t>& r : Requests(3)) {
      uint32_t address = r[14] | (r[15] << 8) | (r[16] << 16) | (uint32_t{r[17]} << 24);
      chunks[address].assign(r.begin() + 18, r.begin() + 18 + (r[6] | (r[7] << 8)));
    }
    std::vector<uint8_t> image;
    for (const auto& [address, data] : chunks)
      image.insert(image.end(), data.begin(), data.end());
    return image;
  }
  // What the flash holds from the image base after an update: the image, except for the 32-byte
  // version area where it lies inside the image region (the 0x3009 layout puts it at base + 0x34):
  // that area was erased again and holds the version word, or nothing when it was not written.
  std::vector<uint8_t> FlashAfterUpdate(const std::vector<uint8_t>& image,
                                        std::optional<uint32_t> versionWord) {
    std::vector<uint8_t> flash = image;
    BootMemoryLayout layout = m_loader->Layout();
    for (uint32_t i = 0; i < 32; ++i) {
      uint64_t address = uint64_t{layout.versionArea} + i;
      if (address < layout.imageBase || address >= layout.imageBase + image.size())
        continue;
      uint8_t value = versionWord && i < 4 ? static_cast<uint8_t>(*versionWord >> (8 * i)) : 0xFF;
      flash[address - layout.imageBase] = value;
    }
    return flash;
  }
  bool Has(uint16_t command) {
    for (uint16_t c : m_loader->m_commands)
      if (c == command)
        return true;
    return false;
  }
  void ExpectFailureBox() {
    std::vector<std::u16string> texts = BoxTexts();
    ASSERT_EQ(texts.size(), 2u);  // the confirmation, then the failure
    EXPECT_EQ(texts[1], u"Firmware update failure\n");
    EXPECT_EQ(m_window.Boxes()[1].caption, u"Tarvix Update v2.60");
    EXPECT_EQ(m_window.Boxes()[1].type, MB_OK);
    EXPECT_FALSE(m_loader->m_bFinished);
  }

  VirtualClock m_clock;

  Seams m_seams;
  VirtualHidPlatform m_hid{&m_clock};
  HookedWindow m_window;
  std::shared_ptr<VirtualBootLoader> m_loader;
  std::unique_ptr<CUpdateDlg> m_dlg;
  std::filesystem::path m_folder;
  std::vector<std::u16string> m_identificationTitles;
};

TEST_F(BootUpdateTest, TwoRecordFileFlashesTheRecordOfTheDeviceType) {
  Attach();
  std::vector<uint8_t> image = MakeImage(1000, 3);
  RunUpdate(TwoRecordFile(image));

  EXPECT_EQ(ImageSent(), image);
  EXPECT_EQ(m_loader->ReadFlash(0x08003400, 1000), FlashAfterUpdate(image, 0x00030089));
  // Nothing after the image: the end of the file is not written past the image.
  EXPECT_EQ(m_loader->ReadFlash(0x08003400 + 1000, 64), std::vector<uint8_t>(64, 0xFF));
  EXPECT_EQ(m_loader->VersionWord(), 0x00030089u);  // 1.37 beta 3, the whole word
  EXPECT_TRUE(m_loader->m_bFinished);
  EXPECT_EQ(m_loader->m_nWriteFaults, 0);
  EXPECT_EQ(m_loader->m_nCrcMismatches, 0);
  EXPECT_EQ(m_loader->m_nMalformedPackets, 0);
  ASSERT_GE(m_loader->m_erases.size(), 2u);
  EXPECT_EQ(m_loader->m_erases[0], std::make_pair(0x08003400u, 1000u));
  EXPECT_EQ(m_loader->m_erases[1], std::make_pair(0x08003434u, 32u));
  // Commands in order: erase, 22 chunks, version erase and write, finish.
  std::vector<uint16_t> expected = {4};
  expected.insert(expected.end(), 22, 3);
  expected.insert(expected.end(), {4, 2, 7});
  std::vector<uint16_t> commands(m_loader->m_commands.end() - expected.size(),
                                 m_loader->m_commands.end());
  EXPECT_EQ(commands, expected);

  EXPECT_EQ(BoxTexts(),
            (std::vector<std::u16string>{u"New firmware 1.37 beta3 and current is 1.37\n",
                                         u"\n Firmware upgraded! \n"}));
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 1);
  EXPECT_TRUE(m_window.IsVisible(IDC_DONE_LABEL));
  EXPECT_TRUE(m_window.IsEnabled(IDC_USB_UPDATE));
  EXPECT_EQ(m_window.ProgressPos(), 0);
  // 0, then acknowledged bytes * 100 / 1000 rounded down after each of the 22 chunks of 46 bytes
  // (the last one holds 34), then 0 after the success box.
  EXPECT_EQ(m_window.ProgressPositions(),
            (std::vector<int>{0,  4,  9,  13, 18, 23, 27, 32, 36, 41, 46,  50,
                              55, 59, 64, 69, 73, 78, 82, 87, 92, 96, 100, 0}));
}

TEST_F(BootUpdateTest, HundredByteImageGoesOutInThreeChunksWithExactProgress) {
  Attach();
  std::vector<uint8_t> image = MakeImage(100, 5);
  RunUpdate(TwoRecordFile(image));
  EXPECT_EQ(ImageSent(), image);
  EXPECT_EQ(m_loader->ReadFlash(0x08003400, 100), FlashAfterUpdate(image, 0x00030089));
  std::vector<std::vector<uint8_t>> chunks = Requests(3);
  ASSERT_EQ(chunks.size(), 3u);
  const uint32_t lengths[] = {46, 46, 8};
  for (size_t i = 0; i < 3; ++i) {
    const std::vector<uint8_t>& r = chunks[i];
    EXPECT_EQ(r[6] | (r[7] << 8), static_cast<int>(lengths[i]));
    EXPECT_EQ(r[10] | (r[11] << 8) | (r[12] << 16) | (r[13] << 24), 100);  // size: the image
    uint32_t address = r[14] | (r[15] << 8) | (r[16] << 16) | (uint32_t{r[17]} << 24);
    EXPECT_EQ(address, 0x08003400u + 46 * i);
  }
  EXPECT_EQ(m_window.ProgressPositions(), (std::vector<int>{0, 46, 92, 100, 0}));
}

TEST_F(BootUpdateTest, IdentificationOfEachBootLoaderKind) {
  struct Case {
    std::optional<uint32_t> deviceType;
    BootMemoryLayout layout;
  };
  for (Case c : {Case{0x3009, kLayout3009}, Case{0x4711, kLayoutOther}, Case{0, kLayoutOther},
                 Case{std::nullopt, kLayoutNoAnswer}}) {
    SCOPED_TRACE(c.deviceType ? *c.deviceType : 0xFFFFFFFF);
    m_hid.Unplug(kPath);
    m_window.ClearRecords();
    BootLoaderConfig config;
    config.deviceType = c.deviceType;
    config.versionWord = 0x0002008C;
    Attach(config);
    EXPECT_EQ(m_dlg->Run().m_boot.m_nBootBaseAddress, c.layout.imageBase);
    EXPECT_EQ(m_dlg->Run().m_boot.m_nBootVersionAddress, c.layout.versionArea);
    EXPECT_EQ(m_dlg->Run().m_boot.m_nBootIdAddress, c.layout.identityArea);
    EXPECT_EQ(m_dlg->Run().m_boot.m_deviceType, c.deviceType.value_or(0));
    EXPECT_EQ(m_dlg->Run().m_curDevVersion.load(), 0x0002008Cu);
    EXPECT_EQ(m_identificationTitles,
              std::vector<std::u16string>{u"Tarvix Update v2.60(GamePad V1.40 beta2)"});
    // The identity and the extra 6 bytes were read after the version.
    std::vector<std::vector<uint8_t>> reads = Requests(5);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(
        reads[2][14] | (reads[2][15] << 8) | (reads[2][16] << 16) | (uint32_t{reads[2][17]} << 24),
        0x80000002u);
    m_hid.ClearTranscript();
  }
}

TEST_F(BootUpdateTest, BootLoaderOfAnotherTypeIsFlashedAtItsOwnBase) {
  BootLoaderConfig config;
  config.deviceType = 0x4711;
  Attach(config);
  DatRecord first;
  first.image = MakeImage(200, 1);
  DatRecord mine;
  mine.deviceType = 0x4711;
  mine.targetAddress = 0x01018000;
  mine.version = 502;
  mine.image = MakeImage(461, 2);
  RunUpdate(WriteDat({first, mine}));
  EXPECT_EQ(m_loader->ReadFlash(0x01018000, 461), mine.image);
  EXPECT_EQ(m_loader->VersionWord(), 502u);
  EXPECT_EQ(m_loader->m_nWriteFaults, 0);
  EXPECT_EQ(BoxTexts().back(), u"\n Firmware upgraded! \n");
}

TEST_F(BootUpdateTest, CancelAndRefusedFilesTouchNothing) {
  Attach();
  size_t before = m_loader->m_commands.size();
  m_dlg->Run().BootUpdateFirmware();  // file dialog cancelled
  EXPECT_TRUE(m_window.Boxes().empty());
  RunUpdate(TwoRecordFile(MakeImage(100)), IDCANCEL);
  EXPECT_EQ(m_window.Boxes().size(), 1u);  // the confirmation only
  EXPECT_EQ(m_loader->m_commands.size(), before);
  EXPECT_TRUE(m_window.IsEnabled(IDC_USB_UPDATE));

  // imageSize 0, and a record whose image runs past the end: refused before the erase.
  DatRecord empty;
  DatRecord past;
  past.image = MakeImage(100);
  for (std::vector<uint8_t> bytes : {BuildDat({empty}), DatImageRunsPastEnd(past, 10)}) {
    m_window.ClearRecords();
    RunUpdate(WriteBytes(bytes));
    EXPECT_EQ(BoxTexts(), std::vector<std::u16string>{u"The Firmware not recognized!"});
    EXPECT_EQ(m_loader->m_commands.size(), before);
  }
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 0);
}

TEST_F(BootUpdateTest, EraseNeverAcknowledgedEndsWithinElevenPointTwoSeconds) {
  Attach();
  m_loader->m_ignoreCommand = 4;
  uint64_t start = m_clock.NowMs();
  RunUpdate(TwoRecordFile(MakeImage(100)));
  uint64_t elapsed = m_clock.NowMs() - start;
  EXPECT_LE(elapsed, 11200u);
  EXPECT_GE(elapsed, 11000u);
  EXPECT_EQ(Requests(4).size(), 1u);  // sent once
  EXPECT_TRUE(Requests(3).empty());
  EXPECT_TRUE(m_window.ProgressPositions().empty());
  ExpectFailureBox();
  EXPECT_TRUE(m_window.IsEnabled(IDC_USB_UPDATE));
  EXPECT_EQ(m_dlg->Run().m_bStop.load(), 0);
}

TEST_F(BootUpdateTest, WrongAnswerToTheEraseFails) {
  Attach();
  m_loader->m_nWrongCommandReplies = 1;
  RunUpdate(TwoRecordFile(MakeImage(100)));
  EXPECT_TRUE(Requests(3).empty());
  ExpectFailureBox();
}

TEST_F(BootUpdateTest, ChunkNeverAcknowledgedIsSentElevenTimesThenFails) {
  Attach();
  m_loader->m_ignoreCommand = 3;
  RunUpdate(TwoRecordFile(MakeImage(100)));
  std::vector<std::vector<uint8_t>> chunks = Requests(3);
  ASSERT_EQ(chunks.size(), 11u);  // the first sending and 10 more
  for (const std::vector<uint8_t>& c : chunks)
    EXPECT_EQ(c, chunks[0]);  // same address, same data
  EXPECT_EQ(m_window.ProgressPositions(), std::vector<int>{0});
  EXPECT_TRUE(Requests(2).empty());  // the version area is left alone
  ExpectFailureBox();
}

TEST_F(BootUpdateTest, RepliesLostCorruptedOrWrongNowAndThenStillSucceed) {
  struct Case {
    const char* name;
    std::function<void(BootUpdateTest&)> fault;
  };
  std::vector<Case> cases = {
      {"every 7th reply lost",
       [](BootUpdateTest& t) { t.m_hid.Faults(kPath).dropEveryKthReply = 7; }},
      {"corrupted replies",
       [](BootUpdateTest& t) {
         t.m_window.onProgress = [&t, calls = 0](int) mutable {
           if (++calls == 3)  // after the second chunk
             t.m_hid.Faults(kPath).corruptNextReplies = 3;
         };
       }},
      {"wrong answered command",
       [](BootUpdateTest& t) {
         t.m_window.onProgress = [&t, calls = 0](int) mutable {
           if (++calls == 5)                          // after the fourth chunk
             t.m_loader->m_nWrongCommandReplies = 2;  // two chunk sendings answered wrongly
         };
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_hid.Unplug(kPath);
    m_hid.Faults(kPath) = WireFaults{};
    m_window.onProgress = nullptr;
    Attach();
    c.fault(*this);
    std::vector<uint8_t> image = MakeImage(1000, 11);
    RunUpdate(TwoRecordFile(image));
    m_window.onProgress = nullptr;
    EXPECT_EQ(ImageSent(), image);
    EXPECT_EQ(m_loader->ReadFlash(0x08003400, 1000), FlashAfterUpdate(image, 0x00030089));
    EXPECT_EQ(m_loader->VersionWord(), 0x00030089u);
    EXPECT_EQ(m_loader->m_nWriteFaults, 0);
    EXPECT_GT(Requests(3).size(), 22u);  // some chunks went out again
    EXPECT_EQ(BoxTexts().back(), u"\n Firmware upgraded! \n");
    // Progress only ever grows while the image goes out.
    std::vector<int> progress = m_window.ProgressPositions();
    for (size_t i = 1; i + 1 < progress.size(); ++i)
      EXPECT_GE(progress[i], progress[i - 1]);
    m_hid.ClearTranscript();
  }
}

TEST_F(BootUpdateTest, UnpluggedMidImageFailsAndLeavesTheButtonDisabled) {
  Attach();
  m_hid.Faults(kPath).unplugAfterReports = 10;  // the erase and nine chunks
  RunUpdate(TwoRecordFile(MakeImage(1000)));
  ExpectFailureBox();
  EXPECT_FALSE(m_hid.IsPlugged(kPath));
  EXPECT_FALSE(m_window.IsEnabled(IDC_USB_UPDATE));
}

// Once the user has confirmed, the image is read before anything is erased: a file cut short or
// held by another program meanwhile ends the update with nothing erased, and says why.
TEST_F(BootUpdateTest, FileCutShortOrHeldAtTheConfirmationFailsBeforeTheErase) {
  struct Case {
    bool hold;
    const char* cause;
  };
  for (Case c : {Case{false, "the firmware file changed after the confirmation"},
                 Case{true, "the firmware file cannot be opened: held by another program"}}) {
    if (m_dlg) {
      m_dlg.reset();
      m_hid.Unplug(kPath);
    }
    Attach();
    std::u16string path = TwoRecordFile(MakeImage(1000));
    std::unique_ptr<HeldFile> other;  // another program's hold
    m_window.onBox = [&](unsigned type) {
      if (type == MB_OKCANCEL && c.hold)
        other = std::make_unique<HeldFile>(Utf16ToUtf8(path));
      else if (type == MB_OKCANCEL)
        std::filesystem::resize_file(Utf16ToUtf8(path), 28 + 300 + 28 + 500);
    };
    RunUpdate(path);
    EXPECT_FALSE(Has(4)) << c.cause;
    EXPECT_TRUE(Requests(3).empty());
    ExpectFailureBox();
    EXPECT_EQ(m_dlg->Run().m_failureCause, std::string(c.cause) + "; nothing was erased or sent");
    EXPECT_TRUE(m_dlg->Run().m_image.empty());
  }
}

TEST_F(BootUpdateTest, StopFlagEndsTheUpdateWithoutABox) {
  Attach();
  m_window.onProgress = [this](int position) {
    if (position > 0)            // the first chunk is acknowledged
      m_dlg->Run().m_bStop = 1;  // the user closes the window
  };
  RunUpdate(TwoRecordFile(MakeImage(1000)));
  EXPECT_EQ(Requests(3).size(), 1u);  // the next chunk is not sent
  EXPECT_FALSE(m_loader->m_bFinished);
  EXPECT_EQ(m_window.Boxes().size(), 1u);  // the confirmation only
  EXPECT_TRUE(m_dlg->Run().m_image.empty());
  EXPECT_EQ(m_dlg->Run().m_boot.m_bBootUpdateRunning.load(), 0);
}

TEST_F(BootUpdateTest, StopDuringTheConfirmationSendsNoErase) {
  Attach();
  m_window.onBox = [this](unsigned type) {
    if (type == MB_OKCANCEL)  // the user closes the window while the confirmation is open...
      m_dlg->Run().m_bStop = 1;
  };
  RunUpdate(TwoRecordFile(MakeImage(100)));  // ...and the confirmation is answered OK
  EXPECT_TRUE(m_loader->m_erases.empty());
  EXPECT_TRUE(Requests(4).empty());
  EXPECT_TRUE(Requests(3).empty());
  ASSERT_EQ(m_window.Boxes().size(), 1u);  // the confirmation only
  EXPECT_EQ(m_window.Boxes()[0].type, MB_OKCANCEL);
  EXPECT_EQ(m_dlg->Run().m_boot.m_bBootUpdateRunning.load(), 0);
}

TEST_F(BootUpdateTest, UnansweredFinishStillCountsAsSuccess) {
  Attach();
  m_loader->m_ignoreCommand = 7;
  std::vector<uint8_t> image = MakeImage(100);
  RunUpdate(TwoRecordFile(image));
  EXPECT_EQ(m_loader->ReadFlash(0x08003400, 100), FlashAfterUpdate(image, 0x00030089));
  EXPECT_EQ(BoxTexts().back(), u"\n Firmware upgraded! \n");
  EXPECT_EQ(Requests(7).size(), 1u);
}

TEST_F(BootUpdateTest, VersionAreaNotAcknowledgedFailsWithTheImageWritten) {
  Attach();
  m_loader->m_ignoreCommand = 2;
  std::vector<uint8_t> image = MakeImage(100);
  RunUpdate(TwoRecordFile(image));
  EXPECT_EQ(m_loader->ReadFlash(0x08003400, 100), FlashAfterUpdate(image, std::nullopt));
  EXPECT_EQ(m_loader->VersionWord(), 0xFFFFFFFFu);  // erased, never written
  ExpectFailureBox();
}

TEST_F(BootUpdateTest, BootUpdateThreadRunsTheSequenceOnTheDialog) {
  Attach();
  std::vector<uint8_t> image = MakeImage(100);
  m_window.QueueFilePath(TwoRecordFile(image));
  m_window.QueueBoxAnswer(IDOK);
  Boot_UpdateThread(&m_dlg->Run());
  EXPECT_EQ(m_loader->ReadFlash(0x08003400, 100), FlashAfterUpdate(image, 0x00030089));
  EXPECT_TRUE(m_loader->m_bFinished);
}

}  // namespace
