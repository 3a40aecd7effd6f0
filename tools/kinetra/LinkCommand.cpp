// kinetra link APP PROFILE [--device ALIAS] [--bundle PATH]
#include <CLI/CLI.hpp>
#include <iostream>

#include "ApplicationOption.h"
#include "Command.h"
#include "DeviceOption.h"
#include "Report.h"
#include "store/ZVProfileSwitcher.h"

namespace kinetra {
namespace {

constexpr const char* kName = "link";

struct Options {
  DeviceOptions device;
  std::string application;
  std::string profile;
};

int run(const Options& options) {
  std::string error;
  const std::string key = applicationKeyFor(options.application, error);
  if (key.empty()) return fail(kName, error);
  const auto device = openDevice(options.device, error);
  if (!device) return fail(kName, error);
  if (!storeOf(*device)->profileExistsWithName(options.profile)) {
    return fail(kName, "no profile named '" + options.profile + "' (see kinetra profiles)");
  }
  const auto switcher = zv::store::ZVProfileSwitcher::create(device, nullptr);
  if (!switcher->setProfile(options.profile, key, &error)) return fail(kName, error);
  std::cout << "linked " << key << " to " << options.profile << "\n";
  return 0;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "While the application has the focus, the agent makes PROFILE current, and gives\n"
      "the profile from before back when you move on to an application without a link.\n"
      "APP is a program name found in PATH (firefox), its path (/usr/bin/firefox; symbolic\n"
      "links are followed to the program that runs) or its key\n"
      "(file:/usr/lib/firefox-esr/firefox-esr). The links are kept in mappings.xml beside\n"
      "the profiles; running programs follow changes at once.\n");
  command.add_option("APP", options->application, "the application")->required();
  command.add_option("PROFILE", options->profile, "the profile")->required();
  addDeviceOptions(command, options->device);
  setAction(command, [options] { return run(*options); });
}

const CommandRegistration registration(kName, "link a profile to an application", define);

}  // namespace
}  // namespace kinetra
