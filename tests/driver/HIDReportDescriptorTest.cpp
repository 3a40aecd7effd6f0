#include "core/HIDReportDescriptor.h"

#include <gtest/gtest.h>

#include <span>
#include <string>

#include "DriverTestSupport.h"
#include "core/DeviceConfig.h"
#include "core/SampleDescriptors.h"

namespace zv::driver {
namespace {

using testing::bytes;

HIDParsedDescriptor parseOrFail(std::span<const std::uint8_t> descriptor) {
  HIDParseError error;
  auto parsed = HIDOpenReportDescriptor(descriptor, &error);
  EXPECT_TRUE(parsed) << error.describe();
  return parsed ? *parsed : HIDParsedDescriptor();
}

HIDParseError parseError(const std::vector<std::uint8_t>& descriptor) {
  HIDParseError error;
  EXPECT_FALSE(HIDOpenReportDescriptor(descriptor, &error)) << "parsed a malformed descriptor";
  return error;
}

// "page:min-max@bit" for buttons, "page:min-max@bit/size x count" for values: compact
// enough to compare whole capability lists at once.
std::string describe(std::span<const HIDButtonCapability> caps) {
  std::string text;
  for (const auto& c : caps) {
    text += std::to_string(c.reportID) + ":" + std::to_string(c.usagePage) + ":" +
            std::to_string(c.usageMin) + "-" + std::to_string(c.usageMax) + "@" +
            std::to_string(c.startBit) + " ";
  }
  return text;
}

std::string describe(std::span<const HIDValueCapability> caps) {
  std::string text;
  for (const auto& c : caps) {
    text += std::to_string(c.reportID) + ":" + std::to_string(c.usagePage) + ":" +
            std::to_string(c.usageMin) + "-" + std::to_string(c.usageMax) + "@" +
            std::to_string(c.startBit) + "/" + std::to_string(c.bitSize) + "x" +
            std::to_string(c.reportCount) + " ";
  }
  return text;
}

TEST(HIDReportDescriptor, ReplacementDescriptorOfType2) {
  const auto d = parseOrFail({kReplacementDescriptorType2, kReplacementDescriptorType2Length});
  EXPECT_TRUE(d.usesReportIDs());
  EXPECT_EQ(d.getCapabilities().usagePage, 1);
  EXPECT_EQ(d.getCapabilities().usage, 5);  // game pad
  // Report 1: ID, 15 buttons + 1 pad, hat nibble + pad nibble, 4 axes and 2 simulation
  // controls of 16 bits. Report 2: 13 consumer bits + 3 pad. Report 3: mouse.
  EXPECT_EQ(describe(d.getButtonCapabilities(HIDReportType::input)),
            "1:9:1-15@8 2:12:181-182@8 2:12:233-234@10 2:12:205-205@12 2:12:547-547@13 "
            "2:12:179-180@14 2:12:548-548@16 2:12:66-69@17 3:9:1-12@8 ");
  EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)),
            "1:1:57-57@24/4x1 1:1:64-66@32/16x3 1:1:69-69@80/16x1 1:2:196-197@96/16x2 "
            "3:1:48-49@24/16x2 3:1:56-56@56/16x1 242:65280:114-114@8/8x9 ");
  EXPECT_EQ(d.reportByteLength(HIDReportType::input, 1), 16u);
  EXPECT_EQ(d.reportByteLength(HIDReportType::input, 2), 3u);
  EXPECT_EQ(d.reportByteLength(HIDReportType::input, 3), 9u);  // the synthetic report's size
  EXPECT_EQ(d.reportByteLength(HIDReportType::input, 0xF2), 10u);
  EXPECT_EQ(d.reportByteLength(HIDReportType::output, 0xFF), 10u);
  EXPECT_EQ(d.getCapabilities().inputReportByteLength, 16u);
  EXPECT_EQ(d.getCapabilities().outputReportByteLength, 10u);
  const auto hat = d.getValueCapabilities(HIDReportType::input)[0];
  EXPECT_EQ(hat.logicalMin, 1);
  EXPECT_EQ(hat.logicalMax, 8);
  // "26 FF FF" with a minimum of 0 is 65535, not -1.
  EXPECT_EQ(d.getValueCapabilities(HIDReportType::input)[1].logicalMax, 65535);
  EXPECT_EQ(d.getValueCapabilities(HIDReportType::input)[4].logicalMin, -32767);
}

