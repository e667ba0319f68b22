// The platform's debug output, beside stderr: a program with a window of its own on Windows has
// no stderr to look at, but a debugger or DebugView shows what OutputDebugString writes.
#pragma once

#include <string>

// Writes one trace line (UTF-8, ending in "\n") to the platform's debug output, if it has one.
void WriteDebugOutput(const std::string& line);
