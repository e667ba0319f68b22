// Switches one category of the C locale to German (decimal comma) for a scope. When the system
// has no German locale, one is built with localedef in a temporary folder of this process and
// found through LOCPATH. The destructor puts the category, LOCPATH and the folder back as they
// were. active() is false when no German locale could be had.
#pragma once

#include <clocale>
#include <filesystem>
#include <optional>
#include <string>

class GermanLocale {
 public:
  explicit GermanLocale(int category = LC_ALL);
  ~GermanLocale();
  GermanLocale(const GermanLocale&) = delete;
  GermanLocale& operator=(const GermanLocale&) = delete;

  // True when printf now writes 1.5 as "1,50".
  bool active() const { return m_active; }

 private:
  bool BuildInTemporaryFolder();

  int m_category;
  std::string m_savedLocale;
  std::optional<std::string> m_savedLocpath;
  std::filesystem::path m_folder;  // empty unless this object built the locale
  bool m_active = false;
};
