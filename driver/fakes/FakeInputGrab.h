// Records which event nodes were grabbed and whether they were let go. Nodes listed with
// refuse() cannot be grabbed (as when another program holds them).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "daemon/InputGrab.h"

namespace zv::driver {

class FakeInputGrab : public InputGrab {
 public:
  int grab(const std::vector<std::string>& nodes, std::vector<std::string>* problems) override {
    int held = 0;
    for (const std::string& node : nodes) {
      if (refused_.count(node)) {
        problems->push_back("cannot grab " + node + ": Device or resource busy");
        continue;
      }
      grabbed_.push_back(node);
      ++held;
    }
    return held;
  }
  void release() override {
    if (!grabbed_.empty()) ++releases_;
    grabbed_.clear();
  }

  void refuse(const std::string& node) { refused_.insert(node); }
  const std::vector<std::string>& grabbed() const { return grabbed_; }
  int releases() const { return releases_; }

 private:
  std::set<std::string> refused_;
  std::vector<std::string> grabbed_;
  int releases_ = 0;
};

}  // namespace zv::driver
