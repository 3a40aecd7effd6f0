#include "output/ZVMouse.h"

#include <linux/input-event-codes.h>

#include "output/Diagnostics.h"
#include "protocol/HIDConstants.h"

namespace zv::output {
namespace {

// Which usage a button change reports: left 1, right 2, the first side button 3; the
// middle and the other buttons are not reported.
std::optional<std::uint32_t> buttonUsage(std::uint16_t code) {
  switch (code) {
    case BTN_LEFT:
      return 1;
    case BTN_RIGHT:
      return 2;
    case BTN_SIDE:
      return 3;
    default:
      return std::nullopt;
  }
}

}  // namespace

bool ZVMouseTapTarget::onMouse(std::uint32_t, std::uint32_t, std::uint32_t, Point, std::uint64_t) {
  return true;
}

void PointerTapMapper::reset() {
  pending_.clear();
  held_.clear();
}

std::vector<PointerTapMapper::Step> PointerTapMapper::feed(const InputEvent& event) {
  std::vector<Step> steps;
  if (event.type != EV_SYN) {
    // A report never holds more than a few events; a device that sends an endless one
    // is cut short rather than allowed to grow memory.
    if (pending_.size() < 64) pending_.push_back(event);
    return steps;
  }
  if (event.code == SYN_DROPPED) {
    pending_.clear();
    return steps;
  }
  if (event.code != SYN_REPORT) return steps;

  std::vector<InputEvent> report;
  report.swap(pending_);
  const std::uint64_t time = event.timeNs;

  Step motion;
  double dx = 0;
  double dy = 0;
  for (const InputEvent& e : report) {
    if (e.type == EV_REL && (e.code == REL_X || e.code == REL_Y)) {
      (e.code == REL_X ? dx : dy) += e.value;
      motion.raw.push_back({e.type, e.code, e.value});
    }
  }
  if (!motion.raw.empty()) {
    position_.x += dx;
    position_.y += dy;
    if (held_.count(BTN_LEFT)) {
      motion.report = Reported{0, 0};  // left drag
    } else if (held_.count(BTN_RIGHT)) {
      motion.report = Reported{1, 0};  // right drag
    } else if (held_.empty()) {
      motion.report = Reported{0, 0};  // move
    }
    // A drag of another button is not reported and passes.
    motion.position = position_;
    motion.timeNs = time;
    steps.push_back(std::move(motion));
  }

  Step rest;
  for (const InputEvent& e : report) {
    if (e.type == EV_KEY && e.code >= BTN_MOUSE && e.code <= BTN_TASK) {
      if (e.value == 2) continue;
      if (e.value != 0) {
        held_.insert(e.code);
      } else {
        held_.erase(e.code);
      }
      Step button;
      if (auto usage = buttonUsage(e.code)) {
        button.report = Reported{*usage, e.value != 0 ? 1U : 0U};
      }
      button.raw.push_back({e.type, e.code, e.value});
      button.position = position_;
      button.timeNs = time;
      steps.push_back(std::move(button));
    } else if (!(e.type == EV_REL && (e.code == REL_X || e.code == REL_Y))) {
      rest.raw.push_back({e.type, e.code, e.value});
    }
  }
  if (!rest.raw.empty()) {
    rest.position = position_;
    rest.timeNs = time;
    steps.push_back(std::move(rest));
  }
  return steps;
}

ZVMouse::ZVMouse() : ZVMouse(nullptr) {}

ZVMouse::ZVMouse(std::shared_ptr<OutputDevice> output, TapServices services)
    : output_(output ? std::move(output) : sharedOutput()), services_(std::move(services)) {}

ZVMouse::~ZVMouse() {
  cancelTap();
  pointers_.clear();
}

void ZVMouse::scrollMouse(std::int32_t amount, bool horizontally) {
  // Vertical lines count upwards on both sides. Horizontal amounts count leftwards here
  // and rightwards on REL_HWHEEL, so they change sign.
  output_->postWheel(horizontally ? -amount : amount, horizontally);
}

void ZVMouse::sayTapProblem(const std::string& problem) {
  if (tapProblemSaid_) return;
  tapProblemSaid_ = true;
  say("the mouse tap follows no clicks: " + problem);
}

void ZVMouse::tap(std::shared_ptr<ZVMouseTapTarget> target) {
  withDrag_ = false;
  target_ = std::move(target);
  if (!opened_) {
    const TapServices services = services_.orDefaults();
    if (!services.watcher) {
      sayTapProblem("nothing in this process watches the input devices");
      return;
    }
    std::string problem;
    auto devices = services.devices->open(InputDeviceKind::pointer, &problem);
    if (devices.empty()) {
      sayTapProblem(problem.empty() ? "no pointing device found" : problem);
      return;
    }
    for (auto& device : devices) pointers_[device.get()].device = device;
    watcher_ = services.watcher;
    opened_ = true;
  }
  enable();
}

void ZVMouse::tapWithDrag(std::shared_ptr<ZVMouseTapTarget> target) {
  tap(std::move(target));
  withDrag_ = true;
}

void ZVMouse::enable() {
  if (enabled_) return;
  enabled_ = true;
  ++tapGeneration_;
  for (auto& [key, pointer] : pointers_) {
    // What arrived while the tap was off went to the desktop already.
    std::vector<InputEvent> stale;
    pointer.device->readEvents(stale);
    pointer.mapper.reset();
    tryGrab(pointer);
    std::shared_ptr<InputDevice> device = pointer.device;
    watcher_->watch(device->fd(), [this, device] { onReadable(device); });
  }
}

void ZVMouse::tryGrab(TappedPointer& pointer) {
  if (pointer.grabbed) return;
  // A button held now must reach the desktop's side released, or it stays pressed there:
  // grab once every button is up. Until then events are reported but cannot be swallowed.
  if (pointer.device->anyKeyDown()) return;
  if (pointer.device->grab(true)) {
    pointer.grabbed = true;
  } else if (!grabProblemSaid_) {
    grabProblemSaid_ = true;
    say("the mouse tap cannot take " + pointer.device->name() +
        " for itself (another program holds it): its clicks are followed but not swallowed");
  }
}

void ZVMouse::onReadable(const std::shared_ptr<InputDevice>& device) {
  auto found = pointers_.find(device.get());
  if (found == pointers_.end()) return;
  std::vector<InputEvent> events;
  const bool alive = device->readEvents(events);
  const std::uint64_t generation = tapGeneration_;
  for (const InputEvent& event : events) {
    TappedPointer& pointer = found->second;
    const bool wasGrabbed = pointer.grabbed;
    std::vector<RawEvent> forward;
    for (PointerTapMapper::Step& step : pointer.mapper.feed(event)) {
      bool pass = true;
      if (step.report) {
        pass = mouseEvent(hid::kButtonPage, step.report->usage, step.report->value, step.position,
                          step.timeNs);
        // The target may have stopped the tap or dropped this object's devices.
        if (!enabled_ || generation != tapGeneration_) return;
      }
      if (pass && wasGrabbed) forward.insert(forward.end(), step.raw.begin(), step.raw.end());
    }
    // An ungrabbed node's events reached the desktop already; forwarding would double them.
    for (std::size_t first = 0; first < forward.size(); first += kMaxEncodedEvents - 1) {
      const std::size_t count = std::min(forward.size() - first, kMaxEncodedEvents - 1);
      std::span<const RawEvent> chunk(forward.data() + first, count);
      for (const RawEvent& raw : chunk) {
        if (raw.type != EV_KEY) continue;
        if (raw.value != 0) {
          forwardedDown_.insert(raw.code);
        } else {
          forwardedDown_.erase(raw.code);
        }
      }
      output_->postPointer(chunk);
    }
  }
  if (!alive) {
    watcher_->unwatch(device->fd());
    pointers_.erase(found);
    return;
  }
  tryGrab(found->second);
}

void ZVMouse::releaseForwardedButtons() {
  // A press let through whose release was swallowed would leave the virtual pointer's
  // button down after the tap; release it.
  std::vector<RawEvent> releases;
  for (std::uint16_t code : forwardedDown_) releases.push_back({EV_KEY, code, 0});
  forwardedDown_.clear();
  if (!releases.empty()) output_->postPointer(releases);
}

void ZVMouse::cancelTap() {
  if (!enabled_) return;
  enabled_ = false;
  ++tapGeneration_;
  for (auto& [key, pointer] : pointers_) {
    watcher_->unwatch(pointer.device->fd());
    if (pointer.grabbed) pointer.device->grab(false);
    pointer.grabbed = false;
  }
  releaseForwardedButtons();
}

bool ZVMouse::mouseEvent(std::uint32_t page, std::uint32_t usage, std::uint32_t value,
                         Point position, std::uint64_t timeNs) {
  if (!target_) return true;
  // Hold the target for the call, in case it retargets the tap meanwhile.
  std::shared_ptr<ZVMouseTapTarget> target = target_;
  return target->onMouse(page, usage, value, position, timeNs / 1000000);
}

}  // namespace zv::output
