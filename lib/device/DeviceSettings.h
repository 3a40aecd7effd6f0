// A device's settings: integers kept under keys in its profile store's "settings"
// (read and written through the profile-store factory), and the plain values a
// specialised controller may use, 0 at creation, neither persisted nor sent to the device
// here.
//
// Threads: the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace zv::device {

class ProfileStoreInterface;

class DeviceSettings {
 public:
  // The integer under `key` in `store`'s settings; 0 when there is no store, no such key
  // or the value is not a number.
  static std::int32_t get(const std::shared_ptr<ProfileStoreInterface>& store,
                          std::string_view key);
  // Stores the value under `key` and has the store write its settings; nothing without a
  // store or settings.
  static void set(const std::shared_ptr<ProfileStoreInterface>& store, std::string_view key,
                  std::int32_t value);

  std::int32_t pollingRate = 0;
  std::uint8_t ledOffTimer = 0;
  bool dpiLock = false;
  std::int32_t powerSavingMode = 0;
};

}  // namespace zv::device
