// The JSON value model shared by the reader, the writer, the prototyped objects and
// the profile conversion.
//
// Dictionaries and arrays are shared handles: copying a Value that holds one copies
// the handle, not the container, so a child object can keep the very dictionary that
// stands inside its parent and every write through either is seen by both. Use
// deepCopy() for an independent tree. Dictionaries keep insertion order. Booleans are
// a kind of their own so that they are written back as booleans, but they also answer
// as the numbers 0 and 1, as numbers of the character kind do.
//
// Not synchronised: a tree belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace zv::json {

class Value;
class Dictionary;
using Array = std::vector<Value>;
using ArrayPtr = std::shared_ptr<Array>;
using DictionaryPtr = std::shared_ptr<Dictionary>;

ArrayPtr makeArray();
DictionaryPtr makeDictionary();

// Bytes that are already JSON text (`CSerializedJSONData`): the writer copies them.
struct CSerializedJSONData {
  std::string bytes;
  bool operator==(const CSerializedJSONData&) const = default;
};

// Raw bytes: written as the UTF-8 string they decode to.
struct Data {
  std::string bytes;
  bool operator==(const Data&) const = default;
};

class Value {
 public:
  enum class Type : std::uint8_t {
    Null,
    Boolean,
    Number,
    String,
    Array,
    Dictionary,
    Data,
    Serialized
  };

  Value() = default;  // null
  Value(std::nullptr_t) {}
  Value(bool) = delete;  // use Value::boolean(): an int literal must not become a boolean
  Value(double number) : v_(number) {}
  Value(int number) : v_(static_cast<double>(number)) {}
  Value(unsigned number) : v_(static_cast<double>(number)) {}
  Value(std::int64_t number) : v_(static_cast<double>(number)) {}
  Value(std::uint64_t number) : v_(static_cast<double>(number)) {}
  Value(std::string text) : v_(std::move(text)) {}
  Value(std::string_view text) : v_(std::string(text)) {}
  Value(const char* text) : v_(std::string(text)) {}
  Value(ArrayPtr array);
  Value(DictionaryPtr dictionary);
  Value(Data data) : v_(std::move(data)) {}
  Value(CSerializedJSONData data) : v_(std::move(data)) {}

  static Value boolean(bool flag) {
    Value v;
    v.v_ = Bool{flag};
    return v;
  }

  Type type() const { return static_cast<Type>(v_.index()); }
  bool isNull() const { return type() == Type::Null; }
  bool isBoolean() const { return type() == Type::Boolean; }
  // Numbers and booleans (a boolean is a number of the character kind).
  bool isNumber() const { return type() == Type::Number || type() == Type::Boolean; }
  bool isString() const { return type() == Type::String; }
  bool isArray() const { return type() == Type::Array; }
  bool isDictionary() const { return type() == Type::Dictionary; }

  // Typed access. Each answers a neutral value (false, 0, empty, null handle) for a
  // value of another kind, so callers reading untrusted trees never throw. Inline: the
  // writer and every walk of a tree call them once per node.
  bool asBoolean() const {
    if (auto* b = std::get_if<Bool>(&v_)) return b->flag;
    if (auto* d = std::get_if<double>(&v_)) return *d != 0;
    return false;
  }
  double asNumber() const {
    if (auto* d = std::get_if<double>(&v_)) return *d;
    if (auto* b = std::get_if<Bool>(&v_)) return b->flag ? 1 : 0;
    return 0;
  }
  const std::string& asString() const {
    if (auto* s = std::get_if<std::string>(&v_)) return *s;
    return noString();
  }
  const ArrayPtr& asArray() const {
    if (auto* a = std::get_if<ArrayPtr>(&v_)) return *a;
    return noArray();
  }
  const DictionaryPtr& asDictionary() const {
    if (auto* d = std::get_if<DictionaryPtr>(&v_)) return *d;
    return noDictionary();
  }
  const Data* asData() const { return std::get_if<Data>(&v_); }
  const CSerializedJSONData* asSerialized() const { return std::get_if<CSerializedJSONData>(&v_); }

  // An independent copy of the whole tree below this value.
  Value deepCopy() const;

  // Structural equality (containers compared by content, dictionaries in order).
  friend bool operator==(const Value& a, const Value& b);

  // The kind's name, for messages ("dictionary", "number", …).
  std::string_view typeName() const;

 private:
  struct Bool {
    bool flag;
    bool operator==(const Bool&) const = default;
  };
  // The neutral answers of the typed access.
  static const std::string& noString();
  static const ArrayPtr& noArray();
  static const DictionaryPtr& noDictionary();
  std::variant<std::monostate, Bool, double, std::string, ArrayPtr, DictionaryPtr, Data,
               CSerializedJSONData>
      v_;
};

// An insertion-ordered dictionary with string keys. Small dictionaries are searched
// linearly; larger ones keep an open-addressing index of their entries.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Value>;
  using const_iterator = std::vector<Entry>::const_iterator;
  using iterator = std::vector<Entry>::iterator;

  Dictionary() = default;
  // Takes the entries in order; of repeated keys the first position and the last
  // value are kept.
  explicit Dictionary(std::vector<Entry>&& entries);
  Dictionary(const Dictionary& other) : entries_(other.entries_) {}
  Dictionary& operator=(const Dictionary& other);
  Dictionary(Dictionary&&) noexcept = default;
  Dictionary& operator=(Dictionary&&) noexcept = default;

  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  bool contains(std::string_view key) const { return find(key) != nullptr; }

  // Replaces the value in place when the key exists (its position is kept),
  // otherwise appends the pair.
  void set(std::string_view key, Value value);
  void set(std::string&& key, Value value);
  void set(const char* key, Value value) { set(std::string_view(key), std::move(value)); }
  // Removes the key; answers whether it was there. Later entries keep their order.
  bool erase(std::string_view key);
  void clear();
  void reserve(std::size_t n) { entries_.reserve(n); }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const Entry& entry(std::size_t i) const { return entries_[i]; }
  Entry& entry(std::size_t i) { return entries_[i]; }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }

  friend bool operator==(const Dictionary& a, const Dictionary& b) {
    return a.entries_ == b.entries_;
  }

 private:
  static constexpr std::size_t kLinearLimit = 8;
  std::ptrdiff_t indexOf(std::string_view key) const;
  void rebuildIndex() const;
  void indexInsert(std::size_t entryIndex) const;

  std::vector<Entry> entries_;
  // Slots hold entry index + 1 (0 = empty); built once the dictionary outgrows
  // kLinearLimit, sized to a power of two at least twice the entry count.
  mutable std::vector<std::uint32_t> slots_;
};

}  // namespace zv::json
