// The report-descriptor parser on arbitrary bytes: it must answer a descriptor or an error,
// never read out of bounds, and keep every capability inside the reports it declares.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/HIDReportDescriptor.h"

using namespace zv::driver;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  HIDParseError error;
  const auto parsed = HIDOpenReportDescriptor(std::span<const std::uint8_t>(data, size), &error);
  if (!parsed) {
    if (error.message.empty() || error.offset > size) std::abort();
    return 0;
  }
  for (HIDReportType type : {HIDReportType::input, HIDReportType::output, HIDReportType::feature}) {
    for (const auto& c : parsed->getButtonCapabilities(type)) {
      const std::uint64_t end = c.startBit + (c.usageMax - c.usageMin) + 1;
      if (c.usageMin > c.usageMax || end > parsed->reportByteLength(type, c.reportID) * 8ull) {
        std::abort();
      }
    }
    for (const auto& c : parsed->getValueCapabilities(type)) {
      const std::uint64_t end = c.startBit + std::uint64_t{c.bitSize} * c.reportCount;
      if (c.usageMin > c.usageMax || c.usageMax - c.usageMin + 1u > c.reportCount ||
          end > parsed->reportByteLength(type, c.reportID) * 8ull) {
        std::abort();
      }
    }
  }
  if (parsed->getCapabilities().inputReportByteLength > HIDParsedDescriptor::kMaxReportByteLength) {
    std::abort();
  }
  return 0;
}
