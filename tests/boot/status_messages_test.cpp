// The version in the title, the boot loader's identification and the end-of-update reports.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "appmode/serial_mask.h"
#include "base/local_text.h"
#include "tests/boot/scripted_boot.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/german_locale.h"
#include "tests/support/update_dlg_probe.h"

namespace {

// The recording window, with a hook that runs as a box opens.
class HookedWindow : public FakeWindowSystem {
 public:
  int ShowBox(const std::u16string& text, const std::u16string& caption, unsigned type) override {
    if (onBox)
      onBox();
    return FakeWindowSystem::ShowBox(text, caption, type);
  }
  std::function<void()> onBox;
};

class StatusMessagesTest : public ScriptedBootTest {
 protected:
  void SetUp() override {
    ScriptedBootTest::SetUp();
    m_dlg.AttachWindow(&m_window);
    m_dlg.Run().m_app.m_pFirstMaskTable = m_firstTable;
    m_dlg.Run().m_app.m_pSecondMaskTable = m_secondTable;
    UpdateDlgProbe::ControlsReady(m_dlg) = 1;
    m_dlg.Run().m_curDevVersion = VERSION_UNKNOWN;
  }

  bool MaskPrepared() const { return m_firstTable[0] == kMaskWordsLow[0]; }
  // The address field of every request written, in order.
  std::vector<uint32_t> RequestAddresses() const {
    std::vector<uint32_t> addresses;
    for (const std::vector<uint8_t>& r : m_platform.m_writes)
      addresses.push_back(U32(r, 14));
    return addresses;
  }

