// Keeping a damaged shared file before the user resets it. A file the suite cannot read
// (a mistyped tag in mappings.xml, say) is never written over from an empty reading; only
// an explicit reset replaces it, and the reset first copies it beside itself as
// "NAME.damaged-YYYYMMDD-HHMMSS", so that the user can still repair it by hand and take
// back what it held.
#pragma once

#include <chrono>
#include <filesystem>

#include "base/Result.h"

namespace zv::store {

// Copies `file` (following symbolic links) to a new file beside the name given,
// "NAME.damaged-" and `when` in local time, with "-2", "-3", … added when that name is
// taken. Answers the copy's path; fails, writing nothing, when the file cannot be read
// or the copy cannot be created.
base::Result<std::filesystem::path> keepDamagedCopy(
    const std::filesystem::path& file,
    std::chrono::system_clock::time_point when = std::chrono::system_clock::now());

}  // namespace zv::store
