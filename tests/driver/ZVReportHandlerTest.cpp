#include "core/ZVReportHandler.h"

#include <gtest/gtest.h>

#include <memory>

#include "DriverTestSupport.h"
#include "core/SampleDescriptors.h"
#include "protocol/HIDConstants.h"

namespace zv::driver {
namespace {

using testing::bytes;
using testing::ElementEvent;
using testing::hex;
using testing::PointerEvent;
using testing::PointerRecorder;
using testing::RecordingClient;

// A handler over a descriptor and a device type's configuration (or none), with a manual
// reporter clock and one recording user client.
struct Fixture {
  Fixture(std::span<const std::uint8_t> descriptorBytes, const ZVDeviceConfig* config)
      : handler([this](std::int16_t dx, std::int16_t dy,
                       std::uint32_t buttons) { pointer(dx, dy, buttons); },
                ZVMouseReporter::Mode::manual) {
    HIDParseError error;
    descriptor = HIDOpenReportDescriptor(descriptorBytes, &error);
    EXPECT_TRUE(descriptor) << error.describe();
    handler.init(descriptor ? &*descriptor : nullptr, config);
    handler.addUserClient(&client);
  }
  static Fixture forType(int type) {
    return Fixture(sampleDescriptorForType(type), GetDeviceConfiguration(type));
  }

  // Runs one report through the handler and answers it as hex.
  std::string report(const std::string& hexBytes) {
    std::vector<std::uint8_t> r = bytes(hexBytes);
    handler.handleReport(r.data(), r.size());
    return hex(r);
  }

