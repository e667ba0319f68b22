// Firmware selection through the window-system fake: the file dialog, the record's checks, the
// version floor, the confirmation box and what the dialog keeps of the chosen record.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "base/local_text.h"
#include "base/trace.h"
#include "emulator/dat_writer.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/held_file.h"
#include "tests/support/temp_folder.h"
#include "update/update_dlg.h"

namespace {

class SelectFirmwareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dlg.AttachWindow(&m_window);
    m_dlg.Run().m_Hid.SetReadTimeout(200);
    m_dlg.Run().m_Hid.m_bBootMode = 1;
    m_dlg.Run().m_boot.m_deviceType = 0x3009;
    m_dlg.Run().m_boot.m_nBootBaseAddress = 0x08003400;  // the layout of device type 0x3009
    m_dlg.Run().m_curDevVersion = 130;
    m_dlg.Run().m_app.m_nUpdateState = STATE_IDLE;
  }

  // Picks the file in the dialog and answers the confirmation box; answers the selection's result.
  int Select(const std::u16string& path, int confirmation = IDOK) {
    m_window.QueueFilePath(path);
    m_window.QueueBoxAnswer(confirmation);
    return m_dlg.Run().SelectFirmwareFile();
  }
  std::vector<std::u16string> BoxTexts() {
    std::vector<std::u16string> texts;
    for (const FakeWindowSystem::Box& box : m_window.Boxes())
      texts.push_back(box.text);
    return texts;
  }
  bool Traced(const std::string& line) const {
    for (const std::string& t : m_traces)
      if (t == line)
        return true;
    return false;
  }
  // After a refusal: exactly one OK box telling that the firmware was not recognised.
  void ExpectRefusedWithBox() {
    std::vector<FakeWindowSystem::Box> boxes = m_window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"The Firmware not recognized!");
    EXPECT_EQ(boxes[0].caption, u"Tarvix Update v2.60");
    EXPECT_EQ(boxes[0].type, MB_OK);
    EXPECT_EQ(m_dlg.Run().m_Hid.m_nReadTimeout.load(), 200u);
  }

  TempFolder m_folder;
  FakeWindowSystem m_window;
  std::vector<std::string> m_traces;
  CUpdateDlg m_dlg{
      Seams{nullptr, [this](const std::string& line) { m_traces.push_back(line); }, LANG_EN_US}};
};

TEST_F(SelectFirmwareTest, DialogGetsTheFilterAndTheCurrentFolderAndCancelShowsNothing) {
  EXPECT_EQ(m_dlg.Run().SelectFirmwareFile(), 0);  // nothing queued: the dialog is cancelled
  ASSERT_EQ(m_window.FileDialogs().size(), 1u);
  EXPECT_EQ(m_window.FileDialogs()[0].filter, u"File type(*.dat)|*.dat||");
  EXPECT_EQ(m_window.FileDialogs()[0].initialFolder,
            Utf8ToUtf16(std::filesystem::current_path().string()));
  EXPECT_TRUE(m_window.Boxes().empty());

  m_dlg.Run().m_language = LANG_ZH_CN;
  m_dlg.Run().SelectFirmwareFile();
  EXPECT_EQ(m_window.FileDialogs()[1].filter, u"文件类型中显示的内容(*.dat)|*.dat||");
}

TEST_F(SelectFirmwareTest, InitialFolderMayBeLongerThanTwoHundredFiftyFiveCharacters) {
  std::filesystem::path deep = m_folder.m_path;
  while (deep.string().size() < 400)
    deep /= std::string(60, 'd');
  std::filesystem::create_directories(deep);
  std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(deep);
  m_dlg.Run().SelectFirmwareFile();
  std::filesystem::current_path(saved);
  ASSERT_EQ(m_window.FileDialogs().size(), 1u);
  EXPECT_EQ(m_window.FileDialogs()[0].initialFolder, Utf8ToUtf16(deep.string()));
}

