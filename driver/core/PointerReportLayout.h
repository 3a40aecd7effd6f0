// Where a mouse without a configuration carries its pointer input, read from its own report
// descriptor: the input report that holds its buttons, and the one that holds its relative
// X and Y. Most mice have one report for both; some receivers split them (buttons and
// wheel in one report ID, X and Y in another).
//
// The report handler forces buttons into the buttons' report with it, and the synthetic
// pointer reports (a button held by the driver, motion from an axis or hat) are built here
// in exactly the mouse's own layout, so the system reads them as it reads the mouse's:
//
//   dispatch(dx, dy, buttons)   same report for both    split reports
//   dx = dy = 0                 one report: buttons     the buttons' report
//   moving                      one report: both        the motion report only
//
// Fields of a synthetic report that carry nothing rest: 0, or an out-of-range value for a
// field with a null state (a hat), so that no phantom direction is reported.
//
// Immutable once built: safe to use from the mouse reporter thread and the loop at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/HIDReportDescriptor.h"

namespace zv::driver {

class PointerReportLayout {
 public:
  // Buttons 1..kMaxButtons can be forced (bit i of a mask is button i + 1).
  static constexpr std::size_t kMaxButtons = 64;
  // Synthetic reports are built on the stack; a longer report gets none.
  static constexpr std::size_t kMaxReportLength = 64;

  struct Field {
    std::uint32_t bitOffset = 0;
    std::uint32_t bitSize = 0;  // 0: none
    std::int64_t logicalMin = 0;
    std::int64_t logicalMax = 0;
  };

  using Sink = std::function<void(const std::uint8_t* report, std::size_t length)>;

  // A Generic Desktop Mouse or Pointer application collection.
  static bool isMouseCollection(const HIDCollectionUsage& collection);

  // Nothing when the descriptor's mouse collections have neither buttons nor relative X and Y.
  static std::optional<PointerReportLayout> fromDescriptor(const HIDParsedDescriptor& descriptor);

  // Report IDs are 0 when the descriptor declares none.
  bool hasButtons() const { return buttonsLength_ != 0; }
  std::uint32_t buttonsReportID() const { return buttonsReportID_; }
  bool hasMotion() const { return motionLength_ != 0; }
  std::uint32_t motionReportID() const { return motionReportID_; }
  std::size_t buttonsReportLength() const { return buttonsLength_; }
  std::size_t motionReportLength() const { return motionLength_; }

  // The mask bits that name a button of the buttons' report.
  std::uint64_t buttonMask() const { return buttonMask_; }
  // Sets the buttons of `mask` in a report of the buttons' report ID (fields past `length`
  // are skipped).
  void forceButtons(std::uint8_t* report, std::size_t length, std::uint64_t mask) const;
  // The buttons pressed in a report of the buttons' report ID, bit i = button i + 1.
  std::uint32_t buttonsOf(const std::uint8_t* report, std::size_t length) const;

  // Builds the synthetic pointer reports for one dispatch (see the table above) and hands
  // each to the sink. Motion is limited to the logical range of X and Y.
  void build(std::int16_t dx, std::int16_t dy, std::uint32_t buttons, const Sink& sink) const;

 private:
  struct RestField {
    std::uint32_t bitOffset;
    std::uint32_t bitSize;
    std::uint64_t value;
  };
  void fillRest(std::uint8_t* report, std::uint32_t reportID, std::size_t length) const;

  std::uint32_t buttonsReportID_ = 0;
  std::size_t buttonsLength_ = 0;
  std::array<std::uint32_t, kMaxButtons> buttonBits_{};  // bit offset + 1; 0 = no such button
  std::uint64_t buttonMask_ = 0;
  std::uint32_t motionReportID_ = 0;
  std::size_t motionLength_ = 0;
  Field x_;
  Field y_;
  bool usesReportIDs_ = false;
  // Fields of the two reports whose rest value is not 0, with their report ID.
  std::vector<std::pair<std::uint32_t, RestField>> rest_;
};

}  // namespace zv::driver
