// The hidapi platform end to end on the virtual controllers behind the hidapi and udev stand-in:
// what it lists of each interface, and a whole tarvix-flash session on it.
#include <gtest/gtest.h>

#include <sstream>

#include "device/hid.h"
#include "device/hidapi/hidapi_platform.h"
#include "emulator/demo_sample.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_running_firmware.h"
#include "tests/device/hidapi/hidapi_standin.h"
#include "tests/support/temp_folder.h"
#include "ui/cli/flash_main.h"

// The real platform in the bus's time: a pause of the protocol (a second after the erase) and a
// read time-out cost the test nothing.
class VirtualTimeHidapiPlatform : public HidapiPlatform {
 public:
  IClock& Clock() override { return m_clock; }
  VirtualClock m_clock;
};

TEST(HidapiStandIn, ListsEachInterfaceWithItsLocationAndFlashesTheNamedOne) {
  struct Row {
    const char* path;    // the node's number
    uint16_t productId;  // 0x3208 boot loader, 0x5750 running firmware, else no controller
    HidOpenResult open;  // kOk, kAccessDenied (not openable) or kFailed (refuses every open)
    const char* serial;
    const char* port;
  };
  // Each node is a file of the test's folder: the platform holds a controller by its node.
  TempFolder folder;
  const std::string nodes = folder.m_path.string() + "/hidraw-virtual";
  const Row rows[] = {
      {"0", 0x3208, HidOpenResult::kOk, "Ωmega-😀1", "1-2.3"},
      {"1", 0x5750, HidOpenResult::kOk, "A1B2", ""},  // not on USB
      {"2", 0x1234, HidOpenResult::kOk, "X", "1-4"},
      {"3", 0x3208, HidOpenResult::kAccessDenied, "", "3-1"},
      {"4", 0x3208, HidOpenResult::kFailed, "F", "3-2"},
  };
  VirtualTimeHidapiPlatform platform;
  VirtualHidPlatform bus(&platform.m_clock);  // hid_read_timeout waits in the bus's milliseconds
  auto loader = std::make_shared<VirtualBootLoader>();
  for (const Row& row : rows) {
    const std::string path = nodes + row.path;
    folder.Write(path.substr(path.rfind('/') + 1), {});
    std::shared_ptr<VirtualController> model = loader;
    if (row.productId == 0x5750)
      model = std::make_shared<VirtualRunningFirmware>();
    bus.Plug(path, row.productId == 0x5750 ? 0x0483 : 0x7A3D, row.productId, model,
             row.open != HidOpenResult::kAccessDenied);
    bus.Faults(path).refuseOpens = row.open == HidOpenResult::kFailed ? 1000 : 0;
    bus.SetLocation(path, row.serial, row.port);
  }
  InstallHidapiStandIn(&bus);
  std::vector<ControllerInterface> listed = ListControllers(platform);
  ASSERT_EQ(listed.size(), 4u);
  for (size_t i = 0, r = 0; i < listed.size(); ++i, ++r) {
    r += rows[r].productId == 0x1234;
    EXPECT_EQ(listed[i].path, nodes + rows[r].path);
    EXPECT_EQ(listed[i].openResult, rows[r].open) << rows[r].path;
    EXPECT_EQ(listed[i].serial, rows[r].serial);
    EXPECT_EQ(listed[i].portPath, rows[r].port);
  }

  const std::string sample = Utf16ToUtf8(folder.Write("sample.dat", DemoSampleDat()));
  std::ostringstream out, err;
  FlashEnv env;
  env.platform = &platform, env.out = &out, env.err = &err;
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "tarvix-flash");
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    out.str(""), err.str("");
    return FlashMain(static_cast<int>(argv.size()), argv.data(), env);
  };
  EXPECT_EQ(run({"list"}), 4);  // one is denied
  EXPECT_NE(out.str().find(nodes + "0  7a3d:3208  boot loader\n  port         1-2.3\n"
                                   "  serial       Ωmega-😀1\n"),
            std::string::npos)
      << out.str();
  EXPECT_NE(err.str().find(nodes + "3: access denied"), std::string::npos) << err.str();
  EXPECT_EQ(run({"flash", sample, "--yes", "--device", "Ωmega-😀1"}), 0) << err.str();
  EXPECT_NE(out.str().find(nodes + "0: Firmware upgraded!"), std::string::npos);
  EXPECT_EQ(loader->VersionWord(), 200u);
  EXPECT_EQ(run({"verify", sample, "--device", "1-2.3"}), 0) << err.str();
  EXPECT_EQ(run({"flash", sample, "--yes", "--device", "3-1"}), 4);
  EXPECT_NE(err.str().find("access denied"), std::string::npos) << err.str();
  InstallHidapiStandIn(nullptr);
  EXPECT_EQ(HidapiStandInTallyNow().live, 0);  // every list, device and udev object given back
  EXPECT_EQ(HidapiStandInTallyNow().misuses, 0);
}
