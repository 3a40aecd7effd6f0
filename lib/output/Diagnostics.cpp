#include "output/Diagnostics.h"

#include <iostream>
#include <mutex>

namespace zv::output {
namespace {

std::mutex& handlerMutex() {
  static std::mutex mutex;
  return mutex;
}

MessageHandler& currentHandler() {
  static MessageHandler handler;
  return handler;
}

}  // namespace

MessageHandler setMessageHandler(MessageHandler handler) {
  std::lock_guard lock(handlerMutex());
  MessageHandler previous = std::move(currentHandler());
  currentHandler() = std::move(handler);
  return previous;
}

void say(std::string_view message) {
  MessageHandler handler;
  {
    std::lock_guard lock(handlerMutex());
    handler = currentHandler();
  }
  if (handler) {
    handler(message);
    return;
  }
  // One write per line, so lines of two threads do not interleave.
  std::string line = "kinetra: ";
  line.append(message);
  line.push_back('\n');
  std::cerr << line << std::flush;
}

std::string inputAccessAdvice() {
  return "allow your user to use the input devices: install the udev rule "
         "KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\" (for example in "
         "/etc/udev/rules.d/70-kinetra.rules), load the uinput module (sudo modprobe uinput), "
         "add yourself to the input group (sudo usermod -aG input $USER), reload the rules "
         "(sudo udevadm control --reload && sudo udevadm trigger) and log in again";
}

}  // namespace zv::output
