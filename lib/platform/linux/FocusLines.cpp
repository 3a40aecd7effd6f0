#include "platform/linux/FocusLines.h"

#include <filesystem>

namespace zv::platform {

namespace {

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

void FocusLines::append(std::string_view bytes) {
  buffer_.append(bytes);
}

std::optional<FocusedApplication> FocusLines::next() {
  for (;;) {
    const std::size_t end = buffer_.find('\n', offset_);
    if (end == std::string::npos) {
      // Keep at most one line's worth of an unfinished line.
      if (buffer_.size() - offset_ > kMaxFocusLine) {
        if (!discarding_) ++rejected_;
        discarding_ = true;
        offset_ = buffer_.size();
      }
      buffer_.erase(0, offset_);
      offset_ = 0;
      return std::nullopt;
    }
    const std::string_view raw(buffer_.data() + offset_, end - offset_);
    offset_ = end + 1;
    if (discarding_) {
      discarding_ = false;
      continue;
    }
    if (raw.size() > kMaxFocusLine) {
      ++rejected_;
      continue;
    }
    const std::string_view line = trimmed(raw);
    if (line.starts_with('#')) continue;
    if (line.empty() || line == "-") return FocusedApplication{};
    if (!line.starts_with('/') || line.find('\0') != std::string_view::npos) {
      ++rejected_;
      continue;
    }
    const std::filesystem::path executable{std::string(line)};
    return FocusedApplication{0, executable, executable.filename().string()};
  }
}

}  // namespace zv::platform
