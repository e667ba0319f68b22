// tarvix-update in a browser. main() runs on the program's first worker thread (PROXY_TO_PTHREAD),
// which is the dialog's thread: it installs the WebHID platform, initialises the dialog, tells the
// page that the window is ready and runs the dialog's events. The update thread is a second
// worker; the page's thread only draws, answers boxes and talks WebHID.
//
// The page passes its first preferred language (navigator.languages[0]) and "trace" when the
// address asks for the protocol trace (?trace). Both reach the dialog through its seams. Before
// main() runs, the page asks the core what it shows of its own (tarvix_page_*): the controllers it
// offers in the browser's chooser and the language of its own words.
#include <emscripten/emscripten.h>

#include <cstring>
#include <iterator>

#include "base/local_text.h"
#include "base/trace.h"
#include "device/hid.h"
#include "device/webhid/webhid_platform.h"
#include "ui/web/web_window_system.h"
#include "update/update_dlg.h"

extern "C" {

// The language of the page's texts for a browser's language tag: the dialog's own rule.
EMSCRIPTEN_KEEPALIVE int tarvix_page_language(const char* tag) {
  return UiLanguageFromLanguageTag(tag);
}

// The controller identities the page offers in the browser's chooser, in the link's order: their
// number, and each as vendor << 16 | product (0 past the end).
EMSCRIPTEN_KEEPALIVE int tarvix_page_controller_count() {
  return static_cast<int>(std::size(kControllerIdentities));
}

EMSCRIPTEN_KEEPALIVE unsigned tarvix_page_controller(int index) {
  if (index < 0 || index >= tarvix_page_controller_count())
    return 0;
  const ControllerIdentity& identity = kControllerIdentities[index];
  return static_cast<unsigned>(identity.vendorId) << 16 | identity.productId;
}

}  // extern "C"

int main(int argc, char** argv) {
  const char* languageTag = argc > 1 ? argv[1] : "";
  const bool traced = argc > 2 && std::strcmp(argv[2], "trace") == 0;
  // The page's address asks for the trace, not the environment: with ?trace the lines go to
  // stderr (the console), else they are dropped after a line that says how to see them.
  const TraceSink trace = traced ? TraceSink() : WindowProgramTraceSink("tarvix-update", "?trace");
  WebHidPlatform platform(trace);
  CUpdateDlg dlg({&platform, trace, UiLanguageFromLanguageTag(languageTag)});
  WebWindowSystem window(&dlg);
  dlg.AttachWindow(&window);
  dlg.OnInitDialog();
  // The window stays until the page goes (the tab closes or navigates): the browser ends the
  // threads with it, after beforeunload has asked the user during an update.
  window.Run();
  return 0;
}
