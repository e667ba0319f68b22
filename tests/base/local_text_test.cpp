// The two text sets, the block rule and the choice of language.
#ifdef _WIN32
#include <windows.h>
#endif
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

#include "base/local_text.h"
#include "base/wide_string.h"
#include "res/string_table.h"

namespace {

class LocalTextTest : public ::testing::Test {
 protected:
  static std::u16string In(uint16_t language, int index) { return LoadLocalText(index, language); }
};

const char16_t kEnglishInstructions[] =
    u"1. Press and hold L+R+HOME to power on               controller, LED on the top will blink "
    u"in red.\r\n\r\n2. Connect to PC via USB cable.\r\n\r\n3. Click \"USB Update\" button and "
    u"select firmware     file.";

TEST_F(LocalTextTest, EnglishSetByteForByte) {
  const char16_t* expected[] = {u"Search",
                                u"Update",
                                u"The new firmware is updating,and it is turned off",
                                u"File type",
                                u"Firmware upgraded!",
                                u"New firmware",
                                u"Tarvix Update v2.60",
                                u"Firmware update failure",
                                u"Searching for Bluetooth devices",
                                u"warning",
                                u"Open bluetooth error",
                                u"Firmware update failure, please handle work in BOOT mode",
                                u"USB Update",
                                kEnglishInstructions,
                                kEnglishInstructions,
                                u"and current is",
                                u"* If anything wrong. Hold START 8 seconds can reset controller. "
                                u"You can try to update firmware again",
                                u"The Firmware not recognized!"};
  for (int i = 0; i < 18; ++i)
    EXPECT_EQ(In(LANG_EN_US, i), expected[i]) << "index " << i;
  std::u16string instructions = In(LANG_EN_US, TXT_INSTRUCTIONS);
  EXPECT_EQ(instructions.size(), 195u);
  EXPECT_NE(instructions.find(u"power on" + std::u16string(15, u' ') + u"controller"),
            std::u16string::npos);
  EXPECT_NE(instructions.find(u"firmware" + std::u16string(5, u' ') + u"file."),
            std::u16string::npos);
}

TEST_F(LocalTextTest, ChineseSetByteForByte) {
  const char16_t* expected[] = {
      u"搜索",
      u"更新",
      u"正在更新固件,是否立即停止？",
      u"文件类型中显示的内容",
      u"升级成功。",
      u"升级新固件",
      u"Tarvix Update v2.60",
      u"固件更新失败",
      u"正在搜索蓝牙设备",
      u"警告",
      u"打开蓝牙设备错误",
      u"固件更新失败,请将手柄工作在 BOOT 模式",
      u"USB 升级",
      u"请升级到最新版本",
      u"1. 按住 L+R+HOME 开机，电源指示灯闪烁。\r\n\r\n2. 插入 USB 线。\r\n\r\n3. 点击 USB "
      u"升级按钮，选择升级文件升级。",
      u"当前版本为",
      u"* If anything wrong. Hold START 8 seconds can reset controller. You can try to update "
      u"firmware again",
      u"固件不匹配！"};
  for (int i = 0; i < 18; ++i)
    EXPECT_EQ(In(LANG_ZH_CN, i), expected[i]) << "index " << i;
  // Full-width punctuation where the Chinese texts have it, ASCII commas where they have those.
  EXPECT_EQ(In(LANG_ZH_CN, TXT_CONFIRM_STOP).back(), u'\xFF1F');
  EXPECT_EQ(In(LANG_ZH_CN, TXT_NOT_RECOGNIZED).back(), u'\xFF01');
}

TEST_F(LocalTextTest, OnlyChinesePrcSelectsTheChineseSet) {
  EXPECT_EQ(In(LANG_ZH_CN, TXT_USB_UPDATE), u"USB 升级");
  EXPECT_EQ(In(0x404, TXT_USB_UPDATE), u"USB Update");  // Chinese (Taiwan)
  EXPECT_EQ(In(0x409, TXT_USB_UPDATE), u"USB Update");
  EXPECT_EQ(In(0x407, TXT_USB_UPDATE), u"USB Update");
  EXPECT_EQ(In(0x1804, TXT_USB_UPDATE), u"USB Update");  // the low byte alone is not enough
  for (uint16_t language : {LANG_ZH_CN, uint16_t{0x404}, LANG_EN_US}) {
    EXPECT_EQ(In(language, TXT_TITLE), u"Tarvix Update v2.60");
  }
}

TEST_F(LocalTextTest, IndexThirteenRepeatsTheInstructionsOnlyInEnglish) {
  EXPECT_EQ(In(LANG_EN_US, 13), In(LANG_EN_US, 14));
  EXPECT_NE(In(LANG_ZH_CN, 13), In(LANG_ZH_CN, 14));
}

TEST_F(LocalTextTest, IdsOutsideTheSetsAreEmpty) {
  EXPECT_EQ(In(LANG_EN_US, 18), u"");   // id 256: no block 17
  EXPECT_EQ(In(LANG_ZH_CN, 18), u"");   // id 147: an empty entry of block 10
  EXPECT_EQ(In(LANG_ZH_CN, -1), u"");   // id 128: an empty entry of block 9
  EXPECT_EQ(In(LANG_EN_US, -15), u"");  // id 223: no block 14
  EXPECT_EQ(In(LANG_EN_US, 100000), u"");
}

TEST_F(LocalTextTest, StringTableHasExactlyTheFourBlocksOfSixteenEntries) {
  for (uint32_t block = 0; block < 40; ++block) {
    const char16_t* units = nullptr;
    size_t count = 0;
    bool present = FindStringBlock(block, &units, &count);
    EXPECT_EQ(present, block == 9 || block == 10 || block == 15 || block == 16) << block;
    if (!present)
      continue;
    size_t pos = 0;
    int entries = 0;
    while (pos < count) {
      pos += units[pos] + 1u;
      ++entries;
    }
    EXPECT_EQ(pos, count);
    EXPECT_EQ(entries, 16) << block;
  }
}

TEST(UiLanguageFromLocale, FirstSetVariableDecides) {
  EXPECT_EQ(UiLanguageFromLocale("zh_CN.UTF-8", "en_US", "de_DE"), LANG_ZH_CN);
  EXPECT_EQ(UiLanguageFromLocale("", "zh_CN", "en_US"), LANG_ZH_CN);
  EXPECT_EQ(UiLanguageFromLocale(nullptr, nullptr, "zh_CN.GB18030@stroke"), LANG_ZH_CN);
  EXPECT_EQ(UiLanguageFromLocale(nullptr, nullptr, "zh_CN@pinyin"), LANG_ZH_CN);
  EXPECT_EQ(UiLanguageFromLocale("en_US.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8"), LANG_EN_US);
  EXPECT_EQ(UiLanguageFromLocale(nullptr, nullptr, "zh_TW.UTF-8"), LANG_EN_US);
  EXPECT_EQ(UiLanguageFromLocale(nullptr, nullptr, "zh_CNX"), LANG_EN_US);
  EXPECT_EQ(UiLanguageFromLocale(nullptr, nullptr, "C"), LANG_EN_US);
  EXPECT_EQ(UiLanguageFromLocale(nullptr, nullptr, nullptr), LANG_EN_US);
}

// The page's language: a browser's tag, read as the locale name it stands for.
TEST(UiLanguageFromLanguageTag, OnlyChinesePrcInAnyCaseSelectsChinese) {
  const std::pair<const char*, uint16_t> rows[] = {
      {"zh-CN", LANG_ZH_CN},
      {"zh-cn", LANG_ZH_CN},
      {"ZH_CN", LANG_ZH_CN},
      {"zh-TW", LANG_EN_US},
      {"zh", LANG_EN_US},
      {"zh-Hans-CN", LANG_EN_US},
      {"zh-CN-u-nu", LANG_EN_US},
      {"en-US", LANG_EN_US},
      {"", LANG_EN_US},
      {nullptr, LANG_EN_US},
      {"zh-CNzh-CNzh-CNzh-CNzh-CNzh-CNzh-CN", LANG_EN_US},
  };
  for (const auto& [tag, language] : rows)
    EXPECT_EQ(UiLanguageFromLanguageTag(tag), language) << (tag ? tag : "(none)");
}

#ifdef _WIN32
// Windows asks the system, never the locale variables: a zh_CN LANG changes nothing.
TEST(UiLanguageOnWindows, IsTheSystemsAnswerWhateverLangSays) {
  for (const char* lang : {"LANG=zh_CN.UTF-8", "LANG=en_US.UTF-8"}) {
    ASSERT_EQ(::_putenv(lang), 0);
    EXPECT_EQ(UiLanguage(), ::GetUserDefaultUILanguage()) << lang;
  }
}
#else
// Sets the three locale variables for a test and puts back what the process had.
class LocaleEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    for (size_t i = 0; i < 3; ++i) {
      const char* value = std::getenv(kNames[i]);
      m_saved[i] = value ? std::optional<std::string>(value) : std::nullopt;
    }
  }
  void TearDown() override {
    for (size_t i = 0; i < 3; ++i)
      Set(kNames[i], m_saved[i] ? m_saved[i]->c_str() : nullptr);
  }
  // nullptr removes the variable.
  static void Set(const char* name, const char* value) {
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  static void SetAll(const char* lcAll, const char* lcMessages, const char* lang) {
    Set("LC_ALL", lcAll);
    Set("LC_MESSAGES", lcMessages);
    Set("LANG", lang);
  }

  static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> m_saved[3];
};

