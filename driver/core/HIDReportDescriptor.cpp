#include "core/HIDReportDescriptor.h"

#include <algorithm>
#include <cstdio>

namespace zv::driver {

std::string HIDParseError::describe() const {
  return "byte " + std::to_string(offset) + ": " + message;
}

std::uint32_t HIDParsedDescriptor::reportByteLength(HIDReportType type,
                                                    std::uint8_t reportID) const {
  const auto& bits = reportBits_[index(type)];
  if (bits.empty() || bits[reportID] == 0) return 0;
  return (bits[reportID] + 7) / 8 + (usesReportIDs_ ? 1 : 0);
}

std::vector<std::uint8_t> HIDParsedDescriptor::reportIDs(HIDReportType type) const {
  std::vector<std::uint8_t> ids;
  const auto& bits = reportBits_[index(type)];
  for (std::size_t id = 0; id < bits.size(); ++id) {
    if (bits[id] != 0) ids.push_back(static_cast<std::uint8_t>(id));
  }
  return ids;
}

namespace {

// Item tags as (tag << 4) | (type << 2): the prefix byte with its size bits cleared.
enum : std::uint8_t {
  kInput = 0x80,
  kOutput = 0x90,
  kFeature = 0xB0,
  kCollection = 0xA0,
  kEndCollection = 0xC0,
  kUsagePage = 0x04,
  kLogicalMinimum = 0x14,
  kLogicalMaximum = 0x24,
  kPhysicalMinimum = 0x34,
  kPhysicalMaximum = 0x44,
  kUnitExponent = 0x54,
  kUnit = 0x64,
  kReportSize = 0x74,
  kReportID = 0x84,
  kReportCount = 0x94,
  kPush = 0xA4,
  kPop = 0xB4,
  kUsage = 0x08,
  kUsageMinimum = 0x18,
  kUsageMaximum = 0x28,
  kDelimiter = 0xA8,
};
constexpr std::uint8_t kLongItemPrefix = 0xFE;

struct Globals {
  std::uint16_t usagePage = 0;
  // Kept with their unsigned reading too: a maximum such as 0xFF in one byte means 255
  // unless the minimum is negative (the common reading of real descriptors).
  std::int64_t logicalMin = 0;
  std::int64_t logicalMax = 0;
  std::uint32_t logicalMaxUnsigned = 0;
  std::int64_t physicalMin = 0;
  std::int64_t physicalMax = 0;
  std::uint32_t physicalMaxUnsigned = 0;
  std::int32_t unitExponent = 0;
  std::uint32_t unit = 0;
  std::uint32_t reportSize = 0;
  std::uint32_t reportID = 0;
  std::uint32_t reportCount = 0;
};

// A usage-list entry: a single usage (min == max) or a Usage Minimum..Maximum range.
struct UsageRun {
  std::uint16_t page;
  std::uint16_t min;
  std::uint16_t max;
};

struct PendingBound {
  bool set = false;
  std::uint16_t page = 0;
  std::uint16_t usage = 0;
};

struct Locals {
  std::vector<UsageRun> usages;
  PendingBound minimum;
  PendingBound maximum;
  int delimiterDepth = 0;
  bool delimiterUsageTaken = false;

  void clear() {
    usages.clear();
    minimum = {};
    maximum = {};
    delimiterUsageTaken = false;
  }
};

}  // namespace

class HIDDescriptorParser {
 public:
  explicit HIDDescriptorParser(std::span<const std::uint8_t> bytes) : bytes_(bytes) {
    for (auto& bits : result_.reportBits_) bits.assign(256, 0);
  }

  std::optional<HIDParsedDescriptor> parse(HIDParseError* error) {
    if (!run()) {
      if (error) *error = error_;
      return std::nullopt;
    }
    return std::move(result_);
  }

 private:
  bool fail(std::size_t offset, std::string message) {
    error_.offset = offset;
    error_.message = std::move(message);
    return false;
  }

  static std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
  }

