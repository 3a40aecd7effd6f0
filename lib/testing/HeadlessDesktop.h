// What the headless desktops of the focus tests share (GnomeShellSession, KWinSession):
// a temporary home and runtime folder, a private session bus the test reaches through
// control(), the compositor process, and Wayland client windows, each a copy of a test
// window program under the name of an application. Everything is stopped when the object
// goes: the windows, the compositor, then the buses.
//
// Threads: the main run loop's thread (control() is dispatched there).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/BusConnection.h"
#include "testing/ChildProcess.h"
#include "testing/PrivateBus.h"

namespace zv::testing {

class HeadlessDesktop {
 public:
  virtual ~HeadlessDesktop();
  HeadlessDesktop(const HeadlessDesktop&) = delete;
  HeadlessDesktop& operator=(const HeadlessDesktop&) = delete;

  // The session bus of the desktop ("unix:path=…") and the test's connection to it.
  const std::string& busAddress() const { return bus_->address(); }
  platform::BusConnection& control() { return *control_; }
  // The desktop's runtime folder ($XDG_RUNTIME_DIR).
  const std::filesystem::path& runtimeFolder() const { return runtime_; }

  // Opens a window of `program`, a copy of `windowProgram` (a Qt program that shows one
  // window), so that each program is an application of its own. Answers its process id,
  // or 0 with `why` set.
  pid_t openWindow(const std::filesystem::path& program, const std::filesystem::path& windowProgram,
                   std::string* why);
  // Ends the window of process `pid` (its application quits).
  void closeWindow(pid_t pid);

 protected:
  explicit HeadlessDesktop(std::filesystem::path folder) : folder_(std::move(folder)) {}
  // Creates the folders and the bus, and connects control(); false with `why` set.
  bool prepare(std::string* why);
  // Starts the compositor with the desktop's environment added to `environment`.
  bool startCompositor(const std::vector<std::string>& argv,
                       std::map<std::string, std::string> environment, std::string* why);
  // Runs the main loop until `condition` holds, up to a safety-net bound; when it does
  // not, `why` says that the compositor did not come up, with its last log line.
  bool waitForCompositor(const std::function<bool()>& condition, const std::string& name,
                         std::string* why);
  // Runs the main loop until `name` has an owner on the bus, as waitForCompositor().
  bool waitForName(const char* name, const std::string& compositor, std::string* why);
  std::string lastLogLine() const;

  const std::filesystem::path folder_;
  std::filesystem::path runtime_;
  std::filesystem::path home_;
  std::map<std::string, std::string> environment_;

 private:
  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<platform::BusConnection> control_;
  std::unique_ptr<ChildProcess> compositor_;
  std::vector<ChildProcess> windows_;
};

}  // namespace zv::testing
