#include "Report.h"

#include <iostream>

namespace kinetra {

int fail(std::string_view command, std::string_view message) {
  std::cerr << "kinetra " << command << ": " << message << "\n";
  return 1;
}

void warn(std::string_view command, std::string_view message) {
  std::cerr << "kinetra " << command << ": warning: " << message << "\n";
}

}  // namespace kinetra
