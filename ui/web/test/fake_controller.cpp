// The virtual controller behind the browser test's fake navigator.hid (fake_hid.js): the
// emulator's boot loader or running firmware on the virtual HID stack, compiled to wasm without
// threads and called from the page's thread. The script holds the controller it made (fake_create)
// and hands it back with each call until it lets it go (fake_destroy). Also writes the test's
// firmware files with the emulator's .dat writer.
#include <emscripten/emscripten.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "emulator/dat_writer.h"
#include "emulator/demo_sample.h"
#include "emulator/virtual_hid.h"

// One controller plugged into a virtual bus of its own, and the handle the fake device talks on.
struct FakeController {
  static constexpr char kPath[] = "fake0";
  VirtualHidPlatform platform;
  DemoController controller;
  HidHandle handle = kNoHidHandle;
};

extern "C" {

// Plugs a controller in (appMode: running firmware, else boot loader) and opens it.
// unplugAfter >= 0 pulls the cable after that many host reports.
EMSCRIPTEN_KEEPALIVE FakeController* fake_create(int appMode, int latencyMs, int unplugAfter) {
  auto* fake = new FakeController();
  fake->controller = MakeDemoController(appMode != 0);
  const char* path = FakeController::kPath;
  fake->platform.Plug(path, fake->controller.vendorId, fake->controller.productId,
                      fake->controller.model);
  fake->platform.Faults(path).latencyMs = static_cast<uint32_t>(latencyMs);
  fake->platform.Faults(path).unplugAfterReports = unplugAfter;
  fake->handle = fake->platform.Open(path, nullptr);
  return fake;
}

EMSCRIPTEN_KEEPALIVE void fake_destroy(FakeController* fake) {
  delete fake;
}

// The controller's vendor << 16 | product.
EMSCRIPTEN_KEEPALIVE unsigned fake_identity(const FakeController* fake) {
  return fake != nullptr
             ? static_cast<unsigned>(fake->controller.vendorId) << 16 | fake->controller.productId
             : 0;
}

// One output report (report id first): 1 taken, 0 refused (the cable is out).
EMSCRIPTEN_KEEPALIVE int fake_send(FakeController* fake, const uint8_t* report, int length) {
  return fake != nullptr && length > 0 &&
         fake->platform.Write(fake->handle, report, static_cast<size_t>(length));
}

// Takes one reply that is due into payload64: 1 one taken, 0 none due, -1 the cable is out.
EMSCRIPTEN_KEEPALIVE int fake_receive(FakeController* fake, uint8_t* payload64) {
  if (fake == nullptr)
    return -1;
  switch (fake->platform.Read(fake->handle, payload64, 0)) {
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
EMSCRIPTEN_KEEPALIVE int fake_pending(FakeController* fake) {
  return fake != nullptr ? static_cast<int>(fake->platform.PendingReplies(FakeController::kPath))
                         : 0;
}

// The controller's firmware version in hundredths (200 once the sample is written).
EMSCRIPTEN_KEEPALIVE int fake_version(const FakeController* fake) {
  return fake != nullptr ? DemoControllerVersion(fake->controller) : -1;
}

// A firmware file: 0 the demo's sample (2.00, 48 KiB), 1 the same version with 256 KiB, 2 one whose
// image runs past the end of the file. Answers its bytes, which the caller frees (free), or null;
// *length their number.
EMSCRIPTEN_KEEPALIVE uint8_t* fake_file(int kind, int* length) {
  if (length == nullptr)
    return nullptr;
  *length = 0;
  DatRecord record;
  record.version = 200;
  record.image = MakeImage(kind == 1 ? 256 * 1024 : 48 * 1024, 7);
  const std::vector<uint8_t> file = kind == 0   ? DemoSampleDat()
                                    : kind == 1 ? BuildDat({record})
                                                : DatImageRunsPastEnd(record, 100);
  auto* bytes = static_cast<uint8_t*>(std::malloc(file.empty() ? 1 : file.size()));
  if (bytes == nullptr)
    return nullptr;
  if (!file.empty())
    std::memcpy(bytes, file.data(), file.size());
  *length = static_cast<int>(file.size());
  return bytes;
}

}  // extern "C"
