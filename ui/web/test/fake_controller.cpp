// The virtual controller behind the browser test's fake navigator.hid (fake_hid.js): the
// emulator's boot loader or running firmware on the virtual HID stack, compiled to wasm without
// threads and called from the page's thread. Also writes the test's firmware files with the
// emulator's .dat writer.
#include <emscripten/emscripten.h>

#include <cstring>
#include <vector>

#include "emulator/dat_writer.h"
#include "emulator/demo_sample.h"
#include "emulator/virtual_hid.h"

namespace {

constexpr char kPath[] = "fake0";
VirtualHidPlatform* g_platform = nullptr;
DemoController g_controller;
HidHandle g_handle = kNoHidHandle;
std::vector<uint8_t> g_file;

}  // namespace

extern "C" {

// Plugs a controller in (appMode: running firmware, else boot loader) and opens it; answers its
// vendor << 16 | product. unplugAfter >= 0 pulls the cable after that many host reports.
EMSCRIPTEN_KEEPALIVE int fake_plug(int appMode, int latencyMs, int unplugAfter) {
  delete g_platform;
  g_platform = new VirtualHidPlatform();
  g_controller = MakeDemoController(appMode != 0);
  g_platform->Plug(kPath, g_controller.vendorId, g_controller.productId, g_controller.model);
  g_platform->Faults(kPath).latencyMs = static_cast<uint32_t>(latencyMs);
  g_platform->Faults(kPath).unplugAfterReports = unplugAfter;
  g_handle = g_platform->Open(kPath, nullptr);
  return g_controller.vendorId << 16 | g_controller.productId;
}

// One output report (report id first): 1 taken, 0 refused (the cable is out).
EMSCRIPTEN_KEEPALIVE int fake_send(const uint8_t* report, int length) {
  return g_platform != nullptr && g_platform->Write(g_handle, report, static_cast<size_t>(length));
}

// Takes one reply that is due into payload64: 1 one taken, 0 none due, -1 the cable is out.
EMSCRIPTEN_KEEPALIVE int fake_receive(uint8_t* payload64) {
  if (g_platform == nullptr)
    return -1;
  switch (g_platform->Read(g_handle, payload64, 0)) {
    case HidReadResult::kReport:
      return 1;
    case HidReadResult::kTimeout:
      return 0;
    case HidReadResult::kError:
    case HidReadResult::kNotOpen:
      break;
  }
  return -1;
}

// Replies still on the wire (not yet due).
EMSCRIPTEN_KEEPALIVE int fake_pending() {
  return g_platform != nullptr ? static_cast<int>(g_platform->PendingReplies(kPath)) : 0;
}

// The controller's firmware version in hundredths (200 once the sample is written).
EMSCRIPTEN_KEEPALIVE int fake_version() {
  return g_platform != nullptr ? DemoControllerVersion(g_controller) : -1;
}

// A firmware file: 0 the demo's sample (2.00, 48 KiB), 1 the same version with 256 KiB, 2 one whose
// image runs past the end of the file. Answers its bytes; *length their number.
EMSCRIPTEN_KEEPALIVE const uint8_t* fake_file(int kind, int* length) {
  DatRecord record;
  record.version = 200;
  record.image = MakeImage(kind == 1 ? 256 * 1024 : 48 * 1024, 7);
  g_file = kind == 0   ? DemoSampleDat()
           : kind == 1 ? BuildDat({record})
                       : DatImageRunsPastEnd(record, 100);
  *length = static_cast<int>(g_file.size());
  return g_file.data();
}

}  // extern "C"
