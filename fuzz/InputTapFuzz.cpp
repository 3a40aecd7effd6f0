// Evdev events from keyboards and pointers are outside input: a device may send any type,
// code and value in any order. This target feeds arbitrary event streams through the key
// and mouse taps (on fake devices) and checks that no tap crashes, that the key tap only
// reports HID keys, and that the mouse tap never leaves a button of the virtual pointer
// pressed once it is cancelled.
//
// Input: one byte choosing the target's answers, then records of 8 bytes:
//   op (low 2 bits: 0 keyboard event, 1 pointer event, 2 deliver, 3 cancel/restart taps),
//   type selector, code (2 bytes), value (4 bytes, little endian).
#include <linux/input-event-codes.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>

#include "log/Log.h"
#include "output/RecordingOutput.h"
#include "output/ZVKeyboard.h"
#include "output/ZVMouse.h"
#include "testing/FakeInputDevices.h"

namespace {

using namespace zv::output;

class Target : public ZVMouseTapTarget {
 public:
  explicit Target(std::uint8_t answers) : answers_(answers) {}
  bool onMouse(std::uint32_t page, std::uint32_t usage, std::uint32_t value, Point,
               std::uint64_t) override {
    if (page != 9 || usage > 3 || value > 1) std::abort();
    return (answers_ >> (calls_++ % 8)) & 1;
  }

 private:
  std::uint8_t answers_;
  unsigned calls_ = 0;
};

std::uint16_t typeFor(std::uint8_t selector) {
  static const std::uint16_t types[] = {EV_SYN, EV_KEY, EV_REL, EV_ABS, EV_MSC, EV_SYN, EV_KEY};
  return selector < 7 ? types[selector % 7] : selector;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    zv::log::setLogThreshold(std::nullopt);
    return true;
  }();
  (void)quiet;
  if (size < 1) return 0;

  auto source = std::make_shared<zv::testing::FakeInputDeviceSource>();
  auto watcher = std::make_shared<zv::testing::FakeFdWatcher>();
  auto board = std::make_shared<zv::testing::FakeInputDevice>("keyboard");
  auto pointer = std::make_shared<zv::testing::FakeInputDevice>("mouse");
  source->add(InputDeviceKind::keyboard, board);
  source->add(InputDeviceKind::pointer, pointer);
  auto output = std::make_shared<RecordingOutput>([] { return std::chrono::nanoseconds(0); });
  const TapServices services{source, watcher};
  auto keyboard = std::make_unique<ZVKeyboard>(output, services);
  ZVMouse mouse(output, services);
  auto target = std::make_shared<Target>(data[0]);

  auto onKey = [](std::uint32_t page, std::uint32_t usage, std::uint32_t value, std::uint64_t) {
    if ((page != 5 && page != 7 && page != 12) || usage > 0xFF || value > 1) std::abort();
  };
  keyboard->tap(onKey);
  mouse.tap(target);

  for (std::size_t at = 1; at + 8 <= size; at += 8) {
    const std::uint8_t* record = data + at;
    const zv::output::InputEvent event{
        typeFor(record[1]), static_cast<std::uint16_t>(record[2] | record[3] << 8),
        static_cast<std::int32_t>(static_cast<std::uint32_t>(record[4]) | record[5] << 8 |
                                  record[6] << 16 | static_cast<std::uint32_t>(record[7]) << 24),
        at};
    switch (record[0] & 3) {
      case 0:
        board->push({event});
        mapTappedKey(event);
        break;
      case 1:
        pointer->push({event});
        break;
      case 2:
        watcher->fire(board->fd());
        watcher->fire(pointer->fd());
        break;
      default:
        if (record[0] & 4) {
          keyboard->cancelTap();
          keyboard->tap(onKey);
        } else {
          mouse.cancelTap();
          mouse.tapWithDrag(target);
        }
        break;
    }
  }
  watcher->fire(board->fd());
  watcher->fire(pointer->fd());
  keyboard.reset();
  mouse.cancelTap();

  // Every button pressed on the virtual pointer is released again.
  std::map<std::uint16_t, std::int32_t> buttons;
  for (const RecordedEvent& e : output->events()) {
    if (e.device != VirtualDevice::pointer) continue;
    if (e.type == EV_KEY) buttons[e.code] = e.value;
    if (e.type != EV_KEY && e.type != EV_REL) std::abort();
  }
  for (const auto& [code, value] : buttons) {
    if (value != 0) std::abort();
  }
  return 0;
}
