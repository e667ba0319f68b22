// What a test of a front end in Chinese finds left in English: the runs of Latin letters in a text
// that are not a name, a number, a unit, a path, a file name or an option.
#pragma once

#include <set>
#include <string>
#include <vector>

// The English words of a UTF-8 text. A word is a run of ASCII letters, digits and the characters
// of paths and options (._/+-*=~?); it is not English when it has a digit ("0x3009", "v2.60", "30
// s" is two: the unit is a name), begins with '-', '?' or '*' (an option, a query, a pattern),
// holds a '/' or a '.' before a letter (a path, a file name), or is one of the product's names
// (Tarvix, Update, GamePad, USB, BOOT, L+R+HOME, LED) or of names.
std::vector<std::string> EnglishWords(const std::string& utf8,
                                      const std::set<std::string>& names = {});
