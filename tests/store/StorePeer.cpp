// Another process on the same profile folder, for the tests that need two real
// processes. It opens the demo mouse's store as the editor does (its bundle and the
// profile prototype given on the command line; the folders from KINETRA_HOME).
//
//   store_peer BUNDLE PROTOTYPE follow   prints "current NAME" now and whenever the
//                                        current profile changes; reads "use NAME"
//                                        lines on standard input; ends at end of input
//   store_peer BUNDLE PROTOTYPE churn NAME…
//                                        for ever: loads, saves and makes current each
//                                        profile in turn and records it as the start-up
//                                        profile, printing "." after each
#include <sys/epoll.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "device/DeviceController.h"
#include "device/DeviceDescriptions.h"
#include "engine/ZVProfile.h"
#include "log/Log.h"
#include "platform/RunLoop.h"
#include "profile/Prototype.h"
#include "store/ZVProfileStore.h"

namespace {

using namespace zv;

class Follower : public store::ZVProfileStoreDelegate {
 public:
  explicit Follower(store::ZVProfileStore* store) : store_(store) {}
  void activeProfileHasChanged() override { print(); }
  void print() const {
    std::cout << "current " << (store_->noProfile() ? "-" : store_->currentProfileName())
              << std::endl;
  }

 private:
  store::ZVProfileStore* store_;
};

int follow(const std::shared_ptr<device::DeviceController>& device) {
  auto& loop = platform::RunLoop::main();
  std::shared_ptr<store::ZVProfileStore> store;
  auto follower = std::make_shared<Follower>(nullptr);
  store = store::ZVProfileStore::profileStoreForDevice(device);
  follower = std::make_shared<Follower>(store.get());
  store->setDelegate(follower);
  device->setProfileStore(store);
  store->readInfo();
  store->readDirectory();
  follower->print();
  std::string input;
  loop.watchFd(0, EPOLLIN, [&](std::uint32_t) {
    char buffer[256];
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n <= 0) return loop.stop();
    input.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = input.find('\n')) != std::string::npos;) {
      const std::string line = input.substr(0, end);
      input.erase(0, end + 1);
      if (line.starts_with("use ")) store->setCurrentProfileByName(line.substr(4));
    }
  });
  loop.run();
  return 0;
}

int churn(const std::shared_ptr<device::DeviceController>& device,
          const std::vector<std::string>& names) {
  // No folder scan: the writer starts saving at once.
  const auto store = store::ZVProfileStore::profileStoreForDevice(device);
  device->setProfileStore(store);
  store->readInfo();
  for (std::size_t i = 0;; ++i) {
    const std::string& name = names[i % names.size()];
    const auto profile = store->profileWithName(name);
    std::string error;
    if (!profile->loaded() || !profile->save(&error)) {
      std::cerr << "store_peer: " << name << ": " << error << std::endl;
      return 1;
    }
    store->setCurrentProfileByName(name);
    store->setStartupProfileByName(name);
    std::cout << "." << std::flush;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: store_peer BUNDLE PROTOTYPE follow|churn NAME…\n";
    return 2;
  }
  // Profile loads send a notice each; the tests need no system log.
  log::setSystemLogHandler([](std::string_view) {});
  std::string error;
  const auto prototype = profile::readPrototypeFile(argv[2], &error);
  if (!prototype) {
    std::cerr << "store_peer: " << error << "\n";
    return 2;
  }
  engine::ZVProfile::setSharedPrototype(prototype);
  const support::Bundle bundle(argv[1]);
  const auto descriptions = device::deviceDescriptions(bundle);
  if (descriptions.empty()) return 2;
  const auto device =
      std::make_shared<device::DeviceController>(descriptions.front(), bundle.bundlePath());
  const std::string mode = argv[3];
  if (mode == "follow") return follow(device);
  if (mode == "churn" && argc > 4)
    return churn(device, std::vector<std::string>(argv + 4, argv + argc));
  return 2;
}
