// What a mouse must do on its evdev node, whichever way its reports got there: the kernel's
// own path, or the driver daemon's rewritten device. The same steps check both, so "moves
// and clicks like the original" means exactly that.
#pragma once

#include <functional>
#include <string>

#include "GuestSession.h"

namespace zv::vmtest {

// Sends one report of the physical mouse (uhid or USB).
using SendReport = std::function<void(const MouseInput&)>;

// Motion in small and full 16-bit steps both ways arrives exact.
std::string expectMotion(GuestSession& session, EvdevReader& reader, const SendReport& send);
// Buttons 1 to 5 press and release as BTN_LEFT..BTN_EXTRA; a chord arrives in one frame.
std::string expectButtons(GuestSession& session, EvdevReader& reader, const SendReport& send);
// Wheel steps arrive whole and, where the node has it, in hi-res units.
std::string expectWheel(GuestSession& session, EvdevReader& reader, const SendReport& send);

}  // namespace zv::vmtest
