// EVIOCGRAB on /dev/input/eventN nodes, each held open while grabbed.
#pragma once

#include <vector>

#include "daemon/InputGrab.h"

namespace zv::driver {

class LinuxInputGrab : public InputGrab {
 public:
  ~LinuxInputGrab() override { release(); }
  int grab(const std::vector<std::string>& nodes, std::vector<std::string>* problems) override;
  void release() override;

 private:
  std::vector<int> fds_;
};

}  // namespace zv::driver
