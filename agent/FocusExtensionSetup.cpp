#include "FocusExtensionSetup.h"

#include "log/Log.h"
#include "platform/OpenFrontmostApplication.h"
#include "platform/RunLoop.h"
#include "platform/linux/GnomeShellExtensions.h"

namespace zv::agent {

using log::ZVLogLevel;
namespace platform = zv::platform;

void enableFocusExtensionOnFirstStart() {
  if (!platform::currentDesktopIs("GNOME") || platform::focusExtensionMarked()) return;
  auto bus = platform::BusConnection::openSession(platform::RunLoop::main());
  if (!bus) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "cannot enable the GNOME Shell focus extension: %@",
           bus.failure().message);
    return;
  }
  const std::string uuid = platform::kFocusExtensionUuid;
  const auto info = platform::extensionInfo(**bus, uuid);
  if (!info) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "cannot enable the GNOME Shell focus extension: %@",
           info.failure().message);
    return;
  }
  switch (info->state) {
    case platform::ExtensionState::Enabled:
      break;
    case platform::ExtensionState::NotInstalled:
    case platform::ExtensionState::Failed:
    case platform::ExtensionState::OutOfDate:
      ZV_LOG(ZVLogLevel::Critical, nullptr,
             "GNOME Shell cannot run the focus extension %@ (%@%@), so profiles linked to "
             "applications stay inactive; reinstalling the package puts it in place",
             uuid, platform::describe(info->state),
             info->error.empty() ? std::string() : ": " + info->error);
      return;
    default:
      if (auto enabled = platform::enableExtension(**bus, uuid); !enabled) {
        ZV_LOG(ZVLogLevel::Critical, nullptr,
               "%@; profiles linked to applications stay inactive until it is enabled "
               "('kinetra desktop enable')",
               enabled.failure().message);
        return;
      }
      ZV_LOG(ZVLogLevel::Notice, nullptr,
             "enabled the GNOME Shell focus extension %@ for this user ('kinetra desktop "
             "disable' turns it off)",
             uuid);
  }
  if (auto marked = platform::markFocusExtension("enabled"); !marked) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "%@", marked.failure().message);
  }
}

}  // namespace zv::agent
