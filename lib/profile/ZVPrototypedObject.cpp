#include "profile/ZVPrototypedObject.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "json/CJSONDeserializer.h"
#include "json/CJSONSerializer.h"
#include "log/Log.h"
#include "profile/Prototype.h"
#include "profile/UnreadableNumbers.h"
#include "text/Characters.h"
#include "text/Numbers.h"

namespace zv::profile {

namespace {

constexpr std::string_view kGUID = "[GUID]";
constexpr std::string_view kGUIDRef = "[GUIDREF]";
constexpr std::string_view kHex = "%X";
constexpr std::string_view kOrder = "_obj_order";
constexpr std::string_view kClassKey = "@CLASS";

bool isString(const json::Value* v, std::string_view text) {
  return v && v->isString() && v->asString() == text;
}

MemberKind kindOf(const json::Value& prototypeValue) {
  switch (prototypeValue.type()) {
    case json::Value::Type::Dictionary:
    case json::Value::Type::Array:
      return MemberKind::Object;
    case json::Value::Type::String:
      return prototypeValue.asString() == kHex ? MemberKind::UnsignedNumber : MemberKind::String;
    case json::Value::Type::Number:
    case json::Value::Type::Boolean:
      return MemberKind::Double;
    default:
      return MemberKind::None;
  }
}

// What one tree build (setJSON) remembers so that the thousands of objects built from
// the same few prototype dictionaries do not repeat the same work. Valid only while the
// build runs, when every prototype dictionary it has seen is alive.
struct BuildContext {
  struct Prototype {
    const json::Dictionary* dictionary;
    const ClassRegistry::Entry* entry;       // class named by "@CLASS"
    std::vector<const ClassInfo*> prepared;  // classes already registered from it
  };
  std::vector<Prototype> prototypes;
  std::vector<std::pair<const char*, ClassInfo*>> classes;

  Prototype& prototype(const json::Dictionary* dictionary) {
    for (Prototype& p : prototypes) {
      if (p.dictionary == dictionary) return p;
    }
    const json::Value* name = dictionary->find(kClassKey);
    const auto& entry = ClassRegistry::shared().entry(name ? name->asString() : std::string());
    prototypes.push_back(Prototype{dictionary, &entry, {}});
    return prototypes.back();
  }
};

thread_local BuildContext* tBuild = nullptr;

// Installs a build context for the outermost setJSON on this thread.
class BuildScope {
 public:
  BuildScope() {
    if (!tBuild) {
      tBuild = &context_;
      owner_ = true;
    }
  }
  ~BuildScope() {
    if (owner_) tBuild = nullptr;
  }
  BuildScope(const BuildScope&) = delete;
  BuildScope& operator=(const BuildScope&) = delete;

 private:
  BuildContext context_;
  bool owner_ = false;
};

const ObjectArray& emptyArray() {
  static const ObjectArray empty;
  return empty;
}

}  // namespace

// --- Conversions ----------------------------------------------------------------------

std::uint32_t scanHexUnsigned(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text::isBlank(text[i])) ++i;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = text::hexDigitValue(text[i]);
    if (digit < 0) break;
    value = value * 16 + static_cast<unsigned>(digit);
    if (value > 0xFFFFFFFFu) value = 0x100000000u;  // saturated; stays above the limit
  }
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

double leadingDecimalNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text::isBlank(text[i])) ++i;
  std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  // Only a plain decimal number: no "inf", "nan" or hexadecimal forms.
  if (i >= text.size() || !((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) return 0;
  if (text[start] == '+') ++start;
  double value = 0;
  auto [end, ec] = std::from_chars(text.data() + start, text.data() + text.size(), value,
                                   std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone on overflow; answer the infinity or zero it means.
    const bool negative = text[start] == '-';
    std::string copy(text.substr(start, static_cast<std::size_t>(end - (text.data() + start))));
    value = std::strtod(copy.c_str(), nullptr);
    if (negative && value > 0) value = -value;
  } else if (ec != std::errc()) {
    return 0;
  }
  return value;
}

std::uint32_t toUnsigned32(double number) {
  if (!std::isfinite(number)) return 0;
  double m = std::fmod(std::trunc(number), 4294967296.0);
  if (m < 0) m += 4294967296.0;
  return static_cast<std::uint32_t>(m);
}

std::int32_t toSigned32(double number) {
  if (std::isnan(number)) return 0;
  if (number >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (number <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(number);
}

// --- Construction -----------------------------------------------------------------------

bool ZVPrototypedObject::initWithPrototypeJSON(std::string_view prototypeText,
                                               const ObjectPtr& parent, json::Error* error) {
  json::DictionaryPtr prototype = parsePrototype(prototypeText, error);
  if (!prototype) return false;
  initWithPrototypeDictionary(std::move(prototype), parent);
  return true;
}

void ZVPrototypedObject::initWithPrototypeDictionary(json::DictionaryPtr prototype,
                                                     const ObjectPtr& parent) {
  prototype_ = prototype ? std::move(prototype) : json::makeDictionary();
  parent_ = parent;
  jsonDictionary_.reset();
  members_.clear();

  ClassInfo& info = classInfo();
  BuildContext::Prototype* memo = tBuild ? &tBuild->prototype(prototype_.get()) : nullptr;
  bool prepared = false;
  if (memo) {
    for (const ClassInfo* done : memo->prepared) prepared = prepared || done == &info;
  }
  if (!prepared) {
    // A fresh empty "_obj_order" in the prototype makes the JSON's order list a member
    // with an empty element prototype, which builds nothing.
    const json::Value* order = prototype_->find(kOrder);
    if (!order || !order->isArray() || !order->asArray()->empty()) {
      prototype_->set(kOrder, json::Value(json::makeArray()));
    }
    for (const auto& [key, value] : *prototype_) {
      if (key == kClassKey) continue;
      const MemberKind kind = kindOf(value);
      if (kind != MemberKind::None) info.registerKind(key, kind);
    }
    if (memo) memo->prepared.push_back(&info);
  }
  initA();
}

ClassInfo& ZVPrototypedObject::classInfo() const {
  if (classInfo_) return *classInfo_;
  const char* name = className();
  if (tBuild) {
    for (const auto& [known, info] : tBuild->classes) {
      if (known == name) return *(classInfo_ = info);
    }
  }
  classInfo_ = &ClassRegistry::shared().info(name);
  if (tBuild) tBuild->classes.emplace_back(name, classInfo_);
  return *classInfo_;
}

ObjectPtr ZVPrototypedObject::makeFromPrototype(const json::DictionaryPtr& prototype,
                                                const ObjectPtr& parent) {
  if (!prototype) return nullptr;
  const ClassRegistry::Entry* entry;
  if (tBuild) {
    entry = tBuild->prototype(prototype.get()).entry;
  } else {
    const json::Value* name = prototype->find(kClassKey);
    entry = &ClassRegistry::shared().entry(name ? name->asString() : std::string());
  }
  ObjectPtr object = entry->factory();
  object->initWithPrototypeDictionary(prototype, parent);
  return object;
}

ObjectPtr ZVPrototypedObject::objectFromPrototype(const json::DictionaryPtr& prototype,
                                                  const json::DictionaryPtr& json,
                                                  const ObjectPtr& parent) {
  ObjectPtr object = makeFromPrototype(prototype, parent);
  if (object) object->setJSONDictionary(json);
  return object;
}

void ZVPrototypedObject::populateArray(ObjectArray& destination, const json::Array& array,
                                       const json::DictionaryPtr& elementPrototype,
                                       const ObjectPtr& parent) {
  if (!elementPrototype) return;
  for (const json::Value& element : array) {
    if (!element.isDictionary()) continue;
    destination.push_back(objectFromPrototype(elementPrototype, element.asDictionary(), parent));
  }
}

void ZVPrototypedObject::setJSONDictionary(const json::DictionaryPtr& dictionary) {
  jsonDictionary_ = dictionary;
  members_.clear();
  if (!dictionary) return;
  const json::Dictionary& prototype = *prototype_;
  ObjectPtr self;  // made on first need: plain JSON members need no shared_from_this
  for (std::size_t i = 0; i < dictionary->size(); ++i) {
    auto& entry = dictionary->entry(i);
    const json::Value& J = entry.second;
    const json::Value* P = prototype.find(entry.first);
    std::string suffixed;
    if (J.isDictionary() && !(P && P->isDictionary())) {
      // An object where the prototype has a string (an inline object in place of a
      // reference): built from "<key>_obj" when the prototype has that key.
      suffixed = entry.first + "_obj";
      if (const json::Value* alternative = prototype.find(suffixed)) P = alternative;
    }
    if (J.isArray() && P && P->isArray()) {
      const json::Array& elementPrototypes = *P->asArray();
      if (elementPrototypes.empty()) continue;  // e.g. "_obj_order": nothing to build
      if (!self) self = shared_from_this();
      Member member{entry.first, Member::Type::Array, nullptr, {}, {}};
      member.array.reserve(J.asArray()->size());
      populateArray(member.array, *J.asArray(), elementPrototypes.front().asDictionary(), self);
      setMember(std::move(member));
    } else if (J.isDictionary() && P && P->isDictionary()) {
      if (!self) self = shared_from_this();
      ObjectPtr child = objectFromPrototype(P->asDictionary(), J.asDictionary(), self);
      setMember(Member{suffixed.empty() ? entry.first : suffixed,
                       Member::Type::Object,
                       std::move(child),
                       {},
                       {}});
    } else if (J.isString() && isString(P, kHex)) {
      if (!isHexNumberText(J.asString())) {
        ZV_LOG(log::ZVLogLevel::Error, nullptr,
               "%@=%@ is not a 32-bit hexadecimal number; it counts as %@", entry.first,
               J.asString(), text::hexText(scanHexUnsigned(J.asString())));
      }
      // The JSON tree itself changes: from now on the member is a number.
      entry.second = json::Value(scanHexUnsigned(J.asString()));
    }
  }
}

void ZVPrototypedObject::setMember(Member member) {
  for (Member& existing : members_) {
    if (existing.name == member.name) {
      existing = std::move(member);
      return;
    }
  }
  members_.push_back(std::move(member));
}

const Member* ZVPrototypedObject::findMember(std::string_view name) const {
  for (const Member& m : members_) {
    if (m.name == name) return &m;
  }
  return nullptr;
}

// --- The whole tree -----------------------------------------------------------------

bool ZVPrototypedObject::setJSON(std::string_view text, json::Error* error) {
  json::DictionaryPtr dictionary = json::CJSONDeserializer().deserializeAsDictionary(text, error);
  if (!dictionary) return false;
  // The reader builds a fresh tree, so it is already the deep mutable copy the tree owns.
  return setJSON(std::move(dictionary));
}

bool ZVPrototypedObject::setJSON(json::DictionaryPtr dictionary) {
  if (!dictionary) return false;
  if (!prototype_) initWithPrototypeDictionary(json::makeDictionary(), parent());
  BuildScope scope;
  setJSONDictionary(dictionary);

  std::vector<ZVPrototypedObject*> nodes;
  collectNodes(nodes);

  GUIDTable table;
  for (ZVPrototypedObject* node : nodes) {
    const std::string type = node->tevNodeType();
    if (type.empty() || !isString(node->prototype_->find(type), kGUID)) continue;
    const json::Value guid = node->tevNodeValue();
    if (guid.isString()) table[guid.asString()].push_back(node);
  }
  if (!table.empty()) {
    for (ZVPrototypedObject* node : nodes) node->resolveGUIDObjects(table);
  }

  const ObjectPtr root = shared_from_this();
  for (ZVPrototypedObject* node : nodes) node->loadCompleted(root);
  return true;
}

std::string ZVPrototypedObject::JSON() const {
  if (!jsonDictionary_) return "{}";
  // Only raw bytes that are not UTF-8 fail, and node text never makes them.
  return json::CJSONSerializer::serializer().serializeDictionary(*jsonDictionary_).valueOr({});
}

std::vector<ObjectPtr> ZVPrototypedObject::allNodes() {
  std::vector<ZVPrototypedObject*> nodes;
  collectNodes(nodes);
  std::vector<ObjectPtr> result;
  result.reserve(nodes.size());
  for (ZVPrototypedObject* node : nodes) result.push_back(node->shared_from_this());
  return result;
}

int ZVPrototypedObject::collectNodes(std::vector<ZVPrototypedObject*>& list) {
  list.push_back(this);
  int n = index_;
  for (Member& m : members_) {
    if (m.type == Member::Type::Object && m.object) m.object->index_ = ++n;
  }
  for (Member& m : members_) {
    if (m.type == Member::Type::Array) {
      for (const ObjectPtr& element : m.array) {
        element->index_ = ++n;
        n = element->collectNodes(list);
      }
    } else if (m.type == Member::Type::Object && m.object) {
      n = m.object->collectNodes(list);
    }
  }
  return n;
}

void ZVPrototypedObject::resolveGUIDObjects(const GUIDTable& table) {
  if (!prototype_ || !jsonDictionary_) return;
  for (const auto& [key, value] : *prototype_) {
    if (!value.isString() || value.asString() != kGUIDRef) continue;
    const json::Value* guid = jsonDictionary_->find(key);
    if (!guid || !guid->isString()) continue;
    auto it = table.find(guid->asString());
    if (it == table.end()) continue;
    ZVPrototypedObject* best = nullptr;
    long bestDistance = 0;
    for (ZVPrototypedObject* candidate : it->second) {
      const long distance = std::labs(static_cast<long>(candidate->index_) - index_);
      if (!best || distance < bestDistance) {
        best = candidate;
        bestDistance = distance;
      }
    }
    if (best) {
      Member member{key, Member::Type::Reference, nullptr, {}, {}};
      member.reference = best->weak_from_this();
      setMember(std::move(member));
    }
  }
}

// --- Members ------------------------------------------------------------------------

MemberKind ZVPrototypedObject::kind(std::string_view name) const {
  return classInfo().kind(name);
}

bool ZVPrototypedObject::isGUIDRef(std::string_view name) const {
  return prototype_ && isString(prototype_->find(name), kGUIDRef);
}

MemberValue ZVPrototypedObject::read(std::string_view name) const {
  MemberValue result;
  if (const Member* m = findMember(name)) {
    switch (m->type) {
      case Member::Type::Object:
        result.object = m->object;
        return result;
      case Member::Type::Array:
        result.array = &m->array;
        return result;
      case Member::Type::Reference:
        result.object = m->reference.lock();
        return result;
    }
  }
  if (isGUIDRef(name)) return result;
  const json::Value* v = jsonDictionary_ ? jsonDictionary_->find(name) : nullptr;
  switch (kind(name)) {
    case MemberKind::UnsignedNumber:
      result.value = json::Value(v && v->isNumber() ? toUnsigned32(v->asNumber()) : 0u);
      break;
    case MemberKind::Double:
      result.value = json::Value(number(name));
      break;
    default:
      if (v) result.value = *v;
      break;
  }
  return result;
}

bool ZVPrototypedObject::write(std::string_view name, const json::Value& value) {
  switch (kind(name)) {
    case MemberKind::UnsignedNumber:
      if (!value.isNumber()) return false;
      return setUnsignedNumber(name, toUnsigned32(value.asNumber()));
    case MemberKind::Double:
      if (!value.isNumber()) return false;
      return setNumber(name, value.asNumber());
    case MemberKind::String:
      if (!value.isString()) return false;
      return setString(name, value.asString());
    default:
      return false;
  }
}

json::Value ZVPrototypedObject::value(std::string_view name) const {
  const json::Value* v = jsonDictionary_ ? jsonDictionary_->find(name) : nullptr;
  return v ? *v : json::Value();
}

bool ZVPrototypedObject::has(std::string_view name) const {
  return findMember(name) || (jsonDictionary_ && jsonDictionary_->contains(name));
}

std::string ZVPrototypedObject::string(std::string_view name) const {
  const json::Value* v = jsonDictionary_ ? jsonDictionary_->find(name) : nullptr;
  return v && v->isString() ? v->asString() : std::string();
}

double ZVPrototypedObject::number(std::string_view name) const {
  const json::Value* v = jsonDictionary_ ? jsonDictionary_->find(name) : nullptr;
  if (!v) return 0;
  if (v->isNumber()) return v->asNumber();
  if (v->isString()) return leadingDecimalNumber(v->asString());
  return 0;
}

std::int32_t ZVPrototypedObject::integer(std::string_view name) const {
  const json::Value* v = jsonDictionary_ ? jsonDictionary_->find(name) : nullptr;
  if (!v) return 0;
  if (v->isNumber()) return toSigned32(v->asNumber());
  if (!v->isString()) return 0;
  // The leading decimal integer of the text: "12abc" → 12, "1.9" → 1, "-3" → -3.
  const std::string& text = v->asString();
  std::size_t i = 0;
  while (i < text.size() && text::isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) value = 2147483648LL;
  }
  return toSigned32(static_cast<double>(negative ? -value : value));
}

std::uint32_t ZVPrototypedObject::unsignedNumber(std::string_view name) const {
  const json::Value* v = jsonDictionary_ ? jsonDictionary_->find(name) : nullptr;
  return v && v->isNumber() ? toUnsigned32(v->asNumber()) : 0;
}

ObjectPtr ZVPrototypedObject::child(std::string_view name) const {
  const Member* m = findMember(name);
  if (!m) return nullptr;
  if (m->type == Member::Type::Object) return m->object;
  if (m->type == Member::Type::Reference) return m->reference.lock();
  return nullptr;
}

const ObjectArray& ZVPrototypedObject::children(std::string_view name) const {
  const Member* m = findMember(name);
  return m && m->type == Member::Type::Array ? m->array : emptyArray();
}

bool ZVPrototypedObject::setString(std::string_view name, std::string_view text) {
  if (kind(name) != MemberKind::String) return false;
  if (!jsonDictionary_) jsonDictionary_ = json::makeDictionary();
  jsonDictionary_->set(name, json::Value(std::string(text)));
  return true;
}

bool ZVPrototypedObject::setNumber(std::string_view name, double number) {
  const MemberKind k = kind(name);
  if (k == MemberKind::UnsignedNumber) return setUnsignedNumber(name, toUnsigned32(number));
  if (k != MemberKind::Double) return false;
  if (!jsonDictionary_) jsonDictionary_ = json::makeDictionary();
  jsonDictionary_->set(name, json::Value(number));
  return true;
}

bool ZVPrototypedObject::setUnsignedNumber(std::string_view name, std::uint32_t number) {
  const MemberKind k = kind(name);
  if (k == MemberKind::Double) return setNumber(name, number);
  if (k != MemberKind::UnsignedNumber) return false;
  if (!jsonDictionary_) jsonDictionary_ = json::makeDictionary();
  jsonDictionary_->set(name, json::Value(number));
  return true;
}

// --- Nodes --------------------------------------------------------------------------

std::string ZVPrototypedObject::tevNodeType() const {
  const json::Value* order = jsonDictionary_ ? jsonDictionary_->find(kOrder) : nullptr;
  if (!order || !order->isArray() || order->asArray()->empty()) return {};
  return order->asArray()->front().asString();
}

json::Value ZVPrototypedObject::tevNodeValue() const {
  const std::string type = tevNodeType();
  if (type.empty()) return json::Value("");
  MemberValue v = read(type);
  return v.isObject() || v.isArray() ? json::Value() : v.value;
}

ObjectPtr ZVPrototypedObject::tevNodeChildWithValue(const json::Value& value) const {
  for (const Member& m : members_) {
    if (m.type == Member::Type::Object && m.object && m.object->tevNodeValue() == value) {
      return m.object;
    }
    if (m.type == Member::Type::Array) {
      for (const ObjectPtr& element : m.array) {
        if (element->tevNodeValue() == value) return element;
      }
    }
  }
  return nullptr;
}

json::Value tevNodeValue(const json::Value&) {
  return json::Value("");
}

ObjectPtr tevNodeChildWithValue(const json::Value&, const json::Value&) {
  return nullptr;
}

}  // namespace zv::profile
