#include "testing/FakeSysfs.h"

#include <fstream>

namespace zv::testing {

namespace fs = std::filesystem;

void addFakeHidrawNode(const fs::path& root, const std::string& node, const std::string& hidId,
                       const std::string& name, const std::vector<std::uint8_t>& descriptor,
                       bool uhid, const std::string& phys) {
  // The HID device's name: BUS:VENDOR:PRODUCT.INSTANCE with four-digit fields.
  const std::string bus = hidId.substr(0, 4);
  const std::string vendor = hidId.substr(9, 4);
  const std::string product = hidId.substr(18, 4);
  const fs::path parent = uhid ? root / "devices/virtual/misc/uhid"
                               : root / "devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";
  const fs::path hid = parent / (bus + ":" + vendor + ":" + product + "." + node.substr(6));
  fs::create_directories(hid / "hidraw" / node);
  std::ofstream(hid / "uevent") << "DRIVER=hid-generic\nHID_ID=" << hidId << "\nHID_NAME=" << name
                                << "\nHID_PHYS=" << phys << "\nHID_UNIQ=\nMODALIAS=hid:b" << bus
                                << "\n";
  std::ofstream(hid / "report_descriptor", std::ios::binary)
      .write(reinterpret_cast<const char*>(descriptor.data()),
             static_cast<std::streamsize>(descriptor.size()));
  fs::create_directory_symlink("../..", hid / "hidraw" / node / "device");
  fs::create_directories(root / "class/hidraw");
  fs::create_directory_symlink(hid / "hidraw" / node, root / "class/hidraw" / node);
}

}  // namespace zv::testing
