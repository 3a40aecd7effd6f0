// kinetra driver: talk to running zenvor-driver services over their sockets.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "protocol/UserClientConnection.h"
#include "text/Numbers.h"

namespace kinetra {
namespace {

using namespace zv::userclient;

const char* const kUsage =
    "usage: kinetra driver [--services DIR] list\n"
    "       kinetra driver [--services DIR] ping SERVICE\n"
    "       kinetra driver [--services DIR] events SERVICE [--count N] [--seconds S] "
    "[--exclusive]\n"
    "       kinetra driver [--services DIR] override SERVICE ELEMENT 0|1\n"
    "       kinetra driver [--services DIR] buttons SERVICE MASK\n"
    "       kinetra driver [--services DIR] precision SERVICE ELEMENT PERCENT\n"
    "       kinetra driver [--services DIR] axis SERVICE ELEMENT AXIS\n"
    "       kinetra driver [--services DIR] hat SERVICE ELEMENT\n"
    "       kinetra driver [--services DIR] feature SERVICE ID\n"
    "       kinetra driver [--services DIR] call SERVICE METHOD [--scalars A,B,...]\n"
    "                      [--struct HEX] [--out-scalars N] [--out-struct N]\n\n"
    "Talks to the zenvor-driver services in the services folder (--services, else\n"
    "$KINETRA_SERVICES_DIR, else /run/kinetra/services). SERVICE is a socket's name\n"
    "(com_Zenvor_driver_usb_Skarn@hidraw3), its device id alone (hidraw3, simulated-1704) or\n"
    "its path.\n\n"
    "  list       every service with its mouse (vendor:product, type word), or why it does\n"
    "             not answer\n"
    "  ping       open the connection and call sUserClientOpen; prints the round trip\n"
    "  events     print element events as they come (\"event ELEMENT VALUE\") until Ctrl-C,\n"
    "             N events (--count) or S seconds (--seconds); --exclusive seizes them\n"
    "  override   override (suppress) an element, 1, or give it back, 0 (sElementOverride)\n"
    "  buttons    force button states on: bit 0 is button 1 (sSetButtonStates)\n"
    "  precision  precision-aim element (0 keeps it) and percentage (sSetPrecAim)\n"
    "  axis       use an element as pointer axis 1 (X) or 2 (Y); 0 removes it (sSetMouseAxis)\n"
    "  hat        mark an element as hat (sSetHatControl)\n"
    "  feature    byte 1 of feature report ID (sGetFeatureByte)\n"
    "  call       a raw call of any method number with any shape (troubleshooting); prints\n"
    "             the return code in hex and the outputs\n\n"
    "Settings made here belong to the mouse, not to the connection: they stay after kinetra\n"
    "exits, until changed again. Numbers are decimal or 0x-hexadecimal. Exit status 1 when\n"
    "the driver cannot be reached or answers a failure.\n";

struct Options {
  std::string services;
  std::vector<std::string> words;  // subcommand and its positional arguments
  std::map<std::string, std::string> values;
  bool exclusive = false;
};

int fail(const std::string& message) {
  std::cerr << "kinetra driver: " << message << "\n";
  return 1;
}

std::string hex32(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
  return text;
}

std::string hexNumber(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

template <typename Number>
std::optional<Number> number(const std::string& text) {
  Number value{};
  if (!zv::text::parseWholeNumber(text, value)) return std::nullopt;
  return value;
}

std::string folderOf(const Options& o) {
  return o.services.empty() ? servicesFolder() : o.services;
}

// The socket path SERVICE names (see the usage).
std::optional<std::string> resolveService(const Options& o, const std::string& service,
                                          std::string* error) {
  if (service.find('/') != std::string::npos) return service;
  const std::string folder = folderOf(o);
  if (service.find('@') != std::string::npos) return folder + "/" + service;
  std::vector<std::string> matches;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const auto name = parseServiceName(entry->d_name);
      if (name && name->deviceId == service) matches.push_back(folder + "/" + entry->d_name);
    }
    closedir(dir);
  }
  if (matches.size() == 1) return matches[0];
  *error = matches.empty() ? "no service for device '" + service + "' in " + folder +
                                 " (see kinetra driver list)"
                           : "several services for device '" + service + "'; give the full name";
  return std::nullopt;
}

bool connect(const Options& o, const std::string& service, UserClientConnection& connection,
             std::string* error) {
  const auto path = resolveService(o, service, error);
  if (!path) return false;
  return connection.open(*path, error) == kReturnSuccess;
}

// One call with the method's own shape; answers the reply when the driver succeeded.
std::optional<Reply> callMethod(UserClientConnection& connection, std::uint32_t method,
                                std::vector<std::uint64_t> scalars,
                                std::vector<std::uint8_t> structure, std::string* error) {
  const MethodShape& shape = kMethodShapes[method];
  auto reply = connection.call(method, std::move(scalars), std::move(structure), shape.scalarsOut,
                               shape.structOut, error);
  if (!reply) return std::nullopt;
  if (reply->result != kReturnSuccess) {
    *error = std::string(shape.name) + " answered " + hex32(reply->result) + " (" +
             returnCodeName(reply->result) + ")";
    return std::nullopt;
  }
  return reply;
}

int list(const Options& o) {
  const std::string folder = folderOf(o);
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (parseServiceName(entry->d_name)) names.push_back(entry->d_name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  if (names.empty()) {
    std::cout << "no driver services in " << folder << "\n";
    return 0;
  }
  for (const std::string& name : names) {
    UserClientConnection connection;
    std::string error;
    std::cout << name << "  ";
    if (connection.open(folder + "/" + name, &error) != kReturnSuccess) {
      std::cout << "(" << error << ")\n";
      continue;
    }
    const auto reply = callMethod(connection, sGetDeviceInfo, {}, {}, &error);
    const auto info = reply ? ZVDeviceInfo::decode(reply->structure) : std::nullopt;
    if (!info) {
      std::cout << "(" << (error.empty() ? "no device information" : error) << ")\n";
      continue;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%04llx:%04llx type word %u",
                  static_cast<unsigned long long>(info->vendorID),
                  static_cast<unsigned long long>(info->productID), info->typeID);
    std::cout << text << "\n";
  }
  return 0;
}

int events(const Options& o, UserClientConnection& connection) {
  std::string error;
  std::optional<long> count;
  std::optional<long> seconds;
  if (o.values.count("--count")) {
    count = number<long>(o.values.at("--count"));
    if (!count || *count <= 0) return fail("--count takes a whole number above 0");
  }
  if (o.values.count("--seconds")) {
    seconds = number<long>(o.values.at("--seconds"));
    if (!seconds || *seconds <= 0) return fail("--seconds takes a whole number above 0");
  }
  if (!callMethod(connection, sSetElementEventCallback, {}, {}, &error)) return fail(error);
  if (o.exclusive && !callMethod(connection, sSeizeOverrides, {1}, {}, &error)) {
    return fail(error);
  }
  // Tells scripts and people that events flow from here on.
  std::cerr << "kinetra driver: listening for element events\n";
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds.value_or(0));
  for (long received = 0; !count || received < *count;) {
    int wait = -1;
    if (seconds) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      wait = static_cast<int>(left.count());
    }
    const auto event = connection.readCompletion(wait, &error);
    if (!event) {
      if (!error.empty()) return fail(error);
      continue;
    }
    if (event->argumentCount != kCompletionArguments) continue;
    std::cout << "event " << hexNumber(event->element()) << " " << event->value() << std::endl;
    ++received;
  }
  return 0;
}

