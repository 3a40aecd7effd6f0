// What a virtual keyboard of the suite holds and emits, read back through evdev: the checks
// that a button press became a key and that no key stays held.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "GuestSession.h"

namespace zv::vmtest {

// The keys that `node` holds down now, read back through libevdev (EVIOCGKEY).
std::vector<unsigned> keysDown(const std::string& node);

// "KEY_PAGEDOWN, KEY_A", for failure messages.
std::string describeKeys(const std::vector<unsigned>& keys);

// The next key frame of `keyboard` must set `code` to `value`. Auto-repeats (value 2) of a
// held key are passed over, for as long as the bound: how many come depends on how slow
// the emulation is.
void expectKey(GuestSession& session, EvdevReader& keyboard, std::uint16_t code, std::int32_t value,
               const std::string& what);

}  // namespace zv::vmtest
