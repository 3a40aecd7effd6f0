#include "profile/ClassRegistry.h"

#include <mutex>

#include "profile/ZVPrototypedObject.h"

namespace zv::profile {

MemberKind ClassInfo::kind(std::string_view name) const {
  for (const ClassInfo* info = this; info; info = info->base_) {
    std::shared_lock lock(info->mutex_);
    auto it = info->kinds_.find(name);
    if (it != info->kinds_.end()) return it->second;
  }
  return MemberKind::None;
}

void ClassInfo::registerKind(std::string_view name, MemberKind kind) {
  {
    std::shared_lock lock(mutex_);
    if (kinds_.find(name) != kinds_.end()) return;
  }
  std::unique_lock lock(mutex_);
  kinds_.try_emplace(std::string(name), kind);
}

ClassRegistry& ClassRegistry::shared() {
  static ClassRegistry registry;
  return registry;
}

ClassRegistry::ClassRegistry() {
  auto plain = std::make_unique<ClassInfo>(ZVPrototypedObject::kClassName, nullptr);
  plain_.info = plain.get();
  plain_.factory = [] { return std::make_shared<ZVPrototypedObject>(); };
  infos_.emplace(ZVPrototypedObject::kClassName, std::move(plain));
}

void ClassRegistry::registerClass(const std::string& name, Factory factory) {
  ClassInfo& own = info(name);
  std::unique_lock lock(mutex_);
  entries_[name] = Entry{std::move(factory), &own};
}

const ClassRegistry::Entry& ClassRegistry::entry(std::string_view name) const {
  if (!name.empty()) {
    std::shared_lock lock(mutex_);
    auto it = entries_.find(name);
    if (it != entries_.end()) return it->second;
  }
  return plain_;
}

ClassInfo& ClassRegistry::info(std::string_view name) {
  {
    std::shared_lock lock(mutex_);
    auto it = infos_.find(name);
    if (it != infos_.end()) return *it->second;
  }
  std::unique_lock lock(mutex_);
  auto [it, inserted] = infos_.try_emplace(std::string(name));
  if (inserted) it->second = std::make_unique<ClassInfo>(std::string(name), plain_.info);
  return *it->second;
}

}  // namespace zv::profile
