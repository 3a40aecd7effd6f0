// The Linux HID manager's readers of sysfs (primary usage from the report descriptor,
// HID_ID, the uhid test) and the real manager on this machine's hidraw nodes.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/HidPrimaryUsage.h"
#include "platform/HidSysfs.h"
#include "platform/LinuxHidManager.h"
#include "platform/RunLoop.h"

namespace zv::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::optional<HidUsage> usageOf(const Bytes& bytes) {
  return primaryUsage(bytes);
}

TEST(HidPrimaryUsage, FirstTopLevelCollection) {
  // A boot mouse: Usage Page (Generic Desktop), Usage (Mouse), Collection (Application),
  // Usage (Pointer), Collection (Physical) ...
  const Bytes mouse{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1,
                    0x00, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0xC0, 0xC0};
  EXPECT_EQ(usageOf(mouse), (HidUsage{0x01, 0x02}));

  // A vendor collection first: the first one decides, whatever follows.
  const Bytes vendorFirst{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xC0,
                          0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0};
  EXPECT_EQ(usageOf(vendorFirst), (HidUsage{0xFF00, 0x01}));

  // A 4-byte usage names its own page; the global page does not apply to it.
  const Bytes extended{0x05, 0x0C, 0x0B, 0x05, 0x00, 0x01, 0x00, 0xA1, 0x01, 0xC0};
  EXPECT_EQ(usageOf(extended), (HidUsage{0x01, 0x05}));

  // Usages of an earlier main item do not carry over; the first of several counts; a
  // page given after the usage still applies (it is in force when the collection opens).
  const Bytes locals{0x09, 0x07, 0x81, 0x02, 0x09, 0x06, 0x09, 0x02, 0x05, 0x01, 0xA1, 0x01};
  EXPECT_EQ(usageOf(locals), (HidUsage{0x01, 0x06}));

  // A long item is stepped over.
  const Bytes longItem{0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x05, 0x01, 0x09, 0x02, 0xA1, 0x01};
  EXPECT_EQ(usageOf(longItem), (HidUsage{0x01, 0x02}));
}

TEST(HidPrimaryUsage, NothingWithoutAUsableCollection) {
  EXPECT_EQ(usageOf({}), std::nullopt);
  EXPECT_EQ(usageOf({0x05, 0x01, 0x09, 0x02}), std::nullopt) << "no collection";
  EXPECT_EQ(usageOf({0x05, 0x01, 0xA1, 0x01}), std::nullopt) << "collection without usage";
  EXPECT_EQ(usageOf({0x05, 0x01, 0x09}), std::nullopt) << "item cut short";
  EXPECT_EQ(usageOf({0x05, 0x01, 0x0B, 0x02, 0x00}), std::nullopt) << "4-byte usage cut short";
  EXPECT_EQ(usageOf({0xFE}), std::nullopt) << "long item without size";
  EXPECT_EQ(usageOf({0xFE, 0xFF, 0x00}), std::nullopt) << "long item running past the end";
}

TEST(HidSysfs, HidIdUhidAndTransport) {
  EXPECT_EQ(parseHidId("0003:00005A56:00001704"), (HidId{3, 0x5A56, 0x1704}));
  EXPECT_EQ(parseHidId("5:46d:c52b"), (HidId{5, 0x46D, 0xC52B}));
  EXPECT_EQ(parseHidId("0003:00005A56"), std::nullopt);
  EXPECT_EQ(parseHidId("0003:00005A56:"), std::nullopt);
  EXPECT_EQ(parseHidId("0003:000005A56:1"), std::nullopt) << "nine digits";
  EXPECT_EQ(parseHidId("0003:5A56:1704:1"), std::nullopt);
  EXPECT_EQ(parseHidId("0003:-5A56:1704"), std::nullopt);
  EXPECT_EQ(parseHidId("mouse"), std::nullopt);

  EXPECT_TRUE(isUnderUhid("/sys/devices/virtual/misc/uhid/0003:5A56:1704.0004"));
  EXPECT_FALSE(
      isUnderUhid("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/"
                  "0003:5A56:1704.0003"));
  EXPECT_EQ(transportName(3), "USB");
  EXPECT_EQ(transportName(5), "Bluetooth");
  EXPECT_EQ(transportName(0x42), "Bus 0x42");
}

TEST(LinuxHidManager, ListsThisMachinesHidrawNodes) {
  std::error_code ec;
  const bool any = std::filesystem::exists("/sys/class/hidraw", ec) &&
                   !std::filesystem::is_empty("/sys/class/hidraw", ec);
  RunLoop loop;
  LinuxHidManager manager;
  std::vector<HidDeviceRef> matched;
  manager.setDeviceMatchingCallback([&](const HidDeviceRef& device) { matched.push_back(device); });
  const auto scheduled = manager.scheduleWithRunLoop(loop);
  ASSERT_TRUE(scheduled) << scheduled.failure().message;
  EXPECT_TRUE(matched.empty()) << "devices are reported from the loop, not from scheduling";
  loop.dispatchPending();
  EXPECT_EQ(matched.size(), manager.devices().size());
  if (!any) GTEST_SKIP() << "this machine has no hidraw devices; only the empty list was checked";
  for (const HidDeviceRef& device : matched) {
    EXPECT_EQ(device->path().rfind("/dev/hidraw", 0), 0u) << device->path();
    EXPECT_TRUE(std::holds_alternative<std::int64_t>(device->property(kHidVendorIDKey)));
  }
}

}  // namespace
}  // namespace zv::platform