int rawCall(const Options& o, UserClientConnection& connection) {
  const auto method = number<std::uint32_t>(o.words[2]);
  if (!method) return fail("'" + o.words[2] + "' is not a method number");
  Call call;
  call.method = *method;
  if (o.values.count("--scalars")) {
    std::string list = o.values.at("--scalars");
    for (std::size_t start = 0; start <= list.size();) {
      const std::size_t comma = std::min(list.find(',', start), list.size());
      const auto value = number<std::uint64_t>(list.substr(start, comma - start));
      const std::string item = list.substr(start, comma - start);
      const auto negative = value ? std::nullopt : number<std::int64_t>(item);
      if (!value && !negative) return fail("--scalars: '" + item + "' is not a number");
      call.scalars.push_back(value ? *value : static_cast<std::uint64_t>(*negative));
      start = comma + 1;
    }
  }
  if (o.values.count("--struct")) {
    const std::string& hex = o.values.at("--struct");
    if (hex.size() % 2 != 0) return fail("--struct takes whole bytes in hexadecimal");
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      const int high = zv::text::hexDigitValue(hex[i]);
      const int low = zv::text::hexDigitValue(hex[i + 1]);
      if (high < 0 || low < 0) return fail("--struct takes whole bytes in hexadecimal");
      call.structure.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
  }
  for (const char* option : {"--out-scalars", "--out-struct"}) {
    if (!o.values.count(option)) continue;
    const auto value = number<std::uint32_t>(o.values.at(option));
    if (!value) return fail(std::string(option) + " takes a whole number");
    (std::string(option) == "--out-scalars" ? call.scalarsOut : call.structOut) = *value;
  }
  std::string error;
  const auto reply = connection.call(call, &error);
  if (!reply) return fail(error);
  std::cout << "result " << hex32(reply->result) << " (" << returnCodeName(reply->result) << ")\n";
  for (std::size_t i = 0; i < reply->scalars.size(); ++i) {
    std::cout << "scalar " << i << " " << hexNumber(reply->scalars[i]) << " (" << reply->scalars[i]
              << ")\n";
  }
  if (!reply->structure.empty()) {
    std::cout << "struct";
    char byte[4];
    for (std::uint8_t b : reply->structure) {
      std::snprintf(byte, sizeof byte, " %02X", b);
      std::cout << byte;
    }
    std::cout << "\n";
  }
  return reply->result == kReturnSuccess ? 0 : 1;
}

