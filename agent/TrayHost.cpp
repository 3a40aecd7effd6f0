#include "TrayHost.h"

#include "platform/linux/DesktopNotification.h"

namespace zv::agent {

using log::ZVLogLevel;

const char* TrayHost::noticeSummary() {
  return "The Kinetra tray icon cannot be shown";
}

const char* TrayHost::noticeBody() {
  return "This desktop shows no status icons, so the icon with the profile menu stays "
         "hidden. On GNOME, install the package gnome-shell-extension-appindicator and "
         "switch on \"AppIndicator and KStatusNotifierItem Support\" in the Extensions "
         "application; the icon appears as soon as it can. Meanwhile profiles switch all "
         "the same: with 'kinetra use NAME' in a terminal, in the profile editor, and by "
         "the applications they are linked to.";
}

base::Result<std::unique_ptr<TrayHost>> TrayHost::open(std::unique_ptr<platform::BusConnection> bus,
                                                       std::function<void()> changed,
                                                       std::chrono::milliseconds grace) {
  std::unique_ptr<TrayHost> host(new TrayHost);
  TrayHost* h = host.get();
  h->changed_ = std::move(changed);
  auto watch = platform::StatusNotifierHostWatch::open(std::move(bus),
                                                       [h](bool present) { h->onChange(present); });
  if (!watch) return watch.failure();
  h->watch_ = std::move(*watch);
  h->grace_ = platform::RunLoop::main().addTimer(grace, [h] {
    h->grace_ = 0;
    if (h->present() != true) h->giveNotice();
  });
  return host;
}

TrayHost::~TrayHost() {
  if (grace_) platform::RunLoop::main().cancelTimer(grace_);
}

void TrayHost::shownOtherwise() {
  shownOtherwise_ = true;
}

void TrayHost::onChange(bool) {
  if (changed_) changed_();
}

void TrayHost::giveNotice() {
  if (shownOtherwise_ || noticeGiven_) return;
  noticeGiven_ = true;
  ZV_LOG_ONCE(logged_, ZVLogLevel::Critical, nullptr, "%@: %@", noticeSummary(), noticeBody());
  platform::DesktopNotice notice;
  notice.application = "Perch";
  notice.icon = "input-mouse";
  notice.summary = noticeSummary();
  notice.body = noticeBody();
  if (auto sent = platform::sendDesktopNotification(watch_->bus(), notice); !sent) {
    ZV_LOG(ZVLogLevel::Error, nullptr, "%@", sent.failure().message);
  }
}

}  // namespace zv::agent
