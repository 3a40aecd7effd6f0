#include "linux/LinuxUhid.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace zv::driver {
namespace {

void copyText(__u8* target, std::size_t capacity, const std::string& text) {
  const std::size_t n = std::min(capacity - 1, text.size());
  std::memcpy(target, text.data(), n);
  target[n] = '\0';
}

// Only the bytes up to the end of the event's own payload are sent: uhid reads whatever
// size is written as long as it covers the type and the payload it names.
constexpr std::size_t kTypeSize = offsetof(uhid_event, u);

}  // namespace

std::unique_ptr<LinuxUhid> LinuxUhid::open(std::string* error) {
  const char* node = std::getenv("KINETRA_UHID_NODE");
  const std::string path = node && *node ? node : "/dev/uhid";
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno) +
             (errno == ENOENT ? " (load the module: modprobe uhid)" : "");
    return nullptr;
  }
  return std::make_unique<LinuxUhid>(fd);
}

LinuxUhid::LinuxUhid(int fd) : fd_(fd) {
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

LinuxUhid::~LinuxUhid() {
  destroy();
  close(fd_);
}

int LinuxUhid::writeEvent(const void* event, std::size_t size) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  for (;;) {
    const ssize_t n = write(fd_, event, size);
    if (n == static_cast<ssize_t>(size)) return 0;
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -errno : -EIO;
  }
}

int LinuxUhid::create(const UhidCreateParams& params) {
  if (params.descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) return -EINVAL;
  auto event = std::make_unique<uhid_event>();
  std::memset(event.get(), 0, sizeof *event);
  event->type = UHID_CREATE2;
  uhid_create2_req& c = event->u.create2;
  copyText(c.name, sizeof c.name, params.name);
  copyText(c.phys, sizeof c.phys, params.phys);
  copyText(c.uniq, sizeof c.uniq, params.uniq);
  c.rd_size = static_cast<__u16>(params.descriptor.size());
  c.bus = params.bus;
  c.vendor = params.vendor;
  c.product = params.product;
  c.version = params.version;
  c.country = params.country;
  std::memcpy(c.rd_data, params.descriptor.data(), params.descriptor.size());
  const int result = writeEvent(event.get(), sizeof *event);
  if (result == 0) created_ = true;
  return result;
}

int LinuxUhid::input(std::span<const std::uint8_t> report) {
  if (report.size() > UHID_DATA_MAX) return -EINVAL;
  // On the stack (about 4 KiB) and without zeroing the unused data: the per-report path.
  uhid_event event;
  event.type = UHID_INPUT2;
  event.u.input2.size = static_cast<__u16>(report.size());
  std::memcpy(event.u.input2.data, report.data(), report.size());
  return writeEvent(&event, kTypeSize + offsetof(uhid_input2_req, data) + report.size());
}

void LinuxUhid::destroy() {
  if (!created_) return;
  created_ = false;
  uhid_event event{};
  event.type = UHID_DESTROY;
  writeEvent(&event, kTypeSize);
}

std::optional<UhidRequest> LinuxUhid::readRequest() {
  auto event = std::make_unique<uhid_event>();
  for (;;) {
    std::memset(event.get(), 0, sizeof *event);
    const ssize_t n = read(fd_, event.get(), sizeof *event);
    if (n < 0 && errno == EINTR) continue;
    if (n < static_cast<ssize_t>(kTypeSize)) return std::nullopt;
    UhidRequest r;
    switch (event->type) {
      case UHID_START:
        r.kind = UhidRequest::Kind::start;
        return r;
      case UHID_STOP:
        r.kind = UhidRequest::Kind::stop;
        return r;
      case UHID_OPEN:
        r.kind = UhidRequest::Kind::open;
        return r;
      case UHID_CLOSE:
        r.kind = UhidRequest::Kind::close;
        return r;
      case UHID_OUTPUT: {
        const uhid_output_req& o = event->u.output;
        r.kind = UhidRequest::Kind::output;
        r.reportType = o.rtype;
        r.data.assign(o.data, o.data + std::min<std::size_t>(o.size, UHID_DATA_MAX));
        return r;
      }
      case UHID_GET_REPORT: {
        const uhid_get_report_req& g = event->u.get_report;
        r.kind = UhidRequest::Kind::getReport;
        r.id = g.id;
        r.reportNumber = g.rnum;
        r.reportType = g.rtype;
        return r;
      }
      case UHID_SET_REPORT: {
        const uhid_set_report_req& s = event->u.set_report;
        r.kind = UhidRequest::Kind::setReport;
        r.id = s.id;
        r.reportNumber = s.rnum;
        r.reportType = s.rtype;
        r.data.assign(s.data, s.data + std::min<std::size_t>(s.size, UHID_DATA_MAX));
        return r;
      }
      default:
        continue;  // of no interest (legacy events): read the next one
    }
  }
}

void LinuxUhid::answerGetReport(std::uint32_t id, std::uint16_t err,
                                std::span<const std::uint8_t> data) {
  auto event = std::make_unique<uhid_event>();
  std::memset(event.get(), 0, sizeof *event);
  event->type = UHID_GET_REPORT_REPLY;
  uhid_get_report_reply_req& r = event->u.get_report_reply;
  r.id = id;
  r.err = err;
  const std::size_t n = std::min<std::size_t>(data.size(), UHID_DATA_MAX);
  r.size = static_cast<__u16>(n);
  std::memcpy(r.data, data.data(), n);
  writeEvent(event.get(), sizeof *event);
}

void LinuxUhid::answerSetReport(std::uint32_t id, std::uint16_t err) {
  uhid_event event{};
  event.type = UHID_SET_REPORT_REPLY;
  event.u.set_report_reply.id = id;
  event.u.set_report_reply.err = err;
  writeEvent(&event, sizeof event);
}

}  // namespace zv::driver
