// The folder the process runs in, as the system tells it.
#pragma once

#include <string>

// The full path of the current folder, whatever its length and its characters; empty when the
// system cannot tell. On Windows from GetCurrentDirectoryW (the C++ library's current_path()
// loses folders past 260 characters there).
std::u16string CurrentFolder();
