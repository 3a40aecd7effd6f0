// A mouse on a real USB bus: a HID function of the kernel's USB gadget framework (configfs)
// bound to dummy_hcd, the software pair of a USB device controller and a host controller.
// The host side enumerates it like any plugged-in mouse (usbcore, usbhid, hid-generic), so
// it is not under the uhid parent.
// Input reports are written to its /dev/hidgN node; the host polls them every frame (1 ms).
//
//   <configfs>/usb_gadget/<name>/                 idVendor, idProduct, UDC, strings/0x409/
//     functions/hid.usb0/                         report_desc, report_length, dev ("MAJ:MIN")
//     configs/c.1/hid.usb0 -> functions/hid.usb0
//
// Not thread-safe: one thread creates, feeds and removes a gadget.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zv::vmtest {

class UsbGadgetMouse {
 public:
  struct Setup {
    std::string name = "vmtest";  // the gadget's folder in configfs
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint16_t release = 0x0100;
    std::string manufacturer;
    std::string productName;
    std::string serial;  // the host side's HID_UNIQ
    std::vector<std::uint8_t> descriptor;
    unsigned reportLength = 0;
    // No interrupt OUT endpoint: the host's SET_REPORT requests (feature and output
    // reports) then reach the function, and readSetReport() hands out their data.
    bool setReportsByControl = false;
  };

  struct Roots {
    std::string configfs = "/sys/kernel/config";
    std::string udcClass = "/sys/class/udc";
    std::string dev = "/dev";
  };

  // Describes the gadget in configfs and binds it to the first device controller: the
  // plug-in. Null with `*problem` set when configfs, a controller or the HID function is
  // missing (the modules configfs, libcomposite, usb_f_hid and dummy_hcd).
  static std::unique_ptr<UsbGadgetMouse> create(const Setup& setup, std::string* problem,
                                                const Roots& roots);
  static std::unique_ptr<UsbGadgetMouse> create(const Setup& setup, std::string* problem) {
    return create(setup, problem, Roots{});
  }
  // Unplugs the gadget if needed and removes it from configfs.
  ~UsbGadgetMouse();
  UsbGadgetMouse(const UsbGadgetMouse&) = delete;
  UsbGadgetMouse& operator=(const UsbGadgetMouse&) = delete;

  // One input report. The function holds one report at a time: this waits, at most
  // `bound`, until the host has polled the previous one.
  bool sendInput(std::span<const std::uint8_t> report, std::chrono::milliseconds bound,
                 std::string* problem);
  // The data of the latest SET_REPORT from the host (report ID first), waiting at most
  // `bound`; nullopt when none came. Only with setReportsByControl (the function keeps the
  // latest request alone).
  std::optional<std::vector<std::uint8_t>> readSetReport(std::chrono::milliseconds bound);
  // Unbinds the gadget from its controller: to the host, the mouse was pulled out.
  bool unplug(std::string* problem);
  // Binds it again after unplug(): the host enumerates it anew, with new nodes.
  bool plugIn(std::string* problem);

  const std::string& gadgetPath() const { return gadget_; }
  // The /dev/hidgN node reports are written to; empty until the node exists.
  const std::string& reportNode() const { return node_; }

 private:
  UsbGadgetMouse(std::string gadget, std::string controller, Roots roots)
      : gadget_(std::move(gadget)), controller_(std::move(controller)), roots_(roots) {}
  bool openReportNode(std::chrono::milliseconds bound, std::string* problem);
  void remove();

  std::string gadget_;
  std::string controller_;
  Roots roots_;
  std::string node_;
  int fd_ = -1;
  bool bound_ = false;
};

}  // namespace zv::vmtest
