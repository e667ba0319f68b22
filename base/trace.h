// Diagnostic trace: a printf-style format filled and written as one line to stderr (UTF-8).
// There are no levels and no log file. Tests may install a sink to look at the lines.
#pragma once

#include <functional>
#include <string>

// Fills the format and writes the result. The formats of the updater end in "\n"; a line that does
// not gets one, so every trace is exactly one line.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The one switch of every program: TARVIX_TRACE set (and not "0") asks for the protocol trace.
bool TracesRequested();
// For the window programs: without TARVIX_TRACE the trace lines are dropped, and one line on stderr
// says that program started and how to see them.
void KeepTracesOnlyWhenRequested(const char* program);

// Replaces stderr as the destination of the traces (an empty function restores stderr).
void SetTraceSink(std::function<void(const std::string&)> sink);