  bool run() {
    if (bytes_.empty()) return fail(0, "the descriptor is empty");
    if (bytes_.size() > HIDParsedDescriptor::kMaxDescriptorLength) {
      return fail(HIDParsedDescriptor::kMaxDescriptorLength,
                  "the descriptor is longer than " +
                      std::to_string(HIDParsedDescriptor::kMaxDescriptorLength) + " bytes");
    }
    std::size_t position = 0;
    while (position < bytes_.size()) {
      const std::size_t offset = position;
      const std::uint8_t prefix = bytes_[position++];
      if (prefix == kLongItemPrefix) {
        // Long item: data size, tag, then the data. No long item tags are defined; skip it.
        if (bytes_.size() - position < 2) {
          return fail(offset, "long item header runs past the end of the descriptor");
        }
        const std::size_t dataSize = bytes_[position];
        position += 2;
        if (bytes_.size() - position < dataSize) {
          return fail(offset, "long item needs " + std::to_string(dataSize) +
                                  " data bytes but the descriptor ends after " +
                                  std::to_string(bytes_.size() - position));
        }
        position += dataSize;
        continue;
      }
      static constexpr std::size_t kDataSizes[4] = {0, 1, 2, 4};
      const std::size_t dataSize = kDataSizes[prefix & 0x03];
      if (bytes_.size() - position < dataSize) {
        return fail(offset, "item " + hex(prefix) + " needs " + std::to_string(dataSize) +
                                " data bytes but the descriptor ends after " +
                                std::to_string(bytes_.size() - position));
      }
      std::uint32_t data = 0;
      for (std::size_t i = 0; i < dataSize; ++i) {
        data |= static_cast<std::uint32_t>(bytes_[position + i]) << (8 * i);
      }
      std::int64_t signedData = 0;
      if (dataSize == 1) signedData = static_cast<std::int8_t>(data);
      if (dataSize == 2) signedData = static_cast<std::int16_t>(data);
      if (dataSize == 4) signedData = static_cast<std::int32_t>(data);
      position += dataSize;
      if (!item(offset, static_cast<std::uint8_t>(prefix & 0xFC), dataSize, data, signedData)) {
        return false;
      }
    }
    if (collectionDepth_ != 0) {
      return fail(bytes_.size(), std::to_string(collectionDepth_) +
                                     " collection(s) not closed at the end of the descriptor");
    }
    finish();
    return true;
  }

  bool item(std::size_t offset, std::uint8_t tag, std::size_t size, std::uint32_t data,
            std::int64_t signedData) {
    switch (tag) {
      case kInput:
        return mainItem(offset, HIDReportType::input, data);
      case kOutput:
        return mainItem(offset, HIDReportType::output, data);
      case kFeature:
        return mainItem(offset, HIDReportType::feature, data);
      case kCollection: {
        if (collectionDepth_ >= HIDParsedDescriptor::kMaxCollectionDepth) {
          return fail(offset, "collections nested deeper than " +
                                  std::to_string(HIDParsedDescriptor::kMaxCollectionDepth));
        }
        HIDCollectionUsage usage;
        if (!locals_.usages.empty()) {
          usage = {locals_.usages.front().page, locals_.usages.front().min};
        } else if (locals_.minimum.set) {
          usage = {locals_.minimum.page, locals_.minimum.usage};
        }
        if (collectionDepth_ == 0) {
          if (!sawTopLevelCollection_) {
            sawTopLevelCollection_ = true;
            result_.capabilities_.usagePage = usage.usagePage;
            result_.capabilities_.usage = usage.usage;
          }
          result_.topLevelCollections_.push_back(usage);
        }
        constexpr std::uint32_t kApplication = 0x01;
        collections_[collectionDepth_] = collectionDepth_ == 0 || (data & 0xFF) == kApplication
                                             ? usage
                                             : collections_[collectionDepth_ - 1];
        ++collectionDepth_;
        locals_.clear();
        return true;
      }
      case kEndCollection:
        if (collectionDepth_ == 0) return fail(offset, "End Collection without an open collection");
        --collectionDepth_;
        locals_.clear();
        return true;

      case kUsagePage:
        globals_.usagePage = static_cast<std::uint16_t>(data);
        return true;
      case kLogicalMinimum:
        globals_.logicalMin = signedData;
        return true;
      case kLogicalMaximum:
        globals_.logicalMax = signedData;
        globals_.logicalMaxUnsigned = data;
        return true;
      case kPhysicalMinimum:
        globals_.physicalMin = signedData;
        return true;
      case kPhysicalMaximum:
        globals_.physicalMax = signedData;
        globals_.physicalMaxUnsigned = data;
        return true;
      case kUnitExponent:
        globals_.unitExponent = static_cast<std::int32_t>(signedData);
        return true;
      case kUnit:
        globals_.unit = data;
        return true;
      case kReportSize:
        globals_.reportSize = data;
        return true;
      case kReportID:
        if (size == 0 || data == 0) return fail(offset, "Report ID 0 is reserved");
        if (data > 255) return fail(offset, "Report ID " + std::to_string(data) + " exceeds 255");
        globals_.reportID = data;
        result_.usesReportIDs_ = true;
        return true;
      case kReportCount:
        globals_.reportCount = data;
        return true;
      case kPush:
        if (stack_.size() >= HIDParsedDescriptor::kMaxPushDepth) {
          return fail(offset, "Push nested deeper than " +
                                  std::to_string(HIDParsedDescriptor::kMaxPushDepth));
        }
        stack_.push_back(globals_);
        return true;
      case kPop:
        if (stack_.empty()) return fail(offset, "Pop without a matching Push");
        globals_ = stack_.back();
        stack_.pop_back();
        return true;

      case kUsage:
        return usage(offset, size, data);
      case kUsageMinimum:
      case kUsageMaximum: {
        PendingBound& bound = tag == kUsageMinimum ? locals_.minimum : locals_.maximum;
        bound.set = true;
        bound.page = size == 4 ? static_cast<std::uint16_t>(data >> 16) : globals_.usagePage;
        bound.usage = static_cast<std::uint16_t>(data);
        if (locals_.minimum.set && locals_.maximum.set) return closeRange(offset);
        return true;
      }
      case kDelimiter:
        // A delimited set lists alternative usages for one field; the first one counts.
        if (data == 1) {
          ++locals_.delimiterDepth;
          locals_.delimiterUsageTaken = false;
        } else if (data == 0 && locals_.delimiterDepth > 0) {
          --locals_.delimiterDepth;
        }
        return true;
      default:
        return true;  // unknown or reserved item: nothing to model
    }
  }

