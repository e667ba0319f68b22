// The current folder on Windows, as the system stores it (UTF-16, of any length).
#include <windows.h>

#include "base/current_folder.h"

std::u16string CurrentFolder() {
  // The first call tells the size with the terminating zero; the folder may change in between, so
  // ask until it fits.
  std::u16string folder;
  DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  while (size > 0) {
    folder.assign(size, u'\0');
    DWORD length = ::GetCurrentDirectoryW(size, reinterpret_cast<wchar_t*>(folder.data()));
    if (length == 0)
      return {};
    if (length < size) {
      folder.resize(length);
      return folder;
    }
    size = length;
  }
  return {};
}
