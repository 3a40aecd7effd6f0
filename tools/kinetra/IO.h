// File input and output for the tool's subcommands. "-" names standard input.
#pragma once

#include <optional>
#include <string>

namespace kinetra {

// The whole file, or nothing after printing "kinetra: cannot read PATH: REASON".
std::optional<std::string> readInput(const std::string& path);

}  // namespace kinetra
