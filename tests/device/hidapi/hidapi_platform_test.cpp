// The hidapi platform on this machine: enumeration works without a controller, and a path that does
// not exist fails to open without claiming that access was denied.
#include <gtest/gtest.h>

#include "device/hidapi/hidapi_platform.h"
#include "device/hidapi/udev_monitor.h"

#include <unistd.h>

#include <cstdio>
#include <string>

TEST(HidapiPlatform, EnumeratesAndRefusesAMissingPath) {
  HidapiPlatform platform;
  std::vector<HidInterfaceInfo> interfaces = platform.Enumerate();
  for (const HidInterfaceInfo& info : interfaces)
    EXPECT_FALSE(info.path.empty());
  HidOpenResult result = HidOpenResult::kOk;
  EXPECT_EQ(platform.Open("/dev/hidraw-that-does-not-exist", &result), kNoHidHandle);
  EXPECT_EQ(result, HidOpenResult::kFailed);
}

// The hold on a controller is a lock file every program of ours sees: two platforms (as two
// programs) never hold one controller at once, and a released hold can be taken again.
TEST(HidapiPlatform, OneHoldPerControllerAcrossPlatforms) {
  const std::string path = "/dev/hidraw-lock-test-" + std::to_string(::getpid());
  ::setenv("XDG_RUNTIME_DIR", "/tmp", 1);  // where the lock files go, removed below
  HidapiPlatform first, second;
  std::unique_ptr<IControllerLock> held = first.LockController(path);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(second.LockController(path), nullptr);
  EXPECT_NE(second.LockController(path + "-other"), nullptr);
  held.reset();
  EXPECT_NE(second.LockController(path), nullptr);
  for (const char* end : {"", "-other"})
    std::remove(("/tmp/" + ControllerLockName(path + end) + ".lock").c_str());
}
