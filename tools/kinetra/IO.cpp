#include "IO.h"

#include <unistd.h>

#include <iostream>

namespace kinetra {

std::optional<std::string> readInput(const std::string& path, std::size_t limit) {
  zv::base::Result<std::string> bytes = path == "-"
                                            ? zv::platform::readAll(STDIN_FILENO, path, limit)
                                            : zv::platform::readFile(path, limit);
  if (!bytes) {
    std::cerr << "kinetra: " << bytes.failure().message << "\n";
    return std::nullopt;
  }
  return std::move(*bytes);
}

}  // namespace kinetra
