#include "platform/linux/SwayIpc.h"

#include <cmath>
#include <cstring>

#include "json/CJSONDeserializer.h"

namespace zv::platform::sway {

namespace {

using json::DictionaryPtr;
using json::Value;

std::string textOf(const json::Dictionary& node, std::string_view key) {
  const Value* value = node.find(key);
  return value && value->isString() ? value->asString() : std::string();
}

bool isTrue(const json::Dictionary& node, std::string_view key) {
  const Value* value = node.find(key);
  return value && value->type() == Value::Type::Boolean && value->asBoolean();
}

Focus focusOfContainer(const json::Dictionary& node) {
  Focus focus;
  if (const Value* pid = node.find("pid"); pid && pid->isNumber()) {
    const double number = pid->asNumber();
    if (std::isfinite(number) && number > 0 && number < 4194305.0) {
      focus.pid = static_cast<pid_t>(number);
    }
  }
  focus.name = textOf(node, "app_id");
  if (focus.name.empty()) {
    if (const Value* properties = node.find("window_properties");
        properties && properties->isDictionary()) {
      focus.name = textOf(*properties->asDictionary(), "class");
    }
  }
  return focus;
}

bool isWindow(const json::Dictionary& node) {
  const std::string type = textOf(node, "type");
  return type == "con" || type == "floating_con";
}

bool hasChildren(const json::Dictionary& node, std::string_view key) {
  const Value* children = node.find(key);
  return children && children->isArray() && !children->asArray()->empty();
}

// The focused node below `node` (depth is bounded by the JSON reader's nesting limit).
const json::Dictionary* findFocused(const json::Dictionary& node) {
  if (isTrue(node, "focused")) return &node;
  for (const char* key : {"nodes", "floating_nodes"}) {
    const Value* children = node.find(key);
    if (!children || !children->isArray()) continue;
    for (const Value& child : *children->asArray()) {
      if (!child.isDictionary()) continue;
      if (const auto* found = findFocused(*child.asDictionary())) return found;
    }
  }
  return nullptr;
}

}  // namespace

std::string encodeMessage(std::uint32_t type, std::string_view payload) {
  std::string bytes(kMagic);
  const auto length = static_cast<std::uint32_t>(payload.size());
  bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
  bytes.append(reinterpret_cast<const char*>(&type), sizeof type);
  bytes.append(payload);
  return bytes;
}

std::optional<Message> MessageReader::next() {
  if (failed()) return std::nullopt;
  const std::size_t available = buffer_.size() - offset_;
  if (available < kHeaderSize) return std::nullopt;
  const char* header = buffer_.data() + offset_;
  if (std::string_view(header, kMagic.size()) != kMagic) {
    error_ = "the compositor sent bytes that are not an IPC message";
    return std::nullopt;
  }
  std::uint32_t length;
  std::uint32_t type;
  std::memcpy(&length, header + 6, sizeof length);
  std::memcpy(&type, header + 10, sizeof type);
  if (length > kMaxPayload) {
    error_ = "the compositor announced a message of " + std::to_string(length) + " bytes";
    return std::nullopt;
  }
  if (available - kHeaderSize < length) return std::nullopt;
  Message message{type, buffer_.substr(offset_ + kHeaderSize, length)};
  offset_ += kHeaderSize + length;
  // Keep the buffer from growing without end on a long-lived connection.
  if (offset_ == buffer_.size()) {
    buffer_.clear();
    offset_ = 0;
  } else if (offset_ > 65536) {
    buffer_.erase(0, offset_);
    offset_ = 0;
  }
  return message;
}

std::optional<Focus> focusFromWindowEvent(std::string_view payload) {
  const DictionaryPtr event = json::dictionaryWithJSONData(payload);
  if (!event || textOf(*event, "change") != "focus") return std::nullopt;
  const Value* container = event->find("container");
  if (!container || !container->isDictionary()) return std::nullopt;
  return focusOfContainer(*container->asDictionary());
}

std::optional<Focus> focusFromWorkspaceEvent(std::string_view payload) {
  const DictionaryPtr event = json::dictionaryWithJSONData(payload);
  if (!event || textOf(*event, "change") != "focus") return std::nullopt;
  const Value* current = event->find("current");
  if (!current || !current->isDictionary()) return std::nullopt;
  const json::Dictionary& workspace = *current->asDictionary();
  if (hasChildren(workspace, "nodes") || hasChildren(workspace, "floating_nodes")) {
    return std::nullopt;
  }
  return Focus{};
}

std::optional<Focus> focusFromTree(std::string_view payload) {
  const DictionaryPtr tree = json::dictionaryWithJSONData(payload);
  if (!tree) return std::nullopt;
  const json::Dictionary* focused = findFocused(*tree);
  if (!focused || !isWindow(*focused)) return Focus{};
  return focusOfContainer(*focused);
}

}  // namespace zv::platform::sway
