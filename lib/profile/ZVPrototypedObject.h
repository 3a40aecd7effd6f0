// Prototyped objects: the object model of a profile.
//
// Every object of a profile (the profile, its controllers, controls, shift states,
// selection sets, triggers, bands, commands, action blocks and actions) is a
// ZVPrototypedObject: a typed view over one dictionary of the profile's JSON tree. Which
// members an object has, their kinds and the class of each child are not declared in
// code: they come from a prototype, a second JSON tree of the same shape
// (data/tevnodes.prototype, see data/README.md).
//
// The object tree and the JSON tree stay one. A child keeps the very dictionary that
// stands inside its parent's JSON (json::Value shares dictionaries), and every setter
// writes into that dictionary, so serialising the root's JSONDictionary() always gives
// the current state of the whole profile.
//
// Building a tree:
//
//   auto root = ZVPrototypedObject::makeFromPrototype(prototype);  // class from "@CLASS"
//   root->setJSON(jsonText);       // or setJSON(dictionary) to hand over a parsed tree
//   root->children("controllers")  // the built children
//
// setJSON() rebuilds every object below the root, numbers the nodes, resolves
// references ("[GUIDREF]" members) to the nearest object carrying that GUID, then calls
// loadCompleted(root) on every node, root first. Text that does not parse as a JSON
// object changes nothing and answers false. Subclasses (ZVProfile, ZVShiftState, …)
// register with ClassRegistration and override initA(), setJSONDictionary() (call the
// base first) and loadCompleted().
//
// Member access. Each name has a kind per class (ClassRegistry.h): the first prototype
// an object of the class was built from decides it. Reads:
//   read(name)            the generic read, by kind: a child object, an array of child
//                         objects, a resolved reference, or the JSON value converted by
//                         kind ("%X" → number, 0 when absent or not a number; double →
//                         number, a string's leading decimal number, 0 when absent).
//                         A "[GUIDREF]" name answers nothing until it is resolved.
//   child(name)           a child object or resolved reference (nullptr when none);
//                         also members built under "<name>_obj"
//   reference(name)       the same, for "[GUIDREF]" names
//   children(name)        the built array of child objects (empty when none); the
//                         reference holds until this object's JSON is set again
//   value(name)           the raw JSON value (null when absent); GUID strings stay visible
//   string(name)          the JSON string ("" when absent or not a string)
//   number(name)          as a double: numbers, a string's leading decimal number, else 0
//   integer(name)         as a signed 32-bit integer, the same way (clamped)
//   unsignedNumber(name)  a "%X" member: the number as unsigned 32-bit, else 0
// Writes go into the shared JSON dictionary and never touch the built members (a
// written child is only seen after the tree is rebuilt). write(name, value) stores by
// kind; setString / setNumber / setUnsignedNumber are its typed forms. A write answers
// false, changing nothing, for a name the class does not know, for an object member
// (those have no setter) and for a value of the wrong kind.
//
// Cost: typed reads are a lookup in this object's small JSON dictionary (the built
// members for child()/children()), with no locking and no allocation for numbers; they
// are meant for the key-press path. read(), write() and kind() also consult the class's
// kind table under a shared lock.
//
// Lifetime and threads: objects live in std::shared_ptr (create them with
// std::make_shared or the factories here: building children needs shared_from_this).
// Members own their children; parent() and resolved references are non-owning, so a
// tree with references between its nodes is freed as a whole. Not synchronised: a tree
// is built and replaced on one thread; other threads may read members concurrently as
// long as no one rebuilds or writes the objects they read. Objects held elsewhere
// survive a rebuild of their parent, detached from the new tree (their own children and
// JSON stay as they were).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "json/Error.h"
#include "json/Value.h"
#include "profile/ClassRegistry.h"