// The subcommands that take SERVICE and fixed numbers: method, argument count, and how the
// arguments become scalars.
int simpleCall(const std::string& word, const Options& o, UserClientConnection& connection) {
  std::vector<std::uint64_t> scalars;
  for (std::size_t i = 2; i < o.words.size(); ++i) {
    if (const auto value = number<std::uint64_t>(o.words[i])) {
      scalars.push_back(*value);
    } else if (const auto negative = number<std::int64_t>(o.words[i])) {
      scalars.push_back(static_cast<std::uint64_t>(*negative));
    } else {
      return fail("'" + o.words[i] + "' is not a number");
    }
  }
  std::uint32_t method;
  if (word == "override") {
    method = sElementOverride;
    if (scalars[1] > 1) return fail("override takes 0 or 1");
  } else if (word == "buttons") {
    method = sSetButtonStates;
  } else if (word == "precision") {
    method = sSetPrecAim;
    std::swap(scalars[0], scalars[1]);  // the method takes the percentage first
  } else if (word == "axis") {
    method = sSetMouseAxis;
  } else if (word == "hat") {
    method = sSetHatControl;
  } else {
    method = sGetFeatureByte;
    if (scalars[0] > 0xFF) return fail("a report ID is 0 to 255");
  }
  std::string error;
  const auto reply = callMethod(connection, method, scalars, {}, &error);
  if (!reply) return fail(error);
  if (method == sGetFeatureByte) std::cout << hexNumber(reply->scalars[0]) << "\n";
  return 0;
}

int run(const Arguments& args) {
  const Command& command = *findCommand("driver");
  Options o;
  static const char* const kValued[] = {"--services", "--count",       "--seconds",   "--scalars",
                                        "--struct",   "--out-scalars", "--out-struct"};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--exclusive") {
      o.exclusive = true;
    } else if (std::find(std::begin(kValued), std::end(kValued), a) != std::end(kValued)) {
      if (i + 1 >= args.size()) return usageError(command, a + " needs a value");
      (a == "--services" ? o.services : o.values[a]) = args[++i];
    } else if (a.size() > 1 && a[0] == '-' && !number<std::int64_t>(a)) {
      return usageError(command, "unknown option '" + a + "'");
    } else {
      o.words.push_back(a);
    }
  }
  if (o.words.empty()) return usageError(command, "which subcommand?");
  const std::string& word = o.words[0];
  if (word == "list") {
    if (o.words.size() != 1) return usageError(command, "list takes no arguments");
    return list(o);
  }
  static const std::map<std::string, std::size_t> kArguments = {
      {"ping", 0}, {"events", 0}, {"override", 2}, {"buttons", 1}, {"precision", 2},
      {"axis", 2}, {"hat", 1},    {"feature", 1},  {"call", 1}};
  const auto found = kArguments.find(word);
  if (found == kArguments.end()) return usageError(command, "unknown subcommand '" + word + "'");
  if (o.words.size() != found->second + 2) {
    return usageError(command, word + " takes SERVICE and " + std::to_string(found->second) +
                                   " more argument" + (found->second == 1 ? "" : "s"));
  }
  UserClientConnection connection;
  std::string error;
  if (!connect(o, o.words[1], connection, &error)) return fail(error);
  if (word == "ping") {
    const auto start = std::chrono::steady_clock::now();
    if (!callMethod(connection, sUserClientOpen, {}, {}, &error)) return fail(error);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    std::cout << o.words[1] << ": answered in " << micros.count() << " us\n";
    return 0;
  }
  if (word == "events") return events(o, connection);
  if (word == "call") return rawCall(o, connection);
  return simpleCall(word, o, connection);
}

const CommandRegistration registration("driver", "talk to running zenvor-driver services", kUsage,
                                       run);

}  // namespace
}  // namespace kinetra
