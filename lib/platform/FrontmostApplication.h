// Which application the user is working in: the one whose window has the keyboard
// focus. The application-linked profile switcher follows it.
//
// A provider speaks to the desktop in the desktop's own terms (an X11 root-window
// property, a compositor's IPC events) and reports each focus change to its observers
// on the run loop it was opened on. Providers are event-driven: they watch a descriptor
// on the run loop and never poll. openFrontmostApplication() picks the provider the
// session offers.
//
// An application is known by its executable (the target of /proc/<pid>/exe of the
// process that owns the focused window); applicationKey() turns that into the key under
// which profiles are linked.
//
// Threads: a provider belongs to the thread of its run loop (the main thread in the
// applications). Observers are called there, and addObserver(), removeObserver() and
// current() must be called there too.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace zv::platform {

// The application that owns the focused window. All fields empty (pid 0) when no window
// has the focus, for example on an empty workspace.
struct FocusedApplication {
  pid_t pid = 0;
  // The process's executable; empty when it cannot be found (the process has ended, it
  // belongs to another user, or the desktop did not say which process owns the window).
  std::filesystem::path executable;
  // What the desktop calls the window's application (X11 WM_CLASS, a Wayland app_id),
  // for display only; may be empty.
  std::string name;

  bool none() const { return pid == 0 && executable.empty() && name.empty(); }
  bool operator==(const FocusedApplication&) const = default;
};

// Finds the executable of a process. The Linux one reads /proc/<pid>/exe; tests pass
// their own.
using ExecutableLookup = std::function<std::optional<std::filesystem::path>(pid_t)>;

// The application of process `pid` (0 when the desktop did not say), known to the
// desktop as `name`: its executable found through `lookup`.
FocusedApplication applicationOfProcess(pid_t pid, std::string name,
                                        const ExecutableLookup& lookup);

// /proc/<pid>/exe with the kernel's " (deleted)" mark removed (an application updated
// while it runs still has its old path); nothing when the link cannot be read.
std::optional<std::filesystem::path> executableOfProcess(pid_t pid);

// "file:" followed by the executable's path as URL text, normalised: the key of an
// application in the links file. Characters a URL escapes are percent-escaped (a space
// is %20). Empty for an empty path.
std::string applicationKey(const std::filesystem::path& executable);

// Normalises URL text as a path: runs of slashes collapse to one, components that are a
// single dot are removed and a trailing slash is dropped. Percent escapes are kept as
// they are, so "file:///opt/My%20App/" becomes "file:/opt/My%20App".
std::string normaliseApplicationKey(std::string_view urlText);

class FrontmostApplication {
 public:
  using Observer = std::function<void(const FocusedApplication& application)>;
  using ObserverId = std::uint64_t;

  virtual ~FrontmostApplication() = default;
  FrontmostApplication(const FrontmostApplication&) = delete;
  FrontmostApplication& operator=(const FrontmostApplication&) = delete;

  // "X11", "sway", "Hyprland", ...: which desktop interface the provider speaks.
  virtual std::string_view providerName() const = 0;

  // The application focused at the last report; nothing before the provider has learnt
  // it (providers ask the desktop when they open, and report the answer as a change).
  const std::optional<FocusedApplication>& current() const { return current_; }

  // `observer` is called after every report from now on, also when the same
  // application is reported again (another of its windows took the focus). Answers an
  // id for removeObserver(); never 0.
  ObserverId addObserver(Observer observer);
  void removeObserver(ObserverId id);

  // Whether the provider still hears from the desktop; false once the connection broke
  // (the compositor or X server went away, or spoke garbage). Nothing is reported after
  // that; disconnectReason() says why.
  bool connected() const { return connected_; }
  const std::string& disconnectReason() const { return disconnectReason_; }

  // Empty while the provider hears from the desktop. Otherwise why it does not (yet), in
  // words for the user that say what to do, for example a desktop extension of ours that
  // is not enabled; reports may still come later, once it is.
  virtual std::string waitingFor() const { return {}; }

 protected:
  FrontmostApplication() = default;
  // Records `application` as current and tells every observer, in the order they were
  // added. An observer may add or remove observers, or destroy nothing else.
  void report(const FocusedApplication& application);
  void setDisconnected(std::string why) {
    connected_ = false;
    disconnectReason_ = std::move(why);
  }

 private:
  std::optional<FocusedApplication> current_;
  std::map<ObserverId, Observer> observers_;
  ObserverId nextId_ = 1;
  bool connected_ = true;
  std::string disconnectReason_;
};

}  // namespace zv::platform
