// The virtual controller and the sample firmware file that the demo and tarvix-flash --virtual
// attach: anyone can run a whole update without hardware.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "emulator/virtual_hid.h"

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

// A rehearsal's memory of one controller, kept between runs: a boot loader's whole flash, or the
// version word a running firmware starts with (the one it received, once an update has finished).
// RestoreDemoState takes what DemoState gave the same kind of controller and answers false,
// changing nothing, for anything else.
std::vector<uint8_t> DemoState(const DemoController& controller);
bool RestoreDemoState(const DemoController& controller, const std::vector<uint8_t>& state);

// The sample file: version 2.00, a record for the boot loader's device type 0x3009, and one for a
// controller whose device type was never read (application mode selects by the type it knows,
// which stays 0 until a boot loader was identified; the running firmware receives the first
// record's image, the same bytes).
std::vector<uint8_t> DemoSampleDat();
