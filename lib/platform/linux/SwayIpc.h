// The IPC protocol of sway and i3, as far as following the focus needs it.
//
// A message is the magic "i3-ipc", the payload's length and the message type (two 32-bit
// integers in the machine's byte order), then the payload, JSON text. Replies carry
// the type of their request; events have the high bit of the type set.
//
// Everything here reads the compositor's bytes and survives garbage: a frame that
// cannot be a message fails the reader, JSON that does not say what is expected
// answers nothing.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv::platform::sway {

inline constexpr std::string_view kMagic = "i3-ipc";
inline constexpr std::size_t kHeaderSize = 14;
// Trees of large desktops run to a few megabytes; anything beyond this is not sway.
inline constexpr std::uint32_t kMaxPayload = 64u << 20;

inline constexpr std::uint32_t kRunCommand = 0;
inline constexpr std::uint32_t kSubscribe = 2;
inline constexpr std::uint32_t kGetTree = 4;
inline constexpr std::uint32_t kWorkspaceEvent = 0x80000000u;
inline constexpr std::uint32_t kWindowEvent = 0x80000003u;

struct Message {
  std::uint32_t type = 0;
  std::string payload;
};

std::string encodeMessage(std::uint32_t type, std::string_view payload);

// Cuts a byte stream into messages.
class MessageReader {
 public:
  void append(std::string_view bytes) { buffer_.append(bytes); }
  // The next complete message; nothing when more bytes are needed or the stream is
  // broken (then failed() is true and error() says why, and nothing more is answered).
  std::optional<Message> next();
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  std::string buffer_;
  std::size_t offset_ = 0;
  std::string error_;
};

// Who has the focus according to one message.
struct Focus {
  pid_t pid = 0;     // 0: no window has the focus (or sway did not name a process)
  std::string name;  // app_id, else the X11 window class
};

// A "window" event with change "focus": its container. Nothing for other events.
std::optional<Focus> focusFromWindowEvent(std::string_view payload);
// A "workspace" event with change "focus" to a workspace without windows: no focus.
// Nothing for every other workspace event (a window of the new workspace reports itself).
std::optional<Focus> focusFromWorkspaceEvent(std::string_view payload);
// A GET_TREE reply: the focused window, or no focus when a workspace or an output has
// it. Nothing when the reply is not a tree.
std::optional<Focus> focusFromTree(std::string_view payload);

}  // namespace zv::platform::sway
