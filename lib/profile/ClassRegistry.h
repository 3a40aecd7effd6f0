// The classes a prototype can name in "@CLASS", and the member kinds each class has
// learnt from the prototypes its objects were built from.
//
// A prototype names the class of every object built from it. The registry maps that
// name to a factory; a name it does not know (ZVController, ZVSelectionSet,
// ZVShiftCommand, anything else) builds a plain ZVPrototypedObject. Each class keeps one
// table of member kinds. The first object of a class that is built from a prototype
// fixes the kind of every name that prototype lists; later objects of the class, even
// when built from other prototypes, keep those kinds (first registration wins), and the
// tables live for the whole process. All plain objects share the table of the base
// class; a subclass that has no entry for a name answers its base class's entry.
//
// Thread safety: registration and lookups may come from any thread (kind tables are
// guarded); registering a class is meant for static initialisation.
#pragma once

#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace zv::profile {

class ZVPrototypedObject;

// The kind of a member, decided by the member's value in the prototype.
enum class MemberKind : unsigned char {
  None,            // the class never saw this name
  Object,          // a dictionary (child object) or an array (array of child objects)
  UnsignedNumber,  // the string "%X": an unsigned 32-bit number, hexadecimal in node text
  String,          // any other string ("[GUID]" and "[GUIDREF]" included)
  Double,          // a number
};

// One class's member-kind table.
class ClassInfo {
 public:
  ClassInfo(std::string name, const ClassInfo* base) : name_(std::move(name)), base_(base) {}

  const std::string& name() const { return name_; }
  const ClassInfo* base() const { return base_; }

  // The kind of `name` in this class, else in its base classes; None when unknown.
  MemberKind kind(std::string_view name) const;
  // Records the kind unless this class already has one for the name.
  void registerKind(std::string_view name, MemberKind kind);

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::string name_;
  const ClassInfo* base_;
  mutable std::shared_mutex mutex_;
  std::unordered_map<std::string, MemberKind, Hash, std::equal_to<>> kinds_;
};

class ClassRegistry {
 public:
  using Factory = std::function<std::shared_ptr<ZVPrototypedObject>()>;

  struct Entry {
    Factory factory;
    ClassInfo* info = nullptr;
  };

  static ClassRegistry& shared();

  // Registers a class under its name; its kind table falls back to the plain class's
  // (every class of the suite derives directly from ZVPrototypedObject). A second
  // registration of a name replaces the factory and keeps the table.
  void registerClass(const std::string& name, Factory factory);

  // The entry for a class name; the plain class's entry for an unknown or empty name.
  const Entry& entry(std::string_view name) const;
  // The kind table of a class name (created on first use for names without a factory,
  // so that subclasses can be asked for before they register).
  ClassInfo& info(std::string_view name);
  ClassInfo& plainInfo() { return *plain_.info; }

 private:
  ClassRegistry();
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  mutable std::shared_mutex mutex_;
  std::unordered_map<std::string, Entry, Hash, std::equal_to<>> entries_;
  std::unordered_map<std::string, std::unique_ptr<ClassInfo>, Hash, std::equal_to<>> infos_;
  Entry plain_;
};

// Registers class T (default-constructible, derived from ZVPrototypedObject, with a
// static `kClassName`) at static-initialisation time:
//   const ClassRegistration<ZVShiftState> registration;
template <class T>
struct ClassRegistration {
  ClassRegistration() {
    ClassRegistry::shared().registerClass(T::kClassName, [] { return std::make_shared<T>(); });
  }
};

}  // namespace zv::profile
