#include "testing/KWinSession.h"

#include <chrono>
#include <fstream>

#include "platform/RunLoop.h"

namespace zv::testing {

namespace fs = std::filesystem;

std::unique_ptr<KWinSession> KWinSession::start(const fs::path& folder, std::string* why) {
  const auto kwin = findProgram("kwin_wayland");
  if (!kwin) {
    *why = "KWin is not installed (Debian package kwin-wayland)";
    return nullptr;
  }
  std::unique_ptr<KWinSession> session(new KWinSession(folder));
  if (!session->prepare(why)) return nullptr;
  // A copy: the installed program's file capability is refused by some machines, and
  // a copy carries none.
  std::error_code ec;
  const fs::path copy = folder / "bin/kwin_wayland";
  fs::create_directories(copy.parent_path(), ec);
  fs::copy_file(*kwin, copy, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    *why = "cannot copy kwin_wayland: " + ec.message();
    return nullptr;
  }
  std::ofstream(session->home_ / ".config/kwinrc") << "[Desktops]\nNumber=2\nRows=1\n";
  if (!session->startCompositor(
          {copy.string(), "--virtual", "--no-lockscreen", "--no-global-shortcuts", "--width", "800",
           "--height", "600"},
          {{"XDG_CURRENT_DESKTOP", "KDE"}, {"XDG_SESSION_TYPE", "wayland"}, {"KWIN_COMPOSE", "Q"}},
          why) ||
      !session->waitForName("org.kde.KWin", "KWin", why)) {
    return nullptr;
  }
  // KWin takes its name a moment before its scripting interface is there, and says
  // nothing when it is: the test asks until it answers.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!session->control().call(
      "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "isScriptLoaded",
      [](sd_bus_message* m) { return sd_bus_message_append(m, "s", ""); })) {
    if (std::chrono::steady_clock::now() > deadline) {
      *why = "KWin's scripting interface did not come up";
      return nullptr;
    }
    platform::RunLoop::main().dispatchPending(std::chrono::milliseconds(10));
  }
  return session;
}

bool KWinSession::showDesktop(int desktop) {
  const auto reply = control().call(
      "org.kde.KWin", "/KWin", "org.kde.KWin", "setCurrentDesktop",
      [desktop](sd_bus_message* m) { return sd_bus_message_append(m, "i", desktop); });
  int done = 0;
  return reply && sd_bus_message_read(reply->get(), "b", &done) > 0 && done;
}

}  // namespace zv::testing
