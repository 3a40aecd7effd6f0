#include "core/ReportPipeline.h"

namespace zv::driver {

ReportPipeline::ReportPipeline(std::uint16_t productID,
                               std::span<const std::uint8_t> deviceDescriptor,
                               PointerReportSink sink, ZVMouseReporter::Mode reporterMode)
    : sink_(std::move(sink)),
      deviceType_(GetDeviceTypeFromDevice(productID)),
      config_(GetDeviceConfiguration(deviceType_)),
      ownDescriptor_(deviceDescriptor.begin(), deviceDescriptor.end()) {
  if (config_) mouseReport_ = CreateMouseReportForDevice(deviceType_);

  HIDParseError error;
  parsed_ = HIDOpenReportDescriptor(systemDescriptor(), &error);
  if (!parsed_) {
    descriptorError_ = error;
    return;
  }
  handler_ = std::make_unique<ZVReportHandler>(
      [this](std::int16_t dx, std::int16_t dy, std::uint32_t buttons) {
        dispatchRelativePointerEvent(dx, dy, buttons);
      },
      reporterMode);
  handler_->init(&*parsed_, config_);
  // The kernel drops an input report shorter than the presented descriptor declares for its
  // ID, so a synthetic report is padded with zero bytes to that length.
  if (mouseReport_) {
    const int id = mouseReport_->reportId() < 0 ? 0 : mouseReport_->reportId();
    const ZVHIDReportEntry* entry = handler_->findReport(static_cast<std::uint32_t>(id));
    if (entry && entry->byteLength > mouseReport_->length()) {
      mouseReport_ =
          MouseReport(mouseReport_->reportId(), entry->byteLength, mouseReport_->width());
    }
  }
}

ReportPipeline::~ReportPipeline() {
  handler_.reset();
}

std::span<const std::uint8_t> ReportPipeline::systemDescriptor() const {
  if (usesReplacementDescriptor()) return {config_->descriptor, config_->descriptorLength};
  return ownDescriptor_;
}

std::string ReportPipeline::pointerReportSummary() const {
  if (!handler_ || !handler_->readsAnyMouse()) return {};
  const PointerReportLayout* layout = handler_->pointerLayout();
  if (!layout) return "no mouse collection";
  std::string summary;
  auto add = [&](const char* what, std::uint32_t id, std::size_t length) {
    if (!summary.empty()) summary += ", ";
    summary += std::string(what) + " in report " + std::to_string(id) + " (" +
               std::to_string(length) + " bytes)";
  };
  if (layout->hasButtons())
    add("buttons", layout->buttonsReportID(), layout->buttonsReportLength());
  if (layout->hasMotion()) add("motion", layout->motionReportID(), layout->motionReportLength());
  return summary;
}

bool ReportPipeline::handleReport(std::uint8_t* report, std::size_t length) {
  if (!report || length == 0) return false;
  if (handler_) handler_->handleReport(report, length);
  return true;
}

void ReportPipeline::advance(std::chrono::milliseconds elapsed) {
  if (handler_) handler_->mouseReporter().advance(elapsed);
}

void ReportPipeline::dispatchRelativePointerEvent(std::int16_t dx, std::int16_t dy,
                                                  std::uint32_t buttons) {
  if (!mouseReport_) {
    // Any other mouse: built on the stack in the mouse's own layout.
    if (const PointerReportLayout* layout = handler_ ? handler_->pointerLayout() : nullptr) {
      layout->build(dx, dy, buttons, sink_);
    }
    return;
  }
  // A copy per event: the reporter thread and a setter may dispatch at the same time, and
  // must not fill one shared buffer.
  MouseReport report = *mouseReport_;
  report.SetValues(dx, dy, buttons);
  if (sink_) sink_(report.data(), report.length());
}

}  // namespace zv::driver
