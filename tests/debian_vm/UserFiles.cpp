#include "UserFiles.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;

// Not the user's settings: caches, and the unit links and drop-ins the test itself makes.
bool skipped(const std::string& relative) {
  return relative.rfind(".cache", 0) == 0 || relative.rfind(".config/systemd", 0) == 0;
}

}  // namespace

FileContents userFiles(const std::string& home) {
  FileContents files;
  std::error_code error;
  fs::recursive_directory_iterator it(home, error), end;
  for (; !error && it != end; it.increment(error)) {
    const std::string relative = it->path().lexically_relative(home).string();
    if (skipped(relative)) {
      if (it->is_directory(error) && !it->is_symlink(error)) it.disable_recursion_pending();
      continue;
    }
    if (it->is_symlink(error)) {
      files[relative] = "-> " + fs::read_symlink(it->path(), error).string();
    } else if (it->is_regular_file(error)) {
      std::ifstream in(it->path(), std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      files[relative] = text.str();
    }
  }
  return files;
}

std::string firstLost(const FileContents& before, const FileContents& after) {
  for (const auto& [path, content] : before) {
    const auto found = after.find(path);
    if (found == after.end()) return "gone: " + path;
    if (found->second != content) return "changed: " + path;
  }
  return {};
}

}  // namespace zv::vmtest
