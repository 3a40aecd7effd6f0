// The rewritten mouse as the system sees it: a uhid device carrying the real one's bus,
// IDs, version and the descriptor the driver chose. LinuxUhid speaks the uhid event
// protocol on /dev/uhid (or any descriptor that carries it, such as a socket in tests);
// FakeUhid (driver/fakes) records what is sent.
//
// The kernel removes a uhid device when the descriptor that created it is closed, also when
// the process dies: nothing of the rewritten mouse outlives the daemon.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zv::driver {

struct UhidCreateParams {
  std::string name;
  std::string phys;
  std::string uniq;
  std::uint16_t bus = 0;
  std::uint32_t vendor = 0;
  std::uint32_t product = 0;
  std::uint32_t version = 0;
  std::uint32_t country = 0;
  std::vector<std::uint8_t> descriptor;
};

// A request of the system to the device.
struct UhidRequest {
  enum class Kind {
    start,  // a driver bound to the device
    stop,
    open,  // someone opened the device (input starts to matter)
    close,
    output,     // an output report to send (data, reportType)
    getReport,  // answer with answerGetReport(id, ...)
    setReport,  // answer with answerSetReport(id, ...)
  };
  // As uhid numbers report types.
  enum ReportType : std::uint8_t { feature = 0, outputType = 1, input = 2 };

  Kind kind = Kind::start;
  std::uint32_t id = 0;            // getReport, setReport
  std::uint8_t reportNumber = 0;   // getReport, setReport
  std::uint8_t reportType = 0;     // getReport, setReport, output
  std::vector<std::uint8_t> data;  // output, setReport
};

class UhidDevice {
 public:
  virtual ~UhidDevice() = default;

  // Creates the device (UHID_CREATE2). Answers 0 or -errno.
  virtual int create(const UhidCreateParams& params) = 0;
  // One input report (UHID_INPUT2). Answers 0 or -errno. Thread-safe: the report path and
  // the mouse reporter thread both send.
  virtual int input(std::span<const std::uint8_t> report) = 0;
  // Removes the device (UHID_DESTROY). Safe to call twice.
  virtual void destroy() = 0;

  // Readable when a request of the system waits; -1 when there is nothing to watch.
  virtual int fd() const = 0;
  // The next request, or nothing when none waits (or the event is of no interest).
  virtual std::optional<UhidRequest> readRequest() = 0;
  // err: 0 or an errno value; data: the report (first byte the report ID, if any).
  virtual void answerGetReport(std::uint32_t id, std::uint16_t err,
                               std::span<const std::uint8_t> data) = 0;
  virtual void answerSetReport(std::uint32_t id, std::uint16_t err) = 0;
};

}  // namespace zv::driver
