// The synthetic relative pointer report the driver sends on the report handler's behalf
// (held axis motion, forced button states), laid out as the device's mouse report.
//
// Layout: with a report ID, byte 0 holds it and the payload starts at byte 1, else at byte
// 0. Wide payload (little-endian): 16-bit button word at 0, signed 16-bit X at 2, signed
// 16-bit Y at 4. Narrow payload (for a mouse report of 8-bit fields): button byte at 0,
// signed 8-bit X at 1 and Y at 2, motion saturated to -127..127. Further bytes stay 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace zv::driver {

class MouseReport {
 public:
  static constexpr std::size_t kMaxLength = 64;
  enum class FieldWidth { wide16, narrow8 };

  // reportId -1 = none. length 0 = 7 with a report ID, 6 without; lengths are kept between
  // the payload's size and kMaxLength.
  MouseReport(int reportId, std::size_t length, FieldWidth width = FieldWidth::wide16);

  void SetValues(std::int16_t dx, std::int16_t dy, std::uint32_t buttons);

  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t length() const { return length_; }
  int reportId() const { return reportId_; }
  FieldWidth width() const { return width_; }

 private:
  std::array<std::uint8_t, kMaxLength> bytes_{};
  std::size_t length_;
  int reportId_;
  FieldWidth width_;
};

// The mouse report of a device type: none for type 0 and unknown types; type 1 without ID,
// 6 bytes; types 2 and 3 ID 3, 9 bytes (type 3 narrow, matching its replacement descriptor);
// types 4 and 5 ID 0xF1, 9 bytes. ReportPipeline pads it to the presented descriptor's
// length for that report, since the kernel drops shorter input reports.
std::optional<MouseReport> CreateMouseReportForDevice(int deviceType);

}  // namespace zv::driver
