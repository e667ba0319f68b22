// The hidapi platform on this machine: enumeration works without a controller, and a path that does
// not exist fails to open without claiming that access was denied.
#include <gtest/gtest.h>

#include "device/hidapi/hidapi_platform.h"
#include "device/hidapi/udev_monitor.h"

#include <unistd.h>

#include <string>

#include "tests/support/temp_folder.h"

TEST(HidapiPlatform, EnumeratesAndRefusesAMissingPath) {
  HidapiPlatform platform;
  {
    // Another platform that comes and goes leaves hidapi set up for this one.
    HidapiPlatform other;
    EXPECT_EQ(HidapiPlatform::LibraryUsers(), 2);
  }
  EXPECT_EQ(HidapiPlatform::LibraryUsers(), 1);
  std::vector<HidInterfaceInfo> interfaces = platform.Enumerate();
  for (const HidInterfaceInfo& info : interfaces)
    EXPECT_FALSE(info.path.empty());
  HidOpenResult result = HidOpenResult::kOk;
  EXPECT_EQ(platform.Open("/dev/hidraw-that-does-not-exist", &result), kNoHidHandle);
  EXPECT_EQ(result, HidOpenResult::kFailed);
}

// The hold on a controller is a flock on its node: two platforms (as two programs) never hold one
// node at once, whichever of its names they use, and a released hold can be taken again. A name
// that is no node of its own (missing, a folder) is never a hold.
TEST(HidapiPlatform, OneHoldPerNodeAcrossPlatformsAndNoneWithoutANode) {
  TempFolder folder;
  const std::string node = Utf16ToUtf8(folder.Write("hidraw-node", {}));
  const std::string other = Utf16ToUtf8(folder.Write("hidraw-other", {}));
  const std::string link = Utf16ToUtf8(folder.PathOf("hidraw-link"));
  ASSERT_EQ(::symlink(node.c_str(), link.c_str()), 0);
  HidapiPlatform first, second;
  std::unique_ptr<IControllerLock> held = first.LockController(node);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(second.LockController(node), nullptr);
  EXPECT_EQ(second.LockController(link), nullptr);
  EXPECT_NE(second.LockController(other), nullptr);
  held.reset();
  EXPECT_NE(second.LockController(link), nullptr);
  for (const std::string& none :
       {folder.m_path.string(), folder.m_path.string() + "/missing", node + "/below"})
    EXPECT_EQ(first.LockController(none), nullptr) << none;
}
