// Captures the output layer's messages for one test and restores the previous
// destination afterwards.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "output/Diagnostics.h"

namespace zv::testing {

class MessageCapture {
 public:
  MessageCapture() {
    previous_ = output::setMessageHandler([this](std::string_view message) {
      std::lock_guard lock(mutex_);
      messages_.emplace_back(message);
    });
  }
  ~MessageCapture() { output::setMessageHandler(std::move(previous_)); }
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  std::vector<std::string> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  std::string joined() const {
    std::string all;
    for (const std::string& message : messages()) all += message + "\n";
    return all;
  }

 private:
  output::MessageHandler previous_;
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

}  // namespace zv::testing
