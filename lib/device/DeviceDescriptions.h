// The device descriptions of one device bundle: the values of its Info.plist "Devices"
// dictionary, each completed with the bundle-wide defaults of the Info.plist's root.
#pragma once

#include <string_view>
#include <vector>

#include "json/Value.h"
#include "support/Bundle.h"

namespace zv::device {

// The root keys a description takes over when it has no value of its own, in the order
// they are copied.
inline constexpr std::string_view kRootDefaults[] = {
    "Balias", "Brand", "ProfilePath", "DefaultProfile", "CFBundleVersion", "DriverInterface"};

// Puts the root's value for `key` into `description` when the description has none.
void CopyDeviceSettingFromRoot(std::string_view key, json::Dictionary& description,
                               const json::Dictionary& root);

// Deep copies of the bundle's device descriptions, in the order of its "Devices"
// dictionary, each completed with kRootDefaults. A root whose "AdoptedMice" is true also
// describes every adopted mouse, after its own devices (AdoptedDescriptions.h). Empty
// when the Info.plist is missing, damaged or has neither; entries that are not
// dictionaries are skipped.
std::vector<json::DictionaryPtr> deviceDescriptions(const support::Bundle& bundle);
// The same from an Info.plist's root dictionary already read.
std::vector<json::DictionaryPtr> deviceDescriptions(const json::Dictionary& root);

}  // namespace zv::device
