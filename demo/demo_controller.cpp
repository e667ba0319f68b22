#include "demo/demo_controller.h"

#include <QAction>
#include <QKeySequence>

#include "base/local_text.h"
#include "ui/qt/update_window.h"
#include "update/update_dlg.h"

void AddPlugActions(CUpdateWindow& window, VirtualHidPlatform& platform,
                    const DemoController& controller) {
  // The demo's own words, in the dialog's language.
  const bool chinese = window.Dialog()->Run().m_language == LANG_ZH_CN;
  auto words = [chinese](const char* english, const char* inChinese) {
    return QString::fromUtf8(chinese ? inChinese : english);
  };
  auto* plug = new QAction(words("Plug in the virtual controller", "插上虚拟手柄"), &window);
  plug->setShortcut(QKeySequence(Qt::Key_F5));
  QObject::connect(plug, &QAction::triggered, &window, [&platform, controller] {
    if (!platform.IsPlugged(kDemoPath))
      platform.Plug(kDemoPath, controller.vendorId, controller.productId, controller.model);
  });
  auto* unplug = new QAction(words("Unplug the virtual controller", "拔出虚拟手柄"), &window);
  unplug->setShortcut(QKeySequence(Qt::Key_F6));
  QObject::connect(unplug, &QAction::triggered, &window, [&platform] {
    if (platform.IsPlugged(kDemoPath))
      platform.Unplug(kDemoPath);
  });
  window.addAction(plug);
  window.addAction(unplug);
  window.setContextMenuPolicy(Qt::ActionsContextMenu);
  window.setToolTip(words("Demo: F5 plugs the virtual controller in, F6 unplugs it",
                          "演示：F5 插上虚拟手柄，F6 拔出"));
}
