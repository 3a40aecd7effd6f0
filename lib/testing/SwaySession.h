// A headless sway compositor for tests of the sway IPC provider, with real Wayland
// client windows. sway refuses to run as root, so a test running as root starts it
// (and its clients) as "nobody". Everything is stopped when the object goes.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "testing/ChildProcess.h"

namespace zv::testing {

class SwaySession {
 public:
  // Starts sway with its runtime files in `runtimeFolder` (created; it and its parents
  // must be reachable by "nobody" when the test runs as root). Nothing, with `why` set,
  // when sway is not installed or does not come up.
  static std::unique_ptr<SwaySession> start(const std::filesystem::path& runtimeFolder,
                                            std::string* why);
  ~SwaySession();

  // The IPC socket ($SWAYSOCK).
  const std::filesystem::path& socket() const { return socket_; }

  // Opens a terminal window (foot) running the executable `program`, a copy of foot
  // under another name, so two windows belong to two applications. Answers its process
  // id, or 0 when foot is not installed (then `why` says so).
  pid_t openWindow(const std::filesystem::path& program, std::string* why);
  // Runs an IPC command ("[pid=123] focus"); answers the compositor's reply.
  std::string command(const std::string& text);

 private:
  SwaySession() = default;
  std::filesystem::path runtime_;
  std::filesystem::path socket_;
  std::string waylandDisplay_;
  ChildOptions clientOptions_;
  std::unique_ptr<ChildProcess> sway_;
  std::vector<ChildProcess> clients_;
};

}  // namespace zv::testing