TEST_F(SelectFirmwareTest, ConfirmedRecordLeavesItsValuesAndLowersTheReadTimeout) {
  std::u16string path = m_folder.Write(
      "two.dat", BuildDat({{.version = 100, .deviceType = 0x1234, .image = MakeImage(100)},
                           {.version = 138,
                            .beta = 2,
                            .targetAddress = 0x08003400,
                            .deviceType = 0x3009,
                            .image = MakeImage(500)}}));
  ASSERT_EQ(Select(path), 1);
  EXPECT_EQ(m_dlg.Run().m_strFirmwarePath, path);
  EXPECT_EQ(m_dlg.Run().m_recordOffset, 128);
  EXPECT_EQ(m_dlg.Run().m_desVersion, 131210u);  // the whole word, beta included
  EXPECT_EQ(m_dlg.Run().m_imageSize, 500u);
  EXPECT_EQ(m_dlg.Run().m_targetAddress, 0x08003400u);
  EXPECT_EQ(m_dlg.Run().m_bytesDone, 0u);
  EXPECT_EQ(m_dlg.Run().m_recordHeader.deviceType, 0x3009u);
  EXPECT_EQ(m_dlg.Run().m_Hid.m_nReadTimeout.load(), 10u);
  EXPECT_EQ(BoxTexts(),
            std::vector<std::u16string>{u"New firmware 1.38 beta2 and current is 1.30\n"});
  EXPECT_EQ(m_window.Boxes()[0].type, MB_OKCANCEL);
  // Boot mode: no file information and no state change.
  EXPECT_EQ(m_dlg.Run().m_app.m_nUpdateState.load(), STATE_IDLE);
  EXPECT_FALSE(Traced("SendFirmwarePacket cmd 1\n"));
}

TEST_F(SelectFirmwareTest, CancelInTheConfirmationLeavesTheTimeoutAndTraces) {
  std::u16string path =
      m_folder.Write("one.dat", BuildDat({{.version = 138, .beta = 2, .image = MakeImage(64)}}));
  EXPECT_EQ(Select(path, IDCANCEL), 0);
  EXPECT_TRUE(Traced("MessageBox == IDCANCEL\n"));
  EXPECT_EQ(m_dlg.Run().m_Hid.m_nReadTimeout.load(), 200u);
  EXPECT_EQ(m_dlg.Run().m_desVersion, 138u);  // filled before the box, without the beta
  EXPECT_EQ(m_window.Boxes().size(), 1u);     // the confirmation only
}

TEST_F(SelectFirmwareTest, FourConfirmationFormatsInBothLanguages) {
  struct Case {
    uint16_t version, beta;
    uint32_t device;
    const char16_t* english;
    const char16_t* chinese;
  };
  const Case cases[] = {
      {138, 2, 0x0001008C, u"New firmware 1.38 beta2 and current is 1.40 beta1\n",
       u"升级新固件 1.38 beta2 当前版本为 1.40 beta1\n"},
      {138, 2, 130, u"New firmware 1.38 beta2 and current is 1.30\n",
       u"升级新固件 1.38 beta2 当前版本为 1.30\n"},
      {5, 0, 0x00030082, u"New firmware 0.05 and current is 1.30 beta3\n",
       u"升级新固件 0.05 当前版本为 1.30 beta3\n"},
      {65535, 0, 130, u"New firmware 655.35 and current is 1.30\n",
       u"升级新固件 655.35 当前版本为 1.30\n"},
      // No version read, or an erased version area: only the new version.
      {138, 0, VERSION_UNKNOWN, u"New firmware 1.38\n", u"升级新固件 1.38\n"},
      {138, 2, 0xFFFFFFFF, u"New firmware 1.38 beta2\n", u"升级新固件 1.38 beta2\n"},
  };
  for (const Case& c : cases) {
    std::u16string path = m_folder.Write(
        "f.dat", BuildDat({{.version = c.version, .beta = c.beta, .image = MakeImage(64)}}));
    m_dlg.Run().m_curDevVersion = c.device;
    for (uint16_t language : {LANG_EN_US, LANG_ZH_CN}) {
      m_dlg.Run().m_language = language;
      m_window.ClearRecords();
      EXPECT_EQ(Select(path, IDCANCEL), 0);
      ASSERT_EQ(m_window.Boxes().size(), 1u);
      EXPECT_EQ(m_window.Boxes()[0].text, language == LANG_EN_US ? c.english : c.chinese);
      EXPECT_EQ(m_window.Boxes()[0].caption, u"Tarvix Update v2.60");
    }
  }
}

