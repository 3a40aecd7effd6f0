// Follows a file another program appends to (the agent's record of the events it gets):
// what was added since a mark, and waiting until lines in a given order have appeared.
// Not thread-safe.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace zv::vmtest {

class FileFollower {
 public:
  explicit FileFollower(std::string path) : path_(std::move(path)) {}

  // What the file holds beyond the mark, read now (empty while the file is missing).
  std::string sinceMark();
  // Moves the mark to the end of what the file holds now.
  void mark();
  // True once lines containing each of `texts`, in that order, follow the mark; false
  // when they do not within `bound`.
  bool waitForInOrder(const std::vector<std::string>& texts, std::chrono::milliseconds bound);

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::size_t mark_ = 0;
  // The file's first line when the mark was set: a program started again empties the file
  // and writes anew (its first line stamped with another time), which may already have
  // grown past the mark when it is looked at.
  std::string head_;
};

// Whether `text` holds lines containing each of `parts`, in that order (a later part in a
// later line).
bool linesInOrder(const std::string& text, const std::vector<std::string>& parts);

}  // namespace zv::vmtest
