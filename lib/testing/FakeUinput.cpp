#include "testing/FakeUinput.h"

namespace zv::testing {

class FakeUinputDevice : public output::UinputDevice {
 public:
  FakeUinputDevice(FakeUinputFactory& factory, std::string name)
      : factory_(factory), name_(std::move(name)) {}
  int write(const output::RawEvent& event) override { return factory_.record(name_, event); }
  std::string devnode() const override { return "/dev/input/fake-" + name_; }

 private:
  FakeUinputFactory& factory_;
  std::string name_;
};

std::unique_ptr<output::UinputDevice> FakeUinputFactory::create(
    const output::VirtualDeviceSetup& setup, int* error) {
  std::lock_guard lock(mutex_);
  ++creates_;
  if (failWith_ != 0) {
    *error = failWith_;
    return nullptr;
  }
  setups_.push_back(setup);
  return std::make_unique<FakeUinputDevice>(*this, setup.name);
}

int FakeUinputFactory::record(const std::string& device, const output::RawEvent& event) {
  std::lock_guard lock(mutex_);
  const std::size_t index = writeCount_++;
  if (index >= failWritesFrom_) return writeError_;
  if (!discard_) writes_.push_back({device, event});
  return 0;
}

std::vector<output::VirtualDeviceSetup> FakeUinputFactory::setups() const {
  std::lock_guard lock(mutex_);
  return setups_;
}

std::vector<FakeUinputFactory::Write> FakeUinputFactory::writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::size_t FakeUinputFactory::writeCount() const {
  std::lock_guard lock(mutex_);
  return writeCount_;
}

int FakeUinputFactory::creates() const {
  std::lock_guard lock(mutex_);
  return creates_;
}

}  // namespace zv::testing
