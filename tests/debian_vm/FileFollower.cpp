#include "FileFollower.h"

#include <fstream>
#include <sstream>

#include "PollUntil.h"

namespace zv::vmtest {

bool linesInOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::istringstream in(text);
  std::size_t next = 0;
  for (std::string line; next < parts.size() && std::getline(in, line);) {
    if (line.find(parts[next]) != std::string::npos) ++next;
  }
  return next == parts.size();
}

std::string FileFollower::sinceMark() {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return {};
  std::string head;
  std::getline(in, head);
  in.clear();
  in.seekg(0, std::ios::end);
  const auto size = static_cast<std::size_t>(in.tellg());
  // A file that was started anew (shorter than the mark, or with another first line) is
  // read from its beginning.
  if (size < mark_ || head != head_) {
    mark_ = 0;
    head_ = head;
  }
  in.seekg(static_cast<std::streamoff>(mark_));
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void FileFollower::mark() {
  mark_ += sinceMark().size();
}

bool FileFollower::waitForInOrder(const std::vector<std::string>& texts,
                                  std::chrono::milliseconds bound) {
  return pollUntil([&] { return linesInOrder(sinceMark(), texts); }, bound);
}

}  // namespace zv::vmtest
