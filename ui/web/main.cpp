// tarvix-update in a browser. main() runs on the program's first worker thread (PROXY_TO_PTHREAD),
// which is the dialog's thread: it installs the WebHID platform, initialises the dialog, tells the
// page that the window is ready and runs the dialog's events. The update thread is a second
// worker; the page's thread only draws, answers boxes and talks WebHID.
//
// The page passes its first preferred language (navigator.languages[0]) and "trace" when the
// address asks for the protocol trace (?trace).
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/trace.h"
#include "device/webhid/webhid_platform.h"
#include "ui/web/web_window_system.h"
#include "update/update_dlg.h"

namespace {

constexpr size_t kMaxLanguageTag = 35;

// A browser's language tag as a POSIX locale name: "zh-CN" is "zh_CN", so the language rule of
// every other build (UiLanguageFromLocale, through LANG) picks the texts.
std::string LocaleFromLanguageTag(const char* tag) {
  std::string locale;
  bool first = true;
  for (size_t i = 0; tag[i] != '\0' && i < kMaxLanguageTag; ++i) {
    const unsigned char c = static_cast<unsigned char>(tag[i]);
    if (c == '-' || c == '_') {
      locale += '_';
      first = false;
    } else {
      locale += static_cast<char>(first ? std::tolower(c) : std::toupper(c));
    }
  }
  return locale;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && argv[1][0] != '\0')
    setenv("LANG", LocaleFromLanguageTag(argv[1]).c_str(), 1);
  if (argc > 2 && std::strcmp(argv[2], "trace") == 0)
    setenv("TARVIX_TRACE", "1", 1);
  // The page's address asks for the trace, not the environment.
  const TraceSink trace = WindowProgramTraceSink("tarvix-update", "?trace");
  WebHidPlatform platform(trace);
  CUpdateDlg dlg({&platform, trace, {}});
  WebWindowSystem window(&dlg);
  dlg.AttachWindow(&window);
  dlg.OnInitDialog();
  // The window stays until the page goes (the tab closes or navigates): the browser ends the
  // threads with it, after beforeunload has asked the user during an update.
  window.Run();
  return 0;
}
