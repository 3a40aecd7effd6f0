#include "testing/GnomeShellSession.h"

#include <unistd.h>

#include <fstream>

#include "platform/RunLoop.h"

namespace zv::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kTestExtension = "focus-test@kinetra.zenvor.com";
constexpr const char* kTestPath = "/com/zenvor/Kinetra/FocusTest";
constexpr const char* kTestInterface = "com.zenvor.Kinetra.FocusTest1";

}  // namespace

std::unique_ptr<GnomeShellSession> GnomeShellSession::start(const fs::path& folder,
                                                            const std::vector<fs::path>& extensions,
                                                            std::string* why) {
  const auto shell = findProgram("gnome-shell");
  const auto unshare = findProgram("unshare");
  if (!shell) {
    *why = "GNOME Shell is not installed (Debian package gnome-shell)";
    return nullptr;
  }
  std::error_code ec;
  const bool seats = fs::exists("/run/systemd/seats", ec);
  if (seats && (::geteuid() != 0 || !unshare)) {
    *why =
        "GNOME Shell needs a private mount namespace here (to hide /run/systemd/seats), "
        "which only root can make";
    return nullptr;
  }
  std::unique_ptr<GnomeShellSession> session(new GnomeShellSession(folder));
  if (!session->prepare(why)) return nullptr;
  session->systemBus_ = PrivateBus::start(folder / "system-bus", why);
  if (!session->systemBus_) return nullptr;

  // The extensions, where the shell looks for system-wide ones ($XDG_DATA_DIRS).
  const fs::path data = folder / "data";
  fs::create_directories(data / "gnome-shell/extensions", ec);
  for (const fs::path& extension : extensions) {
    fs::create_symlink(fs::absolute(extension),
                       data / "gnome-shell/extensions" / extension.filename(), ec);
  }
  // Settings in a key file of the session: the test extension is enabled from the start.
  const fs::path settings = session->home_ / ".config/glib-2.0/settings";
  fs::create_directories(settings, ec);
  std::ofstream(settings / "keyfile")
      << "[org/gnome/shell]\nenabled-extensions=['" << kTestExtension << "']\n";

  bool ready = false;
  sd_bus_slot* slot = nullptr;
  sd_bus_match_signal(
      session->control().bus(), &slot, nullptr, kTestPath, kTestInterface, "Ready",
      [](sd_bus_message*, void* flag, sd_bus_error*) {
        *static_cast<bool*>(flag) = true;
        return 0;
      },
      &ready);
  const platform::BusSlot readySignal(slot);

  std::string command =
      "exec " + shell->string() + " --headless --wayland --no-x11 --virtual-monitor 800x600";
  std::vector<std::string> argv = {"/bin/sh", "-c", command};
  if (seats) {
    argv = {unshare->string(), "--mount", "/bin/sh", "-c",
            "mount -t tmpfs tmpfs /run/systemd && " + command};
  }
  const std::string dataDirs = data.string() + ":/usr/local/share:/usr/share";
  if (!session->startCompositor(argv,
                                {{"XDG_DATA_DIRS", dataDirs},
                                 {"GSETTINGS_BACKEND", "keyfile"},
                                 {"DBUS_SYSTEM_BUS_ADDRESS", session->systemBus_->address()},
                                 {"XDG_CURRENT_DESKTOP", "GNOME"},
                                 {"XDG_SESSION_TYPE", "wayland"}},
                                why) ||
      !session->waitForCompositor([&] { return ready; }, "GNOME Shell", why)) {
    return nullptr;
  }
  return session;
}

GnomeShellSession::~GnomeShellSession() = default;

bool GnomeShellSession::activate(pid_t pid) {
  const auto reply = control().call(
      "org.gnome.Shell", kTestPath, kTestInterface, "Activate", [pid](sd_bus_message* m) {
        return sd_bus_message_append(m, "u", static_cast<std::uint32_t>(pid));
      });
  int found = 0;
  return reply && sd_bus_message_read(reply->get(), "b", &found) > 0 && found;
}

}  // namespace zv::testing