TEST(HIDReportDescriptor, ReplacementDescriptorOfType3) {
  const auto d = parseOrFail({kReplacementDescriptorType3, kReplacementDescriptorType3Length});
  EXPECT_TRUE(d.usesReportIDs());
  EXPECT_EQ(describe(d.getButtonCapabilities(HIDReportType::input)),
            "1:9:1-15@8 2:12:181-182@8 2:12:233-234@10 2:12:205-205@12 2:12:179-180@13 "
            "2:12:548-548@15 2:12:66-69@16 2:12:547-547@20 3:9:1-3@8 ");
  EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)),
            "1:1:57-57@24/4x1 1:1:64-64@32/16x1 1:1:49-49@48/16x1 1:1:50-50@64/16x1 "
            "1:1:53-53@80/16x1 1:2:197-197@96/16x1 1:2:196-196@112/16x1 "
            "3:1:48-49@16/8x2 3:1:56-56@32/8x1 242:65280:114-114@8/8x9 ");
  // The mouse report has 8-bit fields: 5 bytes with its ID.
  EXPECT_EQ(d.reportByteLength(HIDReportType::input, 3), 5u);
  EXPECT_EQ(d.reportByteLength(HIDReportType::input, 1), 16u);
}

TEST(HIDReportDescriptor, CommonMice) {
  {
    SCOPED_TRACE("boot mouse");
    const auto d = parseOrFail(testing::kBootMouse);
    EXPECT_FALSE(d.usesReportIDs());
    EXPECT_EQ(describe(d.getButtonCapabilities(HIDReportType::input)), "0:9:1-3@0 ");
    EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)), "0:1:48-49@8/8x2 ");
    EXPECT_EQ(d.getCapabilities().inputReportByteLength, 3u);
    EXPECT_EQ(d.reportIDs(HIDReportType::input), std::vector<std::uint8_t>{0});
    EXPECT_EQ(d.getCapabilities().usage, 2);
  }
  {
    SCOPED_TRACE("report IDs and a consumer collection");
    const auto d = parseOrFail(testing::kReportIdConsumerMouse);
    EXPECT_TRUE(d.usesReportIDs());
    EXPECT_EQ(describe(d.getButtonCapabilities(HIDReportType::input)), "1:9:1-5@8 ");
    EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)),
              "1:1:48-49@16/8x2 1:1:56-56@32/8x1 ");
    ASSERT_EQ(d.getArrayCapabilities(HIDReportType::input).size(), 1u);
    const auto selector = d.getArrayCapabilities(HIDReportType::input)[0];
    EXPECT_EQ(selector.reportID, 2);
    EXPECT_EQ(selector.usagePage, 0x0C);
    EXPECT_EQ(selector.usageMax, 0x23C);
    EXPECT_EQ(selector.startBit, 8u);
    EXPECT_EQ(selector.bitSize, 16u);
    EXPECT_EQ(d.reportByteLength(HIDReportType::input, 1), 5u);
    EXPECT_EQ(d.reportByteLength(HIDReportType::input, 2), 3u);
    EXPECT_EQ(d.reportIDs(HIDReportType::input), (std::vector<std::uint8_t>{1, 2}));
  }
  {
    SCOPED_TRACE("16-bit gaming mouse");
    const auto d = parseOrFail(testing::kGamingMouse16);
    EXPECT_EQ(describe(d.getButtonCapabilities(HIDReportType::input)), "1:9:1-16@8 ");
    EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)),
              "1:1:48-49@24/16x2 1:1:56-56@56/8x1 1:12:568-568@64/8x1 ");
    EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::feature)), "5:65280:2-2@8/8x63 ");
    EXPECT_EQ(d.getCapabilities().featureReportByteLength, 64u);
    EXPECT_EQ(d.getCapabilities().inputReportByteLength, 9u);
    EXPECT_EQ(d.getValueCapabilities(HIDReportType::input)[0].logicalMin, -32767);
    EXPECT_EQ(d.getValueCapabilities(HIDReportType::input)[0].bitField & kHIDRelativeFlag,
              kHIDRelativeFlag);
  }
  {
    SCOPED_TRACE("12-bit axes and a hat");
    const auto d = parseOrFail(testing::kHatMouse);
    EXPECT_FALSE(d.usesReportIDs());
    EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)),
              "0:1:48-49@8/12x2 0:1:56-56@32/8x1 0:1:57-57@40/4x1 ");
    EXPECT_EQ(d.getCapabilities().inputReportByteLength, 6u);
  }
}

