#include "UsbGadgetMouse.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "Wait.h"

namespace zv::vmtest {
namespace fs = std::filesystem;
namespace {

const char* const kFunction = "functions/hid.usb0";
const char* const kConfig = "configs/c.1";

std::string hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFF);
  return text;
}

// configfs attributes take one write each; a short or failed write names the attribute.
bool writeAttribute(const fs::path& file, const std::string& bytes, std::string* problem) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    *problem = "cannot open " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  const ssize_t written = ::write(fd, bytes.data(), bytes.size());
  const int error = errno;
  ::close(fd);
  if (written != static_cast<ssize_t>(bytes.size())) {
    *problem = "cannot write " + file.string() + ": " +
               (written < 0 ? std::strerror(error) : "short write");
    return false;
  }
  return true;
}

bool makeFolder(const fs::path& folder, std::string* problem) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) *problem = "cannot create " + folder.string() + ": " + error.message();
  return !error;
}

}  // namespace

std::unique_ptr<UsbGadgetMouse> UsbGadgetMouse::create(const Setup& setup, std::string* problem,
                                                       const Roots& roots) {
  const fs::path gadgets = fs::path(roots.configfs) / "usb_gadget";
  std::error_code error;
  if (!fs::is_directory(gadgets, error)) {
    *problem = gadgets.string() + " is missing (configfs not mounted, or libcomposite not loaded)";
    return nullptr;
  }
  std::string controller;
  for (fs::directory_iterator it(roots.udcClass, error), end; !error && it != end;
       it.increment(error)) {
    controller = it->path().filename().string();
    break;
  }
  if (controller.empty()) {
    *problem = "no USB device controller in " + roots.udcClass + " (is dummy_hcd loaded?)";
    return nullptr;
  }

  const fs::path gadget = gadgets / setup.name;
  std::unique_ptr<UsbGadgetMouse> mouse(new UsbGadgetMouse(gadget.string(), controller, roots));
  const fs::path strings = gadget / "strings/0x409";
  const fs::path function = gadget / kFunction;
  const fs::path config = gadget / kConfig;
  std::string descriptor(setup.descriptor.begin(), setup.descriptor.end());
  const bool described =
      makeFolder(gadget, problem) &&
      writeAttribute(gadget / "idVendor", hex4(setup.vendor), problem) &&
      writeAttribute(gadget / "idProduct", hex4(setup.product), problem) &&
      writeAttribute(gadget / "bcdDevice", hex4(setup.release), problem) &&
      writeAttribute(gadget / "bcdUSB", "0x0200", problem) && makeFolder(strings, problem) &&
      writeAttribute(strings / "manufacturer", setup.manufacturer, problem) &&
      writeAttribute(strings / "product", setup.productName, problem) &&
      writeAttribute(strings / "serialnumber", setup.serial, problem) &&
      makeFolder(function, problem) &&
      // Neither a boot-protocol device nor a keyboard: the host reads the descriptor alone.
      writeAttribute(function / "subclass", "0", problem) &&
      writeAttribute(function / "protocol", "0", problem) &&
      writeAttribute(function / "report_length", std::to_string(setup.reportLength), problem) &&
      writeAttribute(function / "report_desc", descriptor, problem) &&
      (!setup.setReportsByControl || writeAttribute(function / "no_out_endpoint", "1", problem)) &&
      makeFolder(config / "strings/0x409", problem) &&
      writeAttribute(config / "strings/0x409/configuration", "mouse", problem) &&
      writeAttribute(config / "MaxPower", "100", problem);
  if (!described) return nullptr;
  fs::create_directory_symlink(function, config / "hid.usb0", error);
  if (error) {
    *problem = "cannot link the HID function into the configuration: " + error.message();
    return nullptr;
  }
  if (!mouse->plugIn(problem)) return nullptr;
  return mouse;
}

bool UsbGadgetMouse::openReportNode(std::chrono::milliseconds bound, std::string* problem) {
  // The function's "dev" attribute holds the node's numbers; the node is /dev/hidg<minor>.
  std::string numbers;
  std::ifstream(fs::path(gadget_) / kFunction / "dev") >> numbers;
  const auto colon = numbers.find(':');
  if (colon == std::string::npos) {
    *problem = "the HID function has no device number (is usb_f_hid loaded?)";
    return false;
  }
  node_ = roots_.dev + "/hidg" + numbers.substr(colon + 1);
  waitUntil([this] { return fs::exists(node_); }, bound);
  fd_ = ::open(node_.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    *problem = "cannot open " + node_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

UsbGadgetMouse::~UsbGadgetMouse() {
  if (fd_ >= 0) ::close(fd_);
  remove();
}

bool UsbGadgetMouse::sendInput(std::span<const std::uint8_t> report,
                               std::chrono::milliseconds bound, std::string* problem) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    const ssize_t written = ::write(fd_, report.data(), report.size());
    if (written == static_cast<ssize_t>(report.size())) return true;
    if (written >= 0) {
      *problem = "short write to " + node_;
      return false;
    }
    if (errno != EAGAIN && errno != EINTR) {
      *problem = "write to " + node_ + ": " + std::strerror(errno);
      return false;
    }
    pollfd watch{fd_, POLLOUT, 0};
    if (::poll(&watch, 1, millisecondsUntil(deadline)) == 0) {
      *problem = "the host did not poll the previous report within " +
                 std::to_string(bound.count()) + " ms";
      return false;
    }
  }
}

std::optional<std::vector<std::uint8_t>> UsbGadgetMouse::readSetReport(
    std::chrono::milliseconds bound) {
  pollfd watch{fd_, POLLIN, 0};
  if (::poll(&watch, 1, static_cast<int>(bound.count())) <= 0) return std::nullopt;
  std::vector<std::uint8_t> data(4096);
  const ssize_t n = ::read(fd_, data.data(), data.size());
  if (n <= 0) return std::nullopt;
  data.resize(static_cast<std::size_t>(n));
  return data;
}

bool UsbGadgetMouse::unplug(std::string* problem) {
  if (!bound_) return true;
  bound_ = false;
  return writeAttribute(fs::path(gadget_) / "UDC", "\n", problem);
}

bool UsbGadgetMouse::plugIn(std::string* problem) {
  if (bound_) return true;
  if (!writeAttribute(fs::path(gadget_) / "UDC", controller_, problem)) return false;
  bound_ = true;
  // The function's node exists while the gadget is bound: open it anew each time.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  return openReportNode(std::chrono::milliseconds(5000), problem);
}

void UsbGadgetMouse::remove() {
  std::string ignored;
  unplug(&ignored);
  // configfs takes its entries apart in the reverse order of their making; files inside
  // a folder belong to it and go with it.
  const fs::path gadget = gadget_;
  std::error_code error;
  fs::remove(gadget / kConfig / "hid.usb0", error);
  for (const fs::path& folder : {gadget / kConfig / "strings/0x409", gadget / kConfig,
                                 gadget / kFunction, gadget / "strings/0x409", gadget}) {
    ::rmdir(folder.c_str());
  }
}

}  // namespace zv::vmtest
