// The debug output on Windows: OutputDebugStringW, in UTF-16.
#include <windows.h>

#include "base/debug_output.h"
#include "base/wide_string.h"

void WriteDebugOutput(const std::string& line) {
  std::u16string text = Utf8ToUtf16(line);
  ::OutputDebugStringW(reinterpret_cast<const wchar_t*>(text.c_str()));
}
