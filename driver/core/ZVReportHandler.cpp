#include "core/ZVReportHandler.h"

#include <algorithm>

#include "core/DebugLog.h"
#include "protocol/HIDConstants.h"

namespace zv::driver {

namespace {

bool fits(std::size_t length, std::uint32_t bitOffset, std::uint32_t bitSize) {
  return (static_cast<std::uint64_t>(bitOffset) + bitSize + 7) / 8 <= length;
}

// Reads a field known to fit. Fast paths for the common shapes: single bits and byte-aligned
// 8- and 16-bit fields.
std::uint64_t readField(const std::uint8_t* report, std::uint32_t bitOffset,
                        std::uint32_t bitSize) {
  const std::uint8_t* p = report + bitOffset / 8;
  const unsigned shift = bitOffset % 8;
  if (bitSize == 1) return (p[0] >> shift) & 1u;
  if (shift == 0 && bitSize == 8) return p[0];
  if (shift == 0 && bitSize == 16) return p[0] | static_cast<std::uint64_t>(p[1]) << 8;
  if (bitSize == 0) return 0;
  const unsigned size = bitSize > 64 ? 64 : bitSize;
  const unsigned bytes = (shift + size + 7) / 8;  // at most 9
  std::uint64_t value = 0;
  for (unsigned i = 0; i < bytes && i < 8; ++i)
    value |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  value >>= shift;
  if (bytes == 9) value |= static_cast<std::uint64_t>(p[8]) << (64 - shift);
  return size == 64 ? value : value & ((std::uint64_t{1} << size) - 1);
}

void writeField(std::uint8_t* report, std::uint32_t bitOffset, std::uint32_t bitSize,
                std::uint64_t value) {
  if (bitSize == 0) return;
  const unsigned size = bitSize > 64 ? 64 : bitSize;
  std::uint32_t bit = bitOffset;
  for (unsigned done = 0; done < size;) {
    std::uint8_t& byte = report[bit / 8];
    const unsigned shift = bit % 8;
    const unsigned take = std::min(8 - shift, size - done);
    const auto mask = static_cast<std::uint8_t>(((1u << take) - 1) << shift);
    const auto bits = static_cast<std::uint8_t>(((value >> done) << shift) & mask);
    byte = static_cast<std::uint8_t>((byte & ~mask) | bits);
    done += take;
    bit += take;
  }
}

// The field as a signed number of its own width (two's complement).
std::int64_t signExtend(std::uint64_t value, std::uint32_t bitSize) {
  if (bitSize == 0 || bitSize >= 64) return static_cast<std::int64_t>(value);
  const std::uint64_t sign = std::uint64_t{1} << (bitSize - 1);
  return static_cast<std::int64_t>((value ^ sign) - sign);
}

std::int16_t saturate16(std::int64_t value) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, INT16_MIN, INT16_MAX));
}

// Deflection of a centred 16-bit axis: -20 at 0, 0 at 32768, 19 at 65535.
std::int32_t axisDeflection(std::uint64_t value) {
  const auto centred = static_cast<std::int32_t>(static_cast<std::uint32_t>(value - 32768));
  return static_cast<std::int32_t>(static_cast<float>(centred) / 32768.0f * 20.0f);
}

}  // namespace

ZVReportHandler::ZVReportHandler(PointerDispatch dispatch, ZVMouseReporter::Mode reporterMode)
    : dispatch_(std::move(dispatch)) {
  userClients_.reserve(3);
  mouseReporter_ = std::make_unique<ZVMouseReporter>(
      [this](std::int16_t dx, std::int16_t dy, std::uint32_t buttons) {
        dispatchRelativePointerEvent(dx, dy, buttons);
      },
      reporterMode);
}

ZVReportHandler::~ZVReportHandler() {
  mouseReporter_.reset();
}

void ZVReportHandler::init(const HIDParsedDescriptor* descriptor, const ZVDeviceConfig* config) {
  if (descriptor) {
    usesReportIDs_ = descriptor->usesReportIDs();
    for (const HIDButtonCapability& cap : descriptor->getButtonCapabilities(HIDReportType::input)) {
      for (std::uint32_t usage = cap.usageMin; usage <= cap.usageMax; ++usage) {
        ZVHIDElement element;
        element.element = hid::element(cap.usagePage, static_cast<std::uint16_t>(usage));
        element.bitOffset = cap.startBit + (usage - cap.usageMin);
        element.bitSize = 1;
        addElement(cap.reportID, element);
      }
    }
    for (const HIDValueCapability& cap : descriptor->getValueCapabilities(HIDReportType::input)) {
      for (std::uint32_t usage = cap.usageMin; usage <= cap.usageMax; ++usage) {
        ZVHIDElement element;
        element.element = hid::element(cap.usagePage, static_cast<std::uint16_t>(usage));
        element.bitOffset = cap.startBit + (usage - cap.usageMin) * cap.bitSize;
        element.bitSize = cap.bitSize;
        addElement(cap.reportID, element);
      }
    }
    // A new element goes before every element with the same or a larger offset: ascending
    // offsets, later additions first among equals.
    for (auto& report : reports_) {
      std::reverse(report->elements.begin(), report->elements.end());
      std::stable_sort(
          report->elements.begin(), report->elements.end(),
          [](const ZVHIDElement& a, const ZVHIDElement& b) { return a.bitOffset < b.bitOffset; });
    }
  }
  refreshActiveReport();
  if (config) {
    // The default report first: the overridden elements are looked up in it.
    setDefaultReport(config->defaultReportID);
    for (std::uint32_t element : config->overriddenElements) {
      if (element == 0) break;
      setElementOverride(element, true);
    }
    setPrecAimPercentage(config->precisionElement, 50);
    expectedReportLength_ = config->reportLength;
  }
}

