// The interface language on Windows: the user's UI language as the system tells it (0x804 for
// Chinese (PRC)). The locale variables mean nothing here.
#include <windows.h>

#include "base/local_text.h"

uint16_t SystemUiLanguage() {
  return static_cast<uint16_t>(::GetUserDefaultUILanguage());
}
