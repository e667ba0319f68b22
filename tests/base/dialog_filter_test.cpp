// The open-file filter as every window system reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/dialog_filter.h"

namespace {

// A reading written back as "name:pattern,pattern;name:..." to compare in one line.
std::u16string Written(const std::vector<DialogFilter>& filters) {
  std::u16string text;
  for (const DialogFilter& filter : filters) {
    text += filter.name + u":";
    for (size_t i = 0; i < filter.patterns.size(); ++i)
      text += (i ? u"," : u"") + filter.patterns[i];
    text += u";";
  }
  return text;
}

TEST(DialogFilter, NamesWithTheirPatternsUpToTheEnd) {
  const std::pair<std::u16string, std::u16string> rows[] = {
      {u"File type(*.dat)|*.dat||", u"File type(*.dat):*.dat;"},
      {u"文件类型中显示的内容(*.dat)|*.dat||", u"文件类型中显示的内容(*.dat):*.dat;"},
      {u"Firmware|*.dat; *.bin |All files|*.*||", u"Firmware:*.dat,*.bin;All files:*.*;"},
      {u"Cut|*.dat", u"Cut:*.dat;"},
      {u"Dangling|", u"Dangling:;"},
      {u"Blanks| ;;*.dat;|Next|*.n", u"Blanks:*.dat;Next:*.n;"},
      {u"A|*.a||B|*.b||", u"A:*.a;"},  // "||" ends the list
      {u"NoPattern", u""},
      {u"|*.dat||", u""},
      {u"", u""},
  };
  for (const auto& [filter, reading] : rows)
    EXPECT_EQ(Written(ParseDialogFilter(filter)), reading);
}

TEST(DialogFilter, KeepsAtMostTheBoundedNumberOfNamesAndPatterns) {
  std::u16string many;
  for (size_t i = 0; i < kMaxDialogFilters + 5; ++i)
    many += u"n|*.a;*.b|";
  EXPECT_EQ(ParseDialogFilter(many).size(), kMaxDialogFilters);
  std::u16string patterns = u"n|";
  for (size_t i = 0; i < kMaxDialogFilterPatterns + 5; ++i)
    patterns += u"*.x;";
  const std::vector<DialogFilter> one = ParseDialogFilter(patterns);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].patterns.size(), kMaxDialogFilterPatterns);
}

}  // namespace
