// kinetra prefs [--brand BRAND] get KEY | set [--string] KEY VALUE | watch
#include <signal.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <optional>

#include "Command.h"
#include "Report.h"
#include "json/Base64.h"
#include "json/CJSONSerializer.h"
#include "platform/RunLoop.h"
#include "store/ZVPreferencesFile.h"
#include "support/Bundle.h"
#include "support/NotificationCenter.h"

namespace kinetra {
namespace {

using zv::json::Value;
using zv::store::ZVPreferencesFile;

constexpr const char* kName = "prefs";

int fail(const std::string& message) {
  return kinetra::fail(kName, message);
}

// Raw bytes (a <data> entry) are shown as Base64 text, so any file can be printed as JSON.
Value displayable(const Value& value) {
  if (const auto* data = value.asData()) {
    return Value(zv::json::encodeBase64WithNewlines(data->bytes, false));
  }
  if (value.isDictionary()) {
    auto copy = zv::json::makeDictionary();
    for (const auto& [key, item] : *value.asDictionary()) copy->set(key, displayable(item));
    return Value(copy);
  }
  if (value.isArray()) {
    auto copy = zv::json::makeArray();
    for (const auto& item : *value.asArray()) copy->push_back(displayable(item));
    return Value(copy);
  }
  return value;
}

std::string toJson(const Value& value) {
  // displayable() leaves nothing the writer refuses.
  return zv::json::CJSONSerializer::serializer()
      .serializeObject(displayable(value))
      .valueOr("(unprintable)");
}

// A value as the user typed it: true/false, a whole number, or text.
std::optional<Value> parseValue(const std::string& text, bool asString, std::string& error) {
  if (asString) return Value(text);
  if (text == "true") return Value::boolean(true);
  if (text == "false") return Value::boolean(false);
  const char* begin = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
  const char* end = text.data() + text.size();
  std::int64_t number = 0;
  const auto [stop, status] = std::from_chars(begin, end, number);
  if (begin != end && stop == end) {
    // Numbers are kept as doubles: whole numbers beyond 2^53 would change.
    if (status != std::errc() || std::fabs(static_cast<double>(number)) > 9007199254740992.0) {
      error =
          "'" + text + "' is too large for an integer preference (use --string to keep it as text)";
      return std::nullopt;
    }
    return Value(number);
  }
  return Value(text);
}

int runGet(const std::string& brand, const std::string& key) {
  const auto path = ZVPreferencesFile::pathForBrand(brand);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    return fail(key + " is not set (" + path.string() + " does not exist)");
  }
  const auto prefs = ZVPreferencesFile::preferenceFileForBrand(brand);
  if (!prefs) return fail("cannot open the preferences of brand '" + brand + "'");
  if (!prefs->prefs()) return fail(prefs->readError());
  const Value* value = prefs->prefs()->find(key);
  if (!value) return fail(key + " is not set in " + prefs->filePath().string());
  if (value->isString()) {
    std::cout << value->asString() << "\n";
  } else {
    std::cout << toJson(*value) << "\n";
  }
  return 0;
}

int runSet(const std::string& brand, const std::string& key, const std::string& text,
           bool asString) {
  std::string error;
  const auto value = parseValue(text, asString, error);
  if (!value) return fail(error);
  const auto prefs = ZVPreferencesFile::preferenceFileForBrand(brand);
  if (!prefs) return fail("cannot open the preferences of brand '" + brand + "'");
  if (!prefs->prefs()) {
    return fail(prefs->readError() +
                "; the file was left as it is (remove it to start with empty preferences)");
  }
  prefs->prefs()->set(key, *value);
  if (!prefs->save(&error)) return fail(error);
  return 0;
}

int runWatch(const std::string& brand) {
  auto& loop = zv::platform::RunLoop::main();
  // Before any thread starts, so that every thread inherits the blocked signals.
  if (!loop.watchSignals({SIGINT, SIGTERM}, [&loop](int) { loop.stop(); })) {
    return fail("cannot watch for interrupts");
  }
  zv::support::NotificationCenter::defaultCenter().addObserver(
      std::string(zv::store::ZVPreferencesUpdatedNotification),
      [](const zv::support::Notification& notification) {
        std::cout << notification.name << " "
                  << (notification.userInfo.isNull() ? "null" : toJson(notification.userInfo))
                  << std::endl;
      });
  const auto prefs = ZVPreferencesFile::preferenceFileForBrand(brand);
  if (!prefs) return fail("cannot open the preferences of brand '" + brand + "'");
  if (!prefs->prefs()) warn(kName, prefs->readError());
  std::cerr << "kinetra prefs: watching " << prefs->filePath().string() << "\n";
  loop.run();
  return 0;
}

struct Options {
  std::string brand;
  std::string key;
  std::string value;
  bool asString = false;
};

// The brand given, else the tool's own; nothing after saying why when it cannot name a
// preferences file.
std::optional<std::string> resolveBrand(std::string brand) {
  if (brand.empty()) {
    if (const auto bundle = zv::support::Bundle::main()) {
      brand = bundle->objectForInfoDictionaryKey("Brand").asString();
    }
    if (brand.empty()) {
      fail("no brand: give --brand BRAND");
      return std::nullopt;
    }
  }
  if (ZVPreferencesFile::pathForBrand(brand).empty()) {
    fail("'" + brand + "' cannot be a brand (it must name a file)");
    return std::nullopt;
  }
  return brand;
}

void define(CLI::App& command) {
  auto options = std::make_shared<Options>();
  command.footer(
      "Reads and writes the per-brand preferences file\n"
      "~/.config/com.zenvor.Kinetra.BRAND.plist that the tray agent and the settings window\n"
      "share (for example HideStatusMenu).\n");
  command.add_option("--brand", options->brand, "the brand (default: the tool's own \"Brand\")")
      ->type_name("BRAND");

  CLI::App* get =
      command.add_subcommand("get", "print KEY's value; exit status 1 when it is not set");
  get->add_option("KEY", options->key, "the preference")->required();
  setAction(*get, [options] {
    const auto brand = resolveBrand(options->brand);
    return brand ? runGet(*brand, options->key) : 1;
  });

  CLI::App* set = command.add_subcommand("set", "set KEY and save the file");
  set->footer(
      "Saves the file atomically, so running programs see the change. true and false\n"
      "become booleans, whole numbers integers, anything else text. Every other entry of\n"
      "the file is kept as it is.\n");
  set->add_option("KEY", options->key, "the preference")->required();
  set->add_option("VALUE", options->value, "its new value")->required();
  set->add_flag("--string", options->asString, "keep VALUE as text whatever it looks like");
  setAction(*set, [options] {
    const auto brand = resolveBrand(options->brand);
    return brand ? runSet(*brand, options->key, options->value, options->asString) : 1;
  });

  CLI::App* watch = command.add_subcommand(
      "watch", "print the preferences now and at every save, until interrupted");
  watch->footer(
      "Prints \"ZVPreferencesUpdated\" and the preferences as JSON now and each time any\n"
      "program saves the file.\n");
  setAction(*watch, [options] {
    const auto brand = resolveBrand(options->brand);
    return brand ? runWatch(*brand) : 1;
  });
}

const CommandRegistration registration(kName, "read, write and watch the preferences file", define);

}  // namespace
}  // namespace kinetra
