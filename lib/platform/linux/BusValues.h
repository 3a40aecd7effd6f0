// The arguments of a D-Bus message from outside, read whole into plain values before
// anything uses them: whatever a peer sends (another signature than expected, numbers of
// another width, nested containers, no arguments at all) is read without failing, and the
// readers that interpret the values check what they find. Used for the focus reports of
// GNOME Shell and KWin, the status-notifier watcher and GNOME Shell's extension list.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace zv::platform {

struct BusValue {
  // The D-Bus type letter: y b n q i u x t d h s o g for a basic value, a (array),
  // r (struct), e (dictionary entry) or v (variant) for a container.
  char type = 0;
  // Every integer type and booleans; 't' values above INT64_MAX are not kept (nothing).
  std::optional<std::int64_t> integer;
  double number = 0;            // 'd'
  std::string text;             // s o g
  std::vector<BusValue> items;  // a container's values; a variant holds one

  // An integer of any width, or a double that holds a whole number; through variants.
  std::optional<std::int64_t> asInteger() const;
  // A string, object path or signature; through variants.
  const std::string* asText() const;
  // A boolean (or another integer, non-zero being true); through variants.
  std::optional<bool> asBool() const;
  // In a dictionary (an array of entries) keyed by strings: the value of `key`, with
  // variants unwrapped; nothing when this is not such a dictionary or has no such key.
  const BusValue* member(std::string_view key) const;
  // The value a variant holds (itself when this is not a variant).
  const BusValue& unwrapped() const;
};

// Limits on what a message may hold before it is refused: more values than a focus
// report or an extension list ever carries, and less than would cost real memory.
inline constexpr std::size_t kMaxBusValues = 4096;
inline constexpr std::size_t kMaxBusDepth = 16;

// All arguments of `message` from its start. A failure (in kBusDomain) when sd-bus
// refuses the contents or the limits are passed; the message is rewound either way.
base::Result<std::vector<BusValue>> readBusValues(sd_bus_message* message);

// Where the focus reporters inside the desktops (our GNOME Shell extension, our KWin
// script) and the providers meet on the bus: the object path and the interface.
inline constexpr const char* kFocusObjectPath = "/com/zenvor/Kinetra/Focus";
inline constexpr const char* kFocusInterface = "com.zenvor.Kinetra.Focus1";

// A focus report: the process of the focused window (0: none, or unknown), the executable
// the desktop found for it (may be empty) and the name it shows for the window's
// application (may be empty).
struct FocusReport {
  std::int32_t pid = 0;
  std::string executable;
  std::string name;
};

// The focus report of the values (pid[, executable][, name]) or (pid, name) as the
// reporters send them: `withExecutable` says which form. Nothing when the first value is
// not a process id (an integer from 0 to the kernel's limit) or the others are not
// strings; an executable that is not an absolute path is dropped.
std::optional<FocusReport> focusReportFromValues(const std::vector<BusValue>& values,
                                                 bool withExecutable);

}  // namespace zv::platform