namespace zv::profile {

class ZVPrototypedObject;
using ObjectPtr = std::shared_ptr<ZVPrototypedObject>;
using ObjectArray = std::vector<ObjectPtr>;
// GUID string → the nodes that carry it, in node-collection order.
using GUIDTable = std::unordered_map<std::string, std::vector<ZVPrototypedObject*>>;

// One built member: a child object, an array of child objects, or a resolved reference.
struct Member {
  enum class Type : unsigned char { Object, Array, Reference };
  std::string name;
  Type type = Type::Object;
  ObjectPtr object;                             // Type::Object
  ObjectArray array;                            // Type::Array
  std::weak_ptr<ZVPrototypedObject> reference;  // Type::Reference
};

// The answer of a generic member read.
struct MemberValue {
  ObjectPtr object;                    // a child object or a resolved reference
  const ObjectArray* array = nullptr;  // an array of child objects (owned by the object read)
  json::Value value;                   // otherwise the JSON value, converted by kind

  bool isObject() const { return object != nullptr; }
  bool isArray() const { return array != nullptr; }
  // Nothing at all: no built member and no JSON value.
  bool isNothing() const { return !object && !array && value.isNull(); }
};

class ZVPrototypedObject : public std::enable_shared_from_this<ZVPrototypedObject> {
 public:
  static constexpr const char* kClassName = "ZVPrototypedObject";

  ZVPrototypedObject() = default;
  virtual ~ZVPrototypedObject() = default;
  ZVPrototypedObject(const ZVPrototypedObject&) = delete;
  ZVPrototypedObject& operator=(const ZVPrototypedObject&) = delete;

  // The registered class name ("ZVShiftState"); plain objects answer kClassName.
  virtual const char* className() const { return kClassName; }

  // --- Construction ---------------------------------------------------------------

  // Parses the prototype text (UTF-8 JSON; newline characters count as blanks) and
  // proceeds as initWithPrototypeDictionary. Used for a root. False, with `error` set
  // when the reader failed, when the text is not a JSON object.
  bool initWithPrototypeJSON(std::string_view prototypeText, const ObjectPtr& parent = nullptr,
                             json::Error* error = nullptr);
  // Keeps the prototype (shared, never copied) and the parent; clears the JSON and the
  // members; sets the prototype's "_obj_order" to an empty array (in place); registers
  // the kind of every prototype key for this object's class; calls initA().
  void initWithPrototypeDictionary(json::DictionaryPtr prototype,
                                   const ObjectPtr& parent = nullptr);

  // An object of the class the prototype names in "@CLASS" (plain when unknown),
  // constructed from the prototype, without JSON yet.
  static ObjectPtr makeFromPrototype(const json::DictionaryPtr& prototype,
                                     const ObjectPtr& parent = nullptr);
  // makeFromPrototype, then setJSONDictionary(json).
  static ObjectPtr objectFromPrototype(const json::DictionaryPtr& prototype,
                                       const json::DictionaryPtr& json, const ObjectPtr& parent);
  // Appends to `destination` one object per dictionary element of `array` (other
  // elements are skipped), built from `elementPrototype` with `parent` as parent.
  static void populateArray(ObjectArray& destination, const json::Array& array,
                            const json::DictionaryPtr& elementPrototype, const ObjectPtr& parent);

  // Hooks, in the order they run: initA() last in construction; setJSONDictionary()
  // when the JSON is set (overrides call the base first, then derive their fields);
  // loadCompleted(root) once per node after the whole tree is built, numbered and
  // resolved, in node order, root first.
  virtual void initA() {}
  virtual void setJSONDictionary(const json::DictionaryPtr& dictionary);
  virtual void loadCompleted(const ObjectPtr& root) { (void)root; }

  // --- The whole tree ---------------------------------------------------------------

  // Replaces the whole tree below this object with the JSON object in `text` (parsed by
  // the suite's reader). Text that does not parse as a JSON object changes nothing and
  // answers false (with `error` set when the reader reported one).
  bool setJSON(std::string_view text, json::Error* error = nullptr);
  // The same with a parsed dictionary, which the tree takes over as it is (not copied):
  // the caller must not keep using it elsewhere. False for a null dictionary.
  bool setJSON(json::DictionaryPtr dictionary);
  // The JSON text of this object's dictionary (the suite's compact writer); "{}" before
  // any JSON was set.
  std::string JSON() const;
  // This object's JSON dictionary, shared with the parent's JSON (null before any JSON
  // was set).
  const json::DictionaryPtr& JSONDictionary() const { return jsonDictionary_; }