TEST(HIDReportDescriptor, ItemForms) {
  {
    SCOPED_TRACE("push and pop restore the globals, including the usage page");
    const auto d = parseOrFail(
        bytes("05 01 09 02 A1 01 75 08 95 01 15 81 25 7F"
              "A4 05 09 75 01 95 02 15 00 25 01 19 01 29 02 81 02"  // 2 buttons in a pushed state
              "75 06 95 01 81 03 B4"                                // padding, then pop
              "09 30 81 06 C0"));                                   // X with the popped globals
    EXPECT_EQ(describe(d.getButtonCapabilities(HIDReportType::input)), "0:9:1-2@0 ");
    EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)), "0:1:48-48@8/8x1 ");
    EXPECT_EQ(d.getValueCapabilities(HIDReportType::input)[0].logicalMin, -127);
  }
  {
    SCOPED_TRACE("extended usages carry their own page");
    const auto d = parseOrFail(bytes(
        "05 09 09 02 A1 01 75 08 95 02"
        "0B 30 00 01 00 0B 31 00 01 00 81 06"  // Generic Desktop X and Y while the page is Button
        "75 01 95 03 1B 01 00 09 00 2B 03 00 09 00 81 02 75 05 95 01 81 03 C0"));
    EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)), "0:1:48-49@0/8x2 ");
    EXPECT_EQ(describe(d.getButtonCapabilities(HIDReportType::input)), "0:9:1-3@16 ");
  }
  {
    SCOPED_TRACE("long items, unknown items and trailing zeros are skipped");
    const auto d = parseOrFail(
        bytes("05 01 FE 03 10 AA BB CC 09 02 A1 01 F4 75 08 95 01 09 30 81 06 C0 00 00"));
    EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)), "0:1:48-48@0/8x1 ");
  }
  {
    SCOPED_TRACE("more fields than usages: the last usage repeats");
    const auto d = parseOrFail(
        bytes("05 01 09 02 A1 01 75 08 95 04 09 30 09 31 81 06 05 09 75 01 95 04 09 01 81 02 C0"));
    EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)),
              "0:1:48-48@0/8x1 0:1:49-49@8/8x3 ");
    EXPECT_EQ(describe(d.getButtonCapabilities(HIDReportType::input)), "0:9:1-1@32 ");
    EXPECT_EQ(d.getCapabilities().inputReportByteLength, 5u);
  }
  {
    SCOPED_TRACE("fewer fields than usages; delimited alternatives count once");
    const auto d =
        parseOrFail(bytes("05 01 09 02 A1 01 75 08 95 01 19 30 29 38 81 06"
                          "A9 01 09 31 09 32 A9 00 81 06 C0"));
    EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)),
              "0:1:48-48@0/8x1 0:1:49-49@8/8x1 ");
  }
  {
    SCOPED_TRACE("fields without usages and constant fields are padding");
    const auto d =
        parseOrFail(bytes("05 01 09 02 A1 01 75 08 95 02 81 02 09 30 81 03 09 31 81 06 C0"));
    EXPECT_EQ(describe(d.getValueCapabilities(HIDReportType::input)), "0:1:49-49@32/8x2 ");
  }
}

