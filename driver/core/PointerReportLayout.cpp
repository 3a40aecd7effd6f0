#include "core/PointerReportLayout.h"

#include <algorithm>

#include "core/ReportFields.h"
#include "protocol/HIDConstants.h"

namespace zv::driver {

namespace {

constexpr std::uint32_t kNullStateFlag = 0x40;

// The bit offset of one usage of a value capability, if it holds that usage.
std::optional<std::uint32_t> usageOffset(const HIDValueCapability& cap, std::uint16_t usage) {
  if (usage < cap.usageMin || usage > cap.usageMax) return std::nullopt;
  return cap.startBit + (usage - cap.usageMin) * cap.bitSize;
}

std::int64_t clampToField(std::int64_t value, const PointerReportLayout::Field& field) {
  std::int64_t low = field.logicalMin;
  std::int64_t high = field.logicalMax;
  if (low >= high) {  // no usable range: the field's own signed range
    high = (std::int64_t{1} << (field.bitSize - 1)) - 1;
    low = -high - 1;
  }
  return std::clamp(value, low, high);
}

}  // namespace

bool PointerReportLayout::isMouseCollection(const HIDCollectionUsage& collection) {
  return collection.usagePage == hid::kGenericDesktopPage &&
         (collection.usage == hid::kMouseUsage || collection.usage == hid::kPointerUsage);
}

std::optional<PointerReportLayout> PointerReportLayout::fromDescriptor(
    const HIDParsedDescriptor& descriptor) {
  PointerReportLayout layout;
  layout.usesReportIDs_ = descriptor.usesReportIDs();
  const auto buttonCaps = descriptor.getButtonCapabilities(HIDReportType::input);
  const auto valueCaps = descriptor.getValueCapabilities(HIDReportType::input);
  auto isMouseButtons = [](const HIDButtonCapability& cap) {
    return cap.usagePage == hid::kButtonPage && isMouseCollection(cap.collection);
  };

  // The buttons' report: the one with button 1, else the first with any button.
  std::optional<std::uint32_t> buttonsID;
  for (const HIDButtonCapability& cap : buttonCaps) {
    if (!isMouseButtons(cap)) continue;
    if (cap.usageMin == 1) {
      buttonsID = cap.reportID;
      break;
    }
    if (!buttonsID || cap.reportID < *buttonsID) buttonsID = cap.reportID;
  }
  if (buttonsID) {
    layout.buttonsReportID_ = *buttonsID;
    layout.buttonsLength_ =
        descriptor.reportByteLength(HIDReportType::input, static_cast<std::uint8_t>(*buttonsID));
    for (const HIDButtonCapability& cap : buttonCaps) {
      if (!isMouseButtons(cap) || cap.reportID != *buttonsID) continue;
      for (std::uint32_t usage = cap.usageMin; usage <= cap.usageMax; ++usage) {
        if (usage == 0 || usage > kMaxButtons || layout.buttonBits_[usage - 1] != 0) continue;
        layout.buttonBits_[usage - 1] = cap.startBit + (usage - cap.usageMin) + 1;
        layout.buttonMask_ |= std::uint64_t{1} << (usage - 1);
      }
    }
  }

  // The motion report: relative X and Y of 1 to 32 bits in one report, the buttons' report
  // first.
  auto axisIn = [&](std::uint32_t reportID, std::uint16_t usage) -> std::optional<Field> {
    for (const HIDValueCapability& cap : valueCaps) {
      if (cap.reportID != reportID || cap.usagePage != hid::kGenericDesktopPage ||
          !isMouseCollection(cap.collection) || !(cap.bitField & kHIDRelativeFlag) ||
          cap.bitSize == 0 || cap.bitSize > 32) {
        continue;
      }
      if (const auto offset = usageOffset(cap, usage)) {
        return Field{*offset, cap.bitSize, cap.logicalMin, cap.logicalMax};
      }
    }
    return std::nullopt;
  };
  std::vector<std::uint32_t> candidates;
  if (buttonsID) candidates.push_back(*buttonsID);
  for (std::uint8_t id : descriptor.reportIDs(HIDReportType::input)) candidates.push_back(id);
  for (std::uint32_t id : candidates) {
    const auto x = axisIn(id, hid::kXUsage);
    const auto y = axisIn(id, hid::kYUsage);
    if (!x || !y) continue;
    layout.motionReportID_ = id;
    layout.motionLength_ =
        descriptor.reportByteLength(HIDReportType::input, static_cast<std::uint8_t>(id));
    layout.x_ = *x;
    layout.y_ = *y;
    break;
  }
  if (!layout.hasButtons() && !layout.hasMotion()) return std::nullopt;

  // Fields with a null state rest just past their logical maximum, when their bits allow it.
  for (const HIDValueCapability& cap : valueCaps) {
    const bool ours = (layout.hasButtons() && cap.reportID == layout.buttonsReportID_) ||
                      (layout.hasMotion() && cap.reportID == layout.motionReportID_);
    if (!ours || !(cap.bitField & kNullStateFlag) || cap.logicalMin < 0 || cap.bitSize >= 32) {
      continue;
    }
    const auto rest = static_cast<std::uint64_t>(cap.logicalMax) + 1;
    if (rest >= (std::uint64_t{1} << cap.bitSize)) continue;
    for (std::uint32_t k = 0; k < cap.reportCount; ++k) {
      layout.rest_.push_back({cap.reportID, {cap.startBit + k * cap.bitSize, cap.bitSize, rest}});
    }
  }
  return layout;
}

void PointerReportLayout::forceButtons(std::uint8_t* report, std::size_t length,
                                       std::uint64_t mask) const {
  mask &= buttonMask_;
  while (mask != 0) {
    const int i = __builtin_ctzll(mask);
    mask &= mask - 1;
    const std::uint32_t bit = buttonBits_[static_cast<std::size_t>(i)] - 1;
    if (bit / 8 < length) report[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
  }
}

std::uint32_t PointerReportLayout::buttonsOf(const std::uint8_t* report, std::size_t length) const {
  std::uint32_t buttons = 0;
  std::uint64_t mask = buttonMask_ & 0xFFFFFFFFu;
  while (mask != 0) {
    const int i = __builtin_ctzll(mask);
    mask &= mask - 1;
    const std::uint32_t bit = buttonBits_[static_cast<std::size_t>(i)] - 1;
    if (bit / 8 < length && (report[bit / 8] >> (bit % 8) & 1u)) buttons |= 1u << i;
  }
  return buttons;
}

void PointerReportLayout::fillRest(std::uint8_t* report, std::uint32_t reportID,
                                   std::size_t length) const {
  if (usesReportIDs_) report[0] = static_cast<std::uint8_t>(reportID);
  for (const auto& [id, field] : rest_) {
    if (id == reportID && fieldFits(length, field.bitOffset, field.bitSize)) {
      writeField(report, field.bitOffset, field.bitSize, field.value);
    }
  }
}

void PointerReportLayout::build(std::int16_t dx, std::int16_t dy, std::uint32_t buttons,
                                const Sink& sink) const {
  if (!sink) return;
  const bool moving = (dx != 0 || dy != 0) && hasMotion();
  const bool shared = hasButtons() && hasMotion() && buttonsReportID_ == motionReportID_;
  const std::uint32_t id = moving ? motionReportID_ : buttonsReportID_;
  const std::size_t length = moving ? motionLength_ : buttonsLength_;
  if (length == 0 || length > kMaxReportLength) return;
  std::array<std::uint8_t, kMaxReportLength> report{};
  fillRest(report.data(), id, length);
  if (!moving || shared) forceButtons(report.data(), length, buttons);
  if (moving) {
    writeField(report.data(), x_.bitOffset, x_.bitSize,
               static_cast<std::uint64_t>(clampToField(dx, x_)));
    writeField(report.data(), y_.bitOffset, y_.bitSize,
               static_cast<std::uint64_t>(clampToField(dy, y_)));
  }
  sink(report.data(), length);
}

}  // namespace zv::driver