  bool usage(std::size_t offset, std::size_t size, std::uint32_t data) {
    if (locals_.delimiterDepth > 0) {
      if (locals_.delimiterUsageTaken) return true;
      locals_.delimiterUsageTaken = true;
    }
    const std::uint16_t page =
        size == 4 ? static_cast<std::uint16_t>(data >> 16) : globals_.usagePage;
    const auto id = static_cast<std::uint16_t>(data);
    return addUsage(offset, UsageRun{page, id, id});
  }

  bool closeRange(std::size_t offset) {
    const PendingBound minimum = locals_.minimum;
    const PendingBound maximum = locals_.maximum;
    locals_.minimum = {};
    locals_.maximum = {};
    if (minimum.page != maximum.page) {
      return fail(offset, "Usage Minimum and Usage Maximum name different usage pages (" +
                              hex(minimum.page) + ", " + hex(maximum.page) + ")");
    }
    if (minimum.usage > maximum.usage) {
      return fail(offset, "Usage Minimum " + hex(minimum.usage) + " is above Usage Maximum " +
                              hex(maximum.usage));
    }
    return addUsage(offset, UsageRun{minimum.page, minimum.usage, maximum.usage});
  }

  bool addUsage(std::size_t offset, UsageRun run) {
    // Consecutive usages on one page form one run ("X, Y" is the range X..Y).
    if (!locals_.usages.empty()) {
      UsageRun& last = locals_.usages.back();
      if (last.page == run.page && static_cast<std::uint32_t>(last.max) + 1 == run.min) {
        last.max = run.max;
        return true;
      }
    }
    if (locals_.usages.size() >= HIDParsedDescriptor::kMaxUsagesPerItem) {
      return fail(offset, "more than " + std::to_string(HIDParsedDescriptor::kMaxUsagesPerItem) +
                              " usages before one main item");
    }
    locals_.usages.push_back(run);
    return true;
  }

  bool mainItem(std::size_t offset, HIDReportType type, std::uint32_t flags) {
    // A lone Usage Minimum or Maximum stands for that one usage.
    if (locals_.minimum.set != locals_.maximum.set) {
      const PendingBound& bound = locals_.minimum.set ? locals_.minimum : locals_.maximum;
      if (!addUsage(offset, UsageRun{bound.page, bound.usage, bound.usage})) return false;
    }
    const bool ok = fields(offset, type, flags);
    locals_.clear();
    return ok;
  }

