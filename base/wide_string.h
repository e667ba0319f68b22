// UTF-16 strings: every text, path and title of the updater is a std::u16string owned by value.
#pragma once

#include <cstdint>
#include <string>

std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);

// A version in hundredths as "%0.2f" would print it, always with '.' whatever the locale:
// 50 gives "0.50", 137 gives "1.37", 65535 gives "655.35".
std::string FormatHundredths(uint32_t hundredths);
