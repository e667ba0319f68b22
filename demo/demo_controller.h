// The keys that plug and unplug the demo's virtual controller (emulator/demo_sample.h).
#pragma once

#include "emulator/demo_sample.h"

class CUpdateWindow;

// F5 plugs the controller in at kDemoPath, F6 unplugs it; both also on the context menu.
void AddPlugActions(CUpdateWindow& window, VirtualHidPlatform& platform,
                    const DemoController& controller);
