#include "ImageChooserPath.h"

namespace zv::editor {

std::string imagePathFromFileURL(std::string_view url) {
  if (url.substr(0, 5) != "file:") return {};
  std::string collapsed;
  collapsed.reserve(url.size());
  for (char c : url) {
    if (c == '/' && !collapsed.empty() && collapsed.back() == '/') continue;
    collapsed += c;
  }
  return collapsed.substr(5);
}

}  // namespace zv::editor