  std::optional<HIDParsedDescriptor> descriptor;
  PointerRecorder pointer;
  ZVReportHandler handler;
  RecordingClient client;
};

TEST(ZVReportHandler, OverriddenButtonIsSuppressedAndReportedOncePerChange) {
  Fixture f = Fixture::forType(1);  // buttons 9, 10 and 11 overridden from the start
  // Button 9 is bit 0 of byte 1; button 1 (bit 0 of byte 0) is not overridden.
  EXPECT_EQ(f.report("01 01 00 00 00 00 00"), "01 00 00 00 00 00 00");
  EXPECT_EQ(f.client.events, (std::vector<ElementEvent>{{0x90009, 1, 1}}));
  EXPECT_EQ(f.report("00 01 05 00 00 00 00"), "00 00 05 00 00 00 00") << "held: still cleared";
  EXPECT_EQ(f.client.events.size(), 1u) << "no event while the value stays";
  EXPECT_EQ(f.report("00 00 05 00 00 00 00"), "00 00 05 00 00 00 00")
      << "release: nothing to clear";
  EXPECT_EQ(f.client.events, (std::vector<ElementEvent>{{0x90009, 1, 1}, {0x90009, 0, 1}}));

  // Releasing the override reports the element at once and lets the button through.
  f.handler.setElementOverride(0x90009, false);
  EXPECT_EQ(f.client.events.back(), (ElementEvent{0x90009, 0, 1}));
  EXPECT_EQ(f.report("00 01 00 00 00 00 00"), "00 01 00 00 00 00 00");
  EXPECT_EQ(f.client.events.size(), 3u);

  // Overriding an element the device lacks does nothing and sends nothing.
  f.handler.setElementOverride(0x90020, true);
  f.handler.setElementOverride(0x10039, true);
  EXPECT_EQ(f.client.events.size(), 3u);
}

TEST(ZVReportHandler, ButtonMaskLandsAfterTheReportIdByte) {
  {
    SCOPED_TRACE("no report IDs (type 1)");
    Fixture f = Fixture::forType(1);
    f.handler.setButtonOverrides(0x2);
    EXPECT_EQ(f.pointer.events(), (std::vector<PointerEvent>{{0, 0, 2}})) << "dispatched at once";
    EXPECT_EQ(f.report("00 00 00 00 00 00 00"), "02 00 00 00 00 00 00");
    EXPECT_EQ(f.report("01 00 10 00 00 00 00"), "03 00 10 00 00 00 00");
    f.handler.setButtonOverrides(0x0102030405060708);
    EXPECT_EQ(f.report("00 00 00 00 00 00 00"), "08 07 00 00 00 00 00")
        << "bounded by the 16 buttons";
  }
  {
    SCOPED_TRACE("single report ID 0xF1 (type 4)");
    Fixture f = Fixture::forType(4);
    f.handler.setButtonOverrides(0x2);
    EXPECT_EQ(f.report("F1 00 00 00 00 00 00 00 00"), "F1 02 00 00 00 00 00 00 00");
    f.handler.setButtonOverrides(0x0102030405060708);
    EXPECT_EQ(f.report("F1 00 00 00 00 00 00 00 00"), "F1 08 07 00 00 00 00 00 00");
  }
  {
    SCOPED_TRACE("several report IDs (type 2): only the default report is touched");
    Fixture f = Fixture::forType(2);
    f.handler.setButtonOverrides(0x2);
    EXPECT_EQ(f.report("01 00 00 00 00 80 00 80 00 80 00 80 00 00 00 00"),
              "01 02 00 00 00 80 00 80 00 80 00 80 00 00 00 00");
    EXPECT_EQ(f.report("02 00 00"), "02 00 00");
    EXPECT_EQ(f.report("03 00 00 00 00 00 00 00 00"), "03 00 00 00 00 00 00 00 00");
  }
}

TEST(ZVReportHandler, ButtonMaskNeverReachesBeyondTheButtons) {
  {
    SCOPED_TRACE("16 buttons, then X: bit 16 would move the pointer by one");
    Fixture f = Fixture::forType(1);
    EXPECT_EQ(f.handler.buttonFieldMask(), 0xFFFFu);
    EXPECT_EQ(f.handler.setButtonOverrides(0x10000), 0u);
    EXPECT_EQ(f.report("00 00 00 00 00 00 00"), "00 00 00 00 00 00 00");
    EXPECT_EQ(f.handler.setButtonOverrides(~std::uint64_t{0}), 0xFFFFu);
    EXPECT_EQ(f.handler.buttonOverrides(), 0xFFFFu);
    EXPECT_EQ(f.report("00 00 F9 FF 07 00 00"), "FF FF F9 FF 07 00 00");
    EXPECT_EQ(f.pointer.events(), (std::vector<PointerEvent>{{0, 0, 0}, {0, 0, 0xFFFF}}))
        << "the synthetic report carries the mask kept";
  }
  {
    SCOPED_TRACE("3 buttons and 5 bits of padding (boot mouse)");
    Fixture f(testing::kBootMouse, nullptr);
    EXPECT_EQ(f.handler.setButtonOverrides(0xFF), 0x7u) << "padding is no button";
    EXPECT_EQ(f.report("00 05 FB"), "07 05 FB");
  }
  {
    SCOPED_TRACE("buttons after a report ID (type 4)");
    Fixture f = Fixture::forType(4);
    EXPECT_EQ(f.handler.buttonFieldMask(), 0xFFFFu);
    EXPECT_EQ(f.handler.setButtonOverrides(0x30001), 0x1u);
    EXPECT_EQ(f.report("F1 00 00 00 00 00 00 00 00"), "F1 01 00 00 00 00 00 00 00");
  }
  {
    SCOPED_TRACE("a configured default report without buttons takes none");
    ZVDeviceConfig config{};
    config.defaultReportID = 2;
    Fixture f(testing::kReportIdConsumerMouse, &config);
    EXPECT_EQ(f.handler.setButtonOverrides(0x3), 0u);
    EXPECT_EQ(f.report("02 E9 00"), "02 E9 00");
    f.handler.setDefaultReport(1);
    EXPECT_EQ(f.handler.buttonFieldMask(), 0x1Fu) << "the field follows the default report";
  }
}

TEST(ZVReportHandler, ReportOfUnexpectedLengthPassesUnchanged) {
  Fixture f = Fixture::forType(1);  // expects 7 bytes
  f.handler.setButtonOverrides(0x2);
  const auto pointerEvents = f.pointer.events().size();
  EXPECT_EQ(f.report("00 01 00 00 00 00 00 00 00"), "00 01 00 00 00 00 00 00 00");
  EXPECT_EQ(f.report("00 01"), "00 01");
  EXPECT_TRUE(f.client.events.empty());
  EXPECT_EQ(f.pointer.events().size(), pointerEvents);
}

TEST(ZVReportHandler, HatAsXAxisMovesByFifteenAndIsCleared) {
  Fixture f = Fixture::forType(2);
  f.handler.setHatElement(hid::kHatSwitchElement);
  f.handler.setMouseAxis(hid::kHatSwitchElement, 1);
  // Hat nibble at bit 24 (byte 3); the game pad axes rest at their centre.
  const struct {
    int hat;
    std::int16_t dx, dy;
  } steps[] = {{1, 0, -15},  {2, 15, -15}, {3, 15, 0},    {4, 15, 15}, {5, 0, 15},
               {6, -15, 15}, {7, -15, 0},  {8, -15, -15}, {0, 0, 0},   {9, 0, 0}};
  for (const auto& step : steps) {
    SCOPED_TRACE("hat value " + std::to_string(step.hat));
    PointerRecorder& recorder = f.pointer;
    const std::size_t before = recorder.events().size();
    char hatByte[3];
    std::snprintf(hatByte, sizeof hatByte, "%02X", step.hat);
    EXPECT_EQ(f.report(std::string("01 00 00 ") + hatByte + " 00 80 00 80 00 80 00 80 00 00 00 00"),
              "01 00 00 00 00 80 00 80 00 80 00 80 00 00 00 00")
        << "the hat field reads 0 afterwards";
    f.handler.mouseReporter().advance(std::chrono::milliseconds(20));  // two more steps
    const auto events = recorder.events();
    if (step.dx == 0 && step.dy == 0) {
      EXPECT_EQ(events.size(), before) << "no motion, no pointer event";
      f.handler.mouseReporter().advance(std::chrono::milliseconds(10));  // let it go idle
    } else {
      ASSERT_GE(events.size(), before + 1);
      EXPECT_EQ(events.back(), (PointerEvent{step.dx, step.dy, 0}));
    }
  }
  // A hat flag alone (not the X axis) changes nothing.
  Fixture g = Fixture::forType(2);
  g.handler.setHatElement(hid::kHatSwitchElement);
  EXPECT_EQ(g.report("01 00 00 02 00 80 00 80 00 80 00 80 00 00 00 00"),
            "01 00 00 02 00 80 00 80 00 80 00 80 00 00 00 00");
}

TEST(ZVReportHandler, AxisElementDeflection) {
  // Type 2's game pad Vx (0x10040, 16 bits at byte 4) used as the Y axis.
  const struct {
    const char* field;
    std::int16_t dy;
  } cases[] = {{"00 80", 0}, {"FF FF", 19}, {"00 00", -20}, {"00 C0", 10}, {"01 00", -19}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    Fixture f = Fixture::forType(2);
    f.handler.setMouseAxis(0x10040, 2);
    EXPECT_EQ(f.handler.yAxisElement(), 0x10040u);
    const std::string r = std::string("01 00 00 00 ") + c.field + " 00 80 00 80 00 80 00 00 00 00";
    EXPECT_EQ(f.report(r), r) << "the field keeps its value";
    const auto events = f.pointer.events();
    if (c.dy == 0) {
      EXPECT_TRUE(events.empty());
    } else {
      EXPECT_EQ(events, (std::vector<PointerEvent>{{0, c.dy, 0}}));
    }
  }
  // Reassigning moves the element from one axis to the other; any other axis removes it.
  Fixture f = Fixture::forType(2);
  f.handler.setMouseAxis(0x10040, 1);
  f.handler.setMouseAxis(0x10040, 2);
  EXPECT_EQ(f.handler.xAxisElement(), 0u);
  EXPECT_EQ(f.handler.yAxisElement(), 0x10040u);
  f.handler.setMouseAxis(0x10040, 7);
  EXPECT_EQ(f.handler.yAxisElement(), 0u);
}

TEST(ZVReportHandler, PrecisionScalesXAndYWhileTheButtonIsHeld) {
  Fixture f = Fixture::forType(1);  // precision button 6 = bit 5 of byte 0, 50 %
  EXPECT_EQ(f.handler.precisionElement(), 0x90006u);
  // X = -7 (F9 FF), Y = 7; wheel untouched.
  EXPECT_EQ(f.report("20 00 F9 FF 07 00 05"), "20 00 FD FF 03 00 05");
  EXPECT_EQ(f.report("00 00 F9 FF 07 00 05"), "00 00 F9 FF 07 00 05") << "not held";
  f.handler.setPrecAimPercentage(0, 5);
  EXPECT_EQ(f.handler.precisionElement(), 0x90006u) << "element 0 keeps the element";
  EXPECT_EQ(f.report("20 00 9C FF 64 00 00"), "20 00 FF FF 01 00 00") << "-100, 100 at 5 %";
  f.handler.setPrecAimPercentage(0x90001, 200);
  EXPECT_EQ(f.report("01 00 00 50 00 B0 00"), "01 00 FF 7F 00 80 00")
      << "20480 and -20480 at 200 % saturate instead of wrapping";

  // 12-bit packed axes: each scaled within its own bits, the neighbour untouched.
  Fixture h(testing::kHatMouse, nullptr);
  h.handler.setPrecAimPercentage(0x90001, 50);
  // X = -8 (0xFF8), Y = 6 (0x006): bytes 1..3 = F8 6F 00.
  EXPECT_EQ(h.report("01 F8 6F 00 00 00"), "01 FC 3F 00 00 00");
}

TEST(ZVReportHandler, UserClientsAndExclusiveInterface) {
  Fixture f = Fixture::forType(1);
  RecordingClient second;
  f.handler.addUserClient(&second);
  EXPECT_EQ(second.handler_, &f.handler);
  f.report("00 02 00 00 00 00 00");  // button 10
  EXPECT_EQ(f.client.events.size(), 1u);
  EXPECT_EQ(second.events.size(), 1u);

  f.handler.setExclusiveInterface(&second);
  f.report("00 00 00 00 00 00 00");
  EXPECT_EQ(f.client.events.size(), 1u) << "only the exclusive interface is told";
  EXPECT_EQ(second.events.size(), 2u);
  f.handler.setExclusiveInterface(nullptr);
  f.report("00 04 00 00 00 00 00");
  EXPECT_EQ(f.client.events.size(), 2u);
  EXPECT_EQ(second.events.size(), 3u);

  // A client that joins while button 11 is held is offered it at once.
  RecordingClient late;
  f.handler.addUserClient(&late);
  EXPECT_EQ(late.events, (std::vector<ElementEvent>{{0x9000B, 1, 1}}));

  // Removing the exclusive client clears it, so the others are told again.
  f.handler.setExclusiveInterface(&second);
  f.handler.removeUserClient(&second);
  EXPECT_EQ(f.handler.exclusiveInterface(), nullptr);
  f.report("00 00 00 00 00 00 00");
  EXPECT_EQ(f.client.events.size(), 3u);
  EXPECT_EQ(second.events.size(), 3u);
}

TEST(ZVReportHandler, ReportIdsAreDecidedByTheDescriptor) {
  {
    SCOPED_TRACE("a single report ID: the first report is already read by its ID");
    Fixture f(testing::kGamingMouse16, nullptr);
    f.handler.setDefaultReport(1);
    f.handler.setElementOverride(0x90002, true);
    EXPECT_EQ(f.report("01 02 00 00 00 00 00 00 00"), "01 00 00 00 00 00 00 00 00");
    EXPECT_EQ(f.client.events.back(), (ElementEvent{0x90002, 1, 1}));
    EXPECT_EQ(f.handler.reportCount(), 1u) << "lookups create no entries";
  }
  {
    SCOPED_TRACE("no report IDs: a default report ID from the configuration does not matter");
    Fixture f(testing::kBootMouse, nullptr);
    f.handler.setDefaultReport(5);
    f.handler.setElementOverride(0x90001, true);
    EXPECT_EQ(f.report("01 05 FB"), "00 05 FB");
  }
  {
    SCOPED_TRACE("several report IDs: other reports pass unchanged");
    Fixture f(testing::kReportIdConsumerMouse, nullptr);
    f.handler.setDefaultReport(1);
    f.handler.setElementOverride(0x90001, true);
    f.handler.setButtonOverrides(0x4);
    EXPECT_EQ(f.report("01 01 00 00 00"), "01 04 00 00 00");
    EXPECT_EQ(f.report("02 E9 00"), "02 E9 00");
  }
  {
    SCOPED_TRACE("no configuration: the mouse's reports are read whatever the default report");
    Fixture f(testing::kReportIdConsumerMouse, nullptr);
    f.handler.setButtonOverrides(0x4);
    EXPECT_EQ(f.report("01 01 00 00 00"), "01 05 00 00 00");
  }
}

TEST(ZVReportHandler, ShortReportsAndFailedDescriptors) {
  {
    SCOPED_TRACE("fields beyond a short report are neither read nor written");
    Fixture f(testing::kGamingMouse16, nullptr);
    f.handler.setDefaultReport(1);
    f.handler.setElementOverride(0x90001, true);
    f.handler.setElementOverride(0x90009, true);
    f.handler.setPrecAimPercentage(0x90001, 50);
    EXPECT_EQ(f.report("01 01"), "01 00");
    EXPECT_EQ(f.client.events.back(), (ElementEvent{0x90001, 1, 1}));
    EXPECT_EQ(f.report("01"), "01");
  }
  {
    SCOPED_TRACE("no descriptor: only the mask and the reporter act");
    PointerRecorder recorder;
    ZVReportHandler handler(std::ref(recorder), ZVMouseReporter::Mode::manual);
    handler.init(nullptr, GetDeviceConfiguration(1));
    EXPECT_EQ(handler.reportCount(), 0u);
    handler.setButtonOverrides(0x1);
    std::vector<std::uint8_t> r = bytes("00 00 00 00 00 00 00");
    handler.handleReport(r.data(), r.size());
    EXPECT_EQ(hex(r), "01 00 00 00 00 00 00");
    handler.handleReport(r.data(), 0);
  }
}

TEST(ZVReportHandler, FieldAccessIsBitExactAndBounded) {
  std::vector<std::uint8_t> r = bytes("A5 F0 0F 3C 00 00 00 00 5A FF");
  EXPECT_EQ(ZVReportHandler::getReportValue(r.data(), r.size(), 0, 1), 1u);
  EXPECT_EQ(ZVReportHandler::getReportValue(r.data(), r.size(), 1, 1), 0u);
  EXPECT_EQ(ZVReportHandler::getReportValue(r.data(), r.size(), 4, 4), 0xAu);
  EXPECT_EQ(ZVReportHandler::getReportValue(r.data(), r.size(), 8, 16), 0x0FF0u);
  EXPECT_EQ(ZVReportHandler::getReportValue(r.data(), r.size(), 12, 12), 0xFFu);
  EXPECT_EQ(ZVReportHandler::getReportValue(r.data(), r.size(), 72, 1), 1u) << "bit 72";
  EXPECT_EQ(ZVReportHandler::getReportValue(r.data(), r.size(), 4, 64), 0xA000000003C0FF0Aull);
  EXPECT_EQ(ZVReportHandler::getReportValue(r.data(), r.size(), 76, 8), 0u) << "past the end";
  EXPECT_EQ(ZVReportHandler::getReportValue(r.data(), r.size(), 0xFFFFFFF0u, 32), 0u);

  ZVReportHandler::setReportValue(r.data(), r.size(), 12, 0x123, 12);
  EXPECT_EQ(hex(r), "A5 30 12 3C 00 00 00 00 5A FF") << "only bits 12..23 change";
  ZVReportHandler::setReportValue(r.data(), r.size(), 73, 0, 1);
  EXPECT_EQ(hex(r), "A5 30 12 3C 00 00 00 00 5A FD");
  ZVReportHandler::setReportValue(r.data(), r.size(), 76, 0, 8);
  EXPECT_EQ(hex(r), "A5 30 12 3C 00 00 00 00 5A FD") << "past the end: unchanged";
}

TEST(ZVReportHandler, ModelFollowsTheCapabilities) {
  Fixture f = Fixture::forType(2);
  const ZVHIDReportEntry* report1 = f.handler.findReport(1);
  ASSERT_NE(report1, nullptr);
  // 15 buttons, hat, Vx, Vy, Vz, Rz, accelerator, brake.
  ASSERT_EQ(report1->elements.size(), 22u);
  EXPECT_EQ(report1->byteLength, 16u);
  std::uint32_t previous = 0;
  for (const ZVHIDElement& e : report1->elements) {
    EXPECT_GE(e.bitOffset, previous) << "ascending bit offsets";
    previous = e.bitOffset;
  }
  EXPECT_EQ(report1->elements[0].element, 0x90001u);
  EXPECT_EQ(report1->elements[0].bitOffset, 8u);
  EXPECT_EQ(report1->elements[15].element, hid::kHatSwitchElement);
  EXPECT_EQ(report1->elements[15].bitSize, 4u);
  EXPECT_EQ(report1->elements[19].element, 0x10045u);
  EXPECT_EQ(report1->elements[19].bitOffset, 80u);
  EXPECT_EQ(f.handler.findReport(3)->elements.size(), 15u);
  EXPECT_EQ(f.handler.findReport(0xF2)->elements.size(), 1u) << "one element per usage";
  EXPECT_EQ(f.handler.reportCount(), 4u);
  EXPECT_EQ(f.handler.expectedReportLength(), 0u);
  EXPECT_EQ(f.handler.defaultReportID(), 1u);
}

}  // namespace
}  // namespace zv::driver
