#include "platform/linux/DesktopNotification.h"

namespace zv::platform {

base::Result<void> sendDesktopNotification(BusConnection& bus, const DesktopNotice& notice) {
  // The answer (the notification's number) is of no use: the call goes without a reply
  // handler, and its slot is dropped at once.
  auto call = bus.callAsync(
      "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
      "org.freedesktop.Notifications", "Notify",
      [&notice](sd_bus_message* m) {
        return sd_bus_message_append(m, "susssasa{sv}i", notice.application.c_str(), 0u,
                                     notice.icon.c_str(), notice.summary.c_str(),
                                     notice.body.c_str(), 0, 0, -1);
      },
      nullptr, nullptr);
  if (!call) return call.failure().prefixed("cannot send a desktop notification: ");
  return {};
}

}  // namespace zv::platform
