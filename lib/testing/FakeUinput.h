// A uinput factory that creates nothing: it keeps what each device would declare and
// every event written to it, or fails as /dev/uinput fails.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "output/UinputOutput.h"

namespace zv::testing {

class FakeUinputFactory : public output::UinputFactory {
 public:
  struct Write {
    std::string device;  // the setup's name
    output::RawEvent event;
  };

  std::unique_ptr<output::UinputDevice> create(const output::VirtualDeviceSetup& setup,
                                               int* error) override;

  // Every later create() fails with this errno (0: succeed).
  void failWith(int error) { failWith_ = error; }
  // Writes fail with this negative errno from the n-th write on (counting from 0).
  void failWritesFrom(std::size_t n, int error) {
    failWritesFrom_ = n;
    writeError_ = error;
  }
  // Keep no writes (for the benchmark); counts them still.
  void discardWrites(bool discard) { discard_ = discard; }

  std::vector<output::VirtualDeviceSetup> setups() const;
  std::vector<Write> writes() const;
  std::size_t writeCount() const;
  int creates() const;

 private:
  friend class FakeUinputDevice;
  int record(const std::string& device, const output::RawEvent& event);

  mutable std::mutex mutex_;
  int failWith_ = 0;
  std::size_t failWritesFrom_ = static_cast<std::size_t>(-1);
  int writeError_ = 0;
  bool discard_ = false;
  int creates_ = 0;
  std::size_t writeCount_ = 0;
  std::vector<output::VirtualDeviceSetup> setups_;
  std::vector<Write> writes_;
};

}  // namespace zv::testing
