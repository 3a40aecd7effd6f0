// The providers of the focused application against real peers: an X server (Xvfb) whose
// root-window hints the test sets as a window manager would, a headless sway with two
// real client windows, and a stand-in for Hyprland's two sockets speaking its formats.
// Each skips, saying why, when its peer cannot run here.
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "platform/OpenFrontmostApplication.h"
#include "platform/RunLoop.h"
#include "platform/linux/HyprlandFrontmostApplication.h"
#include "platform/linux/SwayFrontmostApplication.h"
#include "platform/linux/UnixSocket.h"
#include "platform/linux/X11FrontmostApplication.h"
#include "testing/SwaySession.h"
#include "testing/TemporaryTree.h"
#include "testing/X11WindowManagerStandIn.h"
#include "testing/XvfbServer.h"

namespace zv::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A safety net only: a working provider answers at once.
constexpr auto kPatience = 20s;

bool waitFor(const std::function<bool()>& condition) {
  return RunLoop::main().runUntil(condition, kPatience);
}

bool focusedPid(const FrontmostApplication& provider, pid_t pid) {
  return provider.current() && provider.current()->pid == pid;
}

// --- X11 -------------------------------------------------------------------------------

using WindowManagerStandIn = testing::X11WindowManagerStandIn;

TEST(X11Provider, FollowsTheActiveWindowOfTheRoot) {
  std::string why;
  const auto server = testing::XvfbServer::start(&why);
  if (!server) GTEST_SKIP() << why;
  auto opened = X11FrontmostApplication::open(RunLoop::main(), server->display());
  ASSERT_TRUE(opened) << opened.failure().message;
  const auto provider = std::move(*opened);
  EXPECT_EQ(provider->providerName(), "X11");
  ASSERT_TRUE(provider->current());
  EXPECT_TRUE(provider->current()->none()) << "no window is active on a new server";
  EXPECT_FALSE(provider->windowManagerReportsFocus()) << "Xvfb runs no window manager";

  WindowManagerStandIn wm(server->display());
  const auto ours = wm.window(::getpid(), "kinetra-test");
  const auto xvfb = wm.window(server->pid(), "xvfb");
  const auto anonymous = wm.window(std::nullopt, "remote");

  wm.activate(ours);
  ASSERT_TRUE(waitFor([&] { return focusedPid(*provider, ::getpid()); }));
  EXPECT_EQ(provider->current()->executable, fs::read_symlink("/proc/self/exe"));
  EXPECT_EQ(provider->current()->name, "kinetra-test");

  wm.activate(xvfb);
  ASSERT_TRUE(waitFor([&] { return focusedPid(*provider, server->pid()); }));
  EXPECT_EQ(provider->current()->executable.filename(), "Xvfb");

  wm.activate(anonymous);
  ASSERT_TRUE(waitFor([&] { return provider->current()->name == "remote"; }));
  EXPECT_EQ(provider->current()->pid, 0);
  EXPECT_TRUE(provider->current()->executable.empty());

  wm.activate(XCB_WINDOW_NONE);
  ASSERT_TRUE(waitFor([&] { return provider->current()->none(); }));
  EXPECT_TRUE(provider->connected());
}

TEST(X11Provider, SaysWhenTheDisplayCannotBeOpened) {
  const auto refused = X11FrontmostApplication::open(RunLoop::main(), ":9999");
  ASSERT_FALSE(refused);
  EXPECT_TRUE(refused.failure().is(kX11FocusDomain, kX11Unusable));
  EXPECT_NE(refused.failure().message.find(":9999"), std::string::npos)
      << refused.failure().message;
}

// --- sway ------------------------------------------------------------------------------

