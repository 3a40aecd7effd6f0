// File input for the tool's subcommands. "-" names standard input.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/ReadFile.h"

namespace kinetra {

// The whole input, or nothing after printing "kinetra: cannot read PATH: REASON". Only
// regular files are read (a FIFO or a device is refused before it is opened), standard
// input aside, and never more than `limit` bytes.
std::optional<std::string> readInput(const std::string& path,
                                     std::size_t limit = zv::platform::kDefaultReadLimit);

}  // namespace kinetra
