// The causes the core keeps for a failure (CUpdateRun::m_failureCause), in Chinese. The core
// writes them in English from its own parts ("verify failed: " and the read-back's finding, a
// cause and " after 3200 of 49152 bytes"); each part is a row here, with "%1".."%3" for what the
// core puts in, and the values are put into the Chinese as found, each turned into Chinese again
// when it is a cause itself.
#include <iterator>
#include <string_view>

#include "base/local_text.h"
#include "ui/cli/cli_text.h"

namespace {

struct CauseEntry {
  const char* english;
  const char* chinese;
};

constexpr CauseEntry kCauses[] = {
    {"the controller went away during the read at %1", "读取 %1 时手柄断开了"},
    {"the controller went away during the erase request at %1", "请求擦除 %1 时手柄断开了"},
    {"the controller went away during the erase at %1", "擦除 %1 时手柄断开了"},
    {"the controller went away during a write at %1", "写入 %1 时手柄断开了"},
    {"no answer to the erase at %1 (%2 reads)", "擦除 %1 时无应答（读了 %2 次）"},
    {"the image chunk at %1 was not acknowledged (%2 sendings)",
     "%1 处的固件块未获确认（发送 %2 次）"},
    {"the version word at %1 was not acknowledged (%2 sendings)",
     "%1 处的版本字未获确认（发送 %2 次）"},
    {"nothing was erased", "未擦除任何内容"},
    {"%1 after %2 of %3 bytes", "%1（已发送 %2 / %3 字节）"},
    {"the image in memory is shorter than its record", "内存中的固件比记录短"},
    {"a data packet could not be written", "数据包无法写入"},
    {"the controller went away", "手柄断开了"},
    {"the controller fell silent", "手柄不再应答"},
    {"this running firmware (type %1) takes no update: put the controller in its boot loader",
     "此运行固件（类型 %1）不接受更新：请让手柄进入 BOOT 模式"},
    {"the controller reported failure code %1 after %2 bytes",
     "发送 %2 字节后，手柄报告失败代码 %1"},
    {"the controller reported failure code %1", "手柄报告失败代码 %1"},
    {"the firmware file cannot be opened: %1", "固件文件无法打开：%1"},
    {"%1; nothing was erased or sent", "%1；未擦除也未发送任何内容"},
    {"the firmware file changed after the confirmation", "确认后固件文件已改变"},
    {"the controller cannot be opened: %1", "无法打开手柄：%1"},
    {"no backup: the controller did not give its version word", "未备份：手柄没有给出版本字"},
    {"no backup: no answer to the read at %1", "未备份：读取 %1 时无应答"},
    {"no backup: %1 cannot be written", "未备份：无法写入 %1"},
};

// The tool's own lines that are causes too (a read-back's finding, a file's or a controller's
// problem).
constexpr Say kSayCauses[] = {Say::kVerifyFailed,  Say::kCheckSame,        Say::kCheckDiffers,
                              Say::kCheckNoAnswer, Say::kCheckStopped,     Say::kCheckUnreadable,
                              Say::kFileMissing,   Say::kFileNoPermission, Say::kFileNotAFile,
                              Say::kFileHeld,      Say::kFileCannotOpen,   Say::kOpenAccessDenied,
                              Say::kOpenBusy,      Say::kRefusalCannotOpen};

// Whether text matches the pattern from its start, each "%N" standing for one or more
// characters (the shortest that lets the rest match); the values found go to values[N - 1].
bool Match(std::string_view pattern, std::string_view text, std::string (&values)[3]) {
  if (pattern.empty())
    return text.empty();
  if (pattern.size() > 1 && pattern[0] == '%' && pattern[1] >= '1' && pattern[1] <= '3') {
    for (size_t length = 1; length <= text.size(); ++length) {
      if (Match(pattern.substr(2), text.substr(length), values)) {
        values[pattern[1] - '1'] = std::string(text.substr(0, length));
        return true;
      }
    }
    return false;
  }
  return !text.empty() && pattern[0] == text[0] && Match(pattern.substr(1), text.substr(1), values);
}

// The Chinese of the pattern with the values put in.
std::string Fill(std::string_view pattern, const std::string (&values)[3]) {
  std::string filled;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
        pattern[i + 1] <= '3') {
      filled += values[pattern[i + 1] - '1'];
      ++i;
    } else {
      filled += pattern[i];
    }
  }
  return filled;
}

}  // namespace

std::string CauseText(const std::string& english, uint16_t language) {
  if (language != LANG_ZH_CN || english.empty())
    return english;
  std::string values[3];
  auto translated = [&](const char* chinese) {
    for (std::string& value : values)
      value = CauseText(value, language);
    return Fill(chinese, values);
  };
  for (const CauseEntry& entry : kCauses) {
    if (Match(entry.english, english, values))
      return translated(entry.chinese);
  }
  for (Say line : kSayCauses) {
    const std::string pattern = SayText(line, LANG_EN_US);
    if (Match(pattern, english, values))
      return translated(SayText(line, language).c_str());
  }
  return english;  // a system's own message (hidapi's, the kernel's): as it came
}
