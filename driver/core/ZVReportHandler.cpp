#include "core/ZVReportHandler.h"

#include <algorithm>

#include "core/DebugLog.h"
#include "core/ReportFields.h"
#include "protocol/HIDConstants.h"

namespace zv::driver {

namespace {

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
  anyMouse_ = config == nullptr && descriptor != nullptr;
  if (descriptor) {
    usesReportIDs_ = descriptor->usesReportIDs();
    // A configured product has every field modelled; any other mouse only its mouse's.
    auto modelled = [&](const HIDCollectionUsage& collection) {
      return !anyMouse_ || PointerReportLayout::isMouseCollection(collection);
    };
    for (const HIDButtonCapability& cap : descriptor->getButtonCapabilities(HIDReportType::input)) {
      if (!modelled(cap.collection)) continue;
      for (std::uint32_t usage = cap.usageMin; usage <= cap.usageMax; ++usage) {
        ZVHIDElement element;
        element.element = hid::element(cap.usagePage, static_cast<std::uint16_t>(usage));
        element.bitOffset = cap.startBit + (usage - cap.usageMin);
        element.bitSize = 1;
        element.relative = cap.bitField & kHIDRelativeFlag;
        element.logicalMax = 1;
        addElement(cap.reportID, element);
      }
    }
    for (const HIDValueCapability& cap : descriptor->getValueCapabilities(HIDReportType::input)) {
      if (!modelled(cap.collection)) continue;
      for (std::uint32_t usage = cap.usageMin; usage <= cap.usageMax; ++usage) {
        ZVHIDElement element;
        element.element = hid::element(cap.usagePage, static_cast<std::uint16_t>(usage));
        element.bitOffset = cap.startBit + (usage - cap.usageMin) * cap.bitSize;
        element.bitSize = cap.bitSize;
        element.relative = cap.bitField & kHIDRelativeFlag;
        element.logicalMin = cap.logicalMin;
        element.logicalMax = cap.logicalMax;
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
    if (anyMouse_) {
      for (auto& report : reports_) mouseReports_[report->reportID & 0xFF] = report.get();
      pointerLayout_ = PointerReportLayout::fromDescriptor(*descriptor);
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

bool ZVReportHandler::rewritesReport(std::uint32_t reportID) const {
  if (anyMouse_) return reportID < 256 && mouseReports_[reportID] != nullptr;
  return reportID == activeReportID();
}

ZVHIDElement* ZVReportHandler::elementWithCookie(std::uint32_t element) {
  if (anyMouse_) {
    for (ZVHIDReportEntry* report : mouseReports_) {
      if (!report) continue;
      for (ZVHIDElement& candidate : report->elements) {
        if (candidate.element == element) return &candidate;
      }
    }
    return nullptr;
  }
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
  if (anyMouse_) {
    // A usage that two mouse reports carry is suppressed in both.
    for (ZVHIDReportEntry* report : mouseReports_) {
      if (!report) continue;
      for (ZVHIDElement& e : report->elements) {
        if (e.element == element) e.overridden = flag;
      }
    }
  }
  OnHIDElementChange(*found);
}

std::uint64_t ZVReportHandler::setButtonOverrides(std::uint64_t mask) {
  buttonOverrides_ = mask & buttonFieldMask();
  dispatchRelativePointerEvent(0, 0, static_cast<std::uint32_t>(buttonOverrides_));
  return buttonOverrides_;
}

std::uint64_t ZVReportHandler::buttonFieldMask() const {
  if (anyMouse_) return pointerLayout_ ? pointerLayout_->buttonMask() : 0;
  if (reports_.empty()) return ~std::uint64_t{0};
  if (!activeReport_) return 0;
  // The mask starts after the report-ID byte, where handleReport ORs it in.
  const std::uint32_t first = usesReportIDs_ ? 8 : 0;
  std::uint64_t field = 0;
  for (const ZVHIDElement& e : activeReport_->elements) {
    if (!hid::isButtonElement(e.element) || e.bitSize != 1 || e.bitOffset < first) continue;
    const std::uint32_t bit = e.bitOffset - first;
    if (bit < 64) field |= std::uint64_t{1} << bit;
  }
  return field;
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
  xRemainder_ = 0;
  yRemainder_ = 0;
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
  auto offer = [client](const ZVHIDReportEntry& report) {
    for (const ZVHIDElement& element : report.elements) {
      if (element.overridden && element.value != 0) {
        client->sendElementEvent(element.element, element.value, element.bitSize);
      }
    }
  };
  if (!anyMouse_) {
    if (activeReport_) offer(*activeReport_);
    return;
  }
  for (const ZVHIDReportEntry* report : mouseReports_) {
    if (report) offer(*report);
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
  if (!report || !fieldFits(length, bitOffset, size)) return 0;
  return readField(report, bitOffset, size);
}

void ZVReportHandler::setReportValue(std::uint8_t* report, std::size_t length,
                                     std::uint32_t bitOffset, std::uint64_t value,
                                     std::uint32_t bitSize) {
  const std::uint32_t size = std::min<std::uint32_t>(bitSize, 64);
  if (!report || !fieldFits(length, bitOffset, size)) return;
  writeField(report, bitOffset, size, value);
}

void ZVReportHandler::addAxisMotion(ZVHIDElement& e, std::uint8_t* report, std::int64_t& x,
                                    std::int64_t& y) {
  if (e.element == xAxisElement_ && e.hat) {
    // Hat positions 1..8 run clockwise from up; anything else (the null state) is centred.
    static constexpr std::int8_t kHatSteps[9][2] = {
        {0, 0}, {0, -15}, {15, -15}, {15, 0}, {15, 15}, {0, 15}, {-15, 15}, {-15, 0}, {-15, -15}};
    if (e.value <= 8) {
      x += kHatSteps[e.value][0];
      y += kHatSteps[e.value][1];
    }
    writeField(report, e.bitOffset, e.bitSize, 0);
  } else {
    if (e.element == xAxisElement_) x += axisDeflection(e.value);
    if (e.element == yAxisElement_) y += axisDeflection(e.value);
  }
}

void ZVReportHandler::suppressIfOverridden(ZVHIDElement& e, std::uint8_t* report) {
  if (!e.overridden) return;
  if (e.value != e.lastSentValue) {
    OnHIDElementChange(e);
    e.lastSentValue = e.value;
  }
  if (e.value != 0) writeField(report, e.bitOffset, e.bitSize, 0);
}

void ZVReportHandler::handleReport(std::uint8_t* report, std::size_t length) {
  if (!report || length == 0) return;
  if (anyMouse_) {
    handleMouseReport(report, length);
    return;
  }
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
      return complete || fieldFits(length, e.bitOffset, std::min<std::uint32_t>(e.bitSize, 64));
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
      addAxisMotion(e, report, x, y);

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

      suppressIfOverridden(e, report);
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

void ZVReportHandler::scalePrecisely(const ZVHIDElement& e, std::uint8_t* report) {
  const bool isX = e.element == hid::kXAxisElement;
  const ZVPrecisionFilter& filter = isX ? xFilter_ : yFilter_;
  const bool isSigned = e.logicalMin < 0;
  const std::uint64_t raw = readField(report, e.bitOffset, e.bitSize);
  const std::int64_t current =
      isSigned ? signExtend(raw, e.bitSize) : static_cast<std::int64_t>(raw);
  std::int64_t scaled;
  if (filter.percent() >= 10) {
    // Exact scaling in hundredths; what does not make a whole unit waits for the next
    // report, so a slow movement still moves, at the set fraction of its speed.
    std::int64_t& remainder = isX ? xRemainder_ : yRemainder_;
    remainder += current * filter.percent();
    scaled = remainder / 100;
    remainder -= scaled * 100;
  } else {
    scaled = filter.FilterInput(static_cast<std::int32_t>(current));
  }
  // Within the field's logical range, else within what its bits hold.
  std::int64_t low = e.logicalMin;
  std::int64_t high = e.logicalMax;
  if (low >= high) {
    high = isSigned ? (std::int64_t{1} << (e.bitSize - 1)) - 1 : (std::int64_t{1} << e.bitSize) - 1;
    low = isSigned ? -high - 1 : 0;
  }
  writeField(report, e.bitOffset, e.bitSize,
             static_cast<std::uint64_t>(std::clamp(scaled, low, high)));
}

void ZVReportHandler::handleMouseReport(std::uint8_t* report, std::size_t length) {
  debugLogBytes(report, length);
  const std::uint32_t id = usesReportIDs_ ? report[0] : 0;
  ZVHIDReportEntry* entry = mouseReports_[id];
  if (!entry) return;  // another collection's report: passes byte for byte

  // When the report is shorter than the model, fields it does not hold are skipped.
  const bool complete = entry->byteLength <= length;
  auto present = [&](const ZVHIDElement& e) {
    return complete || fieldFits(length, e.bitOffset, std::min<std::uint32_t>(e.bitSize, 64));
  };

  // The precision button may sit in another report than X and Y: its state holds until a
  // report that carries it says otherwise.
  if (precisionElement_ != 0) {
    for (const ZVHIDElement& e : entry->elements) {
      if (e.element == precisionElement_ && present(e)) {
        precisionHeld_ = readField(report, e.bitOffset, e.bitSize) != 0;
        break;
      }
    }
  }
  if (!precisionHeld_) {
    xRemainder_ = 0;
    yRemainder_ = 0;
  }

  std::int64_t x = 0;
  std::int64_t y = 0;
  bool holdsAxis = false;
  // Most reports have no axis assigned and no precision held: one test each per report.
  const bool axes = xAxisElement_ != 0 || yAxisElement_ != 0;
  for (ZVHIDElement& e : entry->elements) {
    if (!present(e)) continue;
    e.value = readField(report, e.bitOffset, e.bitSize);
    if (axes) {
      holdsAxis |= (xAxisElement_ != 0 && e.element == xAxisElement_) ||
                   (yAxisElement_ != 0 && e.element == yAxisElement_);
      addAxisMotion(e, report, x, y);
    }
    if (precisionHeld_ && e.relative && e.bitSize <= 32 &&
        (e.element == hid::kXAxisElement || e.element == hid::kYAxisElement)) {
      scalePrecisely(e, report);
    }
    if (e.overridden) suppressIfOverridden(e, report);
  }

  if (pointerLayout_ && pointerLayout_->hasButtons() && id == pointerLayout_->buttonsReportID()) {
    pointerLayout_->forceButtons(report, length, buttonOverrides_);
    // The button word only rides along with axis motion: not read while no axis is set.
    if (xAxisElement_ != 0 || yAxisElement_ != 0) {
      heldButtons_ = static_cast<std::uint16_t>(pointerLayout_->buttonsOf(report, length));
    }
  }
  // Motion of assigned axes holds until a report that carries them changes it.
  if (holdsAxis) {
    axisX_ = saturate16(x);
    axisY_ = saturate16(y);
  }
  mouseReporter_->SetXYAxis(axisX_, axisY_, heldButtons_);
}

}  // namespace zv::driver