TEST_F(LocaleEnvironment, UserLanguageComesFromTheLocaleVariables) {
  SetAll(nullptr, nullptr, "zh_CN.UTF-8");
  EXPECT_EQ(UiLanguage(), LANG_ZH_CN);
  EXPECT_EQ(LoadLocalText(TXT_USB_UPDATE), u"USB 升级");
  SetAll("en_US.UTF-8", nullptr, "zh_CN.UTF-8");  // LC_ALL wins over LANG
  EXPECT_EQ(UiLanguage(), LANG_EN_US);
  SetAll("zh_CN", nullptr, "en_US.UTF-8");
  EXPECT_EQ(UiLanguage(), LANG_ZH_CN);
  SetAll("", nullptr, "zh_CN.UTF-8");  // an empty LC_ALL falls through
  EXPECT_EQ(UiLanguage(), LANG_ZH_CN);
  SetAll("", "en_US.UTF-8", "zh_CN.UTF-8");  // to LC_MESSAGES before LANG
  EXPECT_EQ(UiLanguage(), LANG_EN_US);
  SetAll(nullptr, nullptr, nullptr);
  EXPECT_EQ(UiLanguage(), LANG_EN_US);
  EXPECT_EQ(LoadLocalText(TXT_USB_UPDATE), u"USB Update");
}

#endif

}  // namespace
