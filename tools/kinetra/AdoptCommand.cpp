// kinetra adopt VVVV:PPPP | kinetra release VVVV:PPPP
//
// Adopting writes the suite's udev rule for a mouse that is not one of its own products
// (device/AdoptedMice.h), reloads udev and starts the mouse's driver; releasing removes
// the rule, stops the driver and leaves the mouse exactly as it was before. Both need
// root: run as another user, the command asks for it through pkexec and runs itself
// again there.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>

#include "Command.h"
#include "Report.h"
#include "SystemTools.h"
#include "device/AdoptedDescriptions.h"
#include "device/AdoptedMice.h"
#include "device/PresentMice.h"
#include "platform/AtomicFile.h"
#include "platform/HidrawNodes.h"
#include "platform/Paths.h"

namespace kinetra {
namespace {

namespace fs = std::filesystem;
using zv::device::mouseIdentifier;

struct Options {
  std::string mouse;
};

struct Target {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::string id;  // "046d:c52b"
};

std::optional<Target> targetOf(const CLI::App& self, const Options& options) {
  const auto ids = zv::device::parseMouseIdentifier(options.mouse);
  if (!ids) {
    usageError(self, "'" + options.mouse +
                         "' is not a mouse's VENDOR:PRODUCT (for example "
                         "046d:c52b; kinetra mice lists them)");
    return std::nullopt;
  }
  return Target{ids->first, ids->second, mouseIdentifier(ids->first, ids->second)};
}

// The hidraw nodes of the mouse (every interface: the rule starts a driver for each, and
// those that are not a mouse end by themselves), without the one our daemon presents.
std::vector<zv::platform::HidrawNode> nodesOf(const Target& target) {
  std::vector<zv::platform::HidrawNode> nodes;
  for (auto& node : zv::platform::listHidrawNodes()) {
    if (node.id.vendor == target.vendor && node.id.product == target.product &&
        !node.presentedByOurDriver()) {
      nodes.push_back(std::move(node));
    }
  }
  return nodes;
}

std::string unitOf(const zv::platform::HidrawNode& node) {
  return "zenvor-driver@" + node.name + ".service";
}

std::string sysfsPathOf(const zv::platform::HidrawNode& node) {
  return (zv::platform::sysfsRoot() / "class" / "hidraw" / node.name).string();
}

// Runs a step whose failure leaves the work done so far in place: a warning says so.
void step(SystemTools& tools, const std::string& command, const std::vector<std::string>& words,
          const std::string& consequence) {
  const auto status = tools.run(words);
  if (status && *status == 0) return;
  std::string line;
  for (const auto& word : words) line += (line.empty() ? "" : " ") + word;
  warn(command, line + " " +
                    (status ? "failed (exit status " + std::to_string(*status) + ")"
                            : "did not run: " + status.failure().message) +
                    "; " + consequence);
}

// Runs this command again as root through pkexec. pkexec answers 126 when the user
// refused or was refused and 127 when it cannot run; anything else is the status of the
// command it ran, which has said its own piece.
int asRoot(SystemTools& tools, const std::string& command, const Target& target) {
  std::cerr << "kinetra " << command << ": changing the udev rules needs root; asking for it "
            << "through pkexec\n";
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const std::string again = "sudo kinetra " + command + " " + target.id;
  const auto status =
      tools.run({"pkexec", ec ? std::string("kinetra") : self.string(), command, target.id});
  if (!status) {
    return fail(command, "root is needed and pkexec cannot be run (" + status.failure().message +
                             "); run `" + again + "`");
  }
  if (*status == 126 || *status == 127) {
    return fail(command, "root was not granted through pkexec; run `" + again + "`");
  }
  return *status;
}

int adopt(const CLI::App& self, const Options& options) {
  constexpr const char* kName = "adopt";
  const auto target = targetOf(self, options);
  if (!target) return 1;
  if (zv::device::isAutomaticProduct(target->vendor, target->product)) {
    return fail(kName, target->id +
                           " is one of the suite's own mice: its driver starts by "
                           "itself, it needs no adoption");
  }
  std::optional<zv::device::PresentMouse> mouse;
  for (auto& present : zv::device::presentMice()) {
    if (present.vendor() == target->vendor && present.product() == target->product) {
      mouse = std::move(present);
      break;
    }
  }
  if (!mouse) {
    return fail(kName, "no mouse " + target->id +
                           " is plugged in (kinetra mice lists the mice "
                           "present): plug it in, then adopt it");
  }
  const auto tools = systemTools();
  if (!tools->isRoot()) return asRoot(*tools, kName, *target);

  zv::device::AdoptedMouse record;
  record.vendor = target->vendor;
  record.product = target->product;
  record.bus = mouse->node.id.bus;
  record.name = mouse->node.product;
  record.descriptor = mouse->node.descriptor;
  const fs::path rule = zv::device::adoptionRulePath(target->vendor, target->product);
  std::error_code ec;
  const bool again = fs::exists(rule, ec);
  if (const auto written =
          zv::platform::writeFileAtomically(rule, zv::device::adoptionRule(record), 0644);
      !written) {
    return fail(kName, "cannot write the udev rule: " + written.failure().message);
  }
  step(*tools, kName, {"udevadm", "control", "--reload"},
       "the rule takes effect when the mouse is plugged in again");
  for (const auto& node : nodesOf(*target)) {
    // An "add" event lets the new rule tag the node for systemd, whose device unit the
    // driver's service is bound to; then the service is started and waited for.
    step(*tools, kName, {"udevadm", "trigger", "--action=add", "--settle", sysfsPathOf(node)},
         "plug the mouse in again to start its driver");
    step(*tools, kName, {"systemctl", "start", unitOf(node)},
         "plug the mouse in again to start its driver");
  }
  std::cout << (again ? "adopted again " : "adopted ") << target->id << " (" << mouse->name()
            << "): " << rule.string() << " is in place and zenvor-driver serves the mouse.\n"
            << "Its profiles live under the device "
            << zv::device::adoptedAlias(target->vendor, target->product)
            << ": open the editor, or `kinetra profiles --device "
            << zv::device::adoptedAlias(target->vendor, target->product) << "`.\n";
  return 0;
}

int release(const CLI::App& self, const Options& options) {
  constexpr const char* kName = "release";
  const auto target = targetOf(self, options);
  if (!target) return 1;
  if (zv::device::isAutomaticProduct(target->vendor, target->product)) {
    return fail(kName, target->id +
                           " is one of the suite's own mice, served by the suite's "
                           "own udev rule; it cannot be released");
  }
  const fs::path rule = zv::device::adoptionRulePath(target->vendor, target->product);
  std::error_code ec;
  if (!fs::exists(rule, ec)) {
    return fail(kName, target->id + " is not adopted (no " + rule.string() +
                           "): nothing to "
                           "release");
  }
  const auto tools = systemTools();
  if (!tools->isRoot()) return asRoot(*tools, kName, *target);

  if (!fs::remove(rule, ec) && ec) {
    return fail(kName, "cannot remove " + rule.string() + ": " + ec.message());
  }
  step(*tools, kName, {"udevadm", "control", "--reload"},
       "udev forgets the rule at its next reload");
  for (const auto& node : nodesOf(*target)) {
    step(*tools, kName, {"systemctl", "stop", unitOf(node)}, "unplug the mouse to stop its driver");
    // A "change" event evaluates the node without the rule: no tag for systemd, no driver.
    step(*tools, kName, {"udevadm", "trigger", "--action=change", "--settle", sysfsPathOf(node)},
         "udev drops the rule's tag when the mouse is plugged in again");
  }
  std::cout << "released " << target->id << ": the rule is removed and its driver stopped; the "
            << "mouse works as it did before it was adopted. Its profiles stay in "
            << (zv::platform::userDataFolder() /
                zv::device::adoptedAlias(target->vendor, target->product))
                   .string()
            << ".\n";
  return 0;
}

void defineOne(CLI::App& command, bool adopting) {
  auto options = std::make_shared<Options>();
  command
      .add_option("MOUSE", options->mouse, "the mouse's VENDOR:PRODUCT, as kinetra mice shows it")
      ->required()
      ->type_name("VVVV:PPPP");
  CLI::App* self = &command;
  if (adopting) {
    command.footer(
        "Writes the suite's udev rule for the mouse (71-zenvor-adopted-VVVV-PPPP.rules in\n"
        "the udev rules folder), with a record of its name, bus and report descriptor,\n"
        "reloads udev and starts the mouse's zenvor-driver. From then on the driver takes\n"
        "the mouse whenever it is plugged in, over USB or Bluetooth, and the agent, the\n"
        "editor and kinetra describe it from its descriptor: one control per button, the\n"
        "wheel and pan, X and Y as its motion. The mouse must be plugged in. Needs root;\n"
        "as another user it asks through pkexec. Adopting again refreshes the record.\n");
    setAction(command, [self, options] { return adopt(*self, *options); });
  } else {
    command.footer(
        "Removes the mouse's udev rule, reloads udev and stops its zenvor-driver: the mouse\n"
        "is exactly as it was before it was adopted. Its profiles are kept. Needs root; as\n"
        "another user it asks through pkexec.\n");
    setAction(command, [self, options] { return release(*self, *options); });
  }
}

const CommandRegistration adoptRegistration("adopt",
                                            "serve a mouse that is not one of the suite's own",
                                            [](CLI::App& command) { defineOne(command, true); });
const CommandRegistration releaseRegistration("release", "hand an adopted mouse back to the system",
                                              [](CLI::App& command) { defineOne(command, false); });

}  // namespace
}  // namespace kinetra
