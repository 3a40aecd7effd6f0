// kinetra prefs [--brand BRAND] get KEY | set [--string] KEY VALUE | watch
#include <signal.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <optional>

#include "Command.h"
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

const char* const kUsage =
    "usage: kinetra prefs [--brand BRAND] get KEY\n"
    "       kinetra prefs [--brand BRAND] set [--string] KEY VALUE\n"
    "       kinetra prefs [--brand BRAND] watch\n\n"
    "Reads and writes the per-brand preferences file\n"
    "~/.config/com.zenvor.Kinetra.BRAND.plist that the tray agent and the settings window\n"
    "share (for example HideStatusMenu). BRAND defaults to the tool's own \"Brand\".\n\n"
    "  get KEY         print KEY's value; exit status 1 when it is not set\n"
    "  set KEY VALUE   set KEY and save the file (atomically, so running programs see it):\n"
    "                  true and false become booleans, whole numbers integers, anything\n"
    "                  else text; --string keeps VALUE as text whatever it looks like\n"
    "  watch           print \"ZVPreferencesUpdated\" and the preferences as JSON now and\n"
    "                  each time any program saves the file, until interrupted\n";

const Command& self() {
  return *findCommand("prefs");
}

int fail(const std::string& message) {
  std::cerr << "kinetra prefs: " << message << "\n";
  return 1;
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
  return zv::json::CJSONSerializer::serializer().serializeObject(displayable(value));
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
  if (!prefs->prefs()) return fail("cannot read " + prefs->readError());
  const Value* value = prefs->prefs()->find(key);
  if (!value) return fail(key + " is not set in " + prefs->filePath().string());
  if (value->isString()) {
    std::cout << value->asString() << "\n";
  } else {
    std::cout << toJson(*value) << "\n";
  }
  return 0;
}

int runSet(const std::string& brand, const Arguments& rest) {
  bool asString = false;
  std::vector<std::string> operands;
  for (const auto& arg : rest) {
    if (arg == "--string") {
      asString = true;
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 2) return usageError(self(), "set takes KEY and VALUE");
  std::string error;
  const auto value = parseValue(operands[1], asString, error);
  if (!value) return fail(error);
  const auto prefs = ZVPreferencesFile::preferenceFileForBrand(brand);
  if (!prefs) return fail("cannot open the preferences of brand '" + brand + "'");
  if (!prefs->prefs()) {
    return fail("cannot read " + prefs->readError() +
                "; the file was left as it is (remove it to start with empty preferences)");
  }
  prefs->prefs()->set(operands[0], *value);
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
  if (!prefs->prefs()) std::cerr << "kinetra prefs: cannot read " << prefs->readError() << "\n";
  std::cerr << "kinetra prefs: watching " << prefs->filePath().string() << "\n";
  loop.run();
  return 0;
}

int runPrefs(const Arguments& args) {
  std::string brand;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    if (args[i] == "--brand") {
      if (i + 1 >= args.size()) return usageError(self(), "--brand needs a value");
      brand = args[++i];
    } else if (args[i].rfind("--brand=", 0) == 0) {
      brand = args[i].substr(8);
    } else {
      break;
    }
  }
  if (i >= args.size()) return usageError(self(), "expected 'get', 'set' or 'watch'");
  const std::string action = args[i];
  const Arguments rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());

  if (brand.empty()) {
    if (const auto bundle = zv::support::Bundle::main()) {
      brand = bundle->objectForInfoDictionaryKey("Brand").asString();
    }
    if (brand.empty()) return fail("no brand: give --brand BRAND");
  }
  if (ZVPreferencesFile::pathForBrand(brand).empty()) {
    return fail("'" + brand + "' cannot be a brand (it must name a file)");
  }

  if (action == "get") {
    if (rest.size() != 1) return usageError(self(), "get takes one KEY");
    return runGet(brand, rest[0]);
  }
  if (action == "set") return runSet(brand, rest);
  if (action == "watch") {
    if (!rest.empty()) return usageError(self(), "watch takes no arguments");
    return runWatch(brand);
  }
  return usageError(self(), "unknown action '" + action + "'");
}

const CommandRegistration registration("prefs", "read, write and watch the preferences file",
                                       kUsage, runPrefs);

}  // namespace
}  // namespace kinetra