TEST_F(SelectFirmwareTest, FilesThatDoNotFitAreRefusedWithOneBox) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> cut = BuildDat({{.deviceType = 0x3009, .image = MakeImage(64)}});
  cut.resize(20);
  std::vector<Case> cases = {
      {"empty", {}},
      {"other type", BuildDat({{.deviceType = 0x1234, .image = MakeImage(64)}})},
      {"header cut short", cut},
      {"image size 0", BuildDat({{.deviceType = 0x3009, .image = MakeImage(0)}})},
      {"image past the end", BuildDat({{.deviceType = 0x3009,
                                        .image = MakeImage(64),
                                        .overrideSize = true,
                                        .imageSizeField = 65}})},
      {"size wraps", BuildDat({{.deviceType = 0x1,
                                .image = MakeImage(4),
                                .overrideSize = true,
                                .imageSizeField = 0xFFFFFFFF},
                               {.deviceType = 0x3009, .image = MakeImage(64)}})},
      // Erased in one place and written in another: the boot loader writes at its layout's base.
      {"target is not the base",
       BuildDat({{.targetAddress = 0x08014000, .deviceType = 0x3009, .image = MakeImage(64)}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_window.ClearRecords();
    EXPECT_EQ(Select(m_folder.Write("bad.dat", c.bytes)), 0);
    ExpectRefusedWithBox();
  }
}

TEST_F(SelectFirmwareTest, FilesThatCannotBeOpenedEndSilentlyWithoutBlocking) {
  std::u16string held = m_folder.Write("held.dat", BuildDat({{.image = MakeImage(64)}}));
  HeldFile holder(m_folder.m_path / "held.dat");
  ASSERT_TRUE(holder.held());
  std::filesystem::create_directory(m_folder.m_path / "folder.dat");
  struct Case {
    const char* name;
    std::u16string path;
  };
  std::vector<Case> cases = {
      {"typed but missing", m_folder.PathOf("typed-but-missing.dat")},
      {"held by another program", held},
      {"folder", m_folder.PathOf("folder.dat")},
  };
#ifdef _WIN32
  cases.push_back({"device", u"NUL"});
#else
  ASSERT_EQ(::mkfifo((m_folder.m_path / "pipe.dat").c_str(), 0600), 0);
  std::u16string unreadable =
      m_folder.Write("unreadable.dat", BuildDat({{.image = MakeImage(64)}}));
  std::filesystem::permissions(m_folder.m_path / "unreadable.dat", std::filesystem::perms::none);
  // A named pipe would block an ordinary open until a writer comes.
  cases.push_back({"named pipe", m_folder.PathOf("pipe.dat")});
  cases.push_back({"device node", u"/dev/null"});
  if (::geteuid() != 0)  // the superuser reads it all the same
    cases.push_back({"no read permission", unreadable});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_window.ClearRecords();
    EXPECT_EQ(Select(c.path), 0);
    EXPECT_TRUE(m_window.Boxes().empty());
  }
}

TEST_F(SelectFirmwareTest, ChineseNamesOfFoldersAndFilesArePassedWhole) {
  // The dialog starts in the current folder, and the chosen file opens, whatever the characters.
  std::filesystem::path folder = m_folder.m_path / u8"固件 文件夹";
  std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::create_directory(folder);
  std::filesystem::current_path(folder);
  TempFolder::WriteAt(u8"升级.dat", BuildDat({{.deviceType = 0x3009, .image = MakeImage(64)}}));
  EXPECT_EQ(Select((folder / u8"升级.dat").u16string()), 1);
  std::filesystem::current_path(saved);
  ASSERT_EQ(m_window.FileDialogs().size(), 1u);
  EXPECT_EQ(m_window.FileDialogs()[0].initialFolder, folder.u16string());
  EXPECT_EQ(m_dlg.Run().m_imageSize, 64u);
}

TEST_F(SelectFirmwareTest, LargeSparseFilesAreRefusedAtOnce) {
  // 4 GiB lies outside the format; 1 GiB of zeros is a chain of empty records that would cost one
  // read per 28 bytes.
  for (uint64_t size : {uint64_t{4} << 30, uint64_t{1} << 30}) {
    SCOPED_TRACE(size);
    std::u16string path = m_folder.Write("huge.dat", {});
    std::filesystem::resize_file(m_folder.m_path / "huge.dat", size);
    m_window.ClearRecords();
    EXPECT_EQ(Select(path), 0);
    ExpectRefusedWithBox();
  }
}

TEST_F(SelectFirmwareTest, VersionFloorOfProduct0x105InApplicationMode) {
  struct Case {
    uint8_t variant;
    uint16_t version, beta;
    bool accepted;
  };
  const Case cases[] = {
      {0, 136, 0, false}, {0, 137, 1, false}, {0, 137, 0, true}, {0, 138, 3, true},
      {1, 136, 0, false}, {1, 137, 1, false}, {1, 137, 0, true}, {1, 138, 3, true},
      {2, 501, 0, false}, {2, 502, 1, false}, {2, 502, 0, true}, {2, 503, 3, true},
      {2, 137, 0, false}, {3, 1, 0, true},    {255, 1, 5, true},
  };
  m_dlg.Run().m_Hid.m_bBootMode = 0;
  m_dlg.Run().m_app.m_productId = 0x105;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "variant " << int(c.variant) << " " << c.version << " beta " << c.beta);
    m_dlg.Run().m_app.m_productVariant = c.variant;
    m_window.ClearRecords();
    std::u16string path = m_folder.Write(
        "f.dat", BuildDat({{.version = c.version, .beta = c.beta, .image = MakeImage(64)}}));
    // Cancel the confirmation: a file that reaches it passes the floor.
    EXPECT_EQ(Select(path, IDCANCEL), 0);
    ASSERT_EQ(m_window.Boxes().size(), 1u);
    if (c.accepted)
      EXPECT_EQ(m_window.Boxes()[0].type, MB_OKCANCEL);
    else
      ExpectRefusedWithBox();
  }
  // Another product, or the boot loader: no floor.
  m_dlg.Run().m_app.m_productVariant = 0;
  std::u16string old =
      m_folder.Write("old.dat", BuildDat({{.version = 1, .image = MakeImage(64)}}));
  m_dlg.Run().m_app.m_productId = 0x106;
  m_window.ClearRecords();
  EXPECT_EQ(Select(old), 1);
  m_dlg.Run().m_Hid.m_bBootMode = 1;
  m_dlg.Run().m_app.m_productId = 0x105;
  m_window.ClearRecords();
  EXPECT_EQ(Select(old), 1);
}

TEST_F(SelectFirmwareTest, ApplicationModeTakesTheFirstRecordAndSendsTheFileInformation) {
  m_dlg.Run().m_Hid.m_bBootMode = 0;
  m_dlg.Run().m_boot.m_deviceType =
      0x3009;  // fits the second record; application mode still takes the first
  std::u16string path = m_folder.Write(
      "two.dat", BuildDat({{.version = 138, .beta = 2, .deviceType = 0x1, .image = MakeImage(40)},
                           {.version = 200, .deviceType = 0x3009, .image = MakeImage(64)}}));
  ASSERT_EQ(Select(path), 1);
  EXPECT_EQ(m_dlg.Run().m_recordOffset, 0);
  EXPECT_EQ(m_dlg.Run().m_imageSize, 40u);
  EXPECT_EQ(m_dlg.Run().m_desVersion, 131210u);
  EXPECT_EQ(m_dlg.Run().m_app.m_nUpdateState.load(), STATE_FILE_CHOSEN);
  EXPECT_TRUE(Traced("SendFirmwarePacket cmd 1\n"));
  EXPECT_TRUE(Traced("desVersion is 131210\n"));
}

}  // namespace
