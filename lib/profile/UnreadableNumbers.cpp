#include "profile/UnreadableNumbers.h"

#include "profile/ZVPrototypedObject.h"
#include "text/Characters.h"
#include "text/Numbers.h"

namespace zv::profile {

namespace {

constexpr int kMaxDepth = 1000;

// The node's type: the first name of its order list ("action " for "[action page=…"),
// else its first member.
std::string nodeType(const json::Dictionary& node) {
  std::string_view type;
  if (const json::Value* order = node.find("_obj_order");
      order && order->isArray() && !order->asArray()->empty()) {
    type = order->asArray()->front().asString();
  } else if (!node.empty()) {
    type = node.begin()->first;
  }
  while (!type.empty() && text::isBlank(type.front())) type.remove_prefix(1);
  while (!type.empty() && text::isBlank(type.back())) type.remove_suffix(1);
  return type.empty() ? "unnamed" : std::string(type);
}

void walk(const json::Dictionary& node, const json::Dictionary& prototype,
          std::vector<UnreadableNumber>& found, int depth) {
  if (depth > kMaxDepth) return;
  for (const auto& [key, value] : node) {
    const json::Value* kind = prototype.find(key);
    if (value.isDictionary() && !(kind && kind->isDictionary())) {
      // An inline object where the prototype has a reference: built from "<key>_obj".
      if (const json::Value* inline_ = prototype.find(key + "_obj")) kind = inline_;
    }
    if (!kind) continue;
    if (value.isArray() && kind->isArray()) {
      if (kind->asArray()->empty() || !kind->asArray()->front().isDictionary()) continue;
      const json::Dictionary& element = *kind->asArray()->front().asDictionary();
      for (const json::Value& item : *value.asArray()) {
        if (item.isDictionary()) walk(*item.asDictionary(), element, found, depth + 1);
      }
    } else if (value.isDictionary() && kind->isDictionary()) {
      walk(*value.asDictionary(), *kind->asDictionary(), found, depth + 1);
    } else if (value.isString() && kind->isString() && kind->asString() == "%X" &&
               !isHexNumberText(value.asString())) {
      found.push_back({nodeType(node), key, value.asString(), scanHexUnsigned(value.asString())});
    }
  }
}

}  // namespace

std::string UnreadableNumber::describe() const {
  const bool vowel =
      !node.empty() && std::string_view("aeiouAEIOU").find(node[0]) != std::string_view::npos;
  return member + "=" + text + " in " + (vowel ? "an " : "a ") + node +
         " node is not a 32-bit hexadecimal number; it counts as " + text::hexText(readAs);
}

bool isHexNumberText(std::string_view text) {
  while (!text.empty() && text::isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && text::isBlank(text.back())) text.remove_suffix(1);
  if (text.empty()) return true;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  std::uint64_t value = 0;
  for (const char c : text) {
    const int digit = text::hexDigitValue(c);
    if (digit < 0) return false;
    value = value * 16 + static_cast<unsigned>(digit);
    if (value > 0xFFFFFFFFu) return false;
  }
  return true;
}

std::vector<UnreadableNumber> unreadableNumbers(const json::Value& profile,
                                                const json::DictionaryPtr& prototype) {
  std::vector<UnreadableNumber> found;
  if (profile.isDictionary() && prototype) walk(*profile.asDictionary(), *prototype, found, 0);
  return found;
}

}  // namespace zv::profile
