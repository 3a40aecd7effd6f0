// The report path of mice the suite has no configuration for, declared by capability: each
// test runs on every descriptor of data/mice that has what it needs. The facts of the table
// (where button 1, X, Y and the wheel sit) are read off the descriptors' own comments, not
// computed by the code under test.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "DriverTestSupport.h"
#include "core/ReportFields.h"
#include "core/ReportPipeline.h"
#include "protocol/HIDConstants.h"
#include "replay/DescriptorFile.h"

namespace zv::driver {
namespace {

using testing::bytes;
using testing::ElementEvent;
using testing::hex;
using testing::RecordingClient;

enum Capability : unsigned {
  kWheel = 1,             // a wheel in the buttons' report
  kOtherCollections = 2,  // keyboard, consumer or vendor reports beside the mouse's
  kSplitReports = 4,      // X and Y in another report than the buttons
};

struct Mouse {
  const char* name;  // data/mice/<name>.hid
  unsigned capabilities;
  const char* idleButtons;   // the buttons' report with nothing pressed
  std::uint32_t button1Bit;  // button n sits at bit button1Bit + n - 1 of it
  const char* idleMotion;    // the motion report at rest (the same report unless split)
  std::uint32_t xBit, yBit, axisBits;
  std::int64_t axisMax;  // logical maximum of X and Y (the minimum is its negative)
  std::uint32_t wheelBit, wheelBits;
  std::vector<const char*> otherReports;  // reports of the other collections
};

const Mouse kMice[] = {
    {"boot-mouse", 0, "00 00 00", 0, "00 00 00", 8, 16, 8, 127, 0, 0, {}},
    {"wheel-mouse", kWheel, "00 00 00 00", 0, "00 00 00 00", 8, 16, 8, 127, 24, 8, {}},
    {"generic-mouse",
     kWheel,
     "00 00 00 00 00 00 00",
     0,
     "00 00 00 00 00 00 00",
     8,
     24,
     16,
     32767,
     40,
     8,
     {}},
    {"sixteen-button",
     kWheel,
     "1A 00 00 00 00 00 00 00 00 00 00",
     8,
     "1A 00 00 00 00 00 00 00 00 00 00",
     24,
     40,
     16,
     32767,
     56,
     16,
     {}},
    {"split-receiver",
     kWheel | kOtherCollections | kSplitReports,
     "01 00 00 00",
     8,
     "02 00 00 00",
     8,
     20,
     12,
     2047,
     16,
     8,
     {"03 E9 00"}},
    {"hires-wheel",
     kWheel,
     "02 00 00 00 00 00 00 00",
     8,
     "02 00 00 00 00 00 00 00",
     16,
     32,
     16,
     32767,
     48,
     8,
     {}},
    {"gaming-mouse",
     kWheel | kOtherCollections,
     "01 00 00 00 00 00 00 00 00",
     8,
     "01 00 00 00 00 00 00 00 00",
     24,
     40,
     16,
     32767,
     56,
     8,
     {"02 02 00 04 00 00 00 00 00", "03 E9 00", "04 01 02 03 04 05 06 07 08"}},
};

std::vector<Mouse> withCapability(unsigned capability) {
  std::vector<Mouse> mice;
  for (const Mouse& mouse : kMice) {
    if ((mouse.capabilities & capability) == capability) mice.push_back(mouse);
  }
  return mice;
}

std::string nameOf(const ::testing::TestParamInfo<Mouse>& info) {
  std::string name = info.param.name;
  for (char& c : name) c = c == '-' ? '_' : c;
  return name;
}

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class AnyMouse : public ::testing::TestWithParam<Mouse> {
 protected:
  void SetUp() override {
    std::string error;
    const auto descriptor = replay::readDescriptorFile(descriptorPath(), &error);
    ASSERT_TRUE(descriptor) << error;
    descriptor_ = *descriptor;
    pipeline_ = std::make_unique<ReportPipeline>(
        0x0B00, descriptor_,
        [this](const std::uint8_t* report, std::size_t length) {
          synthetic_.push_back(hex(report, length));
        },
        ZVMouseReporter::Mode::manual);
    ASSERT_NE(handler(), nullptr);
    ASSERT_TRUE(handler()->readsAnyMouse());
    handler()->addUserClient(&client_);
  }

  std::string descriptorPath() const {
    return std::string(ZV_SOURCE_DIR) + "/data/mice/" + GetParam().name + ".hid";
  }
  ZVReportHandler* handler() { return pipeline_->reportHandler(); }

  // One report through the pipeline, answered as hex.
  std::string report(const std::vector<std::uint8_t>& raw) {
    std::vector<std::uint8_t> r = raw;
    EXPECT_TRUE(pipeline_->handleReport(r.data(), r.size()));
    return hex(r);
  }
  std::vector<std::uint8_t> withButton(std::vector<std::uint8_t> r, int button) const {
    const std::uint32_t bit = GetParam().button1Bit + static_cast<std::uint32_t>(button) - 1;
    r[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    return r;
  }
  std::vector<std::uint8_t> motion(std::int64_t x, std::int64_t y,
                                   std::vector<std::uint8_t> r) const {
    writeField(r.data(), GetParam().xBit, GetParam().axisBits, static_cast<std::uint64_t>(x));
    writeField(r.data(), GetParam().yBit, GetParam().axisBits, static_cast<std::uint64_t>(y));
    return r;
  }
  std::pair<std::int64_t, std::int64_t> motionOf(const std::string& hexReport) const {
    const std::vector<std::uint8_t> r = bytes(hexReport);
    const std::uint32_t size = GetParam().axisBits;
    return {signExtend(readField(r.data(), GetParam().xBit, size), size),
            signExtend(readField(r.data(), GetParam().yBit, size), size)};
  }
  std::vector<std::uint8_t> idleButtons() const { return bytes(GetParam().idleButtons); }
  std::vector<std::uint8_t> idleMotion() const { return bytes(GetParam().idleMotion); }

  std::vector<std::uint8_t> descriptor_;
  std::vector<std::string> synthetic_;
  RecordingClient client_;
  std::unique_ptr<ReportPipeline> pipeline_;  // last: its reporter calls into the above
};

TEST_P(AnyMouse, AnOverriddenButtonIsSuppressedAndEachChangeReported) {
  handler()->setElementOverride(hid::buttonElement(2), true);
  EXPECT_EQ(report(withButton(idleButtons(), 2)), hex(idleButtons()));
  EXPECT_EQ(report(withButton(withButton(idleButtons(), 2), 1)), hex(withButton(idleButtons(), 1)))
      << "held: still suppressed, the other button passes";
  EXPECT_EQ(report(idleButtons()), hex(idleButtons()));
  EXPECT_EQ(client_.events,
            (std::vector<ElementEvent>{{0x90002, 0, 1}, {0x90002, 1, 1}, {0x90002, 0, 1}}));
}

TEST_P(AnyMouse, ForcedButtonsLandInTheButtonsReportAndGoOutInItsLayout) {
  // Button 2 and a bit far beyond any button of these mice.
  EXPECT_EQ(handler()->setButtonOverrides(0x2 | std::uint64_t{1} << 40), 0x2u);
  EXPECT_EQ(synthetic_, (std::vector<std::string>{hex(withButton(idleButtons(), 2))}));
  EXPECT_EQ(report(idleButtons()), hex(withButton(idleButtons(), 2)));
  if (GetParam().capabilities & kSplitReports) {
    EXPECT_EQ(report(motion(5, 5, idleMotion())), hex(motion(5, 5, idleMotion())))
        << "the motion report carries no buttons";
  }
  handler()->setButtonOverrides(0);
  EXPECT_EQ(synthetic_.back(), hex(idleButtons())) << "released at once";
}

TEST_P(AnyMouse, PrecisionScalesXAndYInTheirOwnSizeKeepingTheRemainder) {
  handler()->setPrecAimPercentage(hid::buttonElement(1), 50);
  const bool split = GetParam().capabilities & kSplitReports;
  // The precision button is held in the buttons' report; a split mouse moves in another.
  const auto moving = [&](std::int64_t x, std::int64_t y) {
    return motion(x, y, split ? idleMotion() : withButton(idleMotion(), 1));
  };
  if (split) report(withButton(idleButtons(), 1));
  std::vector<std::pair<std::int64_t, std::int64_t>> seen;
  for (int i = 0; i < 3; ++i) seen.push_back(motionOf(report(moving(3, -3))));
  EXPECT_EQ(seen, (std::vector<std::pair<std::int64_t, std::int64_t>>{{1, -1}, {2, -2}, {1, -1}}))
      << "4.5 units of 9 move as 4, none is lost to truncation";

  handler()->setPrecAimPercentage(0, 200);
  const std::int64_t max = GetParam().axisMax;
  EXPECT_EQ(motionOf(report(moving(max - 1, -(max - 1)))), std::make_pair(max, -max))
      << "held at the logical range, never wrapped";

  if (split) report(idleButtons());
  EXPECT_EQ(motionOf(report(motion(3, -3, idleMotion()))),
            std::make_pair(std::int64_t{3}, std::int64_t{-3}))
      << "released: full speed";
}

TEST_P(AnyMouse, SyntheticMotionIsBuiltInTheMouseLayout) {
  handler()->dispatchRelativePointerEvent(5, -3, 0);
  ASSERT_EQ(synthetic_.size(), 1u);
  EXPECT_EQ(synthetic_[0], hex(motion(5, -3, idleMotion())));
  const std::int64_t limit = std::min<std::int64_t>(GetParam().axisMax, 3000);
  handler()->dispatchRelativePointerEvent(3000, -3000, 0);
  EXPECT_EQ(synthetic_.back(), hex(motion(limit, -limit, idleMotion())));
}

TEST_P(AnyMouse, JoinsTheFuzzCorpora) {
  const std::string corpus = std::string(ZV_SOURCE_DIR) + "/fuzz/corpus/";
  EXPECT_EQ(readFile(corpus + "report_descriptor/mouse-" + GetParam().name + ".bin"), descriptor_)
      << "run scripts/mice-corpus after changing " << descriptorPath();
  const auto handlerInput = readFile(corpus + "report_handler/mouse-" + GetParam().name + ".bin");
  ASSERT_GT(handlerInput.size(), 3 + descriptor_.size());
  EXPECT_TRUE(std::equal(descriptor_.begin(), descriptor_.end(), handlerInput.begin() + 3));
}

INSTANTIATE_TEST_SUITE_P(Mice, AnyMouse, ::testing::ValuesIn(kMice), nameOf);

class WheelMouse : public AnyMouse {};

TEST_P(WheelMouse, AnOverriddenWheelIsSuppressed) {
  handler()->setElementOverride(hid::element(hid::kGenericDesktopPage, hid::kWheelUsage), true);
  std::vector<std::uint8_t> up = idleButtons();
  writeField(up.data(), GetParam().wheelBit, GetParam().wheelBits, 1);
  EXPECT_EQ(report(up), hex(idleButtons()));
  EXPECT_EQ(client_.events.back(), (ElementEvent{0x10038, 1, GetParam().wheelBits}));
}

INSTANTIATE_TEST_SUITE_P(Mice, WheelMouse, ::testing::ValuesIn(withCapability(kWheel)), nameOf);

class MultiCollectionMouse : public AnyMouse {};

TEST_P(MultiCollectionMouse, OtherCollectionsPassByteForByte) {
  for (std::uint16_t button = 1; button <= 16; ++button) {
    handler()->setElementOverride(hid::buttonElement(button), true);
  }
  // Elements of the other collections are not the mouse's: nothing to override.
  for (std::uint32_t element : {0x700E1u, 0x70004u, 0xC00E9u, 0xFF000002u}) {
    EXPECT_EQ(handler()->elementWithCookie(element), nullptr);
  }
  handler()->setButtonOverrides(0x3);
  handler()->setPrecAimPercentage(hid::buttonElement(1), 10);
  report(withButton(idleButtons(), 1));
  for (const char* other : GetParam().otherReports) {
    EXPECT_EQ(report(bytes(other)), other);
  }
}

INSTANTIATE_TEST_SUITE_P(Mice, MultiCollectionMouse,
                         ::testing::ValuesIn(withCapability(kOtherCollections)), nameOf);

// Descriptors no mouse should have: the path models what it can, or passes reports through.
TEST(AnyMouseDescriptors, BeyondReasonTheyPassThroughAndNeverCrash) {
  const auto pipelineFor = [](const std::vector<std::uint8_t>& descriptor) {
    return std::make_unique<ReportPipeline>(0x0B00, descriptor, nullptr,
                                            ZVMouseReporter::Mode::manual);
  };
  {
    SCOPED_TRACE("255 report IDs, each a mouse report of 8 buttons");
    std::vector<std::uint8_t> d = bytes("05 01 09 02 A1 01 05 09 15 00 25 01 95 08 75 01");
    for (int id = 1; id <= 255; ++id) {
      const std::vector<std::uint8_t> report = bytes("85 00 19 01 29 08 81 02");
      d.insert(d.end(), report.begin(), report.end());
      d[d.size() - report.size() + 1] = static_cast<std::uint8_t>(id);
    }
    d.push_back(0xC0);
    auto pipeline = pipelineFor(d);
    ASSERT_NE(pipeline->reportHandler(), nullptr);
    EXPECT_EQ(pipeline->reportHandler()->reportCount(), 255u);
    pipeline->reportHandler()->setElementOverride(0x90001, true);
    for (int id : {1, 128, 255}) {
      std::vector<std::uint8_t> r = {static_cast<std::uint8_t>(id), 0x03};
      pipeline->handleReport(r.data(), r.size());
      EXPECT_EQ(r[1], 0x02) << "report " << id;
    }
  }
  {
    SCOPED_TRACE("an absurd report size: an error, and reports pass unchanged");
    auto pipeline = pipelineFor(bytes("05 01 09 02 A1 01 09 30 75 FF 95 FF 81 06 C0"));
    EXPECT_EQ(pipeline->reportHandler(), nullptr);
    ASSERT_TRUE(pipeline->descriptorError());
    std::vector<std::uint8_t> r = bytes("01 02 03");
    pipeline->handleReport(r.data(), r.size());
    EXPECT_EQ(hex(r), "01 02 03");
  }
  {
    SCOPED_TRACE("64-bit X and Y: modelled, never scaled; no motion report");
    auto pipeline =
        pipelineFor(bytes("05 01 09 02 A1 01 05 09 09 01 75 01 95 08 81 02 "
                          "05 01 09 30 09 31 75 40 95 02 81 06 C0"));
    ZVReportHandler& handler = *pipeline->reportHandler();
    EXPECT_FALSE(handler.pointerLayout()->hasMotion());
    handler.setPrecAimPercentage(0x90001, 50);
    std::vector<std::uint8_t> r(17, 0);
    r[0] = 1;
    r[1] = 8;
    pipeline->handleReport(r.data(), r.size());
    EXPECT_EQ(r[1], 8);
  }
}

}  // namespace
}  // namespace zv::driver
