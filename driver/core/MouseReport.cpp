#include "core/MouseReport.h"

#include <algorithm>

#include "core/DebugLog.h"

namespace zv::driver {

MouseReport::MouseReport(int reportId, std::size_t length, FieldWidth width)
    : reportId_(reportId < 0 ? -1 : reportId & 0xFF), width_(width) {
  const std::size_t idBytes = reportId_ >= 0 ? 1 : 0;
  if (length == 0) length = idBytes ? 7 : 6;
  length_ =
      std::clamp<std::size_t>(length, idBytes + (width == FieldWidth::wide16 ? 6 : 3), kMaxLength);
  debugLog("creating mouse report %d %d\n", reportId_, static_cast<int>(length_));
  if (idBytes) {
    debugLog("setting reportId\n");
    bytes_[0] = static_cast<std::uint8_t>(reportId_);
  }
}

void MouseReport::SetValues(std::int16_t dx, std::int16_t dy, std::uint32_t buttons) {
  debugLog("sending sending %d %d %d\n", dx, dy, static_cast<int>(buttons));
  std::uint8_t* payload = bytes_.data() + (reportId_ >= 0 ? 1 : 0);
  if (width_ == FieldWidth::wide16) {
    payload[0] = static_cast<std::uint8_t>(buttons);
    payload[1] = static_cast<std::uint8_t>(buttons >> 8);
    payload[2] = static_cast<std::uint8_t>(dx);
    payload[3] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(dx) >> 8);
    payload[4] = static_cast<std::uint8_t>(dy);
    payload[5] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(dy) >> 8);
  } else {
    auto narrow = [](std::int16_t v) {
      return static_cast<std::uint8_t>(static_cast<std::int8_t>(std::clamp<int>(v, -127, 127)));
    };
    payload[0] = static_cast<std::uint8_t>(buttons);
    payload[1] = narrow(dx);
    payload[2] = narrow(dy);
  }
  debugLogBytes(bytes_.data(), length_);
}

std::optional<MouseReport> CreateMouseReportForDevice(int deviceType) {
  switch (deviceType) {
    case 1:
      return MouseReport(-1, 6);
    case 2:
      return MouseReport(3, 9);
    case 3:
      return MouseReport(3, 9, MouseReport::FieldWidth::narrow8);
    case 4:
    case 5:
      return MouseReport(0xF1, 9);
    default:
      return std::nullopt;
  }
}

}  // namespace zv::driver
