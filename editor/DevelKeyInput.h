// The key tap's keyboard in devel mode: a FIFO instead of /dev/input, so that a page's key
// capture can be tried, and tested, without a keyboard to grab.
//
// Each line written to the FIFO is one key event, "KEY STATE [TIME]":
//
//   KEY    a Linux key name (KEY_B, KEY_LEFTCTRL, KEY_VOLUMEUP) or its number
//   STATE  1 pressed, 0 released, 2 auto-repeat
//   TIME   milliseconds on any clock the writer likes: the page hears the differences
//          between keys, so a script can give exact delays; without it, the time the
//          line is read
//
//   echo 'KEY_B 1 1000' >"$root/keys"; echo 'KEY_B 0 1080' >"$root/keys"
//
// A line that does not parse is dropped and the log says why. The editor holds the FIFO
// open for its whole life, so writers never wait for it; lines written while no key tap
// runs are dropped when the next tap starts, as keys typed then would have gone to
// another window.
//
// Threads: the thread of the tap's FdWatcher (the GUI thread).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output/InputDevices.h"

namespace zv::editor {

class DevelKeyInput : public output::InputDeviceSource {
 public:
  // Opens the FIFO at `path` (made by DevelMode). Nothing, with `error` set, when it
  // cannot be opened.
  static std::shared_ptr<DevelKeyInput> open(const std::filesystem::path& path, std::string* error);
  ~DevelKeyInput() override;
  DevelKeyInput(const DevelKeyInput&) = delete;
  DevelKeyInput& operator=(const DevelKeyInput&) = delete;

  // The FIFO's keyboard for a key tap; no pointing device (the mouse tap finds none).
  std::vector<std::shared_ptr<output::InputDevice>> open(output::InputDeviceKind kind,
                                                         std::string* problem) override;

  // One line → one key event; nothing for a line that is not one (`why` says why).
  // `nowNs` is the time given to a line without TIME.
  static std::optional<output::InputEvent> parseLine(const std::string& line, std::uint64_t nowNs,
                                                     std::string* why);

 private:
  explicit DevelKeyInput(int fd);
  class Device;
  std::shared_ptr<Device> device_;
};

}  // namespace zv::editor
