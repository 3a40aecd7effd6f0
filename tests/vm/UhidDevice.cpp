#include "UhidDevice.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Wait.h"

namespace zv::vmtest {
namespace {

std::string errnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

bool writeEvent(int fd, const uhid_event& event, std::string* problem) {
  const ssize_t written = ::write(fd, &event, sizeof event);
  if (written == static_cast<ssize_t>(sizeof event)) return true;
  if (problem) {
    *problem = written < 0 ? errnoText("write to /dev/uhid") : "short write to /dev/uhid";
  }
  return false;
}

void copyText(char* target, std::size_t size, const std::string& text) {
  std::strncpy(target, text.c_str(), size - 1);
  target[size - 1] = '\0';
}

}  // namespace

std::unique_ptr<UhidDevice> UhidDevice::create(const Setup& setup, std::string* problem,
                                               const std::string& node) {
  if (setup.descriptor.empty() || setup.descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
    *problem = "report descriptor of " + std::to_string(setup.descriptor.size()) + " bytes (1 to " +
               std::to_string(HID_MAX_DESCRIPTOR_SIZE) + " allowed)";
    return nullptr;
  }
  const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *problem = errnoText("cannot open " + node);
    return nullptr;
  }
  std::unique_ptr<UhidDevice> device(new UhidDevice(fd));

  uhid_event event{};
  event.type = UHID_CREATE2;
  uhid_create2_req& create = event.u.create2;
  copyText(reinterpret_cast<char*>(create.name), sizeof create.name, setup.name);
  copyText(reinterpret_cast<char*>(create.phys), sizeof create.phys, setup.phys);
  copyText(reinterpret_cast<char*>(create.uniq), sizeof create.uniq, setup.uniq);
  create.rd_size = static_cast<__u16>(setup.descriptor.size());
  create.bus = setup.bus;
  create.vendor = setup.vendor;
  create.product = setup.product;
  create.version = setup.version;
  std::memcpy(create.rd_data, setup.descriptor.data(), setup.descriptor.size());
  if (!writeEvent(fd, event, problem)) {
    device->destroyed_ = true;  // never created
    return nullptr;
  }
  return device;
}

UhidDevice::~UhidDevice() {
  if (!destroyed_) destroy(nullptr);
  ::close(fd_);
}

bool UhidDevice::sendInput(std::span<const std::uint8_t> report, std::string* problem) {
  if (report.size() > UHID_DATA_MAX) {
    *problem = "input report of " + std::to_string(report.size()) + " bytes is too long";
    return false;
  }
  uhid_event event{};
  event.type = UHID_INPUT2;
  event.u.input2.size = static_cast<__u16>(report.size());
  std::memcpy(event.u.input2.data, report.data(), report.size());
  // Only the used part of the event is written: the kernel reads what the size says, and a
  // full event is 4 KiB, which would make every report cost a page copy.
  const std::size_t length = offsetof(uhid_event, u.input2.data) + report.size();
  const ssize_t written = ::write(fd_, &event, length);
  if (written == static_cast<ssize_t>(length)) return true;
  *problem = written < 0 ? errnoText("UHID_INPUT2") : "short write of UHID_INPUT2";
  return false;
}

bool UhidDevice::handleOneEvent() {
  uhid_event event{};
  const ssize_t got = ::read(fd_, &event, sizeof event);
  if (got <= 0) return false;
  switch (event.type) {
    case UHID_START:
      started_ = true;
      break;
    case UHID_STOP:
      started_ = false;
      break;
    case UHID_OPEN:
      opened_ = true;
      break;
    case UHID_CLOSE:
      opened_ = false;
      break;
    case UHID_GET_REPORT: {
      uhid_event reply{};
      reply.type = UHID_GET_REPORT_REPLY;
      reply.u.get_report_reply.id = event.u.get_report.id;
      reply.u.get_report_reply.err = EIO;
      writeEvent(fd_, reply, nullptr);
      break;
    }
    case UHID_SET_REPORT: {
      uhid_event reply{};
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = event.u.set_report.id;
      reply.u.set_report_reply.err = EIO;
      writeEvent(fd_, reply, nullptr);
      break;
    }
    default:
      break;  // output reports: the mouse has no LEDs or other outputs
  }
  return true;
}

void UhidDevice::serviceEvents() {
  while (handleOneEvent()) {
  }
}

bool UhidDevice::waitForStart(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  serviceEvents();
  while (!started_) {
    pollfd watch{fd_, POLLIN, 0};
    const int ready = ::poll(&watch, 1, millisecondsUntil(deadline));
    if (ready <= 0) return started_;
    serviceEvents();
  }
  return true;
}

bool UhidDevice::destroy(std::string* problem) {
  if (destroyed_) return true;
  uhid_event event{};
  event.type = UHID_DESTROY;
  destroyed_ = true;
  return writeEvent(fd_, event, problem);
}

}  // namespace zv::vmtest
