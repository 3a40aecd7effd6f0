// A temporary folder for one test, with every root of the suite's paths moved into
// it (home, data, applications, runtime, services). Removed, and the environment
// restored, when the object goes away. A tree made with Roots::kept is a plain scratch
// folder: the roots stay where they are (a fixture inside a test that has its own tree).
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace zv::testing {

class TemporaryTree {
 public:
  enum class Roots { moved, kept };
  explicit TemporaryTree(Roots roots = Roots::moved);
  ~TemporaryTree();
  TemporaryTree(const TemporaryTree&) = delete;
  TemporaryTree& operator=(const TemporaryTree&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path path(const std::string& relative) const { return root_ / relative; }
  // Writes a file (creating its folders) and answers its path.
  std::filesystem::path write(const std::string& relative, const std::string& bytes) const;
  std::string read(const std::string& relative) const;

 private:
  void setVariable(const char* name, const std::filesystem::path& value);

  std::filesystem::path root_;
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace zv::testing
