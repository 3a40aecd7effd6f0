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

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>

#include "Command.h"
#include "Report.h"
#include "protocol/UserClientConnection.h"
#include "text/Numbers.h"

namespace kinetra {
namespace {

using namespace zv::userclient;

constexpr const char* kName = "driver";

struct Options {
  std::string services;
  std::string service;
  std::string arguments[2];  // the subcommand's numeric arguments, as typed
  std::size_t argumentCount = 0;
  // events
  long count = 0;
  long seconds = 0;
  bool exclusive = false;
  // call
  std::string method;
  std::string scalars;
  std::string structure;
  std::uint32_t scalarsOut = 0;
  std::uint32_t structOut = 0;
};

int fail(const std::string& message) {
  return kinetra::fail(kName, message);
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
  if (o.count < 0 || o.seconds < 0) return fail("--count and --seconds take whole numbers above 0");
  if (!callMethod(connection, sSetElementEventCallback, {}, {}, &error)) return fail(error);
  if (o.exclusive && !callMethod(connection, sSeizeOverrides, {1}, {}, &error)) {
    return fail(error);
  }
  // Tells scripts and people that events flow from here on.
  std::cerr << "kinetra driver: listening for element events\n";
  // 0: no limit.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(o.seconds);
  for (long received = 0; o.count == 0 || received < o.count;) {
    int wait = -1;
    if (o.seconds > 0) {
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
  const auto method = number<std::uint32_t>(o.method);
  if (!method) return fail("'" + o.method + "' is not a method number");
  Call call;
  call.method = *method;
  call.scalarsOut = o.scalarsOut;
  call.structOut = o.structOut;
  if (!o.scalars.empty()) {
    const std::string& list = o.scalars;
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
  if (!o.structure.empty()) {
    const std::string& hex = o.structure;
    if (hex.size() % 2 != 0) return fail("--struct takes whole bytes in hexadecimal");
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      const int high = zv::text::hexDigitValue(hex[i]);
      const int low = zv::text::hexDigitValue(hex[i + 1]);
      if (high < 0 || low < 0) return fail("--struct takes whole bytes in hexadecimal");
      call.structure.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
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
  for (std::size_t i = 0; i < o.argumentCount; ++i) {
    const std::string& text = o.arguments[i];
    if (const auto value = number<std::uint64_t>(text)) {
      scalars.push_back(*value);
    } else if (const auto negative = number<std::int64_t>(text)) {
      scalars.push_back(static_cast<std::uint64_t>(*negative));
    } else {
      return fail("'" + text + "' is not a number");
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

// Connects to the service and runs `body` on the connection.
int withConnection(const Options& o, const std::function<int(UserClientConnection&)>& body) {
  UserClientConnection connection;
  std::string error;
  if (!connect(o, o.service, connection, &error)) return fail(error);
  return body(connection);
}

int ping(const Options& o, UserClientConnection& connection) {
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  if (!callMethod(connection, sUserClientOpen, {}, {}, &error)) return fail(error);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  std::cout << o.service << ": answered in " << micros.count() << " us\n";
  return 0;
}

void define(CLI::App& command) {
  auto o = std::make_shared<Options>();
  command.footer(
      "Talks to the zenvor-driver services in the services folder (--services, else\n"
      "$KINETRA_SERVICES_DIR, else /run/kinetra/services). SERVICE is a socket's name\n"
      "(com_Zenvor_driver_usb_Skarn@hidraw3), its device id alone (hidraw3, simulated-1704)\n"
      "or its path. Settings made here belong to the mouse, not to the connection: they stay\n"
      "after kinetra exits, until changed again. Numbers are decimal or 0x-hexadecimal.\n"
      "Exit status 1 when the driver cannot be reached or answers a failure.\n");
  command.add_option("--services", o->services, "the services folder")->type_name("DIR");

  auto withService = [o](CLI::App* sub) {
    sub->add_option("SERVICE", o->service, "the driver's service")->required();
  };
  CLI::App* listCommand = command.add_subcommand(
      "list",
      "every service with its mouse (vendor:product, type word), or why it does not answer");
  setAction(*listCommand, [o] { return list(*o); });

  CLI::App* pingCommand = command.add_subcommand(
      "ping", "open a connection and call sUserClientOpen; print the round trip");
  withService(pingCommand);
  setAction(*pingCommand, [o] {
    return withConnection(*o, [&](UserClientConnection& c) { return ping(*o, c); });
  });

  CLI::App* eventsCommand = command.add_subcommand(
      "events", "print element events (\"event ELEMENT VALUE\") as they come, until interrupted");
  withService(eventsCommand);
  eventsCommand->add_option("--count", o->count, "stop after N events")->type_name("N");
  eventsCommand->add_option("--seconds", o->seconds, "stop after S seconds")->type_name("S");
  eventsCommand->add_flag("--exclusive", o->exclusive,
                          "seize the events: other clients get none while this one runs");
  setAction(*eventsCommand, [o] {
    return withConnection(*o, [&](UserClientConnection& c) { return events(*o, c); });
  });

  struct Simple {
    const char* name;
    const char* summary;
    std::vector<const char*> arguments;
    std::vector<const char*> descriptions;
  };
  const char* const kElement = "page << 16 | usage, e.g. 0x90009 for button 9";
  const Simple simple[] = {
      {"override",
       "override (suppress) an element, 1, or give it back, 0 (sElementOverride)",
       {"ELEMENT", "FLAG"},
       {kElement, "1 to override, 0 to give it back"}},
      {"buttons",
       "force button states on: bit 0 is button 1 (sSetButtonStates)",
       {"MASK"},
       {"the buttons forced on; 0 for none"}},
      {"precision",
       "precision-aim element (0 keeps it) and percentage (sSetPrecAim)",
       {"ELEMENT", "PERCENT"},
       {kElement, "the pointer's speed while it is held"}},
      {"axis",
       "use an element as pointer axis 1 (X) or 2 (Y); 0 removes it (sSetMouseAxis)",
       {"ELEMENT", "AXIS"},
       {kElement, "1 (X), 2 (Y) or 0 (none)"}},
      {"hat", "mark an element as hat (sSetHatControl)", {"ELEMENT"}, {kElement}},
      {"feature",
       "print byte 1 of feature report ID (sGetFeatureByte)",
       {"ID"},
       {"the feature report's ID"}},
  };
  for (const Simple& s : simple) {
    CLI::App* sub = command.add_subcommand(s.name, s.summary);
    withService(sub);
    for (std::size_t i = 0; i < s.arguments.size(); ++i) {
      sub->add_option(s.arguments[i], o->arguments[i], s.descriptions[i])->required();
    }
    const std::string name = s.name;
    const std::size_t count = s.arguments.size();
    setAction(*sub, [o, name, count] {
      o->argumentCount = count;
      return withConnection(*o, [&](UserClientConnection& c) { return simpleCall(name, *o, c); });
    });
  }

  CLI::App* callCommand = command.add_subcommand(
      "call", "a raw call of any method number and shape; prints the return code and outputs");
  withService(callCommand);
  callCommand->add_option("METHOD", o->method, "the method number")->required();
  callCommand->add_option("--scalars", o->scalars, "input scalars, comma-separated")
      ->type_name("A,B,...");
  callCommand->add_option("--struct", o->structure, "the input structure in hexadecimal")
      ->type_name("HEX");
  callCommand->add_option("--out-scalars", o->scalarsOut, "output scalars expected")
      ->type_name("N");
  callCommand->add_option("--out-struct", o->structOut, "output structure bytes expected")
      ->type_name("N");
  setAction(*callCommand, [o] {
    return withConnection(*o, [&](UserClientConnection& c) { return rawCall(*o, c); });
  });
}

const CommandRegistration registration(kName, "talk to running zenvor-driver services", define);

}  // namespace
}  // namespace kinetra
