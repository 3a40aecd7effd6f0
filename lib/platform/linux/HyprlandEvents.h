// Hyprland's sockets, as far as following the focus needs them.
//
// The event socket (".socket2.sock") sends one line per event, "NAME>>DATA\n"; a focus
// change is "activewindow>>CLASS,TITLE" (both empty when no window has the focus). The
// request socket (".socket.sock") answers one request per connection and then closes
// it; "j/activewindow" answers the focused window as JSON, whose "pid" names its
// process ("{}" when there is none).
//
// These readers take the compositor's bytes and survive garbage.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace zv::platform::hyprland {

inline constexpr std::string_view kActiveWindowRequest = "j/activewindow";
// No event line is this long; a stream that says otherwise is not Hyprland's.
inline constexpr std::size_t kMaxLine = 1u << 20;

// Cuts the event stream into lines.
class LineReader {
 public:
  void append(std::string_view bytes) { buffer_.append(bytes); }
  // The next complete line without its newline; nothing when more bytes are needed or
  // a line grew beyond kMaxLine (then failed() is true).
  std::optional<std::string> next();
  bool failed() const { return failed_; }

 private:
  std::string buffer_;
  std::size_t offset_ = 0;
  bool failed_ = false;
};

// Whether the event line reports a focus change ("activewindow>>...", not the v2 form).
bool isActiveWindowEvent(std::string_view line);

struct Focus {
  pid_t pid = 0;     // 0: no window has the focus
  std::string name;  // the window's class
};

// The answer to kActiveWindowRequest; nothing when it is not a JSON object.
std::optional<Focus> focusFromActiveWindowReply(std::string_view reply);

}  // namespace zv::platform::hyprland
