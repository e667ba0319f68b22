// Linux has no debug output of its own: the traces go to stderr only.
#include "base/debug_output.h"

void WriteDebugOutput(const std::string& /*line*/) {}
