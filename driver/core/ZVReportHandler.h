// Sits between the mouse's raw input reports and the system: every input report passes
// through handleReport, which rewrites it in place to
//   - suppress overridden inputs (the buttons the profiles handle) and report their changes
//     to user space as element events instead,
//   - force extra buttons on (the button-overrides mask set from user space),
//   - scale the pointer motion while the precision-aim button is held,
//   - turn an element assigned as a mouse axis, or a hat, into continuous pointer motion
//     produced by the mouse reporter.
//
// The model (report entries holding elements in bit order) is built once from the parsed
// descriptor. Whether reports start with a report-ID byte is decided from the descriptor:
// without report IDs every report is report 0; with report IDs the first byte is the ID.
//
// Two ways of reading reports, chosen by init:
//   - a configured product (a device configuration): every input field is modelled; only
//     reports with the default report ID are inspected, the button mask is ORed in as a
//     little-endian word after the ID byte, and X and Y scale as 16-bit fields;
//   - any other mouse: only the input reports of the descriptor's Mouse and Pointer
//     application collections are modelled, whatever their report IDs, and every one of
//     them is inspected. Forced buttons land on the button fields of the buttons' report
//     (PointerReportLayout); precision scales relative X and Y in their own sizes and
//     logical ranges, wherever they sit, and keeps the remainder so that slow motion still
//     moves; the precision button's state carries over to reports that lack it. Reports of
//     other collections pass byte for byte.
//
// Threads: handleReport and every setter run on one thread (the driver's event loop) and
// take no lock. The handler allocates nothing per report. Only the mouse reporter runs on
// its own thread and calls the pointer dispatch from there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/DeviceConfig.h"
#include "core/HIDReportDescriptor.h"
#include "core/PointerReportLayout.h"
#include "core/ZVMouseReporter.h"
#include "core/ZVPrecisionFilter.h"

namespace zv::driver {

class ZVReportHandler;

// A user-space connection that receives element events.
class ZVUserClient {
 public:
  virtual ~ZVUserClient() = default;
  // Told by addUserClient which handler it serves.
  virtual void setReportHandler(ZVReportHandler* handler) { (void)handler; }
  // One element event: identifier, current value, bit size of its field. Called on the
  // report path: must not block.
  virtual void sendElementEvent(std::uint32_t element, std::uint64_t value,
                                std::uint32_t bitSize) = 0;
};

// One input field of a report.
struct ZVHIDElement {
  std::uint32_t bitOffset = 0;  // first bit in the report buffer (ID byte counted)
  std::uint32_t bitSize = 0;
  std::uint64_t value = 0;          // from the latest report
  std::uint64_t lastSentValue = 0;  // last reported to user space while overridden
  std::uint32_t element = 0;        // usage page << 16 | usage
  bool hat = false;                 // a hat switch used as mouse-axis source
  bool overridden = false;
  bool relative = false;  // reports changes (motion), not positions
  std::int64_t logicalMin = 0;
  std::int64_t logicalMax = 0;
};

struct ZVHIDReportEntry {
  std::uint32_t reportID = 0;
  std::vector<ZVHIDElement> elements;  // ascending bit offset
  // Bytes a report needs to hold every element; shorter reports skip the fields they lack.
  std::size_t byteLength = 0;
};

class ZVReportHandler {
 public:
  // Receives synthetic pointer motion and forced button states. May run on the reporter
  // thread and on the handler's thread at once.
  using PointerDispatch = ZVMouseReporter::Dispatch;

  explicit ZVReportHandler(PointerDispatch dispatch = {},
                           ZVMouseReporter::Mode reporterMode = ZVMouseReporter::Mode::thread);
  ~ZVReportHandler();
  ZVReportHandler(const ZVReportHandler&) = delete;
  ZVReportHandler& operator=(const ZVReportHandler&) = delete;

  // With a configuration: builds the model from every input capability of the descriptor
  // (none when descriptor is null), then applies the configuration: its overridden
  // elements, precision element at 50 %, default report ID and expected report length.
  // Without one: models the mouse collections' input reports and their pointer layout.
  // Call once.
  void init(const HIDParsedDescriptor* descriptor, const ZVDeviceConfig* config);

  // Inspects and rewrites one input report in place (see the file comment). A report whose
  // length differs from a set expected length, or that the handler does not rewrite
  // (rewritesReport), is left unchanged.
  void handleReport(std::uint8_t* report, std::size_t length);

  // Whether reports with this ID (0 without report IDs) are inspected: the default report
  // of a configured product, the mouse collections' reports of any other mouse.
  bool rewritesReport(std::uint32_t reportID) const;
  // True for a mouse without a configuration (see the file comment).
  bool readsAnyMouse() const { return anyMouse_; }
  // Where such a mouse keeps its buttons and motion; null for configured products and for
  // descriptors without a mouse collection.
  const PointerReportLayout* pointerLayout() const {
    return pointerLayout_ ? &*pointerLayout_ : nullptr;
  }

  // Field access, bit-exact and bounded by the report length: bits count from bit 0 of byte
  // 0, fields are little-endian. Reading a field that does not fit answers 0, writing one
  // changes nothing; fields wider than 64 bits are accessed in their low 64 bits.
  static std::uint64_t getReportValue(const std::uint8_t* report, std::size_t length,
                                      std::uint32_t bitOffset, std::uint32_t bitSize);
  static void setReportValue(std::uint8_t* report, std::size_t length, std::uint32_t bitOffset,
                             std::uint64_t value, std::uint32_t bitSize);