  bool fields(std::size_t offset, HIDReportType type, std::uint32_t flags) {
    const std::uint64_t size = globals_.reportSize;
    const std::uint64_t count = globals_.reportCount;
    if (size == 0 || count == 0) return true;
    std::uint32_t& reportBits =
        result_.reportBits_[static_cast<std::size_t>(type)][globals_.reportID];
    // Leave room for the ID byte whether or not report IDs turn up later.
    constexpr std::uint64_t maxBits = (HIDParsedDescriptor::kMaxReportByteLength - 1) * 8ull;
    if (size * count > maxBits || reportBits + size * count > maxBits) {
      return fail(offset, "report " + std::to_string(globals_.reportID) + " grows past " +
                              std::to_string(HIDParsedDescriptor::kMaxReportByteLength) +
                              " bytes (Report Size " + std::to_string(size) + " x Report Count " +
                              std::to_string(count) + ")");
    }
    const std::uint32_t startBit = reportBits;
    reportBits += static_cast<std::uint32_t>(size * count);

    if ((flags & kHIDConstantFlag) || locals_.usages.empty()) return true;  // padding

    const auto reportID = static_cast<std::uint8_t>(globals_.reportID);
    if (!(flags & kHIDVariableFlag)) {
      const std::size_t t = static_cast<std::size_t>(type);
      // Selector fields model no per-usage bit, so their (often wide) usage ranges do not
      // count against the field limit.
      for (const UsageRun& run : locals_.usages) {
        HIDArrayCapability capability;
        capability.usagePage = run.page;
        capability.reportID = reportID;
        capability.usageMin = run.min;
        capability.usageMax = run.max;
        capability.startBit = startBit;
        capability.bitSize = static_cast<std::uint32_t>(size);
        capability.reportCount = static_cast<std::uint32_t>(count);
        capability.logicalMin = globals_.logicalMin;
        capability.logicalMax = logicalMax();
        capability.bitField = flags;
        capability.collection = applicationCollection();
        result_.arrays_[t].push_back(capability);
      }
      return true;
    }

    // Variable fields: walk the usage list, one capability per run of consecutive usages.
    struct Segment {
      std::uint16_t page;
      std::uint16_t min;
      std::uint16_t max;
      std::uint64_t firstField;
      std::uint64_t fieldCount;
    };
    std::vector<Segment> segments;
    std::uint64_t field = 0;
    for (const UsageRun& run : locals_.usages) {
      if (field >= count) break;
      const std::uint64_t usages = static_cast<std::uint64_t>(run.max) - run.min + 1;
      const std::uint64_t taken = std::min(usages, count - field);
      segments.push_back(
          {run.page, run.min, static_cast<std::uint16_t>(run.min + taken - 1), field, taken});
      field += taken;
    }
    if (field < count) {
      // The remaining fields repeat the last usage: it becomes a single-usage capability
      // covering its own field and every repeat, so each usage stays one capability.
      Segment& last = segments.back();
      if (last.max > last.min) {
        --last.max;
        --last.fieldCount;
        segments.push_back({last.page, static_cast<std::uint16_t>(last.max + 1),
                            static_cast<std::uint16_t>(last.max + 1), field - 1, 1});
      }
      segments.back().fieldCount += count - field;
    }
    for (const Segment& segment : segments) {
      if (!addVariable(offset, type, flags, segment.page, segment.min, segment.max,
                       startBit + segment.firstField * size, segment.fieldCount, reportID)) {
        return false;
      }
    }
    return true;
  }

  bool countFields(std::size_t offset, std::uint64_t usages) {
    fieldsWithUsages_ += usages;
    if (fieldsWithUsages_ > HIDParsedDescriptor::kMaxFieldsWithUsages) {
      return fail(offset, "the descriptor declares more than " +
                              std::to_string(HIDParsedDescriptor::kMaxFieldsWithUsages) +
                              " fields with usages");
    }
    return true;
  }

  // Fields outside every collection belong to none (page 0, usage 0).
  HIDCollectionUsage applicationCollection() const {
    return collectionDepth_ == 0 ? HIDCollectionUsage{} : collections_[collectionDepth_ - 1];
  }

  std::int64_t logicalMax() const {
    return globals_.logicalMin < 0 ? globals_.logicalMax
                                   : static_cast<std::int64_t>(globals_.logicalMaxUnsigned);
  }

