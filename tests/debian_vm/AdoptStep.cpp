#include "AdoptStep.h"

#include <array>
#include <cerrno>
#include <filesystem>

#include "PollUntil.h"

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;

// A vendor and product no driver of the kernel claims: hid-generic binds the mouse.
constexpr std::uint16_t kGenericVendor = 0x4A47;
constexpr std::uint16_t kGenericProduct = 0x2301;
constexpr const char* kGenericId = "4a47:2301";
constexpr const char* kGenericUniq = "vmtest-generic";

// Five buttons, X, Y and a wheel of one byte each: what most plain mice send.
constexpr std::array<std::uint8_t, 52> kGenericDescriptor = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
    0x01, 0x29, 0x05, 0x15, 0x00, 0x25, 0x01, 0x95, 0x05, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x03, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09,
    0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0};

UsbGadgetMouse::Setup genericSetup() {
  UsbGadgetMouse::Setup setup;
  setup.name = "generic";
  setup.vendor = kGenericVendor;
  setup.product = kGenericProduct;
  setup.manufacturer = "Plain";
  setup.productName = "Five Button Mouse";
  setup.serial = kGenericUniq;
  setup.descriptor.assign(kGenericDescriptor.begin(), kGenericDescriptor.end());
  setup.reportLength = 4;
  return setup;
}

// Whether the installed kinetra lists `command` among its commands ("  adopt   …").
bool kinetraHas(SystemGuest& guest, const std::string& command) {
  const std::string help = guest.must({"kinetra", "--help"});
  return help.find("\n  " + command + " ") != std::string::npos;
}

std::string adoptAndRelease(SystemGuest& guest) {
  if (!guest.options.adopt)
    skip("not asked for (--adopt; left out with VMDEB_ADOPT=0 on the host)");
  if (!kinetraHas(guest, "adopt") || !kinetraHas(guest, "release")) {
    skip("the installed kinetra has no `adopt` and `release` commands");
  }
  // The demo mouse makes room on the one USB device controller.
  guest.unplugAndWaitForNoDriver();
  std::string problem;
  auto generic = UsbGadgetMouse::create(genericSetup(), &problem);
  expect(generic != nullptr, "plugging the plain mouse in: " + problem);
  const auto match = matchHidDevice(kGenericVendor, kGenericProduct, kGenericUniq);
  auto info = waitForDevice(match, guest.bound() * 2);
  expect(info.has_value(), "the kernel made no nodes for the plain mouse");
  expect(guest.drivers().empty(), "a driver started for a mouse nobody adopted");

  guest.must({"kinetra", "adopt", kGenericId});
  const std::string id = fs::path(info->hidraw.front()).filename().string();
  expect(pollUntil([&] { return guest.drivers().size() == 1; }, guest.bound() * 4),
         "no driver runs for the adopted mouse");
  expect(guest.unitState("zenvor-driver@" + id + ".service") == "active",
         "zenvor-driver@" + id + ".service is not active");
  auto original = guest.session.openReader(guest.session.pointerNode(*info));
  expect(original->grab(true) == EBUSY, "the adopted mouse is not grabbed by its driver");
  const std::string mice = guest.must(asUser(kPlayer, {"kinetra", "mice"}));
  expect(mice.find(kGenericId) != std::string::npos && mice.find("adopted") != std::string::npos,
         "`kinetra mice` does not show the mouse adopted:" + lastLines(mice));

  guest.must({"kinetra", "release", kGenericId});
  expect(pollUntil([&] { return guest.drivers().empty(); }, guest.bound() * 2),
         "the driver still runs after `kinetra release`");
  expect(original->grab(true) == 0, "the released mouse is still grabbed");
  original.reset();
  expect(generic->unplug(&problem), "unplugging the plain mouse: " + problem);
  generic.reset();
  guest.record->mark();
  guest.plugAndWaitForDriver(false);
  guest.waitForAgentTakeover();
  return std::string(kGenericId) +
         " adopted: its driver started and grabbed it; released: driver gone, mouse free";
}

}  // namespace

void addAdoptStep(SystemGuest& guest) {
  guest.session.checks.add("adopt", [&guest] { return adoptAndRelease(guest); }, {"agent-starts"});
}

}  // namespace zv::vmtest
