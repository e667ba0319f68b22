// The hidapi platform on this machine: enumeration works without a controller, and a path that does
// not exist fails to open without claiming that access was denied.
#include <gtest/gtest.h>

#include "device/hidapi/hidapi_platform.h"
#include "device/hidapi/udev_monitor.h"

TEST(HidapiPlatform, EnumeratesAndRefusesAMissingPath) {
  HidapiPlatform platform;
  std::vector<HidInterfaceInfo> interfaces = platform.Enumerate();
  for (const HidInterfaceInfo& info : interfaces)
    EXPECT_FALSE(info.path.empty());
  HidOpenResult result = HidOpenResult::kOk;
  EXPECT_EQ(platform.Open("/dev/hidraw-that-does-not-exist", &result), kNoHidHandle);
  EXPECT_EQ(result, HidOpenResult::kFailed);
}
