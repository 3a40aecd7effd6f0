// kinetra keys [test PAGE USAGE]
#include <linux/input-event-codes.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "output/Diagnostics.h"
#include "output/KeyTables.h"
#include "output/RecordingOutput.h"
#include "output/ZVKeyboard.h"
#include "text/Numbers.h"

namespace kinetra {
namespace {

struct TestOptions {
  std::string page;
  std::string usage;
};

std::optional<std::uint32_t> parseNumber(const std::string& text) {
  std::uint32_t value = 0;
  if (!zv::text::parseWholeNumber(text, value)) return std::nullopt;
  return value;
}

void printRow(std::uint32_t page, std::uint32_t usage, std::uint16_t key, const char* route) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%02X", usage);
  char line[96];
  std::snprintf(line, sizeof line, "%-5u %-7s %-22s %-5u %s\n", page, hex,
                zv::output::codeName(EV_KEY, key).c_str(), key, route);
  std::cout << line;
}

int printTable() {
  using namespace zv::output;
  std::cout << "page  usage   key                    code  route\n";
  const auto& keymap = usbToLinuxKeymap();
  for (std::uint32_t usage = 0; usage < keymap.size(); ++usage) {
    if (keymap[usage] != 0 && usage != 0x7F) printRow(kKeyboardPage, usage, keymap[usage], "key");
  }
  for (std::uint32_t usage = 0; usage <= 0xFFFF; ++usage) {
    if (const KeyRow* row = findKeyWithPageAndUsage(kSystemKeyPage, usage, keys())) {
      printRow(row->page, row->usage, row->key, "key");
    }
  }
  for (const KeyRow& row : specialKeys()) printRow(row.page, row.usage, row.key, "special");
  return 0;
}

int runTest(const CLI::App& self, const TestOptions& options) {
  const auto page = parseNumber(options.page);
  const auto usage = parseNumber(options.usage);
  if (!page) return usageError(self, "PAGE is not a number: " + options.page);
  if (!usage) return usageError(self, "USAGE is not a number: " + options.usage);

  std::vector<std::string> reasons;
  auto previous = zv::output::setMessageHandler(
      [&](std::string_view message) { reasons.emplace_back(message); });
  auto output = std::make_shared<zv::output::RecordingOutput>();
  {
    zv::output::ZVKeyboard keyboard(output);
    for (std::int32_t value : {1, 0}) {
      output->clear();
      keyboard.setKeyForPage(*page, *usage, value);
      const auto events = output->events();
      std::cout << (value ? "press:  " : "release:");
      if (events.empty()) std::cout << " (nothing)";
      for (std::size_t i = 0; i < events.size(); ++i) {
        std::cout << (i ? "\n         " : " ") << zv::output::describe(events[i]);
      }
      std::cout << "\n";
    }
  }
  zv::output::setMessageHandler(std::move(previous));
  for (const std::string& reason : reasons) std::cout << reason << "\n";
  return 0;
}

void define(CLI::App& command) {
  command.footer(
      "Without arguments, prints which Linux key each HID usage posts: keyboard-page (7) and\n"
      "system-key (5) usages through the keymap, media, volume, brightness and eject keys\n"
      "(pages 7 and 12) as special keys.\n");
  setAction(command, printTable);

  auto options = std::make_shared<TestOptions>();
  CLI::App* test = command.add_subcommand("test", "what one press and release of a usage emit");
  test->footer(
      "Shows the events one press and one release of PAGE/USAGE emit on the virtual\n"
      "keyboard, without creating it.\n");
  test->add_option("PAGE", options->page, "HID usage page, decimal or 0x-prefixed hexadecimal")
      ->required();
  test->add_option("USAGE", options->usage, "HID usage, decimal or 0x-prefixed hexadecimal")
      ->required();
  setAction(*test, [test, options] { return runTest(*test, *options); });
}

const CommandRegistration registration("keys", "HID usage to Linux key table; test a key", define);

}  // namespace
}  // namespace kinetra
