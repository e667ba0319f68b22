// Localised texts: every word the user sees is fetched by its index at the moment it is shown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum TextIndex : int {
  TXT_SEARCH = 0,
  TXT_UPDATE = 1,
  TXT_CONFIRM_STOP = 2,
  TXT_FILE_TYPE = 3,
  TXT_UPGRADED = 4,
  TXT_NEW_FIRMWARE = 5,
  TXT_TITLE = 6,
  TXT_UPDATE_FAILED = 7,
  TXT_SEARCHING_BT = 8,
  TXT_WARNING = 9,
  TXT_OPEN_BT_ERROR = 10,
  TXT_NEED_BOOT_MODE = 11,
  TXT_USB_UPDATE = 12,
  TXT_UPGRADE_LATEST = 13,
  TXT_INSTRUCTIONS = 14,
  TXT_CURRENT_IS = 15,
  TXT_RESET_HINT = 16,
  TXT_NOT_RECOGNIZED = 17,
};

constexpr uint16_t LANG_ZH_CN = 0x804;  // Chinese (PRC): the only identifier that selects Chinese
constexpr uint16_t LANG_EN_US = 0x409;

// The text of an index in a language (LANG_ZH_CN for Chinese, English otherwise); empty when the
// table holds none. Keeps no state and may be called from any thread.
std::u16string LoadLocalText(int index, uint16_t language);
// The same in the user's interface language (UiLanguage).
std::u16string LoadLocalText(int index);

// The user's interface language identifier: SystemUiLanguage(). A dialog takes it at its start
// unless it is given one (Seams::language).
uint16_t UiLanguage();
// The system's answer. On Windows, GetUserDefaultUILanguage itself (base/ui_language_win32.cpp);
// on Linux, UiLanguageFromLocale of the process's environment (base/ui_language_posix.cpp).
uint16_t SystemUiLanguage();

// LC_ALL, then LC_MESSAGES, then LANG (the first that is set and not empty): "zh_CN", alone or
// followed by an encoding or a modifier, is 0x804; everything else 0x409.
uint16_t UiLanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang);
// The same rule for a browser's language tag ("zh-CN", any case, '-' or '_'), read as the locale
// name it stands for: "zh-CN" and "zh_cn" are 0x804; "zh-TW", "zh", "zh-Hans-CN" and "en-US" 0x409.
uint16_t UiLanguageFromLanguageTag(const char* tag);
