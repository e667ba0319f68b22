#include "base/trace.h"

#include "base/debug_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void DropLine(const std::string&) {}

// The quiet sink is known by its function: its lines are not even formatted, which is most of the
// cost of a trace call on the path of every report.
bool DropsLines(const TraceSink& sink) {
  using Line = void (*)(const std::string&);
  const Line* target = sink.target<Line>();
  return target != nullptr && *target == &DropLine;
}

}  // namespace

void TraceLineTo(const TraceSink& sink, const char* format, va_list args) {
  if (DropsLines(sink))
    return;
  // Most lines fit the stack buffer; a longer one is formatted again into one of its own size.
  char shortLine[256];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(shortLine, sizeof shortLine, format, args);
  std::string line;
  if (needed > 0 && static_cast<size_t>(needed) < sizeof shortLine) {
    line.assign(shortLine, static_cast<size_t>(needed));
  } else if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, copy);
    line.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(copy);
  if (line.empty() || line.back() != '\n')
    line.push_back('\n');

  if (sink) {
    sink(line);
    return;
  }
  // One write a line: stdio keeps the lines of several threads whole.
  std::fwrite(line.data(), 1, line.size(), stderr);
  WriteDebugOutput(line);
  std::fflush(stderr);  // a line at a time also where stderr is buffered (a file on Windows)
}

void TraceTo(const TraceSink& sink, const char* format, ...) {
  va_list args;
  va_start(args, format);
  TraceLineTo(sink, format, args);
  va_end(args);
}

bool TracesRequested() {
  const char* value = std::getenv("TARVIX_TRACE");
  return value != nullptr && value[0] != '\0' && std::string(value) != "0";
}

TraceSink WindowProgramTraceSink(const char* program, const char* howToTrace) {
  if (TracesRequested())
    return {};
  std::fprintf(stderr, "%s: started (%s shows the protocol trace)\n", program, howToTrace);
  std::fflush(stderr);
  return QuietTraceSink();
}

TraceSink QuietTraceSink() {
  return &DropLine;
}
