#include "DemoMouse.h"

#include <linux/input.h>

#include "core/SampleDescriptors.h"

namespace zv::vmtest {

std::array<std::uint8_t, kDemoReportLength> demoMouseReport(const MouseInput& input) {
  const auto dx = static_cast<std::uint16_t>(input.dx);
  const auto dy = static_cast<std::uint16_t>(input.dy);
  return {static_cast<std::uint8_t>(input.buttons & 0xFF),
          static_cast<std::uint8_t>(input.buttons >> 8),
          static_cast<std::uint8_t>(dx & 0xFF),
          static_cast<std::uint8_t>(dx >> 8),
          static_cast<std::uint8_t>(dy & 0xFF),
          static_cast<std::uint8_t>(dy >> 8),
          static_cast<std::uint8_t>(input.wheel)};
}

UhidDevice::Setup demoMouseSetup(const std::string& uniq, int descriptorType) {
  UhidDevice::Setup setup;
  setup.name = "Zenvor Demo Mouse";
  setup.phys = "vmtest/" + uniq;
  setup.uniq = uniq;
  setup.bus = BUS_USB;
  setup.vendor = kDemoVendor;
  setup.product = kDemoProduct;
  setup.version = 0x0100;
  const auto descriptor = zv::driver::sampleDescriptorForType(descriptorType);
  setup.descriptor.assign(descriptor.begin(), descriptor.end());
  return setup;
}

UsbGadgetMouse::Setup usbDemoMouseSetup(const std::string& serial, int descriptorType) {
  UsbGadgetMouse::Setup setup;
  setup.vendor = kDemoVendor;
  setup.product = kDemoProduct;
  // The host names the device "<manufacturer> <product>".
  setup.manufacturer = "Zenvor";
  setup.productName = "Demo Mouse";
  setup.serial = serial;
  const auto descriptor = zv::driver::sampleDescriptorForType(descriptorType);
  setup.descriptor.assign(descriptor.begin(), descriptor.end());
  setup.reportLength = kDemoReportLength;
  return setup;
}

}  // namespace zv::vmtest
