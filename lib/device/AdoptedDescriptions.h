// The device description of an adopted mouse (AdoptedMice.h), made from its report
// descriptor: a bundle whose Info.plist has "AdoptedMice" true (the suite ships one,
// AnyMouse.bundle) describes every adopted mouse besides its own "Devices".
//
// Each adopted mouse becomes a device of its own model:
//   "Alias", "Balias"  "Mouse-046D-C52B" (profiles name their controller by it)
//   "Name", "Title"    the name the system gave the mouse
//   "VendorID", "ProductID", "TypeID" 6 (the driver's type for a product it has no
//                      configuration for)
//   "ProfilePath"      "Mouse-046D-C52B": two different mice keep their own profiles
//   "DriverInterface"  the daemon's class for the mouse's bus
//   "SeedProfile", "DefaultProfile"  two profiles written for the mouse into
//                      "<user data>/.generated/Mouse-046D-C52B/": its controls (one per
//                      button, the wheel and pan, X and Y as relative motion) and one
//                      empty shift state, so that every button does what it did.
//   "Adopted"          true
// The bundle's root supplies the rest ("Brand", "DefaultProfileName", "Interface").
//
// Threads: the main thread (the profiles are written when a description is made).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "device/AdoptedMice.h"
#include "device/MouseCapabilities.h"
#include "json/Value.h"

namespace zv::device {

// The device type the driver reports for a product without a configuration.
inline constexpr std::int64_t kAdoptedTypeID = 6;

// "Mouse-046D-C52B".
std::string adoptedAlias(std::uint16_t vendor, std::uint16_t product);

// The node text of a profile named `profileName` for the controller `alias` with the
// controls of `capabilities` and one empty shift state "Default". A descriptor the
// reader refuses still gives buttons 1 to 3, a wheel and X/Y motion: a mouse has those.
std::string adoptedProfileText(const std::string& alias, const std::string& profileName,
                               std::uint16_t vendor, std::uint16_t product,
                               const MouseCapabilities& capabilities);
// The capabilities a profile is made from (see above).
MouseCapabilities adoptedCapabilities(const std::vector<std::uint8_t>& descriptor);

// The description of one adopted mouse; its two profiles are written (when missing or
// different) into `generated` / alias. A profile that cannot be written is logged and
// left out of the description.
json::DictionaryPtr adoptedDescription(const AdoptedMouse& mouse,
                                       const std::filesystem::path& generated);
// The descriptions of every adopted mouse, profiles in "<user data>/.generated".
std::vector<json::DictionaryPtr> adoptedDescriptions();

}  // namespace zv::device
