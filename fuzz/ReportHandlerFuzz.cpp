// The report path after an arbitrary descriptor: a product ID, a descriptor, then a stream
// of commands (reports, overrides, masks, precision, axes, hats, time passing) through the
// report pipeline with a manual reporter clock.
//
// Input: byte 0 picks the product; bytes 1-2 (little-endian) give the descriptor length;
// then the descriptor; then commands, each an operation byte and its arguments.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "core/ReportPipeline.h"

using namespace zv::driver;

namespace {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return position_ >= size_; }
  std::uint64_t take(std::size_t bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes && position_ < size_; ++i) {
      value |= static_cast<std::uint64_t>(data_[position_++]) << (8 * i);
    }
    return value;
  }
  std::span<const std::uint8_t> takeBytes(std::size_t count) {
    count = std::min(count, size_ - position_);
    std::span<const std::uint8_t> bytes(data_ + position_, count);
    position_ += count;
    return bytes;
  }
  // An element as usage page (1 byte) and usage (2 bytes): small pages hit real elements.
  std::uint32_t element() {
    const auto page = static_cast<std::uint32_t>(take(1));
    return page << 16 | static_cast<std::uint32_t>(take(2));
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

class Client : public ZVUserClient {
 public:
  void sendElementEvent(std::uint32_t, std::uint64_t, std::uint32_t) override { ++events; }
  std::size_t events = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static constexpr std::uint16_t kProducts[] = {0x1714, 0x1704, 0x5263, 0x5262,
                                                0x1715, 0x1710, 0x1234};
  Input in(data, size);
  const std::uint16_t product = kProducts[in.take(1) % std::size(kProducts)];
  const auto descriptor = in.takeBytes(static_cast<std::size_t>(in.take(2)));

  std::size_t pointerReports = 0;
  ReportPipeline pipeline(
      product, descriptor,
      [&](const std::uint8_t* report, std::size_t length) {
        if (length == 0 || !report) std::abort();
        ++pointerReports;
      },
      ZVMouseReporter::Mode::manual);
  ZVReportHandler* handler = pipeline.reportHandler();
  Client client;
  if (handler) handler->addUserClient(&client);

  std::vector<std::uint8_t> report;
  while (!in.empty()) {
    const auto operation = static_cast<std::uint8_t>(in.take(1));
    switch (operation % 8) {
      case 0: {
        const auto raw = in.takeBytes(static_cast<std::size_t>(in.take(1)));
        report.assign(raw.begin(), raw.end());
        const std::vector<std::uint8_t> before = report;
        const bool passed = pipeline.handleReport(report.data(), report.size());
        if (passed != !report.empty()) std::abort();
        // Reports the handler must not touch stay byte for byte.
        if (handler && !report.empty()) {
          const bool wrongLength = handler->expectedReportLength() != 0 &&
                                   report.size() != handler->expectedReportLength();
          const bool otherReport =
              !handler->rewritesReport(handler->usesReportIDs() ? report[0] : 0);
          if ((wrongLength || otherReport) && report != before) std::abort();
        }
        if (!handler && report != before) std::abort();
        break;
      }
      case 1:
        if (handler) handler->setElementOverride(in.element(), in.take(1) & 1);
        break;
      case 2:
        if (handler) handler->setButtonOverrides(in.take(8));
        break;
      case 3: {
        const std::uint32_t element = in.element();
        const auto percent = static_cast<std::int32_t>(static_cast<std::uint32_t>(in.take(4)));
        if (handler) handler->setPrecAimPercentage(element, percent);
        break;
      }
      case 4: {
        const std::uint32_t element = in.element();
        const auto axis = static_cast<std::uint32_t>(in.take(1) % 4);
        if (handler) handler->setMouseAxis(element, axis);
        break;
      }
      case 5:
        if (handler) handler->setHatElement(in.element());
        break;
      case 6:
        pipeline.advance(std::chrono::milliseconds(in.take(1)));
        break;
      case 7:
        if (handler) handler->setDefaultReport(static_cast<std::uint32_t>(in.take(1)));
        break;
    }
  }
  if (handler) handler->removeUserClient(&client);
  return 0;
}