  HookedWindow m_window;
  uint32_t m_firstTable[kMaskTableWords] = {};
  uint32_t m_secondTable[kMaskTableWords] = {};
};

TEST_F(StatusMessagesTest, TitleShowsVersionAndBetaWithAPointWhateverTheLocale) {
  auto titles = [this] {
    m_dlg.ShowDeviceVersion(0);
    m_dlg.ShowDeviceVersion(65535);
    m_dlg.ShowDeviceVersion(0x00010000);
    m_dlg.ShowDeviceVersion(0x00030089);
    m_dlg.ShowDeviceVersion(50);
    std::vector<std::u16string> all = m_window.Titles();
    m_window.ClearRecords();
    return all;
  };
  std::vector<std::u16string> expected = {
      u"Tarvix Update v2.60(GamePad V0.00)", u"Tarvix Update v2.60(GamePad V655.35)",
      u"Tarvix Update v2.60(GamePad V0.00 beta1)", u"Tarvix Update v2.60(GamePad V1.37 beta3)",
      u"Tarvix Update v2.60(GamePad V0.50)"};
  EXPECT_EQ(titles(), expected);
  {
    GermanLocale german;
    if (!german.active())
      GTEST_SKIP() << "no German locale available on this machine";
    EXPECT_EQ(titles(), expected);
  }
}

TEST_F(StatusMessagesTest, InstructionsWordShowsTheInstructionsAndLeavesTheTitle) {
  m_dlg.ShowDeviceVersion(0xFFFFFFFF);
  EXPECT_TRUE(m_window.Titles().empty());
  ASSERT_EQ(m_window.Boxes().size(), 1u);
  FakeWindowSystem::Box box = m_window.Boxes()[0];
  EXPECT_EQ(box.text, LoadLocalText(TXT_INSTRUCTIONS));
  EXPECT_EQ(box.text.size(), 195u);
  EXPECT_EQ(box.caption, u"Tarvix Update v2.60");
  EXPECT_EQ(box.type, MB_OK);
}

TEST_F(StatusMessagesTest, IdentificationPicksTheLayoutByDeviceType) {
  struct Case {
    uint32_t deviceType;
    uint32_t base, version, identity;
  };
  for (Case c : {Case{0x3009, 0x08003400, 0x08003434, 0x0800001C},
                 Case{0x1234, 0x01018000, 0x01017040, 0x01017000},
                 Case{0, 0x01018000, 0x01017040, 0x01017000}}) {
    m_platform.m_writes.clear();
    std::fill(std::begin(m_firstTable), std::end(m_firstTable), 0);
    QueueReply(8,
               {static_cast<uint8_t>(c.deviceType), static_cast<uint8_t>(c.deviceType >> 8), 0, 0});
    QueueReply(5, {0x8A, 0, 0, 0});  // 1.38
    QueueReply(5, std::vector<uint8_t>(12, 0x42));
    QueueReply(5);
    m_dlg.Run().IdentifyBootDevice();
    EXPECT_EQ(m_dlg.Run().m_boot.m_deviceType, c.deviceType);
    EXPECT_EQ(m_dlg.Run().m_boot.m_nBootBaseAddress, c.base);
    EXPECT_EQ(m_dlg.Run().m_boot.m_nBootVersionAddress, c.version);
    EXPECT_EQ(m_dlg.Run().m_boot.m_nBootIdAddress, c.identity);
    EXPECT_EQ(RequestAddresses(), (std::vector<uint32_t>{0, c.version, c.identity, 0x80000002}));
    EXPECT_EQ(U32(m_platform.m_writes[2], 10), 12u);  // the identity read asks for 12 bytes
    EXPECT_EQ(U32(m_platform.m_writes[3], 10), 6u);
    EXPECT_EQ(m_dlg.Run().m_curDevVersion.load(), 0x8Au);
    EXPECT_EQ(m_window.Title(), u"Tarvix Update v2.60(GamePad V1.38)");
    EXPECT_TRUE(MaskPrepared());
  }
}

TEST_F(StatusMessagesTest, NoDeviceTypeAnswerForgetsAnEarlierTypeAndUsesTheDefaultLayout) {
  m_dlg.Run().m_boot.m_deviceType = 0x3009;  // an earlier controller's
  QueueTimeouts(5);
  QueueReply(5, {0x89, 0, 2, 0});
  QueueReply(5, std::vector<uint8_t>(12, 0x42));
  m_dlg.Run().IdentifyBootDevice();
  EXPECT_EQ(m_dlg.Run().m_boot.m_deviceType, 0u);
  EXPECT_EQ(m_dlg.Run().m_boot.m_nBootBaseAddress, 0x08014000u);
  EXPECT_EQ(m_dlg.Run().m_boot.m_nBootVersionAddress, 0x08014034u);
  EXPECT_EQ(m_dlg.Run().m_boot.m_nBootIdAddress, 0x0800001Cu);
  EXPECT_EQ(m_dlg.Run().m_curDevVersion.load(), 0x00020089u);
  EXPECT_EQ(m_window.Title(), u"Tarvix Update v2.60(GamePad V1.37 beta2)");
  EXPECT_TRUE(MaskPrepared());
}

TEST_F(StatusMessagesTest, FailedIdentityReadShowsTheVersionButPreparesNoMask) {
  QueueReply(8, {0x09, 0x30, 0, 0});
  QueueReply(5, {0x8C, 0, 0, 0});
  m_dlg.Run().IdentifyBootDevice();  // the identity read then meets five time-outs
  EXPECT_EQ(m_window.Title(), u"Tarvix Update v2.60(GamePad V1.40)");
  EXPECT_FALSE(MaskPrepared());
  // The 6-byte read at 0x80000002 is never made.
  for (uint32_t address : RequestAddresses())
    EXPECT_NE(address, 0x80000002u);
}

TEST_F(StatusMessagesTest, FailedVersionReadShowsNothingAndKeepsTheUnknownVersion) {
  QueueReply(8, {0x09, 0x30, 0, 0});
  m_dlg.Run().IdentifyBootDevice();
  EXPECT_EQ(m_dlg.Run().m_curDevVersion.load(), VERSION_UNKNOWN);
  EXPECT_TRUE(m_window.Titles().empty());
  EXPECT_TRUE(m_window.Boxes().empty());
  EXPECT_FALSE(MaskPrepared());
}

TEST_F(StatusMessagesTest, SuccessReportRaisesTheStopFlagThenShowsBoxLabelAndResetsProgress) {
  for (uint16_t language : {LANG_EN_US, LANG_ZH_CN}) {
    m_dlg.Run().m_language = language;
    m_window.ClearRecords();
    m_window.ShowControl(IDC_DONE_LABEL, false);
    m_dlg.Run().m_bStop = 0;
    int stopAtBox = -1;
    m_window.onBox = [&stopAtBox, this] { stopAtBox = m_dlg.Run().m_bStop.load(); };
    m_dlg.Run().ReportUpdateSuccess();
    m_window.onBox = nullptr;
    EXPECT_EQ(stopAtBox, 1);  // raised before the box, which the user may leave open a long time
    EXPECT_EQ(m_dlg.Run().m_bStop.load(), 1);
    ASSERT_EQ(m_window.Boxes().size(), 1u);
    EXPECT_EQ(m_window.Boxes()[0].text, language == LANG_ZH_CN
                                            ? std::u16string(u"\n 升级成功。 \n")
                                            : std::u16string(u"\n Firmware upgraded! \n"));
    EXPECT_EQ(m_window.Boxes()[0].caption, u"Tarvix Update v2.60");
    EXPECT_TRUE(m_window.IsVisible(IDC_DONE_LABEL));
    EXPECT_EQ(m_window.ProgressPositions(), std::vector<int>{0});
  }
}

TEST_F(StatusMessagesTest, FailureReportEnablesTheButtonOnlyWhileTheControllerIsFound) {
  m_window.EnableControl(IDC_USB_UPDATE, false);
  m_dlg.Run().m_bStop = 0;
  m_dlg.Run().ReportUpdateFailure();
  EXPECT_EQ(m_dlg.Run().m_bStop.load(), 1);
  ASSERT_EQ(m_window.Boxes().size(), 1u);
  EXPECT_EQ(m_window.Boxes()[0].text, u"Firmware update failure\n");
  EXPECT_TRUE(m_window.IsEnabled(IDC_USB_UPDATE));

  m_window.ClearRecords();
  m_window.EnableControl(IDC_USB_UPDATE, false);
  m_platform.Remove("/dev/hidraw0");
  m_dlg.Run().m_Hid.DetectDevice();
  m_dlg.Run().ReportUpdateFailure();
  EXPECT_EQ(m_window.Boxes().size(), 1u);
  EXPECT_FALSE(m_window.IsEnabled(IDC_USB_UPDATE));
}

}  // namespace
