// UTF-16 strings: every text, path and title of the updater is a std::u16string owned by value.
#pragma once

#include <cstdint>
#include <string>

std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);
// A file name as the system gives it on Linux (bytes, as a rule UTF-8) and back. A byte that is not
// part of valid UTF-8 is kept as the lone surrogate U+DC80..U+DCFF and comes back as the same byte,
// so that every file name opens; shown with Utf16ToUtf8 it reads as U+FFFD.
std::u16string PathFromBytes(const std::string& bytes);
std::string PathToBytes(const std::u16string& path);

// A version in hundredths as "%0.2f" would print it, always with '.' whatever the locale:
// 50 gives "0.50", 137 gives "1.37", 65535 gives "655.35".
std::string FormatHundredths(uint32_t hundredths);
// A firmware version as every front end shows it: "1.38", or "1.38 beta2" when beta is not 0.
std::string FormatVersion(uint16_t version, uint16_t beta);
// The same of a controller's version word: the version in its low half, the beta in its high half.
std::string FormatVersionWord(uint32_t word);