void ZVReportHandler::addElement(std::uint32_t reportID, const ZVHIDElement& element) {
  ZVHIDReportEntry& report = getReport(reportID);
  report.elements.push_back(element);
  report.byteLength = std::max<std::size_t>(
      report.byteLength, (static_cast<std::uint64_t>(element.bitOffset) + element.bitSize + 7) / 8);
}

ZVHIDReportEntry& ZVReportHandler::getReport(std::uint32_t reportID) {
  for (auto& report : reports_) {
    if (report->reportID == reportID) return *report;
  }
  auto& report = reports_.emplace_back(std::make_unique<ZVHIDReportEntry>());
  report->reportID = reportID;
  if (reportID == activeReportID()) activeReport_ = report.get();
  return *report;
}

const ZVHIDReportEntry* ZVReportHandler::findReport(std::uint32_t reportID) const {
  for (const auto& report : reports_) {
    if (report->reportID == reportID) return report.get();
  }
  return nullptr;
}

void ZVReportHandler::refreshActiveReport() {
  activeReport_ = nullptr;
  for (auto& report : reports_) {
    if (report->reportID == activeReportID()) activeReport_ = report.get();
  }
}

ZVHIDElement* ZVReportHandler::elementWithCookie(std::uint32_t element) {
  if (!activeReport_) return nullptr;
  for (ZVHIDElement& candidate : activeReport_->elements) {
    if (candidate.element == element) return &candidate;
  }
  return nullptr;
}

void ZVReportHandler::setElementOverride(std::uint32_t element, bool flag) {
  ZVHIDElement* found = elementWithCookie(element);
  if (!found) return;
  found->overridden = flag;
  OnHIDElementChange(*found);
}

void ZVReportHandler::setButtonOverrides(std::uint64_t mask) {
  buttonOverrides_ = mask;
  dispatchRelativePointerEvent(0, 0, static_cast<std::uint32_t>(mask));
}

void ZVReportHandler::setHatElement(std::uint32_t element) {
  // The hat is looked up where overrides are: in the report that carries the mouse input.
  if (ZVHIDElement* found = elementWithCookie(element)) found->hat = true;
}

void ZVReportHandler::setMouseAxis(std::uint32_t element, std::uint32_t axis) {
  if (element == xAxisElement_) xAxisElement_ = 0;
  if (element == yAxisElement_) yAxisElement_ = 0;
  if (axis == 1) xAxisElement_ = element;
  if (axis == 2) yAxisElement_ = element;
}

void ZVReportHandler::setPrecAimPercentage(std::uint32_t element, std::int32_t percentage) {
  if (element != 0) precisionElement_ = element;
  xFilter_.SetPercent(percentage);
  yFilter_.SetPercent(percentage);
}

void ZVReportHandler::setDefaultReport(std::uint32_t reportID) {
  defaultReportID_ = reportID;
  refreshActiveReport();
}

void ZVReportHandler::addUserClient(ZVUserClient* client) {
  if (!client) return;
  client->setReportHandler(this);
  userClients_.push_back(client);
  if (!activeReport_) return;
  for (const ZVHIDElement& element : activeReport_->elements) {
    if (element.overridden && element.value != 0) {
      client->sendElementEvent(element.element, element.value, element.bitSize);
    }
  }
}

void ZVReportHandler::removeUserClient(ZVUserClient* client) {
  auto found = std::find(userClients_.begin(), userClients_.end(), client);
  if (found != userClients_.end()) userClients_.erase(found);
  if (exclusiveInterface_ == client) exclusiveInterface_ = nullptr;
}

void ZVReportHandler::OnHIDElementChange(const ZVHIDElement& element) {
  if (exclusiveInterface_) {
    exclusiveInterface_->sendElementEvent(element.element, element.value, element.bitSize);
    return;
  }
  for (ZVUserClient* client : userClients_) {
    client->sendElementEvent(element.element, element.value, element.bitSize);
  }
}

