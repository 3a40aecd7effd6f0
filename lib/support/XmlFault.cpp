#include "support/XmlFault.h"

#include <algorithm>
#include <vector>

namespace zv::support {

namespace {

// Deeper than any file of the suite; keeps the scan's memory small on hostile input.
constexpr std::size_t kMaximumDepth = 512;

struct Open {
  std::string name;
  std::size_t line;
};

// Names are shown as they are, cut short: a damaged file may hold anything.
std::string shown(std::string_view name) {
  std::string text(name.substr(0, 40));
  if (name.size() > 40) text += "…";
  return text;
}

bool isNameEnd(char c) {
  return c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

class Scanner {
 public:
  Scanner(std::string_view xml, std::span<const std::string_view> known)
      : xml_(xml), known_(known) {}

  std::optional<std::string> run() {
    std::size_t at = 0;
    while ((at = xml_.find('<', at)) != std::string_view::npos) {
      advanceLineTo(at);
      const std::string_view rest = xml_.substr(at);
      if (const auto skip = skipped(rest)) {
        const std::size_t end = xml_.find(*skip, at);
        if (end == std::string_view::npos) {
          return where(line_) + "'" + std::string(rest.substr(0, 4)) + "…' is never ended";
        }
        at = end + skip->size();
        continue;
      }
      const std::size_t close = xml_.find('>', at);
      if (close == std::string_view::npos) return where(line_) + "a tag is not ended with '>'";
      if (const auto fault = tag(xml_.substr(at + 1, close - at - 1))) return fault;
      at = close + 1;
    }
    if (!stack_.empty()) {
      const Open& open = stack_.back();
      return where(open.line) + "<" + shown(open.name) + "> is never closed";
    }
    if (!sawElement_) return std::string("no element at all");
    return std::nullopt;
  }

 private:
  static std::optional<std::string_view> skipped(std::string_view rest) {
    if (rest.starts_with("<!--")) return "-->";
    if (rest.starts_with("<![CDATA[")) return "]]>";
    if (rest.starts_with("<?")) return "?>";
    if (rest.starts_with("<!")) return ">";
    return std::nullopt;
  }

  void advanceLineTo(std::size_t at) {
    line_ +=
        static_cast<std::size_t>(std::count(xml_.begin() + static_cast<std::ptrdiff_t>(scanned_),
                                            xml_.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    scanned_ = at;
  }

  static std::string where(std::size_t line) { return "line " + std::to_string(line) + ": "; }

  // The inside of one tag, between '<' and '>'.
  std::optional<std::string> tag(std::string_view inside) {
    const bool closing = inside.starts_with('/');
    if (closing) inside.remove_prefix(1);
    const bool empty = !closing && inside.ends_with('/');
    std::size_t length = 0;
    while (length < inside.size() && !isNameEnd(inside[length])) ++length;
    const std::string_view name = inside.substr(0, length);
    if (name.empty()) return where(line_) + "a tag has no element name";
    sawElement_ = true;
    if (closing) {
      if (stack_.empty()) return where(line_) + "</" + shown(name) + "> closes nothing";
      if (stack_.back().name != name) {
        return where(line_) + "</" + shown(name) + "> does not close <" +
               shown(stack_.back().name) + "> (line " + std::to_string(stack_.back().line) + ")";
      }
      stack_.pop_back();
      return std::nullopt;
    }
    if (!known_.empty() && std::find(known_.begin(), known_.end(), name) == known_.end()) {
      return where(line_) + "<" + shown(name) + "> is not an element of this file";
    }
    if (empty) return std::nullopt;
    if (stack_.size() >= kMaximumDepth) {
      return where(line_) + "elements are nested more than " + std::to_string(kMaximumDepth) +
             " deep";
    }
    stack_.push_back({std::string(name), line_});
    return std::nullopt;
  }

  std::string_view xml_;
  std::span<const std::string_view> known_;
  std::vector<Open> stack_;
  std::size_t line_ = 1;
  std::size_t scanned_ = 0;
  bool sawElement_ = false;
};

}  // namespace

std::optional<std::string> locateXmlFault(std::string_view xml,
                                          std::span<const std::string_view> knownElements) {
  return Scanner(xml, knownElements).run();
}

}  // namespace zv::support
