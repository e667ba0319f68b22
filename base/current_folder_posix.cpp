// The current folder on Linux.
#include <filesystem>
#include <system_error>

#include "base/current_folder.h"
#include "base/wide_string.h"

std::u16string CurrentFolder() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::current_path(error);
  if (error)
    return {};
  return Utf8ToUtf16(folder.string());
}