  bool addVariable(std::size_t offset, HIDReportType type, std::uint32_t flags, std::uint16_t page,
                   std::uint16_t min, std::uint16_t max, std::uint64_t startBit,
                   std::uint64_t fieldCount, std::uint8_t reportID) {
    if (!countFields(offset, static_cast<std::uint64_t>(max) - min + 1)) return false;
    const std::size_t t = static_cast<std::size_t>(type);
    if (globals_.reportSize == 1) {
      HIDButtonCapability capability;
      capability.usagePage = page;
      capability.reportID = reportID;
      capability.isRange = max > min;
      capability.usageMin = min;
      capability.usageMax = max;
      capability.startBit = static_cast<std::uint32_t>(startBit);
      capability.reportCount = static_cast<std::uint32_t>(fieldCount);
      capability.bitField = flags;
      capability.collection = applicationCollection();
      result_.buttons_[t].push_back(capability);
      return true;
    }
    HIDValueCapability capability;
    capability.usagePage = page;
    capability.reportID = reportID;
    capability.isRange = max > min;
    capability.usageMin = min;
    capability.usageMax = max;
    capability.startBit = static_cast<std::uint32_t>(startBit);
    capability.bitSize = globals_.reportSize;
    capability.reportCount = static_cast<std::uint32_t>(fieldCount);
    capability.logicalMin = globals_.logicalMin;
    capability.logicalMax = logicalMax();
    capability.physicalMin = globals_.physicalMin;
    capability.physicalMax = globals_.physicalMin < 0
                                 ? globals_.physicalMax
                                 : static_cast<std::int64_t>(globals_.physicalMaxUnsigned);
    capability.unit = globals_.unit;
    capability.unitExponent = globals_.unitExponent;
    capability.bitField = flags;
    capability.collection = applicationCollection();
    result_.values_[t].push_back(capability);
    return true;
  }

  // Positions so far count from the first data bit; with report IDs every report starts with
  // its ID byte, which is only known once the whole descriptor has been read.
  void finish() {
    const std::uint32_t idBits = result_.usesReportIDs_ ? 8 : 0;
    for (std::size_t t = 0; t < 3; ++t) {
      for (auto& c : result_.buttons_[t]) c.startBit += idBits;
      for (auto& c : result_.values_[t]) c.startBit += idBits;
      for (auto& c : result_.arrays_[t]) c.startBit += idBits;
    }
    auto longest = [&](HIDReportType type) {
      std::uint32_t bytes = 0;
      for (std::size_t id = 0; id < 256; ++id) {
        bytes = std::max(bytes, result_.reportByteLength(type, static_cast<std::uint8_t>(id)));
      }
      return bytes;
    };
    HIDCapabilities& caps = result_.capabilities_;
    caps.inputReportByteLength = longest(HIDReportType::input);
    caps.outputReportByteLength = longest(HIDReportType::output);
    caps.featureReportByteLength = longest(HIDReportType::feature);
    caps.numberInputButtonCaps = static_cast<std::uint32_t>(result_.buttons_[0].size());
    caps.numberInputValueCaps = static_cast<std::uint32_t>(result_.values_[0].size());
    caps.numberOutputButtonCaps = static_cast<std::uint32_t>(result_.buttons_[1].size());
    caps.numberOutputValueCaps = static_cast<std::uint32_t>(result_.values_[1].size());
    caps.numberFeatureButtonCaps = static_cast<std::uint32_t>(result_.buttons_[2].size());
    caps.numberFeatureValueCaps = static_cast<std::uint32_t>(result_.values_[2].size());
  }

  std::span<const std::uint8_t> bytes_;
  HIDParsedDescriptor result_;
  HIDParseError error_;
  Globals globals_;
  std::vector<Globals> stack_;
  Locals locals_;
  std::size_t collectionDepth_ = 0;
  // The application collection in force at each open depth (see applicationCollection()).
  HIDCollectionUsage collections_[HIDParsedDescriptor::kMaxCollectionDepth] = {};
  bool sawTopLevelCollection_ = false;
  std::uint64_t fieldsWithUsages_ = 0;
};

std::optional<HIDParsedDescriptor> HIDOpenReportDescriptor(std::span<const std::uint8_t> bytes,
                                                           HIDParseError* error) {
  return HIDDescriptorParser(bytes).parse(error);
}

}  // namespace zv::driver
