#include "demo/demo_controller.h"

#include <QAction>
#include <QKeySequence>

#include "emulator/dat_writer.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_running_firmware.h"
#include "ui/qt/update_window.h"

namespace {
constexpr uint32_t kSampleImageSize = 48 * 1024;
constexpr uint16_t kSampleVersion = 200;  // 2.00, newer than the virtual controller's 1.37
}  // namespace

DemoController MakeDemoController(bool appMode) {
  if (appMode)
    return {std::make_shared<VirtualRunningFirmware>(), 0x0483, 0x5750};
  return {std::make_shared<VirtualBootLoader>(), 0x7A3D, 0x3208};
}

std::vector<uint8_t> DemoSampleDat() {
  // One record for the virtual boot loader's device type; the running firmware is sent the file's
  // first record, so the same file serves both modes.
  DatRecord record;
  record.version = kSampleVersion;
  record.deviceType = kDeviceType3009;
  record.image = MakeImage(kSampleImageSize, 7);
  return BuildDat({record});
}

void AddPlugActions(CUpdateWindow& window, VirtualHidPlatform& platform,
                    const DemoController& controller) {
  auto* plug = new QAction(QStringLiteral("Plug in the virtual controller"), &window);
  plug->setShortcut(QKeySequence(Qt::Key_F5));
  QObject::connect(plug, &QAction::triggered, &window, [&platform, controller] {
    if (!platform.IsPlugged(kDemoPath))
      platform.Plug(kDemoPath, controller.vendorId, controller.productId, controller.model);
  });
  auto* unplug = new QAction(QStringLiteral("Unplug the virtual controller"), &window);
  unplug->setShortcut(QKeySequence(Qt::Key_F6));
  QObject::connect(unplug, &QAction::triggered, &window, [&platform] {
    if (platform.IsPlugged(kDemoPath))
      platform.Unplug(kDemoPath);
  });
  window.addAction(plug);
  window.addAction(unplug);
  window.setContextMenuPolicy(Qt::ActionsContextMenu);
  window.setToolTip(QStringLiteral("Demo: F5 plugs the virtual controller in, F6 unplugs it"));
}
