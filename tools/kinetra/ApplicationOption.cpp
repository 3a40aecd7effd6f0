#include "ApplicationOption.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/FrontmostApplication.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {

namespace fs = std::filesystem;

std::string applicationKeyFor(const std::string& application, std::string& error) {
  if (application.starts_with("file:")) {
    return zv::store::ZVProfileSwitcher::keyForApplication(application);
  }
  fs::path program = application;
  if (application.find('/') == std::string::npos) {
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/bin:/bin";
    program.clear();
    for (std::size_t start = 0; start <= folders.size();) {
      std::size_t end = folders.find(':', start);
      if (end == std::string::npos) end = folders.size();
      const fs::path candidate = fs::path(folders.substr(start, end - start)) / application;
      if (::access(candidate.c_str(), X_OK) == 0) {
        program = candidate;
        break;
      }
      start = end + 1;
    }
    if (program.empty()) {
      error = "no program '" + application + "' in PATH (give its path or a file: key)";
      return {};
    }
  }
  std::error_code ec;
  const fs::path resolved = fs::canonical(fs::absolute(program, ec), ec);
  if (ec) {
    error = "no program at " + program.string() + " (give an existing path or a file: key)";
    return {};
  }
  return zv::platform::applicationKey(resolved);
}

}  // namespace kinetra