TEST(SwayProvider, FollowsTheFocusBetweenTwoApplications) {
  testing::TemporaryTree tree;
  // sway runs as "nobody" when the test is root: it must reach its folders.
  ::chmod(tree.root().c_str(), 0711);
  std::string why;
  const auto sway = testing::SwaySession::start(tree.path("sway"), &why);
  if (!sway) GTEST_SKIP() << why;
  auto opened = SwayFrontmostApplication::open(RunLoop::main(), sway->socket().string());
  ASSERT_TRUE(opened) << opened.failure().message;
  const auto provider = std::move(*opened);
  ASSERT_TRUE(waitFor([&] { return provider->current().has_value(); }));
  EXPECT_TRUE(provider->current()->none()) << "an empty workspace has the focus at start";

  const fs::path appA = tree.path("bin/appA");
  const fs::path appB = tree.path("bin/appB");
  const pid_t a = sway->openWindow(appA, &why);
  if (!a) GTEST_SKIP() << why;
  ASSERT_TRUE(waitFor([&] { return focusedPid(*provider, a); }))
      << "the new window takes the focus";
  EXPECT_EQ(provider->current()->executable, appA);
  const pid_t b = sway->openWindow(appB, &why);
  ASSERT_TRUE(waitFor([&] { return focusedPid(*provider, b); }));
  EXPECT_EQ(provider->current()->executable, appB);

  EXPECT_NE(sway->command("[pid=" + std::to_string(a) + "] focus").find("true"), std::string::npos);
  ASSERT_TRUE(waitFor([&] { return focusedPid(*provider, a); }));
  EXPECT_EQ(applicationKey(provider->current()->executable), applicationKey(appA));

  sway->command("workspace 2");
  ASSERT_TRUE(waitFor([&] { return provider->current()->none(); }))
      << "an empty workspace takes the focus from every window";
}

// --- Hyprland --------------------------------------------------------------------------

// Hyprland's event socket and request socket, served from the main run loop.
class HyprlandStandIn {
 public:
  explicit HyprlandStandIn(const fs::path& folder) {
    fs::create_directories(folder);
    events_ = listenAt(folder / ".socket2.sock", [this] { acceptEventClient(); });
    requests_ = listenAt(folder / ".socket.sock", [this] { answerRequest(); });
  }
  ~HyprlandStandIn() {
    for (const auto& [fd, watch] : watches_) {
      RunLoop::main().unwatchFd(watch);
      ::close(fd);
    }
    for (const int fd : eventClients_) ::close(fd);
  }

  // Makes the window of `pid` the focused one and announces it.
  void focus(pid_t pid, const std::string& name) {
    reply = R"({"address":"0x1","class":")" + name + R"(","title":"t","pid":)" +
            std::to_string(pid) + "}";
    broadcast("openwindow>>1,2,x,y\nactivewindow>>" + name + ",t\nactivewindowv2>>1\n");
  }
  void broadcast(const std::string& bytes) {
    for (const int fd : eventClients_) (void)sendAll(fd, bytes);
  }
  void dropEventClients() {
    for (const int fd : eventClients_) ::close(fd);
    eventClients_.clear();
  }

  std::size_t eventClients() const { return eventClients_.size(); }

  std::string reply = "{}";
  int requestsAnswered = 0;

 private:
  int listenAt(const fs::path& path, std::function<void()> onReady) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, 8), 0);
    watches_[fd] = RunLoop::main().watchFd(fd, EPOLLIN, [onReady](std::uint32_t) { onReady(); });
    return fd;
  }
  void acceptEventClient() {
    const int client = ::accept4(events_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) eventClients_.push_back(client);
  }
  // The request arrives right after the connection; a blocking read of it is fine for a
  // stand-in (the provider sends it at once).
  void answerRequest() {
    const int client = ::accept4(requests_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    char request[256] = {};
    const ssize_t n = ::read(client, request, sizeof request - 1);
    if (n > 0 && std::string(request) == "j/activewindow") {
      (void)sendAll(client, reply);
      ++requestsAnswered;
    } else {
      (void)sendAll(client, "unknown request");
    }
    ::close(client);
  }

  int events_ = -1;
  int requests_ = -1;
  std::map<int, RunLoop::WatchId> watches_;
  std::vector<int> eventClients_;
};

TEST(HyprlandProvider, AsksWhoHasTheFocusWheneverTheEventSocketSaysItMoved) {
  testing::TemporaryTree tree;
  HyprlandStandIn hyprland(tree.path("hypr/sig"));
  auto opened = HyprlandFrontmostApplication::open(RunLoop::main(), tree.path("hypr/sig"));
  ASSERT_TRUE(opened) << opened.failure().message;
  const auto provider = std::move(*opened);
  ASSERT_TRUE(waitFor([&] { return provider->current().has_value(); }));
  EXPECT_TRUE(provider->current()->none());
  ASSERT_TRUE(waitFor([&] { return hyprland.eventClients() == 1; }));

  hyprland.focus(::getpid(), "kinetra");
  ASSERT_TRUE(waitFor([&] { return focusedPid(*provider, ::getpid()); }));
  EXPECT_EQ(provider->current()->executable, fs::read_symlink("/proc/self/exe"));
  EXPECT_EQ(provider->current()->name, "kinetra");
  EXPECT_EQ(hyprland.requestsAnswered, 2) << "one question at start, one for the change";

  // A reply that is not JSON changes nothing; the provider goes on listening.
  hyprland.reply = "garbage";
  hyprland.broadcast("activewindow>>x,y\n");
  ASSERT_TRUE(waitFor([&] { return hyprland.requestsAnswered == 3; }));
  RunLoop::main().dispatchPending();
  EXPECT_TRUE(focusedPid(*provider, ::getpid()));
  hyprland.focus(1, "init");
  ASSERT_TRUE(waitFor([&] { return focusedPid(*provider, 1); }));

  hyprland.dropEventClients();
  ASSERT_TRUE(waitFor([&] { return !provider->connected(); }));
}

