#include "support/PropertyList.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <memory>

#include "platform/AtomicFile.h"
#include "platform/ReadFile.h"

namespace zv::support {

namespace {

struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// Seconds between the Unix epoch and the property-list epoch (2001-01-01).
constexpr std::int64_t kPlistEpoch = 978307200;
constexpr int kMaxDepth = 256;

std::string takeString(char* text) {
  std::string result = text ? text : "";
  std::free(text);
  return result;
}

std::optional<json::Value> toValue(plist_t node, int depth) {
  if (depth > kMaxDepth) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
      auto dictionary = json::makeDictionary();
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (!item) {
          std::free(key);
          break;
        }
        std::string name = takeString(key);
        auto value = toValue(item, depth + 1);
        if (!value) {
          std::free(it);
          return std::nullopt;
        }
        dictionary->set(std::move(name), std::move(*value));
      }
      std::free(it);
      return json::Value(dictionary);
    }
    case PLIST_ARRAY: {
      auto array = json::makeArray();
      const std::uint32_t size = plist_array_get_size(node);
      array->reserve(size);
      for (std::uint32_t i = 0; i < size; ++i) {
        auto value = toValue(plist_array_get_item(node, i), depth + 1);
        if (!value) return std::nullopt;
        array->push_back(std::move(*value));
      }
      return json::Value(array);
    }
    case PLIST_STRING: {
      char* text = nullptr;
      plist_get_string_val(node, &text);
      return json::Value(takeString(text));
    }
    case PLIST_KEY: {  // a key without its value, as lenient XML reading leaves it
      char* text = nullptr;
      plist_get_key_val(node, &text);
      return json::Value(takeString(text));
    }
    case PLIST_BOOLEAN: {
      std::uint8_t flag = 0;
      plist_get_bool_val(node, &flag);
      return json::Value::boolean(flag != 0);
    }
    case PLIST_UINT: {
      // Stored as 64 bits; negative integers come back in two's complement.
      std::uint64_t number = 0;
      plist_get_uint_val(node, &number);
      return json::Value(static_cast<double>(static_cast<std::int64_t>(number)));
    }
    case PLIST_REAL: {
      double number = 0;
      plist_get_real_val(node, &number);
      return json::Value(number);
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      std::uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      std::string data(bytes ? bytes : "", bytes ? length : 0);
      std::free(bytes);
      return json::Value(json::Data{std::move(data)});
    }
    case PLIST_DATE: {
      std::int32_t seconds = 0;
      std::int32_t micro = 0;
      plist_get_date_val(node, &seconds, &micro);
      const std::time_t t = static_cast<std::time_t>(kPlistEpoch + seconds);
      std::tm parts{};
      gmtime_r(&t, &parts);
      char text[32];
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
      return json::Value(std::string(text));
    }
    case PLIST_UID: {
      std::uint64_t number = 0;
      plist_get_uid_val(node, &number);
      return json::Value(static_cast<double>(number));
    }
    default:
      return std::nullopt;
  }
}

plist_t toPlist(const json::Value& value, int depth) {
  if (depth > kMaxDepth) return plist_new_string("");
  switch (value.type()) {
    case json::Value::Type::Dictionary: {
      plist_t dict = plist_new_dict();
      for (const auto& [key, item] : *value.asDictionary()) {
        if (item.isNull()) continue;  // property lists have no null
        plist_dict_set_item(dict, key.c_str(), toPlist(item, depth + 1));
      }
      return dict;
    }
    case json::Value::Type::Array: {
      plist_t array = plist_new_array();
      for (const auto& item : *value.asArray()) {
        if (item.isNull()) continue;
        plist_array_append_item(array, toPlist(item, depth + 1));
      }
      return array;
    }
    case json::Value::Type::Boolean:
      return plist_new_bool(value.asBoolean() ? 1 : 0);
    case json::Value::Type::Number: {
      const double number = value.asNumber();
      if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 9.2e18) {
        return plist_new_uint(static_cast<std::uint64_t>(static_cast<std::int64_t>(number)));
      }
      return plist_new_real(number);
    }
    case json::Value::Type::Data: {
      const std::string& bytes = value.asData()->bytes;
      return plist_new_data(bytes.data(), bytes.size());
    }
    case json::Value::Type::Serialized:
      return plist_new_string(value.asSerialized()->bytes.c_str());
    case json::Value::Type::String:
      return plist_new_string(value.asString().c_str());
    case json::Value::Type::Null:
      break;
  }
  return plist_new_string("");
}

}  // namespace

std::optional<json::Value> readPropertyList(std::string_view bytes, std::string* error) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
    if (error) *error = bytes.empty() ? "empty property list" : "property list too large";
    return std::nullopt;
  }
  // The property-list library aborts the process when it hands out a string or key
  // holding a NUL byte. XML cannot hold one, so such text is refused before parsing; a
  // binary list is turned into XML text first and checked the same way.
  std::string converted;
  if (plist_is_binary(bytes.data(), static_cast<std::uint32_t>(bytes.size()))) {
    plist_t binary = nullptr;
    plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &binary);
    PlistPtr binaryOwner(binary);
    if (!binary) {
      if (error) *error = "not a property list (damaged binary form)";
      return std::nullopt;
    }
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(binary, &xml, &length);
    converted.assign(xml ? xml : "", xml ? length : 0);
    std::free(xml);
    bytes = converted;
  }
  if (bytes.find('\0') != std::string_view::npos) {
    if (error) *error = "not a property list (contains a NUL byte)";
    return std::nullopt;
  }
  plist_t root = nullptr;
  plist_from_xml(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
  PlistPtr owner(root);
  if (!root) {
    if (error) *error = "not a property list";
    return std::nullopt;
  }
  auto value = toValue(root, 0);
  if (!value && error) *error = "property list nested too deeply or of unknown kind";
  return value;
}

std::optional<json::Value> readPropertyListFile(const std::filesystem::path& path,
                                                std::string* error) {
  std::string bytes;
  if (!platform::readFile(path, bytes, error, kPropertyListFileLimit)) return std::nullopt;
  std::string why;
  auto value = readPropertyList(bytes, &why);
  if (!value && error) *error = path.string() + ": " + why;
  return value;
}

std::string writePropertyListXML(const json::Value& root) {
  PlistPtr node(root.isDictionary() || root.isArray() ? toPlist(root, 0) : plist_new_dict());
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(node.get(), &xml, &length);
  std::string text(xml ? xml : "", xml ? length : 0);
  std::free(xml);
  return text;
}

bool writePropertyListFile(const std::filesystem::path& path, const json::Value& root,
                           std::string* error, unsigned mode) {
  return platform::writeFileAtomically(path, writePropertyListXML(root), error,
                                       static_cast<mode_t>(mode));
}

}  // namespace zv::support
