// The open-file dialog's filter as the dialog hands it to every window system,
// "name|pattern;pattern|name|pattern||": its names, each with its patterns. One reading for the
// Qt window, the Win32 one and the page, each of which writes it in its own toolkit's form.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct DialogFilter {
  std::u16string name;                   // as written, "File type(*.dat)"
  std::vector<std::u16string> patterns;  // "*.dat": blanks around each trimmed, empty ones left out
};

// The most names and the most patterns a name that a filter keeps; the rest is left out.
constexpr size_t kMaxDialogFilters = 32;
constexpr size_t kMaxDialogFilterPatterns = 32;

// Fields separated by '|' come in pairs (name, patterns). An empty name ends the list ("||"); a
// name without a pattern field after it is left out; an empty pattern field gives a name without
// patterns. Patterns are separated by ';'.
std::vector<DialogFilter> ParseDialogFilter(const std::u16string& filter);