  // Overrides (or releases) an element of the default report (any mouse: of every mouse
  // report that holds it) and at once reports its current value to user space. Elements it
  // does not hold are ignored.
  void setElementOverride(std::uint32_t element, bool flag);
  // Forces buttons on: the mask is ORed into every report of the default report ID, bit i
  // onto bit i after the report-ID byte, and (0, 0, mask) is dispatched at once. The mask
  // is first limited to buttonFieldMask(), so a mask from any client (wider than the
  // device's buttons, or all ones) can never change the motion or other fields that follow
  // the buttons. Answers the mask kept; bits dropped are not remembered.
  std::uint64_t setButtonOverrides(std::uint64_t mask);
  // The mask bits that land on single-bit buttons (usage page 9) of the default report as
  // the model has it now (any mouse: the buttons of the buttons' report). Without any model
  // (no descriptor) nothing is known of the report's layout and every bit is let through,
  // as the mask was always applied; with a model whose default report has no buttons, none.
  std::uint64_t buttonFieldMask() const;
  // Marks an element of the default report as a hat (used when it is also the X-axis element).
  void setHatElement(std::uint32_t element);
  // axis 1 = X, 2 = Y; any other value only removes the element from both axes.
  void setMouseAxis(std::uint32_t element, std::uint32_t axis);
  // A non-zero element becomes the precision element; both filters take the percentage.
  void setPrecAimPercentage(std::uint32_t element, std::int32_t percentage);
  void setDefaultReport(std::uint32_t reportID);
  void setExpectedReportLength(std::size_t length) { expectedReportLength_ = length; }

  // Appends the client and offers it every overridden element of the default report (any
  // mouse: of the mouse reports) whose value is not 0.
  void addUserClient(ZVUserClient* client);
  // Removes the client's first occurrence, and clears it as exclusive interface, so that no
  // event reaches a closed client.
  void removeUserClient(ZVUserClient* client);
  void setExclusiveInterface(ZVUserClient* client) { exclusiveInterface_ = client; }
  ZVUserClient* exclusiveInterface() const { return exclusiveInterface_; }

  // Sends the element's event to the exclusive interface if set, else to every client.
  void OnHIDElementChange(const ZVHIDElement& element);

  // The element with that identifier in the default report (report 0 without report IDs);
  // for any mouse, the first one in the mouse reports.
  ZVHIDElement* elementWithCookie(std::uint32_t element);
  // The entry of a report ID, created empty when missing.
  ZVHIDReportEntry& getReport(std::uint32_t reportID);
  const ZVHIDReportEntry* findReport(std::uint32_t reportID) const;

  void dispatchRelativePointerEvent(std::int16_t dx, std::int16_t dy, std::uint32_t buttons);

  bool usesReportIDs() const { return usesReportIDs_; }
  std::uint32_t defaultReportID() const { return defaultReportID_; }
  std::size_t expectedReportLength() const { return expectedReportLength_; }
  std::uint32_t xAxisElement() const { return xAxisElement_; }
  std::uint32_t yAxisElement() const { return yAxisElement_; }
  std::uint32_t precisionElement() const { return precisionElement_; }
  std::uint64_t buttonOverrides() const { return buttonOverrides_; }
  const ZVPrecisionFilter& xFilter() const { return xFilter_; }
  const ZVPrecisionFilter& yFilter() const { return yFilter_; }
  std::size_t reportCount() const { return reports_.size(); }
  const std::vector<ZVUserClient*>& userClients() const { return userClients_; }
  ZVMouseReporter& mouseReporter() { return *mouseReporter_; }

 private:
  std::uint32_t activeReportID() const { return usesReportIDs_ ? defaultReportID_ : 0; }
  void refreshActiveReport();
  void addElement(std::uint32_t reportID, const ZVHIDElement& element);
  void handleMouseReport(std::uint8_t* report, std::size_t length);
  // Shared by both ways of reading: the hat and axis motion of one element, and the
  // suppression of an overridden one.
  void addAxisMotion(ZVHIDElement& e, std::uint8_t* report, std::int64_t& x, std::int64_t& y);
  void suppressIfOverridden(ZVHIDElement& e, std::uint8_t* report);
  // Precision aim on a relative X or Y field of any size, keeping the remainder.
  void scalePrecisely(const ZVHIDElement& e, std::uint8_t* report);

  PointerDispatch dispatch_;
  std::uint32_t xAxisElement_ = 0;
  std::uint32_t yAxisElement_ = 0;
  std::uint32_t defaultReportID_ = 0;
  std::vector<std::unique_ptr<ZVHIDReportEntry>> reports_;
  ZVHIDReportEntry* activeReport_ = nullptr;  // entry of activeReportID(), if any
  bool usesReportIDs_ = false;
  std::uint64_t buttonOverrides_ = 0;
  std::uint32_t precisionElement_ = 0;
  ZVPrecisionFilter xFilter_;
  ZVPrecisionFilter yFilter_;
  std::vector<ZVUserClient*> userClients_;
  ZVUserClient* exclusiveInterface_ = nullptr;
  std::size_t expectedReportLength_ = 0;

  // Any mouse (see the file comment).
  bool anyMouse_ = false;
  std::optional<PointerReportLayout> pointerLayout_;
  std::array<ZVHIDReportEntry*, 256> mouseReports_{};  // by report ID; null: passes through
  bool precisionHeld_ = false;
  std::int64_t xRemainder_ = 0;  // in hundredths of a unit
  std::int64_t yRemainder_ = 0;
  std::uint16_t heldButtons_ = 0;  // of the latest buttons' report, after rewriting
  std::int16_t axisX_ = 0;         // motion of the assigned axes, from the report holding them
  std::int16_t axisY_ = 0;

  // Last: destroyed first, so its thread stops before anything it calls goes away.
  std::unique_ptr<ZVMouseReporter> mouseReporter_;
};

}  // namespace zv::driver
