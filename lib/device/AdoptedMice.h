// Mice the user adopted. The suite serves its own products automatically (the driver's
// udev rule lists them); any other HID mouse is served once the user adopts it with
// `kinetra adopt VVVV:PPPP`, which writes a udev rule of its own for that mouse into the
// udev rules folder (platform::udevRulesFolder()). The rule starts the driver daemon for
// the mouse's hidraw nodes, USB and Bluetooth alike (Bluetooth LE mice arrive through
// BlueZ's uhid devices). It is also the suite's record of the adoption: comment lines
// "# kinetra-KEY: VALUE" keep the mouse's identifiers, bus, name and report descriptor as
// they were when it was adopted, so that every program can describe the mouse while it
// is not plugged in. `kinetra release` removes the file, and with it every trace.
//
// Threads: any.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "platform/Paths.h"

namespace zv::device {

inline constexpr const char* kAdoptionRuleDomain = "AdoptionRule";
enum AdoptionRuleCode : int {
  kNotAnAdoptionRule = 1,  // a line the record needs is missing or wrong
};

// Our products' vendor, and the products its own udev rule serves.
inline constexpr std::uint16_t kOurVendorID = 0x5A56;
inline constexpr std::uint16_t kOurProductIDs[] = {0x1714, 0x1704, 0x5263, 0x5266,
                                                   0x5262, 0x1715, 0x1710};
// Whether the suite serves this mouse without adoption.
bool isAutomaticProduct(std::uint16_t vendor, std::uint16_t product);

struct AdoptedMouse {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::uint16_t bus = 0;  // 3 USB, 5 Bluetooth
  std::string name;       // as the system named it when adopted
  std::vector<std::uint8_t> descriptor;
  bool operator==(const AdoptedMouse&) const = default;
};

// "046d:c52b": how a mouse is named on the command line and in messages.
std::string mouseIdentifier(std::uint16_t vendor, std::uint16_t product);
// "046d:c52b" or "046D:C52B" (one to four hexadecimal digits each side); nothing else.
std::optional<std::pair<std::uint16_t, std::uint16_t>> parseMouseIdentifier(std::string_view text);

// The rule file of a mouse: "71-zenvor-adopted-046d-c52b.rules" in `folder` (after the
// suite's own 70- rule).
std::filesystem::path adoptionRulePath(
    std::uint16_t vendor, std::uint16_t product,
    const std::filesystem::path& folder = platform::udevRulesFolder());
// The text of the rule file; the name loses line breaks and control characters.
std::string adoptionRule(const AdoptedMouse& mouse);
// The record of a rule file's text; a failure names the line that is missing or wrong.
base::Result<AdoptedMouse> parseAdoptionRule(std::string_view text);

// The mice adopted in `folder`, by vendor and product. Rule files that do not read as an
// adoption (edited by hand, damaged) are left out; `problems` gets a line for each.
std::vector<AdoptedMouse> adoptedMice(
    const std::filesystem::path& folder = platform::udevRulesFolder(),
    std::vector<std::string>* problems = nullptr);

}  // namespace zv::device
