#include "tests/support/german_locale.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kGerman[] = "de_DE.UTF-8";

bool DecimalCommaActive() {
  char figure[16];
  std::snprintf(figure, sizeof figure, "%.2f", 1.5);
  return std::string(figure) == "1,50";
}

}  // namespace

#ifdef _WIN32

// Windows has German in its C library under its own names; there is nothing to build.
GermanLocale::GermanLocale(int category) : m_category(category) {
  if (const char* current = std::setlocale(category, nullptr))
    m_savedLocale = current;
  for (const char* name : {"de-DE", "German_Germany.1252", "German"}) {
    if (std::setlocale(category, name))
      break;
  }
  m_active = DecimalCommaActive();
}

GermanLocale::~GermanLocale() {
  std::setlocale(m_category, m_savedLocale.empty() ? "C" : m_savedLocale.c_str());
}

bool GermanLocale::BuildInTemporaryFolder() {
  return false;
}

#else

GermanLocale::GermanLocale(int category) : m_category(category) {
  if (const char* current = std::setlocale(category, nullptr))
    m_savedLocale = current;
  if (const char* locpath = std::getenv("LOCPATH"))
    m_savedLocpath = locpath;
  if (!std::setlocale(category, kGerman) && BuildInTemporaryFolder()) {
    ::setenv("LOCPATH", m_folder.c_str(), 1);
    std::setlocale(category, kGerman);
  }
  m_active = DecimalCommaActive();
}

GermanLocale::~GermanLocale() {
  std::setlocale(m_category, m_savedLocale.empty() ? "C" : m_savedLocale.c_str());
  if (m_savedLocpath)
    ::setenv("LOCPATH", m_savedLocpath->c_str(), 1);
  else
    ::unsetenv("LOCPATH");
  if (!m_folder.empty()) {
    std::error_code error;
    std::filesystem::remove_all(m_folder, error);
  }
}

bool GermanLocale::BuildInTemporaryFolder() {
  std::error_code error;
  std::filesystem::path folder =
      std::filesystem::temp_directory_path(error) / ("tarvix-locale-" + std::to_string(::getpid()));
  if (error)
    return false;
  std::filesystem::remove_all(folder, error);
  if (!std::filesystem::create_directories(folder, error))
    return false;
  m_folder = folder;
  std::string command =
      "localedef -i de_DE -f UTF-8 '" + (folder / kGerman).string() + "' >/dev/null 2>&1";
  // localedef may answer 1 for warnings while still writing the locale.
  [[maybe_unused]] int status = std::system(command.c_str());
  return std::filesystem::exists(folder / kGerman, error);
}

#endif
