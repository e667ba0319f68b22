#include "base/wide_string.h"

#include <cstdint>

namespace {

// A byte that is not part of valid UTF-8, kept in a path as the lone surrogate U+DC80..U+DCFF.
constexpr uint32_t kEscapedByte = 0xDC00;

std::string Encode(const std::u16string& text, bool unescape) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (unescape && c >= kEscapedByte + 0x80 && c <= kEscapedByte + 0xFF) {
      out.push_back(static_cast<char>(c - kEscapedByte));
      continue;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string Decode(const std::string& text, bool escape) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint32_t c = static_cast<uint8_t>(text[i]);
    size_t extra = 0;
    if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      c &= 0x07;
    } else if (c >= 0xE0 && c < 0xF0) {
      extra = 2;
      c &= 0x0F;
    } else if (c >= 0xC2 && c < 0xE0) {
      extra = 1;
      c &= 0x1F;
    } else if (c >= 0x80) {
      extra = SIZE_MAX;  // a stray continuation byte or an invalid lead byte
    }
    bool ok = extra != SIZE_MAX && i + extra < text.size();
    for (size_t k = 1; ok && k <= extra; ++k) {
      uint8_t next = static_cast<uint8_t>(text[i + k]);
      ok = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either.
    static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (ok && (c < kLeast[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF))
      ok = false;
    if (!ok) {
      out.push_back(escape ? static_cast<char16_t>(kEscapedByte + static_cast<uint8_t>(text[i]))
                           : u'\uFFFD');
      ++i;
      continue;
    }
    i += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

}  // namespace

std::string Utf16ToUtf8(const std::u16string& text) {
  return Encode(text, false);
}

std::u16string Utf8ToUtf16(const std::string& text) {
  return Decode(text, false);
}

std::u16string PathFromBytes(const std::string& bytes) {
  return Decode(bytes, true);
}

std::string PathToBytes(const std::u16string& path) {
  return Encode(path, true);
}

std::string FormatHundredths(uint32_t hundredths) {
  uint32_t cents = hundredths % 100;
  std::string out = std::to_string(hundredths / 100);
  out.push_back('.');
  out.push_back(static_cast<char>('0' + cents / 10));
  out.push_back(static_cast<char>('0' + cents % 10));
  return out;
}

std::string FormatVersion(uint16_t version, uint16_t beta) {
  std::string figure = FormatHundredths(version);
  return beta ? figure + " beta" + std::to_string(beta) : figure;
}

std::string FormatVersionWord(uint32_t word) {
  return FormatVersion(static_cast<uint16_t>(word), static_cast<uint16_t>(word >> 16));
}
