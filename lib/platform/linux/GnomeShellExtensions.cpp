#include "platform/linux/GnomeShellExtensions.h"

#include "platform/AtomicFile.h"
#include "platform/Paths.h"

namespace zv::platform {

namespace {

constexpr const char* kShell = "org.gnome.Shell";
constexpr const char* kShellPath = "/org/gnome/Shell";
constexpr const char* kExtensionsInterface = "org.gnome.Shell.Extensions";

// The shell's numbers for an extension's state.
ExtensionState stateOf(std::int64_t number) {
  switch (number) {
    case 1:
      return ExtensionState::Enabled;
    case 2:  // disabled
    case 6:  // initialized: loaded, never enabled
    case 7:  // disabling
      return ExtensionState::Disabled;
    case 3:
      return ExtensionState::Failed;
    case 4:
      return ExtensionState::OutOfDate;
    case 99:
      return ExtensionState::NotInstalled;
    default:
      return ExtensionState::Other;
  }
}

base::Result<void> change(BusConnection& bus, const char* method, const std::string& uuid) {
  auto reply =
      bus.call(kShell, kShellPath, kExtensionsInterface, method,
               [&uuid](sd_bus_message* m) { return sd_bus_message_append(m, "s", uuid.c_str()); });
  if (!reply) return reply.failure().prefixed("GNOME Shell does not answer: ");
  const auto values = readBusValues(reply->get());
  const auto done = values && !values->empty() ? (*values)[0].asBool() : std::nullopt;
  if (!done || !*done) {
    return base::Failure{kBusDomain, 0,
                         "GNOME Shell refused to change the extension " + uuid +
                             " (is it installed, and are extensions allowed for this user?)"};
  }
  return {};
}

}  // namespace

std::optional<ExtensionInfo> extensionInfoFromValues(const std::vector<BusValue>& values) {
  if (values.empty() || values[0].unwrapped().type != SD_BUS_TYPE_ARRAY) return std::nullopt;
  const BusValue& dictionary = values[0];
  ExtensionInfo info;
  if (dictionary.unwrapped().items.empty()) return info;  // not known to the shell
  const BusValue* state = dictionary.member("state");
  const auto number = state ? state->asInteger() : std::nullopt;
  info.state = number ? stateOf(*number) : ExtensionState::Other;
  if (const BusValue* error = dictionary.member("error"); error && error->asText()) {
    info.error = *error->asText();
  }
  if (const BusValue* path = dictionary.member("path"); path && path->asText()) {
    info.path = *path->asText();
  }
  return info;
}

base::Result<ExtensionInfo> extensionInfo(BusConnection& bus, const std::string& uuid) {
  auto reply =
      bus.call(kShell, kShellPath, kExtensionsInterface, "GetExtensionInfo",
               [&uuid](sd_bus_message* m) { return sd_bus_message_append(m, "s", uuid.c_str()); });
  if (!reply) return reply.failure().prefixed("GNOME Shell does not answer: ");
  const auto values = readBusValues(reply->get());
  if (!values) return values.failure();
  const auto info = extensionInfoFromValues(*values);
  if (!info)
    return base::Failure{kBusDomain, 0, "GNOME Shell's answer about " + uuid + " makes no sense"};
  return *info;
}

base::Result<void> enableExtension(BusConnection& bus, const std::string& uuid) {
  return change(bus, "EnableExtension", uuid);
}

base::Result<void> disableExtension(BusConnection& bus, const std::string& uuid) {
  return change(bus, "DisableExtension", uuid);
}

std::filesystem::path focusExtensionMark() {
  return userDataFolder() / "GnomeShellFocusExtension";
}

bool focusExtensionMarked() {
  std::error_code ec;
  return std::filesystem::exists(focusExtensionMark(), ec);
}

base::Result<void> markFocusExtension(const std::string& choice) {
  const auto mark = focusExtensionMark();
  std::error_code ec;
  std::filesystem::create_directories(mark.parent_path(), ec);
  return writeFileAtomically(mark, choice + "\n");
}

const char* describe(ExtensionState state) {
  switch (state) {
    case ExtensionState::NotInstalled:
      return "not installed";
    case ExtensionState::Enabled:
      return "enabled";
    case ExtensionState::Disabled:
      return "disabled";
    case ExtensionState::Failed:
      return "failed";
    case ExtensionState::OutOfDate:
      return "written for another version of GNOME Shell";
    case ExtensionState::Other:
      return "in another state";
  }
  return "in another state";
}

}  // namespace zv::platform
