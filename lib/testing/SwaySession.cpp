#include "testing/SwaySession.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/linux/SwayIpc.h"
#include "platform/linux/UnixSocket.h"

namespace zv::testing {

namespace {

namespace fs = std::filesystem;

// The first entry of `folder` whose name starts with `prefix` and ends with `suffix`.
std::optional<fs::path> findEntry(const fs::path& folder, const std::string& prefix,
                                  const std::string& suffix) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(prefix) && name.ends_with(suffix)) return entry.path();
  }
  return std::nullopt;
}

// Waits (through inotify, up to a safety-net bound) until `folder` holds an entry that
// findEntry() finds.
std::optional<fs::path> waitForEntry(const fs::path& folder, const std::string& prefix,
                                     const std::string& suffix) {
  const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) return std::nullopt;
  ::inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MOVED_TO);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::optional<fs::path> found;
  while (!(found = findEntry(folder, prefix, suffix))) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) > 0) {
      char buffer[4096];
      while (::read(fd, buffer, sizeof buffer) > 0) {
      }
    }
  }
  ::close(fd);
  return found;
}

// sway binds its IPC socket a moment before it listens on it, so the file exists before a
// connection is accepted (it is refused in between). No event marks the moment it starts
// listening: the connection is tried until it is accepted, up to a safety-net bound.
bool waitUntilAccepting(const fs::path& socket) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (const auto fd = platform::connectUnixSocket(socket.string())) {
      ::close(*fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

}  // namespace

std::unique_ptr<SwaySession> SwaySession::start(const fs::path& runtimeFolder, std::string* why) {
  const auto sway = findProgram("sway");
  if (!sway) {
    *why = "sway is not installed (Debian package sway)";
    return nullptr;
  }
  std::unique_ptr<SwaySession> session(new SwaySession);
  session->runtime_ = runtimeFolder;
  fs::create_directories(runtimeFolder);
  {
    std::ofstream config(runtimeFolder / "config");
    config << "output HEADLESS-1 resolution 800x600\n";
  }
  ChildOptions options;
  options.environment = {{"XDG_RUNTIME_DIR", runtimeFolder.string()},
                         {"WLR_BACKENDS", "headless"},
                         {"WLR_LIBINPUT_NO_DEVICES", "1"},
                         {"WLR_RENDERER", "pixman"}};
  options.output = runtimeFolder / "sway.log";
  if (::geteuid() == 0) {
    const auto nobody = nobodyUser();
    if (!nobody) {
      *why = "sway refuses to run as root and there is no user 'nobody' to run it as";
      return nullptr;
    }
    options.uid = nobody->first;
    options.gid = nobody->second;
    if (::chown(runtimeFolder.c_str(), nobody->first, nobody->second) != 0) {
      *why = "cannot hand the runtime folder to 'nobody'";
      return nullptr;
    }
  }
  fs::permissions(runtimeFolder, fs::perms::owner_all);
  auto process =
      ChildProcess::start({sway->string(), "-c", (runtimeFolder / "config").string()}, options);
  if (!process) {
    *why = process.failure().message;
    return nullptr;
  }
  session->sway_ = std::make_unique<ChildProcess>(std::move(*process));
  const auto socket = waitForEntry(runtimeFolder, "sway-ipc.", ".sock");
  const auto display = socket ? findEntry(runtimeFolder, "wayland-", "") : std::nullopt;
  if (!socket || !display || !waitUntilAccepting(*socket)) {
    std::ifstream log(runtimeFolder / "sway.log");
    std::string last, line;
    while (std::getline(log, line)) last = line;
    *why = "sway did not come up headless here (" + last + ")";
    return nullptr;
  }
  session->socket_ = *socket;
  std::string name = display->filename().string();
  if (name.ends_with(".lock")) name.resize(name.size() - 5);
  session->waylandDisplay_ = name;
  session->clientOptions_ = options;
  session->clientOptions_.environment = {{"XDG_RUNTIME_DIR", runtimeFolder.string()},
                                         {"WAYLAND_DISPLAY", name}};
  session->clientOptions_.output = runtimeFolder / "clients.log";
  return session;
}

SwaySession::~SwaySession() {
  clients_.clear();
  sway_.reset();
}

pid_t SwaySession::openWindow(const fs::path& program, std::string* why) {
  const auto foot = findProgram("foot");
  if (!foot) {
    *why = "foot is not installed (Debian package foot), so no window can be opened";
    return 0;
  }
  std::error_code ec;
  fs::create_directories(program.parent_path(), ec);
  fs::copy_file(*foot, program, fs::copy_options::overwrite_existing, ec);
  fs::permissions(program,
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  ec);
  // The terminal runs cat, which waits on the terminal for ever: the window stays open.
  auto client = ChildProcess::start({program.string(), "cat"}, clientOptions_);
  if (!client) {
    *why = client.failure().message;
    return 0;
  }
  const pid_t pid = client->pid();
  clients_.push_back(std::move(*client));
  return pid;
}

std::string SwaySession::command(const std::string& text) {
  const auto connected = platform::connectUnixSocket(socket_.string());
  if (!connected) return {};
  const int fd = *connected;
  if (!platform::sendAll(fd, platform::sway::encodeMessage(platform::sway::kRunCommand, text))) {
    ::close(fd);
    return {};
  }
  platform::sway::MessageReader reader;
  std::string reply;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    std::string bytes;
    const auto received = platform::receiveAvailable(fd, bytes);
    const bool open = received && *received;
    reader.append(bytes);
    if (auto message = reader.next()) {
      reply = message->payload;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!open || reader.failed() || left.count() <= 0) break;
    pollfd ready{fd, POLLIN, 0};
    ::poll(&ready, 1, static_cast<int>(left.count()));
  }
  ::close(fd);
  return reply;
}

}  // namespace zv::testing
