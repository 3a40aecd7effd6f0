#include "platform/HidManager.h"

#include <mutex>

#include "platform/LinuxHidManager.h"

namespace zv::platform {

namespace {
std::mutex factoryMutex;
HidManagerFactory& factory() {
  static auto* slot = new HidManagerFactory;
  return *slot;
}
}  // namespace

std::unique_ptr<HidManager> createHidManager() {
  HidManagerFactory make;
  {
    std::lock_guard lock(factoryMutex);
    make = factory();
  }
  if (make) return make();
  return std::make_unique<LinuxHidManager>();
}

HidManagerFactory setHidManagerFactory(HidManagerFactory make) {
  std::lock_guard lock(factoryMutex);
  HidManagerFactory previous = std::move(factory());
  factory() = std::move(make);
  return previous;
}

}  // namespace zv::platform
