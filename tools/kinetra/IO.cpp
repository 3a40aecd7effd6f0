#include "IO.h"

#include <unistd.h>

#include <iostream>

namespace kinetra {

std::optional<std::string> readInput(const std::string& path, std::size_t limit) {
  std::string bytes;
  std::string error;
  const bool read = path == "-" ? zv::platform::readAll(STDIN_FILENO, path, bytes, limit, &error)
                                : zv::platform::readFile(path, bytes, &error, limit);
  if (!read) {
    std::cerr << "kinetra: " << error << "\n";
    return std::nullopt;
  }
  return bytes;
}

}  // namespace kinetra
