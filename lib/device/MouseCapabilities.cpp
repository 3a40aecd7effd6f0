#include "device/MouseCapabilities.h"

#include <algorithm>
#include <optional>
#include <set>

#include "platform/HidItems.h"

namespace zv::device {

namespace {

constexpr std::uint16_t kGenericDesktop = 0x01;
constexpr std::uint16_t kButtonPage = 0x09;
constexpr std::uint16_t kConsumerPage = 0x0C;
constexpr std::uint16_t kPointerUsage = 0x01;
constexpr std::uint16_t kMouseUsage = 0x02;
constexpr std::uint16_t kXUsage = 0x30;
constexpr std::uint16_t kYUsage = 0x31;
constexpr std::uint16_t kWheelUsage = 0x38;
constexpr std::uint16_t kPanUsage = 0x0238;
// Push may nest; the HID specification gives no bound, a real descriptor needs a few.
constexpr std::size_t kMaxPushDepth = 16;

struct Usage {
  std::uint16_t page;
  std::uint16_t id;
};

// The local items before a main item. A 4-byte usage carries its own page; a shorter one
// takes the usage page in force at the main item.
struct Locals {
  std::vector<std::uint32_t> usages;  // explicit page << 16 | usage, or usage alone
  std::vector<bool> extended;         // the usage carried its page
  std::optional<std::uint32_t> minimum, maximum;
  bool minimumExtended = false;
  void clear() { *this = Locals{}; }
};

Usage resolve(std::uint32_t value, bool extended, std::uint16_t page) {
  return extended
             ? Usage{static_cast<std::uint16_t>(value >> 16), static_cast<std::uint16_t>(value)}
             : Usage{page, static_cast<std::uint16_t>(value)};
}

base::Failure failure(int code, std::string message) {
  return base::Failure{kMouseDescriptorDomain, code, std::move(message)};
}

}  // namespace

std::string MouseCapabilities::summary() const {
  std::string text =
      std::to_string(buttons.size()) + (buttons.size() == 1 ? " button" : " buttons");
  if (wheel) text += ", wheel";
  if (pan) text += ", pan";
  return text;
}

base::Result<MouseCapabilities> mouseCapabilities(std::span<const std::uint8_t> descriptor) {
  MouseCapabilities found;
  std::set<std::uint16_t> buttons;
  bool anyInput = false;
  std::uint16_t page = 0;
  std::vector<std::uint16_t> pushed;
  std::uint32_t reportCount = 0;
  Locals locals;
  // For each open collection, whether it is (or lies within) a mouse application.
  std::vector<bool> inMouse;

  platform::HidItemReader items(descriptor);
  while (const auto item = items.next()) {
    const std::uint32_t data = item->data;
    const int type = item->type;
    const int tag = item->tag;
    const std::size_t size = item->size;

    if (type == platform::kHidGlobalItem) {
      if (tag == 0) page = static_cast<std::uint16_t>(data);
      if (tag == 9) reportCount = data;
      if (tag == 10 && pushed.size() < kMaxPushDepth) pushed.push_back(page);
      if (tag == 11 && !pushed.empty()) {
        page = pushed.back();
        pushed.pop_back();
      }
      continue;
    }
    if (type == platform::kHidLocalItem) {
      if (tag == 0) {
        locals.usages.push_back(data);
        locals.extended.push_back(size == 4);
      } else if (tag == 1) {
        locals.minimum = data;
        locals.minimumExtended = size == 4;
      } else if (tag == 2) {
        locals.maximum = data;
      }
      continue;
    }
    if (type != platform::kHidMainItem) continue;

    if (tag == 10) {  // collection
      bool mouse = !inMouse.empty() && inMouse.back();
      if (data == 1 && !locals.usages.empty()) {
        const Usage usage = resolve(locals.usages.front(), locals.extended.front(), page);
        mouse =
            usage.page == kGenericDesktop && (usage.id == kMouseUsage || usage.id == kPointerUsage);
      }
      inMouse.push_back(mouse);
    } else if (tag == 12) {  // end collection
      if (!inMouse.empty()) inMouse.pop_back();
    } else if (tag == 8 && !inMouse.empty() && inMouse.back() && !(data & 1)) {  // input
      anyInput = true;
      const bool relative = data & 4;
      std::vector<Usage> usages;
      for (std::size_t i = 0; i < locals.usages.size(); ++i) {
        usages.push_back(resolve(locals.usages[i], locals.extended[i], page));
      }
      if (locals.minimum && locals.maximum) {
        const Usage low = resolve(*locals.minimum, locals.minimumExtended, page);
        const std::uint16_t high = static_cast<std::uint16_t>(*locals.maximum);
        // A range is as long as the field it names, and buttons are bounded anyway.
        const std::uint32_t span = std::min<std::uint32_t>(
            {std::uint32_t(high >= low.id ? high - low.id + 1 : 0),
             std::max<std::uint32_t>(reportCount, 1), std::uint32_t(kMaxMouseButtons)});
        for (std::uint32_t i = 0; i < span; ++i) {
          usages.push_back({low.page, static_cast<std::uint16_t>(low.id + i)});
        }
      }
      for (const Usage& usage : usages) {
        if (usage.page == kButtonPage && usage.id != 0 && buttons.size() < kMaxMouseButtons) {
          buttons.insert(usage.id);
        } else if (usage.page == kGenericDesktop && usage.id == kXUsage) {
          found.x = true;
          found.relativeX = relative;
        } else if (usage.page == kGenericDesktop && usage.id == kYUsage) {
          found.y = true;
          found.relativeY = relative;
        } else if (usage.page == kGenericDesktop && usage.id == kWheelUsage) {
          found.wheel = true;
        } else if (usage.page == kConsumerPage && usage.id == kPanUsage) {
          found.pan = true;
        }
      }
    }
    locals.clear();
  }
  if (const auto cut = items.cutShortAt()) {
    return failure(kDescriptorCutShort, "the report descriptor is cut short in the item at byte " +
                                            std::to_string(*cut));
  }
  if (!anyInput) {
    return failure(kNoMouseCollection,
                   "the report descriptor has no Mouse or Pointer collection with input");
  }
  found.buttons.assign(buttons.begin(), buttons.end());
  return found;
}

}  // namespace zv::device
