// A HID report-descriptor parser: turns the descriptor bytes of a device into the field
// capabilities the report handler models (which usage sits at which bit of which report).
//
// Bit positions are positions in the report buffer as the device sends it: when the
// descriptor declares report IDs, every report starts with its ID byte and the first field
// of a report starts at bit 8; otherwise the first field starts at bit 0.
//
// Fields are classified as:
//   - buttons: variable fields of one bit (any usage page, so 1-bit consumer controls too);
//   - values: variable fields of two bits or more;
//   - arrays: selector fields, each holding the index of one usage of a list;
//   - padding: constant fields and fields without any usage; they take up bits but have no
//     capability.
// Each capability records the application collection its fields belong to (the innermost
// open Application collection, else the top-level collection), so a mouse's reports can be
// told from those of the keyboard, consumer or vendor collections of the same descriptor.
//
// Usages are assigned to the fields of a main item in declaration order (a Usage Minimum /
// Usage Maximum pair stands for every usage between them); when there are more fields than
// usages, the remaining fields repeat the last usage. Each capability covers one run of
// fields whose usages are consecutive on one usage page.
//
// Malformed descriptors (items running past the end, report ID 0, unbalanced collections or
// push/pop, nesting deeper than the limits, reports longer than 4096 bytes, more than 16384
// fields with usages) are reported as errors with the byte offset of the offending item.
// Unknown and reserved items are skipped, as are trailing zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zv::driver {

enum class HIDReportType : std::uint8_t { input = 0, output = 1, feature = 2 };

// Main item flag bits (the data of an Input, Output or Feature item).
inline constexpr std::uint32_t kHIDConstantFlag = 0x01;
inline constexpr std::uint32_t kHIDVariableFlag = 0x02;
inline constexpr std::uint32_t kHIDRelativeFlag = 0x04;

// The usage of an application collection (page 0, usage 0 for fields outside any).
struct HIDCollectionUsage {
  std::uint16_t usagePage = 0;
  std::uint16_t usage = 0;
  bool operator==(const HIDCollectionUsage&) const = default;
};

// One run of 1-bit fields: usage usageMin + k sits at bit startBit + k.
struct HIDButtonCapability {
  std::uint16_t usagePage = 0;
  std::uint8_t reportID = 0;
  bool isRange = false;        // more than one usage
  std::uint16_t usageMin = 0;  // the usage itself when not a range
  std::uint16_t usageMax = 0;
  std::uint32_t startBit = 0;
  std::uint32_t reportCount = 0;  // fields covered (more than the usages when the last repeats)
  std::uint32_t bitField = 0;     // main item flags
  HIDCollectionUsage collection;
};

// One run of multi-bit fields: usage usageMin + k sits at bit startBit + k * bitSize. When
// the last usage of a main item repeats over several fields, the run has a single usage and
// reportCount counts every repeated field.
struct HIDValueCapability {
  std::uint16_t usagePage = 0;
  std::uint8_t reportID = 0;
  bool isRange = false;
  std::uint16_t usageMin = 0;  // the usage itself when not a range
  std::uint16_t usageMax = 0;
  std::uint32_t startBit = 0;
  std::uint32_t bitSize = 0;
  std::uint32_t reportCount = 0;
  std::int64_t logicalMin = 0;
  std::int64_t logicalMax = 0;
  std::int64_t physicalMin = 0;
  std::int64_t physicalMax = 0;
  std::uint32_t unit = 0;
  std::int32_t unitExponent = 0;
  std::uint32_t bitField = 0;
  HIDCollectionUsage collection;
};

// reportCount selector fields of bitSize bits from startBit; each holds the index of one of
// the usages usageMin..usageMax (one capability per usage-list entry, all sharing the fields).
struct HIDArrayCapability {
  std::uint16_t usagePage = 0;
  std::uint8_t reportID = 0;
  std::uint16_t usageMin = 0;
  std::uint16_t usageMax = 0;
  std::uint32_t startBit = 0;
  std::uint32_t bitSize = 0;
  std::uint32_t reportCount = 0;
  std::int64_t logicalMin = 0;
  std::int64_t logicalMax = 0;
  std::uint32_t bitField = 0;
  HIDCollectionUsage collection;
};

struct HIDCapabilities {
  // Usage page and usage of the first top-level collection (the device's primary usage).
  std::uint16_t usagePage = 0;
  std::uint16_t usage = 0;
  // Bytes of the longest report of each type, report-ID byte included.
  std::uint32_t inputReportByteLength = 0;
  std::uint32_t outputReportByteLength = 0;
  std::uint32_t featureReportByteLength = 0;
  std::uint32_t numberInputButtonCaps = 0;
  std::uint32_t numberInputValueCaps = 0;
  std::uint32_t numberOutputButtonCaps = 0;
  std::uint32_t numberOutputValueCaps = 0;
  std::uint32_t numberFeatureButtonCaps = 0;
  std::uint32_t numberFeatureValueCaps = 0;
};

struct HIDParseError {
  std::size_t offset = 0;  // byte offset of the item that made the descriptor unusable
  std::string message;

  // "byte 12: Report ID 0 is reserved"
  std::string describe() const;
};

class HIDParsedDescriptor {
 public:
  static constexpr std::size_t kMaxDescriptorLength = 4096;
  static constexpr std::uint32_t kMaxReportByteLength = 4096;
  static constexpr std::size_t kMaxFieldsWithUsages = 16384;
  static constexpr std::size_t kMaxCollectionDepth = 32;
  static constexpr std::size_t kMaxPushDepth = 16;
  static constexpr std::size_t kMaxUsagesPerItem = 4096;

  const HIDCapabilities& getCapabilities() const { return capabilities_; }
  std::span<const HIDButtonCapability> getButtonCapabilities(HIDReportType type) const {
    return buttons_[index(type)];
  }
  std::span<const HIDValueCapability> getValueCapabilities(HIDReportType type) const {
    return values_[index(type)];
  }
  std::span<const HIDArrayCapability> getArrayCapabilities(HIDReportType type) const {
    return arrays_[index(type)];
  }

  // True when the descriptor declares any Report ID: then every report starts with its ID.
  bool usesReportIDs() const { return usesReportIDs_; }

  // Bytes of one report (ID byte included), 0 when the descriptor declares no field for it.
  std::uint32_t reportByteLength(HIDReportType type, std::uint8_t reportID) const;

  // The report IDs that have fields of the type, ascending (just 0 without report IDs).
  std::vector<std::uint8_t> reportIDs(HIDReportType type) const;

  // The usages of the top-level collections, in declaration order.
  const std::vector<HIDCollectionUsage>& topLevelCollections() const {
    return topLevelCollections_;
  }

 private:
  friend class HIDDescriptorParser;
  static std::size_t index(HIDReportType type) { return static_cast<std::size_t>(type); }

  HIDCapabilities capabilities_;
  std::vector<HIDButtonCapability> buttons_[3];
  std::vector<HIDValueCapability> values_[3];
  std::vector<HIDArrayCapability> arrays_[3];
  bool usesReportIDs_ = false;
  std::vector<HIDCollectionUsage> topLevelCollections_;
  // Bits of data (without the ID byte) per report type and ID; 0 = not declared.
  std::vector<std::uint32_t> reportBits_[3];
};

// Parses a descriptor. On failure answers nothing and fills *error (when given).
std::optional<HIDParsedDescriptor> HIDOpenReportDescriptor(std::span<const std::uint8_t> bytes,
                                                           HIDParseError* error = nullptr);

}  // namespace zv::driver