  // This object and every object below it, in collection order, numbering them on the
  // way (this object keeps its index). References are not followed.
  std::vector<ObjectPtr> allNodes();
  // The numbering step of allNodes: appends this subtree to `list` and answers the last
  // number given.
  int collectNodes(std::vector<ZVPrototypedObject*>& list);
  // Binds every "[GUIDREF]" member whose JSON holds a GUID string of the table to the
  // candidate nearest by index (the earlier one on a tie).
  void resolveGUIDObjects(const GUIDTable& table);

  // --- Plain accessors -----------------------------------------------------------------

  const json::DictionaryPtr& prototypeDictionary() const { return prototype_; }
  const std::vector<Member>& members() const { return members_; }
  ObjectPtr parent() const { return parent_.lock(); }
  int index() const { return index_; }
  void setIndex(int index) { index_ = index; }

  // --- Members (see the top of this file) ----------------------------------------------

  MemberKind kind(std::string_view name) const;
  MemberValue read(std::string_view name) const;
  bool write(std::string_view name, const json::Value& value);

  json::Value value(std::string_view name) const;
  bool has(std::string_view name) const;
  std::string string(std::string_view name) const;
  double number(std::string_view name) const;
  std::int32_t integer(std::string_view name) const;
  std::uint32_t unsignedNumber(std::string_view name) const;
  ObjectPtr child(std::string_view name) const;
  ObjectPtr reference(std::string_view name) const { return child(name); }
  const ObjectArray& children(std::string_view name) const;

  bool setString(std::string_view name, std::string_view text);
  bool setNumber(std::string_view name, double number);
  bool setUnsignedNumber(std::string_view name, std::uint32_t number);

  // --- Nodes ------------------------------------------------------------------------

  // The first entry of "_obj_order" (the node's type), untrimmed; "" when there is none.
  std::string tevNodeType() const;
  // The read of the member named by tevNodeType(), untrimmed: a string, or a number for
  // a "%X" member; "" when "_obj_order" is absent or empty; null when the member is.
  json::Value tevNodeValue() const;
  // The first direct child (built members and array elements, in order, references
  // excluded) whose tevNodeValue() equals `value`; nullptr when none.
  ObjectPtr tevNodeChildWithValue(const json::Value& value) const;

 private:
  const Member* findMember(std::string_view name) const;
  void setMember(Member member);
  ClassInfo& classInfo() const;
  bool isGUIDRef(std::string_view name) const;

  json::DictionaryPtr prototype_;
  json::DictionaryPtr jsonDictionary_;
  std::weak_ptr<ZVPrototypedObject> parent_;
  std::vector<Member> members_;
  mutable ClassInfo* classInfo_ = nullptr;
  int index_ = 0;
};

// Raw JSON containers answer like nodes: tevNodeValue is "" and tevNodeChildWithValue
// is nothing, so code may walk a JSON tree where it expects nodes.
json::Value tevNodeValue(const json::Value& container);
ObjectPtr tevNodeChildWithValue(const json::Value& container, const json::Value& value);

// Conversions shared with the node-text code and the subclasses.
// "%X" scanning: optional leading whitespace, an optional "0x"/"0X", then hexadecimal
// digits up to the first other character; 0 when there are none; saturates at
// 0xFFFFFFFF.
std::uint32_t scanHexUnsigned(std::string_view text);
// A string's leading decimal number (leading whitespace skipped; 0 when none).
double leadingDecimalNumber(std::string_view text);
// A JSON number as unsigned 32-bit: truncated toward zero, modulo 2^32; 0 for NaN.
std::uint32_t toUnsigned32(double number);
// A JSON number as signed 32-bit: truncated toward zero, clamped; 0 for NaN.
std::int32_t toSigned32(double number);

}  // namespace zv::profile
