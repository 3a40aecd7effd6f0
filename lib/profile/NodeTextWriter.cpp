// JSON → node text: each value is written as a node, its members in the order its
// "_obj_order" records, then the members the order does not name; blast nodes get their
// data form at the end.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <unordered_map>
#include <vector>

#include "json/CJSONDeserializer.h"
#include "json/CJSONSerializer.h"
#include "profile/NodeText.h"
#include "profile/NodeTextSyntax.h"
#include "profile/Prototype.h"

namespace zv::profile {

namespace {

using namespace nodetext;

// A number in the profile format's radix-16 form: lower-case digits, a sign in front, a
// fraction when there is one (the form existing profile files hold).
std::string hexadecimal(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  const bool negative = value < 0;
  value = std::fabs(value);
  double whole = std::floor(value);
  double fraction = value - whole;
  std::string digits;
  if (whole == 0) digits = "0";
  while (whole >= 1) {
    digits.push_back(kDigits[static_cast<int>(std::fmod(whole, 16))]);
    whole = std::floor(whole / 16);
  }
  std::reverse(digits.begin(), digits.end());
  if (negative) out.push_back('-');
  out += digits;
  if (fraction > 0) {
    out.push_back('.');
    for (int k = 0; k < 300 && fraction > 0; ++k) {  // exact: every double has a finite form
      fraction *= 16;
      const double digit = std::floor(fraction);
      out.push_back(kDigits[static_cast<int>(digit)]);
      fraction -= digit;
    }
  }
  return out;
}

// A number in the profile format's decimal form (integers without exponent).
std::string decimal(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  if (value == std::floor(value) && std::fabs(value) < 1e21) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    (void)ec;
    return std::string(buffer, end);
  }
  std::string out;
  json::CJSONDataSerializer::appendNumber(out, value);
  return out;
}

bool isNumberName(std::string_view name) {
  return !name.empty() &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view trimmed(std::string_view s) {
  constexpr std::string_view kSpace = " \t\n\r\v\f";
  const std::size_t begin = s.find_first_not_of(kSpace);
  if (begin == std::string_view::npos) return {};
  return s.substr(begin, s.find_last_not_of(kSpace) - begin + 1);
}

// "<word character>_group" anywhere in the name.
bool isGroupName(std::string_view name) {
  for (std::size_t at = name.find("_group", 1); at != std::string_view::npos;
       at = name.find("_group", at + 1)) {
    if (isWordChar(name[at - 1])) return true;
  }
  return false;
}

class Writer {
 public:
  explicit Writer(NodeTextError* error) : error_(error) {
    groups_["actions"] = "action";
    reverse_["action"] = "actions";
  }

  std::optional<std::string> run(const json::Value& json, const json::Value& prototype) {
    out_.reserve(4096);
    if (!write(json, &prototype, {})) return std::nullopt;
    return rewriteBlasts();
  }

 private:
  struct State {                            // what writing one value has taken out of it so far
    std::vector<std::string_view> removed;  // distinct keys, few
    std::vector<std::pair<std::string, std::size_t>> taken;  // array member → elements

    bool isRemoved(std::string_view key) const {
      return std::find(removed.begin(), removed.end(), key) != removed.end();
    }
    void remove(std::string_view key) {
      if (!isRemoved(key)) removed.push_back(key);
    }
    std::size_t& takenFrom(std::string_view key) {
      for (auto& [name, count] : taken) {
        if (name == key) return count;
      }
      taken.emplace_back(std::string(key), 0);
      return taken.back().second;
    }
  };

  bool fail(std::string message) {
    if (error_) {
      error_->message = std::move(message);
      error_->offset = NodeTextError::kNoOffset;
    }
    return false;
  }

  static const json::Value* member(const json::Value* container, std::string_view key) {
    if (!container) return nullptr;
    if (container->isDictionary()) return container->asDictionary()->find(key);
    if (container->isArray() && isNumberName(key) && key.size() < 10) {
      std::size_t index = 0;
      std::from_chars(key.data(), key.data() + key.size(), index);
      const json::Array& array = *container->asArray();
      return index < array.size() ? &array[index] : nullptr;
    }
    return nullptr;
  }

  // A NUL cannot stand in node text: the reader would take it into the JSON, and every
  // program after it (the JSON text, the editor, C strings) would carry or cut it. `what`
  // says what the text is, "the value of" or "the name".
  bool checkNoNul(std::string_view text, std::string_view what, std::string_view key) {
    if (text.find('\0') == std::string_view::npos) return true;
    std::string shown;
    for (const char c : key) {
      if (c == '\0') {
        shown += "\\0";
      } else {
        shown.push_back(c);
      }
    }
    return fail(std::string(what) + " \"" + shown +
                "\" holds a NUL character, which node text cannot hold");
  }

  bool attribute(std::string_view key, const json::Value& value) {
    if (!checkNoNul(key, "the name", key)) return false;
    if (value.isString() && !checkNoNul(value.asString(), "the value of", key)) return false;
    out_.append(key);
    out_.push_back('=');
    if (value.isString()) {
      const std::string& text = value.asString();
      const bool quote = text == "=" || text.find_first_of(" \t\n\r\v\f") != std::string::npos;
      if (quote) out_.push_back('\'');
      out_.append(text);
      if (quote) out_.push_back('\'');
    } else {
      out_.append(key == "band" ? decimal(value.asNumber()) : "0x" + hexadecimal(value.asNumber()));
    }
    out_.push_back(' ');
    return true;
  }

  static bool isText(const json::Value& value) {
    return value.isString() && !value.asString().empty();
  }
  static bool isNonZeroNumber(const json::Value& value) {
    return value.type() == json::Value::Type::Number && value.asNumber() != 0;
  }
  static bool isNode(const json::Value& value) {
    return value.isDictionary() || value.isArray() || value.isBoolean() || value.isNull();
  }

  bool writeChild(const json::Value& value, const json::Value* prototype, std::string_view name,
                  std::string_view key) {
    if (value.isNull()) return fail("a null value under \"" + std::string(key) + "\"");
    return write(value, prototype, name);
  }

  // Writes `value` as one node with `prototype` (none: no groups to learn, no cursor for
  // its children) under `name` (empty, or an array index, for none).
  bool write(const json::Value& value, const json::Value* prototype, std::string_view name) {
    if (depth_ >= kMaxNesting) return fail("the JSON is nested too deeply");
    if (depth_ > 0) {
      out_.append("\r\n");
      out_.append(depth_ * 2, ' ');
    }
    out_.append(" [");
    ++depth_;

    const json::Dictionary* dictionary =
        value.isDictionary() ? value.asDictionary().get() : nullptr;
    const json::Value* order = dictionary ? dictionary->find(kOrder) : nullptr;
    if (order && !order->isArray()) return fail("\"_obj_order\" is not a list");
    const json::Array* entries = order ? order->asArray().get() : nullptr;
    const json::Value* firstEntry = entries && !entries->empty() ? &entries->front() : nullptr;

    bool nameWritten = false;
    if (!entries || (!name.empty() && !isNumberName(name) &&
                     !(firstEntry && firstEntry->isString() && firstEntry->asString() == name))) {
      if (!checkNoNul(name, "the name", name)) return false;
      if (!isNumberName(name)) out_.append(name);
      out_.push_back(' ');
      nameWritten = true;
    }

    learnGroups(prototype);

    while (states_.size() <= depth_) states_.emplace_back();
    State& state = states_[depth_];  // this level's, reused from node to node
    state.removed.clear();
    state.taken.clear();
    auto present = [&](std::string_view key) -> const json::Value* {
      if (!dictionary || state.isRemoved(key)) return nullptr;
      return dictionary->find(key);
    };

    if (entries) {
      for (std::size_t index = 0; index < entries->size(); ++index) {
        const json::Value& entry = (*entries)[index];
        if (!entry.isString()) return fail("\"_obj_order\" holds something other than names");
        const std::string_view key = trimmed(entry.asString());
        const json::Value* found = present(key);
        if (!nameWritten && index == 0 &&
            (!found || (found->isString() && found->asString().empty()))) {
          if (!checkNoNul(key, "the name", key)) return false;
          out_.append(key);
          out_.push_back(' ');
        } else if (found && isText(*found)) {
          if (!attribute(key, *found)) return false;
        } else if (found && isNonZeroNumber(*found)) {
          if (!attribute(key, *found)) return false;
        } else if (found && isNode(*found)) {
          if (!writeChild(*found, member(prototype, key), key, key)) return false;
        } else if (!found) {
          const std::string groupName = std::string(key) + "_group";
          if (const json::Value* group = present(groupName)) {
            if (!group->isArray()) return fail("\"" + groupName + "\" is not a list");
            std::size_t& taken = state.takenFrom(groupName);
            if (taken >= group->asArray()->size()) {
              return fail("\"_obj_order\" names more \"" + std::string(key) +
                          "\" children than \"" + groupName + "\" holds");
            }
            if (!writeChild((*group->asArray())[taken++], member(prototype, key), {}, groupName)) {
              return false;
            }
          } else if (auto it = reverse_.find(key); it != reverse_.end()) {
            const json::Value* members = present(it->second);
            if (members && members->isArray()) {
              std::size_t& taken = state.takenFrom(it->second);
              if (taken < members->asArray()->size()) {
                const std::string groupKey = it->second;
                if (!writeChild((*members->asArray())[taken++], member(prototype, key), key,
                                groupKey)) {
                  return false;
                }
              }
            }
          }
        }
        state.remove(key);
      }
    }

    // The members the order did not name, in the value's own order.
    if (dictionary) {
      for (const auto& [key, child] : *dictionary) {
        if (key == kOrder || state.isRemoved(key)) continue;
        if (!writeUnordered(state, prototype, key, child)) return false;
      }
    } else if (value.isArray()) {
      const json::Array& elements = *value.asArray();
      for (std::size_t i = 0; i < elements.size(); ++i) {
        if (!writeUnordered(state, prototype, std::to_string(i), elements[i])) return false;
      }
    }

    out_.append("] ");
    --depth_;
    return true;
  }

  // Groups named by `prototype`: member name ↔ group string, kept for the whole call.
  void learnGroups(const json::Value* prototype) {
    auto learn = [&](std::string_view key, const json::Value& candidate) {
      if (!candidate.isArray() || candidate.asArray()->empty()) return;
      const json::Value* group = member(&candidate.asArray()->front(), kGroupKey);
      if (!group || !group->isString()) return;
      groups_.insert_or_assign(std::string(key), group->asString());
      reverse_.insert_or_assign(group->asString(), std::string(key));
    };
    if (prototype && prototype->isDictionary()) {
      for (const auto& [key, candidate] : *prototype->asDictionary()) learn(key, candidate);
    } else if (prototype && prototype->isArray()) {
      for (std::size_t i = 0; i < prototype->asArray()->size(); ++i) {
        learn(std::to_string(i), (*prototype->asArray())[i]);
      }
    }
  }

  // One member `key` of the node being written that its "_obj_order" did not name (or
  // an element of an array node): text and non-zero numbers as attributes, group members
  // element by element (what the order took is skipped), other nodes as children. Zero
  // and the empty string are not written.
  bool writeUnordered(State& state, const json::Value* prototype, std::string_view key,
                      const json::Value& value) {
    if (isText(value) || isNonZeroNumber(value)) return attribute(key, value);
    const bool group = isGroupName(key);
    const bool grouped = !group && groups_.find(key) != groups_.end();
    if ((group || grouped) && value.isArray()) {
      std::size_t& taken = state.takenFrom(key);
      const json::Array& elements = *value.asArray();
      for (; taken < elements.size(); ++taken) {
        if (!writeChild(elements[taken], member(prototype, key), group ? key : std::string_view(),
                        key)) {
          return false;
        }
      }
      return true;
    }
    if (isNode(value)) return writeChild(value, member(prototype, key), key, key);
    return true;
  }

  // "[blast=NAME data=VALUE]" → "[blast=NAME data<0 VALUE>]".
  std::string rewriteBlasts() {
    constexpr std::string_view kData = " data=";
    std::string result;
    result.reserve(out_.size());
    std::size_t from = 0;
    for (std::size_t open = out_.find(kBlastOpen); open != std::string::npos;
         open = out_.find(kBlastOpen, open + 1)) {
      if (open < from) continue;
      const std::size_t nameBegin = open + kBlastOpen.size();
      std::size_t nameEnd = nameBegin;
      while (nameEnd < out_.size() && out_[nameEnd] != ' ' && out_[nameEnd] != '\r' &&
             out_[nameEnd] != '\n') {
        ++nameEnd;
      }
      if (nameEnd == nameBegin || out_.compare(nameEnd, kData.size(), kData) != 0) continue;
      const std::size_t valueBegin = nameEnd + kData.size();
      const std::size_t close = out_.find(']', valueBegin);
      if (close == std::string::npos) continue;
      result.append(out_, from, nameEnd - from);
      result.append(" data<0 ");
      result.append(out_, valueBegin, close - valueBegin);
      result.append(">]");
      from = close + 1;
    }
    result.append(out_, from, std::string::npos);
    return result;
  }

  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using Table = std::unordered_map<std::string, std::string, Hash, std::equal_to<>>;

  NodeTextError* error_;
  std::string out_;
  std::size_t depth_ = 0;
  Table groups_;              // member name → group string
  Table reverse_;             // group string → member name
  std::deque<State> states_;  // by depth; a deque keeps references stable as it grows
};

}  // namespace

std::optional<std::string> json2tevnodes(const json::Value& json, const json::Value& prototype,
                                         NodeTextError* error) {
  return Writer(error).run(json, prototype);
}

std::optional<std::string> json2tevnodes(std::string_view jsonText, std::string_view prototypeText,
                                         NodeTextError* error) {
  json::DictionaryPtr prototype = parsePrototype(prototypeText);
  if (!prototype) {
    if (error) *error = NodeTextError{"the prototype is not a JSON object"};
    return std::nullopt;
  }
  json::Error jsonError;
  auto value = json::CJSONDeserializer().deserialize(jsonText, &jsonError);
  if (!value) {
    if (error) {
      *error = NodeTextError{"the JSON does not read" +
                             (jsonError.code ? ": " + jsonError.message() : std::string())};
    }
    return std::nullopt;
  }
  return json2tevnodes(*value, json::Value(prototype), error);
}

}  // namespace zv::profile
