#include "platform/linux/KWinFrontmostApplication.h"

#include <cstring>

#include "platform/ExclusiveFile.h"
#include "platform/linux/BusValues.h"
#include "platform/linux/KWinFocusScript.h"

namespace zv::platform {

namespace {

constexpr const char* kScriptingPath = "/Scripting";
constexpr const char* kScriptingInterface = "org.kde.kwin.Scripting";
constexpr std::uint64_t kUnloadTimeoutUsec = 1'000'000;
// KWin takes its bus name a moment before its scripting interface is there (at login the
// agent may come in between): a load refused for that is asked again this often.
constexpr auto kReloadDelay = std::chrono::seconds(1);
constexpr int kReloads = 10;

std::string errorText(sd_bus_message* reply) {
  const sd_bus_error* error = sd_bus_message_get_error(reply);
  if (!error) return "no answer";
  return std::string(error->name ? error->name : "") +
         (error->message ? std::string(": ") + error->message : std::string());
}

}  // namespace

base::Result<std::unique_ptr<KWinFrontmostApplication>> KWinFrontmostApplication::open(
    std::unique_ptr<BusConnection> bus, const std::filesystem::path& scriptFolder,
    ExecutableLookup lookup) {
  std::unique_ptr<KWinFrontmostApplication> provider(
      new KWinFrontmostApplication(std::move(bus), std::move(lookup)));
  KWinFrontmostApplication* p = provider.get();
  p->scriptFolder_ = scriptFolder;
  // The plug-in name carries the connection's unique name, so that the agent's and the
  // editor's scripts (and a restarted agent's) never meet.
  std::string name = p->bus_->uniqueName();
  for (char& c : name) c = (c == '.') ? '_' : c;
  std::erase(name, ':');
  if (name.empty()) return base::Failure{kBusDomain, 0, "the session bus gave no name"};
  p->pluginName_ = "kinetra-focus-" + name;

  sd_bus* connection = p->bus_->bus();
  sd_bus_slot* slot = nullptr;
  int r = sd_bus_add_object(connection, &slot, kFocusObjectPath, called, p);
  if (r < 0) return busFailure(nullptr, r, "cannot offer the focus object on the session bus");
  p->object_.reset(slot);
  auto owner = p->bus_->followOwner(kKWinName, ownerChanged, p);
  if (!owner) return owner.failure();
  p->ownerSignal_ = std::move(*owner);
  p->bus_->setBrokenHandler([p] { p->setDisconnected("the session bus went away"); });
  if (auto loading = p->load(); !loading) return loading.failure();
  return provider;
}

KWinFrontmostApplication::~KWinFrontmostApplication() {
  if (reloadTimer_) bus_->loop().cancelTimer(reloadTimer_);
  pendingCall_.reset();
  if (loadAsked_ && bus_->connected()) {
    // Waited for, so that the script is gone before the process is; also when KWin's
    // answer to the load has not come yet (it is loaded all the same).
    (void)bus_->call(
        kKWinName, kScriptingPath, kScriptingInterface, "unloadScript",
        [this](sd_bus_message* m) { return sd_bus_message_append(m, "s", pluginName_.c_str()); },
        kUnloadTimeoutUsec);
  }
  removeScriptFile();
  object_.reset();
  ownerSignal_.reset();
}

base::Result<void> KWinFrontmostApplication::load() {
  removeScriptFile();
  const auto token = randomHexToken(8);
  if (!token) return base::Failure{base::kSystemDomain, 0, "no random name for the KWin script"};
  scriptFile_ = scriptFolder_ / ("kinetra-kwin-focus-" + *token + ".js");
  // Only KWin, running as this user, reads it.
  if (auto written = createFileExclusively(scriptFile_,
                                           kwinFocusScript(bus_->uniqueName(), pluginName_), 0600);
      !written) {
    scriptFile_.clear();
    return written.failure().prefixed("cannot write the KWin focus script: ");
  }
  auto call = bus_->callAsync(
      kKWinName, kScriptingPath, kScriptingInterface, "loadScript",
      [this](sd_bus_message* m) {
        return sd_bus_message_append(m, "ss", scriptFile_.c_str(), pluginName_.c_str());
      },
      loaded, this);
  if (!call) {
    removeScriptFile();
    return call.failure();
  }
  pendingCall_ = std::move(*call);
  loadAsked_ = true;
  return {};
}

int KWinFrontmostApplication::loaded(sd_bus_message* message, void* self, sd_bus_error*) {
  static_cast<KWinFrontmostApplication*>(self)->onLoaded(message);
  return 0;
}

int KWinFrontmostApplication::ranAtNewPath(sd_bus_message* message, void* self, sd_bus_error*) {
  static_cast<KWinFrontmostApplication*>(self)->onRun(message, false);
  return 0;
}

int KWinFrontmostApplication::ranAtOldPath(sd_bus_message* message, void* self, sd_bus_error*) {
  static_cast<KWinFrontmostApplication*>(self)->onRun(message, true);
  return 0;
}

int KWinFrontmostApplication::called(sd_bus_message* message, void* self, sd_bus_error*) {
  return static_cast<KWinFrontmostApplication*>(self)->onCall(message);
}

int KWinFrontmostApplication::ownerChanged(sd_bus_message* message, void* self, sd_bus_error*) {
  static_cast<KWinFrontmostApplication*>(self)->onOwnerChanged(message);
  return 0;
}

void KWinFrontmostApplication::fail(std::string why) {
  waitingFor_ = std::move(why);
  removeScriptFile();
}

void KWinFrontmostApplication::onLoaded(sd_bus_message* reply) {
  pendingCall_.reset();
  if (sd_bus_message_is_method_error(reply, nullptr)) {
    const bool starting = sd_bus_message_is_method_error(reply, SD_BUS_ERROR_UNKNOWN_OBJECT) ||
                          sd_bus_message_is_method_error(reply, SD_BUS_ERROR_SERVICE_UNKNOWN);
    fail("KWin did not load the focus script (" + errorText(reply) + ")");
    if (starting && reloads_ < kReloads) {
      ++reloads_;
      reloadTimer_ = bus_->loop().addTimer(kReloadDelay, [this] {
        reloadTimer_ = 0;
        if (auto loading = load(); !loading) fail(loading.failure().message);
      });
    }
    return;
  }
  const auto values = readBusValues(reply);
  const auto id = values && !values->empty() ? (*values)[0].asInteger() : std::nullopt;
  if (!id || *id < 0 || *id > 1'000'000'000) {
    return fail("KWin refused the focus script (is KWin's scripting switched off?)");
  }
  if (const char* sender = sd_bus_message_get_sender(reply)) kwin_ = sender;
  scriptId_ = static_cast<int>(*id);
  run(false);
}

void KWinFrontmostApplication::run(bool oldPath) {
  const std::string path =
      oldPath ? "/" + std::to_string(scriptId_)
              : std::string(kScriptingPath) + "/Script" + std::to_string(scriptId_);
  auto call = bus_->callAsync(kKWinName, path.c_str(), "org.kde.kwin.Script", "run", {},
                              oldPath ? ranAtOldPath : ranAtNewPath, this);
  if (!call) return fail(call.failure().message);
  pendingCall_ = std::move(*call);
}

void KWinFrontmostApplication::onRun(sd_bus_message* reply, bool oldPath) {
  pendingCall_.reset();
  if (!sd_bus_message_is_method_error(reply, nullptr)) return;
  if (!oldPath) return run(true);
  fail("KWin did not run the focus script (" + errorText(reply) + ")");
}

int KWinFrontmostApplication::onCall(sd_bus_message* call) {
  if (!sd_bus_message_is_method_call(call, kFocusInterface, "Activated")) return 0;
  const char* sender = sd_bus_message_get_sender(call);
  if (!sender || kwin_ != sender) {
    return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_ACCESS_DENIED,
                                      "only KWin reports the focus here");
  }
  const auto values = readBusValues(call);
  const auto focus = values ? focusReportFromValues(*values, false) : std::nullopt;
  if (!focus) {
    return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_INVALID_ARGS,
                                      "Activated takes a process id and a name");
  }
  sd_bus_reply_method_return(call, "");
  // KWin has read the file once the script runs.
  removeScriptFile();
  waitingFor_.clear();
  report(applicationOfProcess(focus->pid, focus->name, lookup_));
  return 1;
}

void KWinFrontmostApplication::onOwnerChanged(sd_bus_message* signal) {
  const auto owner = BusConnection::newOwner(signal, kKWinName);
  if (!owner) return;
  // The script went with the old KWin; a new one gets it again.
  loadAsked_ = false;
  kwin_.clear();
  if (owner->empty()) return fail("KWin is not running");
  if (auto loading = load(); !loading) fail(loading.failure().message);
}

void KWinFrontmostApplication::removeScriptFile() {
  if (scriptFile_.empty()) return;
  std::error_code ec;
  std::filesystem::remove(scriptFile_, ec);
  scriptFile_.clear();
}

}  // namespace zv::platform
