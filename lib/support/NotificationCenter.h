// In-process notifications: a poster names what happened, observers registered for
// that name are called. Used for "ZVPreferencesUpdated" and for anything else one part
// of a process announces to parts it does not know.
//
// Delivery is synchronous, on the posting thread, in the order observers were added.
// Observers may be added and removed from any thread, also from inside an observer
// while a notification is being delivered: an observer removed during a delivery is
// not called after its removal (when the removal happens on the delivering thread),
// and one added during a delivery is first called for the next post.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "json/Value.h"

namespace zv::support {

struct Notification {
  std::string name;
  // The object that posted it, for observers that want to tell senders apart; the
  // centre never dereferences it.
  const void* sender = nullptr;
  json::Value userInfo;  // a dictionary, or null
};

class NotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;
  // Identifies an observer; never reused; 0 means "none".
  using ObserverId = std::uint64_t;

  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // The process's own centre (never destroyed).
  static NotificationCenter& defaultCenter();

  // Calls `observer` for every notification named `name`; when `sender` is given, only
  // for that sender's. Answers 0 when `observer` is empty.
  ObserverId addObserver(std::string name, Observer observer, const void* sender = nullptr);
  // Answers whether the observer was registered.
  bool removeObserver(ObserverId id);

  void post(std::string_view name, const void* sender = nullptr, json::Value userInfo = {});

 private:
  struct Registration;
  std::mutex mutex_;
  std::vector<std::shared_ptr<Registration>> observers_;
  ObserverId nextId_ = 1;
};

}  // namespace zv::support
