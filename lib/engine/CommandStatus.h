// The status of a command run and of an action block's run.
#pragma once

#include <cstdint>

namespace zv::engine {

inline constexpr std::int32_t kCommandStarted = 1;
inline constexpr std::int32_t kCommandStopped = 2;    // the release phase runs
inline constexpr std::int32_t kCommandCancelled = 3;  // the release phase is skipped

}  // namespace zv::engine
