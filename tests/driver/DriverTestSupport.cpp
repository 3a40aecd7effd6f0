#include "DriverTestSupport.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace zv::driver::testing {

std::vector<std::uint8_t> bytes(const std::string& hexText) {
  std::string digits;
  for (char c : hexText) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  if (digits.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits");
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string hex(const std::uint8_t* data, std::size_t length) {
  std::string text;
  char byte[4];
  for (std::size_t i = 0; i < length; ++i) {
    std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", data[i]);
    text += byte;
  }
  return text;
}

const std::vector<std::uint8_t> kBootMouse = bytes(
    "05 01 09 02 A1 01 09 01 A1 00"  // Generic Desktop, Mouse, Application; Pointer, Physical
    "05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02"  // buttons 1..3
    "95 01 75 05 81 01"                                // 5 bits constant
    "05 01 09 30 09 31 15 81 25 7F 75 08 95 02 81 06"  // X, Y relative
    "C0 C0");

const std::vector<std::uint8_t> kReportIdConsumerMouse = bytes(
    "05 01 09 02 A1 01 85 01 09 01 A1 00"
    "05 09 19 01 29 05 15 00 25 01 95 05 75 01 81 02"  // buttons 1..5
    "95 01 75 03 81 01"                                // 3 bits constant
    "05 01 09 30 09 31 09 38 15 81 25 7F 75 08 95 03 81 06"
    "C0 C0"
    "05 0C 09 01 A1 01 85 02"                          // Consumer Control, report 2
    "19 00 2A 3C 02 15 00 26 3C 02 95 01 75 10 81 00"  // one 16-bit selector
    "C0");

const std::vector<std::uint8_t> kGamingMouse16 = bytes(
    "05 01 09 02 A1 01 85 01 09 01 A1 00"
    "05 09 19 01 29 10 15 00 25 01 95 10 75 01 81 02"        // buttons 1..16
    "05 01 16 01 80 26 FF 7F 75 10 95 02 09 30 09 31 81 06"  // X, Y: 16-bit relative
    "15 81 25 7F 75 08 95 01 09 38 81 06"                    // wheel
    "05 0C 0A 38 02 95 01 81 06"                             // AC pan
    "C0 C0"
    "06 00 FF 09 01 A1 01 85 05 09 02 15 00 26 FF 00 75 08 95 3F B1 02 C0");  // vendor feature

const std::vector<std::uint8_t> kHatMouse = bytes(
    "05 01 09 02 A1 01 09 01 A1 00"
    "05 09 19 01 29 08 15 00 25 01 95 08 75 01 81 02"           // buttons 1..8
    "05 01 09 30 09 31 16 01 F8 26 FF 07 75 0C 95 02 81 06"     // X, Y: 12-bit relative
    "09 38 15 81 25 7F 75 08 95 01 81 06"                       // wheel
    "09 39 15 00 25 07 35 00 46 3B 01 65 14 75 04 95 01 81 42"  // hat, null state
    "75 04 95 01 81 03"                                         // 4 bits constant
    "C0 C0");

}  // namespace zv::driver::testing