TEST(HyprlandProvider, DropsAnEventStreamThatIsNotHyprlands) {
  testing::TemporaryTree tree;
  HyprlandStandIn hyprland(tree.path("hypr/sig"));
  auto opened = HyprlandFrontmostApplication::open(RunLoop::main(), tree.path("hypr/sig"));
  ASSERT_TRUE(opened);
  const auto provider = std::move(*opened);
  ASSERT_TRUE(waitFor([&] { return hyprland.eventClients() == 1; }));
  // More than the socket holds: sent from another thread while the loop reads.
  std::thread sender([&] { hyprland.broadcast(std::string(hyprland::kMaxLine + 16, 'x')); });
  EXPECT_TRUE(waitFor([&] { return !provider->connected(); }));
  sender.join();  // the provider has hung up, so the send ends
}

// --- The choice ----------------------------------------------------------------------------

// Sets the session's variables for one test and restores them afterwards.
class Session {
 public:
  explicit Session(std::map<std::string, std::string> variables) {
    for (const char* name : {"HYPRLAND_INSTANCE_SIGNATURE", "SWAYSOCK", "I3SOCK", "WAYLAND_DISPLAY",
                             "DISPLAY", "XDG_CURRENT_DESKTOP", "XDG_RUNTIME_DIR"}) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
      ::unsetenv(name);
    }
    for (const auto& [name, value] : variables) ::setenv(name.c_str(), value.c_str(), 1);
  }
  ~Session() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(OpenFrontmostApplication, TakesTheProviderTheSessionOffers) {
  testing::TemporaryTree tree;
  HyprlandStandIn hyprland(tree.path("run/hypr/abc"));
  {
    Session session({{"HYPRLAND_INSTANCE_SIGNATURE", "abc"},
                     {"XDG_RUNTIME_DIR", tree.path("run").string()},
                     {"WAYLAND_DISPLAY", "wayland-1"}});
    const auto choice = openFrontmostApplication(RunLoop::main());
    ASSERT_TRUE(choice.provider) << choice.unavailable;
    EXPECT_EQ(choice.provider->providerName(), "Hyprland");
  }
  {
    Session session(
        {{"HYPRLAND_INSTANCE_SIGNATURE", "gone"}, {"XDG_RUNTIME_DIR", tree.path("run").string()}});
    const auto choice = openFrontmostApplication(RunLoop::main());
    EXPECT_FALSE(choice.provider);
    EXPECT_NE(choice.unavailable.find("Hyprland"), std::string::npos);
  }
  {
    Session session({{"SWAYSOCK", tree.path("nothing.sock").string()}, {"DISPLAY", ":1"}});
    const auto choice = openFrontmostApplication(RunLoop::main());
    EXPECT_FALSE(choice.provider);
    EXPECT_NE(choice.unavailable.find("SWAYSOCK"), std::string::npos) << choice.unavailable;
  }
}

TEST(OpenFrontmostApplication, SaysOnceWhyLinksAreInactiveOnOtherDesktops) {
  {
    Session session(
        {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "Weston"}, {"DISPLAY", ":0"}});
    const auto choice = openFrontmostApplication(RunLoop::main());
    EXPECT_FALSE(choice.provider);
    EXPECT_EQ(choice.unavailable,
              "the desktop (Weston) does not tell other programs which application has the focus; "
              "profiles linked to applications stay inactive");
  }
  {
    Session session({});
    const auto choice = openFrontmostApplication(RunLoop::main());
    EXPECT_FALSE(choice.provider);
    EXPECT_NE(choice.unavailable.find("no desktop session"), std::string::npos);
  }
}

}  // namespace
}  // namespace zv::platform
