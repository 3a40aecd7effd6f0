#include "json/Value.h"

#include <algorithm>
#include <functional>

namespace zv::json {

ArrayPtr makeArray() {
  return std::make_shared<Array>();
}
DictionaryPtr makeDictionary() {
  return std::make_shared<Dictionary>();
}

Value::Value(ArrayPtr array) {
  if (array) v_ = std::move(array);
}

Value::Value(DictionaryPtr dictionary) {
  if (dictionary) v_ = std::move(dictionary);
}

const std::string& Value::noString() {
  static const std::string empty;
  return empty;
}

const ArrayPtr& Value::noArray() {
  static const ArrayPtr none;
  return none;
}

const DictionaryPtr& Value::noDictionary() {
  static const DictionaryPtr none;
  return none;
}

Value Value::deepCopy() const {
  if (auto* a = std::get_if<ArrayPtr>(&v_)) {
    auto copy = makeArray();
    copy->reserve((*a)->size());
    for (const Value& item : **a) copy->push_back(item.deepCopy());
    return Value(copy);
  }
  if (auto* d = std::get_if<DictionaryPtr>(&v_)) {
    auto copy = makeDictionary();
    for (const auto& [key, item] : **d) copy->set(key, item.deepCopy());
    return Value(copy);
  }
  return *this;
}

bool operator==(const Value& a, const Value& b) {
  if (a.v_.index() != b.v_.index()) return false;
  if (auto* x = std::get_if<ArrayPtr>(&a.v_)) {
    const ArrayPtr& y = std::get<ArrayPtr>(b.v_);
    return x->get() == y.get() || **x == *y;
  }
  if (auto* x = std::get_if<DictionaryPtr>(&a.v_)) {
    const DictionaryPtr& y = std::get<DictionaryPtr>(b.v_);
    return x->get() == y.get() || **x == *y;
  }
  return a.v_ == b.v_;
}

std::string_view Value::typeName() const {
  switch (type()) {
    case Type::Null:
      return "null";
    case Type::Boolean:
      return "boolean";
    case Type::Number:
      return "number";
    case Type::String:
      return "string";
    case Type::Array:
      return "array";
    case Type::Dictionary:
      return "dictionary";
    case Type::Data:
      return "data";
    case Type::Serialized:
      return "serialized JSON";
  }
  return "unknown";
}

// ---------------------------------------------------------------------------

Dictionary::Dictionary(std::vector<Entry>&& entries) : entries_(std::move(entries)) {
  // Repeated keys are rare: check cheaply, and only rebuild when one is found.
  bool repeated = false;
  if (entries_.size() <= kLinearLimit) {
    for (std::size_t i = 1; i < entries_.size() && !repeated; ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (entries_[i].first == entries_[j].first) {
          repeated = true;
          break;
        }
      }
    }
  } else {
    std::vector<std::string_view> keys;
    keys.reserve(entries_.size());
    for (const Entry& e : entries_) keys.push_back(e.first);
    std::sort(keys.begin(), keys.end());
    repeated = std::adjacent_find(keys.begin(), keys.end()) != keys.end();
  }
  if (!repeated) return;
  std::vector<Entry> all = std::move(entries_);
  entries_.clear();
  slots_.clear();
  entries_.reserve(all.size());
  for (Entry& e : all) set(std::move(e.first), std::move(e.second));
}

Dictionary& Dictionary::operator=(const Dictionary& other) {
  if (this != &other) {
    entries_ = other.entries_;
    slots_.clear();
  }
  return *this;
}

namespace {
std::size_t hashKey(std::string_view key) {
  return std::hash<std::string_view>{}(key);
}
}  // namespace

void Dictionary::rebuildIndex() const {
  std::size_t capacity = 16;
  while (capacity < entries_.size() * 2) capacity *= 2;
  slots_.assign(capacity, 0);
  for (std::size_t i = 0; i < entries_.size(); ++i) indexInsert(i);
}

void Dictionary::indexInsert(std::size_t entryIndex) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = hashKey(entries_[entryIndex].first) & mask;
  while (slots_[slot] != 0) slot = (slot + 1) & mask;
  slots_[slot] = static_cast<std::uint32_t>(entryIndex + 1);
}

std::ptrdiff_t Dictionary::indexOf(std::string_view key) const {
  if (entries_.size() <= kLinearLimit) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].first == key) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
  }
  if (slots_.empty()) rebuildIndex();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hashKey(key) & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
    const std::size_t i = slots_[slot] - 1;
    if (entries_[i].first == key) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

const Value* Dictionary::find(std::string_view key) const {
  const std::ptrdiff_t i = indexOf(key);
  return i < 0 ? nullptr : &entries_[static_cast<std::size_t>(i)].second;
}

Value* Dictionary::find(std::string_view key) {
  const std::ptrdiff_t i = indexOf(key);
  return i < 0 ? nullptr : &entries_[static_cast<std::size_t>(i)].second;
}

void Dictionary::set(std::string_view key, Value value) {
  set(std::string(key), std::move(value));
}

void Dictionary::set(std::string&& key, Value value) {
  const std::ptrdiff_t i = indexOf(key);
  if (i >= 0) {
    entries_[static_cast<std::size_t>(i)].second = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
  if (!slots_.empty()) {
    if (entries_.size() * 2 > slots_.size()) {
      rebuildIndex();
    } else {
      indexInsert(entries_.size() - 1);
    }
  }
}

bool Dictionary::erase(std::string_view key) {
  const std::ptrdiff_t i = indexOf(key);
  if (i < 0) return false;
  entries_.erase(entries_.begin() + i);
  slots_.clear();  // rebuilt on the next lookup that needs it
  return true;
}

void Dictionary::clear() {
  entries_.clear();
  slots_.clear();
}

}  // namespace zv::json
