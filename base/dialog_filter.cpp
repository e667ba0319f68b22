#include "base/dialog_filter.h"

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

// The ';'-separated patterns of filter[begin, end).
std::vector<std::u16string> SplitPatterns(const std::u16string& filter, size_t begin, size_t end) {
  std::vector<std::u16string> patterns;
  size_t start = begin;
  while (start < end && patterns.size() < kMaxDialogFilterPatterns) {
    size_t stop = filter.find(u';', start);
    if (stop == std::u16string::npos || stop > end)
      stop = end;
    size_t first = start;
    size_t last = stop;
    while (first < last && IsBlank(filter[first]))
      ++first;
    while (last > first && IsBlank(filter[last - 1]))
      --last;
    if (first < last)
      patterns.push_back(filter.substr(first, last - first));
    start = stop + 1;
  }
  return patterns;
}

}  // namespace

std::vector<DialogFilter> ParseDialogFilter(const std::u16string& filter) {
  std::vector<DialogFilter> filters;
  size_t start = 0;
  // Each pair moves on by at least its two bars.
  while (start < filter.size() && filters.size() < kMaxDialogFilters) {
    const size_t nameEnd = filter.find(u'|', start);
    if (nameEnd == std::u16string::npos || nameEnd == start)
      break;
    size_t patternsEnd = filter.find(u'|', nameEnd + 1);
    if (patternsEnd == std::u16string::npos)
      patternsEnd = filter.size();
    filters.push_back(
        {filter.substr(start, nameEnd - start), SplitPatterns(filter, nameEnd + 1, patternsEnd)});
    start = patternsEnd + 1;
  }
  return filters;
}
