// What a test of a front end in Chinese finds left in English: the runs of ASCII letters, digits
// and ._/+-*=~? with no digit, no '/' and no '.' before a letter (numbers, paths, file names), not
// beginning with - ? * (options, queries, patterns), and no product name nor one of names.
#pragma once

#include <regex>
#include <set>
#include <string>
#include <vector>

inline std::vector<std::string> EnglishWords(const std::string& utf8,
                                             std::set<std::string> names = {}) {
  names.insert({"Tarvix", "Update", "GamePad", "USB", "BOOT", "L+R+HOME", "LED"});
  static const std::regex kRun("[=.,:;]*([A-Za-z0-9._/+*=~?-]*?)[.,:;]*(?![A-Za-z0-9._/+*=~?-])");
  static const std::regex kNotAWord("[^A-Za-z]*|.*([0-9/]|\\.[A-Za-z]).*|[-?*].*");
  std::vector<std::string> english;
  for (std::sregex_iterator it(utf8.begin(), utf8.end(), kRun), end; it != end; ++it) {
    const std::string word = (*it)[1];
    if (!std::regex_match(word, kNotAWord) && names.count(word) == 0)
      english.push_back(word);
  }
  return english;
}