void ZVReportHandler::dispatchRelativePointerEvent(std::int16_t dx, std::int16_t dy,
                                                   std::uint32_t buttons) {
  if (dispatch_) dispatch_(dx, dy, buttons);
}

std::uint64_t ZVReportHandler::getReportValue(const std::uint8_t* report, std::size_t length,
                                              std::uint32_t bitOffset, std::uint32_t bitSize) {
  const std::uint32_t size = std::min<std::uint32_t>(bitSize, 64);
  if (!report || !fits(length, bitOffset, size)) return 0;
  return readField(report, bitOffset, size);
}

void ZVReportHandler::setReportValue(std::uint8_t* report, std::size_t length,
                                     std::uint32_t bitOffset, std::uint64_t value,
                                     std::uint32_t bitSize) {
  const std::uint32_t size = std::min<std::uint32_t>(bitSize, 64);
  if (!report || !fits(length, bitOffset, size)) return;
  writeField(report, bitOffset, size, value);
}

void ZVReportHandler::handleReport(std::uint8_t* report, std::size_t length) {
  if (!report || length == 0) return;
  if (expectedReportLength_ != 0 && length != expectedReportLength_) return;
  debugLogBytes(report, length);

  const std::size_t idBytes = usesReportIDs_ ? 1 : 0;
  if (usesReportIDs_ && report[0] != defaultReportID_) return;

  std::int64_t x = 0;
  std::int64_t y = 0;
  if (ZVHIDReportEntry* entry = activeReport_) {
    // When the report is shorter than the model, fields it does not hold are skipped.
    const bool complete = entry->byteLength <= length;
    auto present = [&](const ZVHIDElement& e) {
      return complete || fits(length, e.bitOffset, std::min<std::uint32_t>(e.bitSize, 64));
    };

    bool precision = false;
    if (precisionElement_ != 0) {
      for (const ZVHIDElement& e : entry->elements) {
        if (e.element == precisionElement_ && present(e) &&
            readField(report, e.bitOffset, e.bitSize) != 0) {
          precision = true;
          break;
        }
      }
    }

    for (ZVHIDElement& e : entry->elements) {
      if (!present(e)) continue;
      e.value = readField(report, e.bitOffset, e.bitSize);

      if (e.element == xAxisElement_ && e.hat) {
        // Hat positions 1..8 run clockwise from up; anything else (the null state) is centred.
        static constexpr std::int8_t kHatSteps[9][2] = {{0, 0},    {0, -15}, {15, -15},
                                                        {15, 0},   {15, 15}, {0, 15},
                                                        {-15, 15}, {-15, 0}, {-15, -15}};
        if (e.value <= 8) {
          x += kHatSteps[e.value][0];
          y += kHatSteps[e.value][1];
        }
        writeField(report, e.bitOffset, e.bitSize, 0);
      } else {
        if (e.element == xAxisElement_) x += axisDeflection(e.value);
        if (e.element == yAxisElement_) y += axisDeflection(e.value);
      }

      if (precision && (e.element == hid::kXAxisElement || e.element == hid::kYAxisElement)) {
        // Scale the field as a signed number of its own width; saturate so a percentage
        // above 100 cannot wrap the motion into the opposite direction.
        const std::uint32_t size = std::min<std::uint32_t>(e.bitSize, 32);
        const std::int64_t current = signExtend(readField(report, e.bitOffset, size), size);
        const ZVPrecisionFilter& filter = e.element == hid::kXAxisElement ? xFilter_ : yFilter_;
        std::int64_t scaled = filter.FilterInput(static_cast<std::int32_t>(current));
        if (size < 32) {
          const std::int64_t limit = std::int64_t{1} << (size - 1);
          scaled = std::clamp<std::int64_t>(scaled, -limit, limit - 1);
        }
        writeField(report, e.bitOffset, size, static_cast<std::uint64_t>(scaled));
      }

      if (e.overridden) {
        if (e.value != e.lastSentValue) {
          OnHIDElementChange(e);
          e.lastSentValue = e.value;
        }
        if (e.value != 0) writeField(report, e.bitOffset, e.bitSize, 0);
      }
    }
  }

  if (buttonOverrides_ != 0) {
    // Lands after the ID byte when there is one; the mask's top byte then has no room.
    const std::uint64_t mask = usesReportIDs_ ? buttonOverrides_ << 8 : buttonOverrides_;
    for (std::size_t i = 0; i < 8 && i < length; ++i) {
      report[i] |= static_cast<std::uint8_t>(mask >> (8 * i));
    }
  }

  std::uint16_t buttons = 0;
  if (idBytes < length) buttons = report[idBytes];
  if (idBytes + 1 < length) buttons |= static_cast<std::uint16_t>(report[idBytes + 1] << 8);
  mouseReporter_->SetXYAxis(saturate16(x), saturate16(y), buttons);
}

}  // namespace zv::driver