TEST(HIDReportDescriptor, MalformedDescriptorsAreErrorsWithTheirOffset) {
  struct Case {
    const char* name;
    std::string hex;
    std::size_t offset;
    const char* message;
  };
  const Case cases[] = {
      {"empty", "", 0, "the descriptor is empty"},
      {"truncated short item", "05 01 09 02 A1 01 26 FF", 6,
       "item 0x26 needs 2 data bytes but the descriptor ends after 1"},
      {"truncated long item header", "05 01 FE 05", 2,
       "long item header runs past the end of the descriptor"},
      {"truncated long item data", "05 01 FE 05 10 AA", 2,
       "long item needs 5 data bytes but the descriptor ends after 1"},
      {"report ID 0", "05 01 09 02 A1 01 85 00", 6, "Report ID 0 is reserved"},
      {"report ID above 255", "05 01 09 02 A1 01 86 00 01", 6, "Report ID 256 exceeds 255"},
      {"pop without push", "05 01 B4", 2, "Pop without a matching Push"},
      {"end without collection", "05 01 C0", 2, "End Collection without an open collection"},
      {"unclosed collection", "05 01 09 02 A1 01 A1 00 C0", 9,
       "1 collection(s) not closed at the end of the descriptor"},
      {"reversed usage range", "05 09 19 05 29 01", 4,
       "Usage Minimum 0x5 is above Usage Maximum 0x1"},
      {"range across pages", "1B 01 00 09 00 2B 03 00 0C 00", 5,
       "Usage Minimum and Usage Maximum name different usage pages (0x9, 0xC)"},
      {"absurd count", "05 01 09 30 75 10 97 FF FF FF 7F 81 02", 11,
       "report 0 grows past 4096 bytes (Report Size 16 x Report Count 2147483647)"},
      {"report grows too long over several items", "75 08 96 00 08 81 03 81 03", 7,
       "report 0 grows past 4096 bytes (Report Size 8 x Report Count 2048)"},
      {"too many fields with usages", "05 09 19 01 2A 00 50 75 01 96 00 50 81 02", 12,
       "the descriptor declares more than 16384 fields with usages"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const HIDParseError error = parseError(bytes(c.hex));
    EXPECT_EQ(error.offset, c.offset);
    EXPECT_EQ(error.message, c.message);
  }

  std::vector<std::uint8_t> deep;
  for (int i = 0; i < 40; ++i) deep.insert(deep.end(), {0xA1, 0x00});
  EXPECT_EQ(parseError(deep).describe(), "byte 64: collections nested deeper than 32");
  std::vector<std::uint8_t> pushes(20, 0xA4);
  EXPECT_EQ(parseError(pushes).describe(), "byte 16: Push nested deeper than 16");
  EXPECT_EQ(parseError(std::vector<std::uint8_t>(5000, 0)).describe(),
            "byte 4096: the descriptor is longer than 4096 bytes");
}

TEST(HIDReportDescriptor, EveryTruncationOfARealDescriptorIsHandled) {
  // Cut each descriptor at every length: each prefix parses or fails cleanly (the sanitizer
  // builds catch any read past the end).
  const std::vector<std::span<const std::uint8_t>> descriptors = {
      {kReplacementDescriptorType2, kReplacementDescriptorType2Length},
      {kReplacementDescriptorType3, kReplacementDescriptorType3Length},
      testing::kReportIdConsumerMouse,
      testing::kHatMouse,
      sampleDescriptorForType(0),
  };
  for (const auto& descriptor : descriptors) {
    for (std::size_t length = 0; length < descriptor.size(); ++length) {
      std::vector<std::uint8_t> prefix(descriptor.begin(), descriptor.begin() + length);
      HIDParseError error;
      if (!HIDOpenReportDescriptor(prefix, &error)) {
        EXPECT_LE(error.offset, length);
        EXPECT_FALSE(error.message.empty());
      }
    }
  }
}

}  // namespace
}  // namespace zv::driver
