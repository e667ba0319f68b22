#include "tests/support/english_words.h"

#include <cctype>
#include <cstring>

namespace {

bool InWord(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("._/+-*=~?", c) != nullptr;
}

bool IsEnglish(const std::string& word, const std::set<std::string>& names) {
  static const std::set<std::string> kProductNames = {"Tarvix", "Update",   "GamePad", "USB",
                                                      "BOOT",   "L+R+HOME", "LED"};
  bool letter = false;
  for (size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '/')
      return false;
    if (c == '.' && i + 1 < word.size() && std::isalpha(static_cast<unsigned char>(word[i + 1])))
      return false;
    letter = letter || std::isalpha(static_cast<unsigned char>(c));
  }
  if (!letter || std::strchr("-?*", word[0]) != nullptr)
    return false;
  return kProductNames.count(word) == 0 && names.count(word) == 0;
}

}  // namespace

std::vector<std::string> EnglishWords(const std::string& utf8, const std::set<std::string>& names) {
  std::vector<std::string> english;
  for (size_t i = 0; i < utf8.size();) {
    if (!InWord(utf8[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < utf8.size() && InWord(utf8[end]))
      ++end;
    // A full stop or the like at either end belongs to the sentence; "=" to the option before.
    size_t first = i, last = end;
    while (first < last && std::strchr(".,:;=", utf8[first]))
      ++first;
    while (last > first && std::strchr(".,:;", utf8[last - 1]))
      --last;
    const std::string word = utf8.substr(first, last - first);
    if (!word.empty() && IsEnglish(word, names))
      english.push_back(word);
    i = end;
  }
  return english;
}
