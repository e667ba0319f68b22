// The interface language on Linux: the locale variables, as a POSIX program reads them.
#include <cstdlib>

#include "base/local_text.h"

uint16_t SystemUiLanguage() {
  return UiLanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                              std::getenv("LANG"));
}
