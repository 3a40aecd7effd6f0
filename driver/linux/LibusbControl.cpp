#include "linux/LibusbControl.h"

#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zv::driver {
namespace {

int errnoOf(int libusbError) {
  switch (libusbError) {
    case LIBUSB_ERROR_IO:
      return EIO;
    case LIBUSB_ERROR_INVALID_PARAM:
      return EINVAL;
    case LIBUSB_ERROR_ACCESS:
      return EACCES;
    case LIBUSB_ERROR_NO_DEVICE:
      return ENODEV;
    case LIBUSB_ERROR_NOT_FOUND:
      return ENOENT;
    case LIBUSB_ERROR_BUSY:
      return EBUSY;
    case LIBUSB_ERROR_TIMEOUT:
      return ETIMEDOUT;
    case LIBUSB_ERROR_OVERFLOW:
      return EOVERFLOW;
    case LIBUSB_ERROR_PIPE:
      return EPIPE;
    case LIBUSB_ERROR_INTERRUPTED:
      return EINTR;
    case LIBUSB_ERROR_NO_MEM:
      return ENOMEM;
    case LIBUSB_ERROR_NOT_SUPPORTED:
      return EOPNOTSUPP;
    default:
      return EIO;
  }
}

}  // namespace

std::unique_ptr<LibusbControl> LibusbControl::open(unsigned bus, unsigned address,
                                                   std::string* error) {
  char path[64];
  std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", bus, address);
  std::unique_ptr<LibusbControl> control(new LibusbControl);
  control->fd_ = ::open(path, O_RDWR | O_CLOEXEC);
  if (control->fd_ < 0) {
    *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
    return nullptr;
  }
  libusb_set_option(nullptr, LIBUSB_OPTION_NO_DEVICE_DISCOVERY);
  int result = libusb_init(&control->context_);
  if (result == 0) {
    result = libusb_wrap_sys_device(control->context_, control->fd_, &control->handle_);
  }
  if (result != 0) {
    *error = std::string("cannot use ") + path +
             " for control requests: " + libusb_strerror(static_cast<libusb_error>(result));
    return nullptr;
  }
  return control;
}

LibusbControl::~LibusbControl() {
  if (handle_) libusb_close(handle_);
  if (context_) libusb_exit(context_);
  if (fd_ >= 0) close(fd_);
}

int LibusbControl::controlTransfer(std::uint8_t requestType, std::uint8_t request,
                                   std::uint16_t value, std::uint16_t index,
                                   std::span<std::uint8_t> data, unsigned timeoutMs) {
  const int n = libusb_control_transfer(handle_, requestType, request, value, index, data.data(),
                                        static_cast<std::uint16_t>(data.size()), timeoutMs);
  return n < 0 ? -errnoOf(n) : n;
}

}  // namespace zv::driver
