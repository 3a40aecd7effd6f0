// Profiles of any size for the benchmarks, shaped like the demo mouse's, in the writer's
// own node text (so they round-trip exactly).
#pragma once

#include <string>

namespace zv::bench {

// The profile prototype of the source tree (data/tevnodes.prototype).
const std::string& prototypeText();

// One controller with its 20 controls; shift states of up to 100 triggers, each state
// after the first falling back to the first; each trigger one band whose command has a
// press block (key down, key up) and a release block (one key up).
std::string makeProfileText(int triggers);

}  // namespace zv::bench
