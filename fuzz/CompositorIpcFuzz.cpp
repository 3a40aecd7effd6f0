// Any bytes as what a compositor sends: sway/i3 IPC frames and their JSON, Hyprland
// event lines and request replies, focus FIFO lines. Reading must not crash, hang or grow without
// bound.
#include <cstdint>
#include <string_view>

#include "platform/FrontmostApplication.h"
#include "platform/linux/FocusLines.h"
#include "platform/linux/HyprlandEvents.h"
#include "platform/linux/SwayIpc.h"

using namespace zv::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Frames arriving in two pieces, split where the first byte says.
  const std::size_t cut = size ? data[0] % (size + 1) : 0;
  sway::MessageReader reader;
  reader.append(bytes.substr(0, cut));
  for (int piece = 0; piece < 2; ++piece) {
    while (auto message = reader.next()) {
      sway::focusFromTree(message->payload);
      sway::focusFromWindowEvent(message->payload);
      sway::focusFromWorkspaceEvent(message->payload);
    }
    if (piece == 0) reader.append(bytes.substr(cut));
  }
  sway::focusFromTree(bytes);

  hyprland::LineReader lines;
  lines.append(bytes);
  while (auto line = lines.next()) hyprland::isActiveWindowEvent(*line);
  hyprland::focusFromActiveWindowReply(bytes);

  // The same bytes as what a focus FIFO carries, in two pieces.
  FocusLines focus;
  focus.append(bytes.substr(0, cut));
  while (focus.next()) {
  }
  focus.append(bytes.substr(cut));
  while (focus.next()) {
  }
  normaliseApplicationKey(bytes);
  return 0;
}
