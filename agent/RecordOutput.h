// The output backend of `perch --output record`: keys, wheel steps and pointer buttons
// become lines of the record (RecordStream.h) instead of events of the virtual keyboard
// and pointer, one line per key change, wheel step or button change:
//
//   key KEY_PAGEDOWN down      (up, repeat)
//   wheel up 1                 (down, left, right; lines, or "0.5" for a high-resolution step)
//   button BTN_MIDDLE down
//
// It keeps which keys and buttons are down, like the kernel does for a uinput device,
// and releaseHeldKeys() lets go of them when the agent ends: a recording never ends with
// a key held.
//
// Threads: posts from any thread (command threads).
#pragma once

#include <bitset>
#include <memory>
#include <mutex>

#include "RecordStream.h"
#include "output/OutputDevice.h"
#include "output/RecordingOutput.h"
#include "output/UinputOutput.h"

namespace zv::agent {

class RecordOutput : public output::OutputDevice {
 public:
  explicit RecordOutput(std::shared_ptr<RecordStream> stream) : stream_(std::move(stream)) {}

  // A line "key NAME up (released at exit)" for each key or button still down. Answers
  // how many there were.
  std::size_t releaseHeldKeys();
  // The lines for the encoded events of one request.
  void record(std::span<const output::RawEvent> events);

 protected:
  void emit(output::VirtualDevice device, std::span<const output::RawEvent> events,
            const output::EventInfo& info) override;

 private:
  static constexpr std::size_t kCodes = 0x300;  // KEY_MAX + 1

  std::shared_ptr<RecordStream> stream_;
  std::mutex mutex_;
  std::bitset<kCodes> down_;
};

// `perch --output uinput+record`: the desktop gets the keys through the virtual keyboard
// and pointer, and the record gets their lines as well.
class UinputRecordOutput : public output::UinputOutput {
 public:
  explicit UinputRecordOutput(std::shared_ptr<RecordOutput> record) : record_(std::move(record)) {}

 protected:
  void emit(output::VirtualDevice device, std::span<const output::RawEvent> events,
            const output::EventInfo& info) override;

 private:
  std::shared_ptr<RecordOutput> record_;
};

}  // namespace zv::agent
