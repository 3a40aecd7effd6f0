#include "testing/TemporaryTree.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zv::testing {

TemporaryTree::TemporaryTree(Roots roots) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kinetra-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
  root_ = pattern;
  if (roots == Roots::kept) return;
  for (const char* folder : {"home", "share", "Applications", "run", "services", "udev", "sys"}) {
    std::filesystem::create_directories(root_ / folder);
  }
  setVariable("KINETRA_PREFIX", root_ / "prefix");
  setVariable("KINETRA_HOME", root_ / "home");
  setVariable("KINETRA_DATA_ROOT", root_ / "share");
  setVariable("KINETRA_APPLICATIONS", root_ / "Applications");
  setVariable("KINETRA_RUNTIME_DIR", root_ / "run");
  setVariable("KINETRA_SERVICES_DIR", root_ / "services");
  setVariable("KINETRA_UDEV_RULES_DIR", root_ / "udev");
  setVariable("KINETRA_SYSFS_ROOT", root_ / "sys");
}

TemporaryTree::~TemporaryTree() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void TemporaryTree::setVariable(const char* name, const std::filesystem::path& value) {
  if (!saved_.count(name)) {
    const char* old = std::getenv(name);
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  ::setenv(name, value.c_str(), 1);
}

std::filesystem::path TemporaryTree::write(const std::string& relative,
                                           const std::string& bytes) const {
  const auto file = root_ / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

std::string TemporaryTree::read(const std::string& relative) const {
  std::ifstream in(root_ / relative, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace zv::testing
