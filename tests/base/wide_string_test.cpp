#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

#include "base/wide_string.h"
#include "tests/support/german_locale.h"

TEST(WideString, Utf8RoundTripsAndReplacesBrokenInput) {
  std::u16string text = u"升级成功。 USB \U0001F3AE \r\n";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf16ToUtf8(u"固件"), "\xE5\x9B\xBA\xE4\xBB\xB6");
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b"),
            u"a\uFFFD"
            u"b");
  EXPECT_EQ(Utf8ToUtf16("\xE5\x9B"), u"\uFFFD\uFFFD");  // cut short at the end
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

TEST(WideString, HundredthsUseAPointWhateverTheLocale) {
  auto expectPointFigures = [] {
    EXPECT_EQ(FormatHundredths(0), "0.00");
    EXPECT_EQ(FormatHundredths(50), "0.50");
    EXPECT_EQ(FormatHundredths(137), "1.37");
    EXPECT_EQ(FormatHundredths(65535), "655.35");
    EXPECT_EQ(FormatHundredths(0x5A5A), "231.30");
    EXPECT_EQ(FormatHundredths(0xFFFFFFFFu), "42949672.95");
    EXPECT_EQ(FormatVersion(138, 0), "1.38");
    EXPECT_EQ(FormatVersionWord(0x00020089), "1.37 beta2");  // the beta in the high half
  };
  expectPointFigures();
  GermanLocale german(LC_NUMERIC);
  if (!german.active()) {
    std::printf(
        "[   NOTE   ] no German locale could be made: the decimal-comma half did not run\n");
    return;
  }
  SCOPED_TRACE("LC_NUMERIC=de_DE.UTF-8");
  expectPointFigures();
}
