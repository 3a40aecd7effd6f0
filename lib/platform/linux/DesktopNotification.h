// A desktop notification (org.freedesktop.Notifications on the session bus): how a
// program without a window of its own tells the user something once.
#pragma once

#include <string>

#include "base/Result.h"
#include "platform/linux/BusConnection.h"

namespace zv::platform {

struct DesktopNotice {
  std::string application;  // who says it ("Perch")
  std::string icon;         // an icon name or file; may be empty
  std::string summary;      // one line
  std::string body;         // a few sentences
};

// Sends `notice` and does not wait: the desktop's notification server shows it when it
// can. Fails only when the call cannot be sent.
base::Result<void> sendDesktopNotification(BusConnection& bus, const DesktopNotice& notice);

}  // namespace zv::platform
