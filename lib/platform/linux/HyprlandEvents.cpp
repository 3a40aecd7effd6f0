#include "platform/linux/HyprlandEvents.h"

#include <cmath>

#include "json/CJSONDeserializer.h"

namespace zv::platform::hyprland {

std::optional<std::string> LineReader::next() {
  if (failed_) return std::nullopt;
  const std::size_t newline = buffer_.find('\n', offset_);
  if (newline == std::string::npos) {
    if (buffer_.size() - offset_ > kMaxLine) failed_ = true;
    return std::nullopt;
  }
  if (newline - offset_ > kMaxLine) {
    failed_ = true;
    return std::nullopt;
  }
  std::string line = buffer_.substr(offset_, newline - offset_);
  offset_ = newline + 1;
  if (offset_ == buffer_.size()) {
    buffer_.clear();
    offset_ = 0;
  } else if (offset_ > 65536) {
    buffer_.erase(0, offset_);
    offset_ = 0;
  }
  return line;
}

bool isActiveWindowEvent(std::string_view line) {
  return line.starts_with("activewindow>>");
}

std::optional<Focus> focusFromActiveWindowReply(std::string_view reply) {
  const json::DictionaryPtr window = json::dictionaryWithJSONData(reply);
  if (!window) return std::nullopt;
  Focus focus;
  if (const json::Value* pid = window->find("pid"); pid && pid->isNumber()) {
    const double number = pid->asNumber();
    if (std::isfinite(number) && number > 0 && number < 4194305.0) {
      focus.pid = static_cast<pid_t>(number);
    }
  }
  if (const json::Value* name = window->find("class"); name && name->isString()) {
    focus.name = name->asString();
  }
  return focus;
}

}  // namespace zv::platform::hyprland
