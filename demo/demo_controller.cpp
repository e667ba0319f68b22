#include "demo/demo_controller.h"

#include <QAction>
#include <QKeySequence>

#include "ui/qt/update_window.h"

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
