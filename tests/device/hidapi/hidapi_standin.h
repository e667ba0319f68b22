// A stand-in for the system's hidapi and for the udev calls the hidapi platform makes, for test
// programs that link it: its definitions take the place of the shared libraries' for the calls of
// the statically linked HidapiPlatform, which then runs on a virtual bus instead of the machine's.
//
// What it models of the system:
// - hid_enumerate lists the bus's interfaces with their vendor, product and serial number (wide
//   characters, as hidapi gives them on Linux).
// - udev knows each interface by the last part of its path ("hidraw-virtual0") in the "hidraw"
//   subsystem; its USB parent is named by the interface's port path, and an interface without one
//   has no USB parent (as on Bluetooth).
// - An interface that refuses the open for permission is a node the user may not read or write:
//   access(2) on its path fails with EACCES. Any other interface on the bus is a node access(2)
//   accepts; paths off the bus go to the real file system.
// - udev monitors cannot be created: the bus raises no udev events.
#pragma once

#include "emulator/virtual_hid.h"

// The bus the hidapi and udev calls go to from now on; null: an empty system.
void InstallHidapiStandIn(VirtualHidPlatform* bus);

// What the callers did wrong with the objects the stand-in handed out.
struct HidapiStandInTally {
  int live = 0;     // enumerations, devices and udev objects handed out and not given back
  int misuses = 0;  // objects given back that were not handed out (or given back twice)
};
HidapiStandInTally HidapiStandInTallyNow();
