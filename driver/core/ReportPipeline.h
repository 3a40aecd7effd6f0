// The report path of one device, without any device I/O: given the product ID and the
// device's own report descriptor it picks the device configuration, decides which
// descriptor the system should see (a replacement one for some types), builds the report
// handler, and then rewrites each raw input report in place. Synthetic pointer reports (held
// axis motion, forced button states) come out through the sink, laid out as the device
// type's mouse report, or for a product without a configuration as the mouse's own reports
// (PointerReportLayout).
//
// The driver daemon wraps this with hidraw (raw reports in) and uhid (descriptor, rewritten
// and synthetic reports out); tests and the replay tool run it with a manual reporter clock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/DeviceConfig.h"
#include "core/HIDReportDescriptor.h"
#include "core/MouseReport.h"
#include "core/ZVReportHandler.h"

namespace zv::driver {

class ReportPipeline {
 public:
  // Receives one synthetic pointer report. Called from the mouse reporter thread and from
  // the thread that calls the handler's setters (forced button states), possibly at once.
  using PointerReportSink = std::function<void(const std::uint8_t* report, std::size_t length)>;

  ReportPipeline(std::uint16_t productID, std::span<const std::uint8_t> deviceDescriptor,
                 PointerReportSink sink,
                 ZVMouseReporter::Mode reporterMode = ZVMouseReporter::Mode::thread);
  ~ReportPipeline();
  ReportPipeline(const ReportPipeline&) = delete;
  ReportPipeline& operator=(const ReportPipeline&) = delete;

  int deviceType() const { return deviceType_; }
  const ZVDeviceConfig* configuration() const { return config_; }

  // The descriptor to present to the system: the type's replacement descriptor, or the
  // device's own.
  std::span<const std::uint8_t> systemDescriptor() const;
  bool usesReplacementDescriptor() const { return config_ && config_->descriptorLength != 0; }

  // Null when the descriptor could not be parsed; reports then pass through unchanged.
  ZVReportHandler* reportHandler() { return handler_.get(); }
  const std::optional<HIDParseError>& descriptorError() const { return descriptorError_; }
  const std::optional<HIDParsedDescriptor>& parsedDescriptor() const { return parsed_; }

  // Synthetic reports of a configured type have this layout; none for types without a mouse
  // report and for products without a configuration (see reportHandler()->pointerLayout()).
  const std::optional<MouseReport>& mouseReport() const { return mouseReport_; }

  // For a product without a configuration, where its synthetic reports go: "buttons in
  // report 1 (4 bytes), motion in report 2 (4 bytes)", or "no mouse collection"; empty for
  // configured products and unparsable descriptors.
  std::string pointerReportSummary() const;

  // Rewrites one raw input report in place. Answers false for an empty report, which must not
  // be passed on; every other report is passed on (rewritten or unchanged).
  bool handleReport(std::uint8_t* report, std::size_t length);

  // Manual reporter mode: lets time pass for the mouse reporter (see ZVMouseReporter).
  void advance(std::chrono::milliseconds elapsed);

 private:
  void dispatchRelativePointerEvent(std::int16_t dx, std::int16_t dy, std::uint32_t buttons);

  PointerReportSink sink_;
  int deviceType_;
  const ZVDeviceConfig* config_;
  std::vector<std::uint8_t> ownDescriptor_;
  std::optional<MouseReport> mouseReport_;
  std::optional<HIDParsedDescriptor> parsed_;
  std::optional<HIDParseError> descriptorError_;
  // Last: destroyed first, which stops the reporter thread before the sink goes away.
  std::unique_ptr<ZVReportHandler> handler_;
};

}  // namespace zv::driver
