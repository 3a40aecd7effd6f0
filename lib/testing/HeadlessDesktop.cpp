#include "testing/HeadlessDesktop.h"

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <fstream>

#include "platform/RunLoop.h"

namespace zv::testing {

namespace fs = std::filesystem;

namespace {
// A safety net only: the desktops come up in a few seconds.
constexpr std::chrono::seconds kPatience{60};
}  // namespace

HeadlessDesktop::~HeadlessDesktop() {
  windows_.clear();
  compositor_.reset();
  control_.reset();
  bus_.reset();
}

bool HeadlessDesktop::prepare(std::string* why) {
  runtime_ = folder_ / "run";
  home_ = folder_ / "home";
  std::error_code ec;
  fs::create_directories(runtime_, ec);
  fs::create_directories(home_ / ".config", ec);
  fs::permissions(runtime_, fs::perms::owner_all, ec);
  bus_ = PrivateBus::start(folder_ / "bus", why);
  if (!bus_) return false;
  auto control = platform::BusConnection::open(platform::RunLoop::main(), bus_->address());
  if (!control) {
    *why = control.failure().message;
    return false;
  }
  control_ = std::move(*control);
  environment_ = {{"XDG_RUNTIME_DIR", runtime_.string()},
                  {"HOME", home_.string()},
                  {"XDG_CONFIG_HOME", (home_ / ".config").string()},
                  {"DBUS_SESSION_BUS_ADDRESS", bus_->address()},
                  {"NO_AT_BRIDGE", "1"}};
  return true;
}

bool HeadlessDesktop::startCompositor(const std::vector<std::string>& argv,
                                      std::map<std::string, std::string> environment,
                                      std::string* why) {
  ChildOptions options;
  options.environment = environment_;
  options.environment.merge(environment);
  options.output = folder_ / "compositor.log";
  auto process = ChildProcess::start(argv, options);
  if (!process) {
    *why = "cannot start " + argv.front();
    return false;
  }
  compositor_ = std::make_unique<ChildProcess>(std::move(*process));
  return true;
}

bool HeadlessDesktop::waitForCompositor(const std::function<bool()>& condition,
                                        const std::string& name, std::string* why) {
  if (platform::RunLoop::main().runUntil(condition, kPatience)) return true;
  *why = name + " did not come up headless here (" + lastLogLine() + ")";
  return false;
}

bool HeadlessDesktop::waitForName(const char* name, const std::string& compositor,
                                  std::string* why) {
  bool owned = false;
  // The bus handles the match before the question below, which comes after it.
  const auto match = control_->followOwner(
      name,
      [](sd_bus_message*, void* flag, sd_bus_error*) {
        *static_cast<bool*>(flag) = true;
        return 0;
      },
      &owned);
  const auto reply = control_->call(
      "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      [name](sd_bus_message* m) { return sd_bus_message_append(m, "s", name); });
  int present = 0;
  if (reply && sd_bus_message_read(reply->get(), "b", &present) > 0 && present) return true;
  return waitForCompositor([&] { return owned; }, compositor, why);
}

std::string HeadlessDesktop::lastLogLine() const {
  std::ifstream log(folder_ / "compositor.log");
  std::string last, line;
  while (std::getline(log, line)) {
    if (!line.empty()) last = line;
  }
  return last.empty() ? "it wrote nothing" : last;
}

pid_t HeadlessDesktop::openWindow(const fs::path& program, const fs::path& windowProgram,
                                  std::string* why) {
  std::error_code ec;
  fs::create_directories(program.parent_path(), ec);
  fs::copy_file(windowProgram, program, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    *why = "cannot copy the test window program " + windowProgram.string() + ": " + ec.message();
    return 0;
  }
  fs::permissions(program, fs::perms::owner_all, ec);
  ChildOptions options;
  options.environment = environment_;
  options.environment["QT_QPA_PLATFORM"] = "wayland";
  options.environment["WAYLAND_DISPLAY"] = "wayland-0";
  options.output = folder_ / (program.filename().string() + ".log");
  auto window = ChildProcess::start({program.string()}, options);
  if (!window) {
    *why = "cannot start " + program.string();
    return 0;
  }
  const pid_t pid = window->pid();
  windows_.push_back(std::move(*window));
  return pid;
}

void HeadlessDesktop::closeWindow(pid_t pid) {
  std::erase_if(windows_, [pid](const ChildProcess& window) { return window.pid() == pid; });
}

}  // namespace zv::testing
