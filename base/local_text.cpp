#include "base/local_text.h"

#include <cstring>
#include <string>

#include "res/string_table.h"

namespace {
constexpr uint32_t kChineseFirstId = 129;
constexpr uint32_t kEnglishFirstId = 238;
// The longest language tag read; a longer one is read that far.
constexpr size_t kMaxLanguageTag = 35;

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
}  // namespace

uint16_t UiLanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  const char* chosen = nullptr;
  for (const char* value : {lcAll, lcMessages, lang}) {
    if (value != nullptr && value[0] != '\0') {
      chosen = value;
      break;
    }
  }
  if (chosen == nullptr || std::strncmp(chosen, "zh_CN", 5) != 0)
    return LANG_EN_US;
  char after = chosen[5];
  return (after == '\0' || after == '.' || after == '@') ? LANG_ZH_CN : LANG_EN_US;
}

uint16_t UiLanguageFromLanguageTag(const char* tag) {
  if (tag == nullptr)
    return LANG_EN_US;
  // "zh-CN" as the locale name "zh_CN": the language in small letters, the rest in capitals.
  std::string locale;
  bool first = true;
  for (size_t i = 0; i < kMaxLanguageTag && tag[i] != '\0'; ++i) {
    if (tag[i] == '-' || tag[i] == '_') {
      locale += '_';
      first = false;
    } else {
      locale += first ? AsciiLower(tag[i]) : AsciiUpper(tag[i]);
    }
  }
  return UiLanguageFromLocale(nullptr, nullptr, locale.c_str());
}

uint16_t UiLanguage() {
  return SystemUiLanguage();
}

std::u16string LoadLocalText(int index) {
  return LoadLocalText(index, UiLanguage());
}

std::u16string LoadLocalText(int index, uint16_t language) {
  std::u16string result;
  uint32_t firstId = language == LANG_ZH_CN ? kChineseFirstId : kEnglishFirstId;
  uint32_t id = firstId + static_cast<uint32_t>(index);

  const char16_t* block = nullptr;
  size_t blockUnits = 0;
  if (!FindStringBlock(id / 16 + 1, &block, &blockUnits))
    return result;

  // Skip the entries before ours; each takes its count plus one unit.
  size_t pos = 0;
  for (uint32_t skip = id % 16; skip > 0; --skip) {
    if (pos >= blockUnits)
      return result;
    pos += static_cast<size_t>(block[pos]) + 1;
  }
  if (pos >= blockUnits)
    return result;
  size_t count = block[pos];
  if (count == 0 || pos + 1 + count > blockUnits)
    return result;
  result.assign(block + pos + 1, count);
  return result;
}
