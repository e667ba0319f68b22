// The demo's virtual controller, its sample firmware file and the keys that plug and unplug it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "emulator/virtual_hid.h"

class CUpdateWindow;

constexpr char kDemoPath[] = "/dev/hidraw-virtual0";

struct DemoController {
  std::shared_ptr<VirtualController> model;
  uint16_t vendorId;
  uint16_t productId;
};

// A controller in its boot loader, or (appMode) one running its firmware, version 1.37.
DemoController MakeDemoController(bool appMode);

// The firmware version the controller reports now, in hundredths ("2.00" after the demo's update),
// or -1 when the model does not tell.
int DemoControllerVersion(const DemoController& controller);

// The sample file: version 2.00, a record for the boot loader's device type 0x3009, and one for a
// controller whose device type was never read (application mode selects by the type it knows,
// which stays 0 until a boot loader was identified; the running firmware receives the first
// record's image, the same bytes).
std::vector<uint8_t> DemoSampleDat();

// F5 plugs the controller in at kDemoPath, F6 unplugs it; both also on the context menu (the Qt
// window; the Win32 demo adds the same commands to its window in demo_main_win32.cpp).
void AddPlugActions(CUpdateWindow& window, VirtualHidPlatform& platform,
                    const DemoController& controller);
