// Diagnostic trace: a printf-style format filled and written as one line to a sink, or to stderr
// (UTF-8) and the debugger when there is none. There are no levels and no log file. Each link
// carries its own sink (Seams::trace); tests give one to look at the lines.
#pragma once

#include <cstdarg>
#include <functional>
#include <string>

// Where trace lines go; empty: stderr and the debugger.
using TraceSink = std::function<void(const std::string&)>;

// Fills the format and hands the line to sink. The formats of the updater end in "\n"; a line that
// does not gets one, so every trace is exactly one line.
void TraceTo(const TraceSink& sink, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The same line as the va_list form, for the classes that trace through their own sink.
void TraceLineTo(const TraceSink& sink, const char* format, va_list args);

// The one switch of every program: TARVIX_TRACE set (and not "0") asks for the protocol trace.
bool TracesRequested();
// The sink of a window program: without TARVIX_TRACE the trace lines are dropped, and one line on
// stderr says that program started and how to see them (howToTrace: what the user sets, e.g.
// "?trace" for the page); with it, stderr.
TraceSink WindowProgramTraceSink(const char* program, const char* howToTrace = "TARVIX_TRACE=1");
// A sink that drops every line.
TraceSink QuietTraceSink();
