// What a user does so that the virtual devices and the taps can open their nodes: the
// fix that messages about /dev/uinput and /dev/input end with.
#pragma once

#include <string>

namespace zv::output {

std::string inputAccessAdvice();

}  // namespace zv::output
