#include "support/NotificationCenter.h"

#include <algorithm>
#include <atomic>

namespace zv::support {

struct NotificationCenter::Registration {
  ObserverId id;
  std::string name;
  const void* sender;
  Observer observer;
  std::atomic<bool> active{true};
};

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter* const center = new NotificationCenter;
  return *center;
}

NotificationCenter::ObserverId NotificationCenter::addObserver(std::string name, Observer observer,
                                                               const void* sender) {
  if (!observer) return 0;
  auto registration = std::make_shared<Registration>();
  registration->name = std::move(name);
  registration->sender = sender;
  registration->observer = std::move(observer);
  std::lock_guard lock(mutex_);
  registration->id = nextId_++;
  observers_.push_back(registration);
  return registration->id;
}

bool NotificationCenter::removeObserver(ObserverId id) {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(observers_.begin(), observers_.end(),
                               [id](const auto& registration) { return registration->id == id; });
  if (it == observers_.end()) return false;
  (*it)->active = false;
  observers_.erase(it);
  return true;
}

void NotificationCenter::post(std::string_view name, const void* sender, json::Value userInfo) {
  // The matching observers are collected first and called without the lock, so an
  // observer can post, add and remove freely.
  std::vector<std::shared_ptr<Registration>> matching;
  {
    std::lock_guard lock(mutex_);
    for (const auto& registration : observers_) {
      if (registration->name != name) continue;
      if (registration->sender && registration->sender != sender) continue;
      matching.push_back(registration);
    }
  }
  if (matching.empty()) return;
  const Notification notification{std::string(name), sender, std::move(userInfo)};
  for (const auto& registration : matching) {
    if (registration->active) registration->observer(notification);
  }
}

}  // namespace zv::support
