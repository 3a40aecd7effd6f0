#include "IO.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace kinetra {

std::optional<std::string> readInput(const std::string& path) {
  if (path == "-") {
    std::ostringstream buffer;
    buffer << std::cin.rdbuf();
    return buffer.str();
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::cerr << "kinetra: cannot read " << path << ": " << std::strerror(errno) << "\n";
    return std::nullopt;
  }
  std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) {
    std::cerr << "kinetra: cannot read " << path << ": " << std::strerror(errno) << "\n";
    return std::nullopt;
  }
  return data;
}

}  // namespace kinetra
