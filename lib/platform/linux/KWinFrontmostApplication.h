// The focused application under KDE Plasma (KWin, Wayland and X11). KWin tells other
// programs nothing about its active window, but it runs scripts loaded through its
// scripting interface on the session bus: the provider exports Activated(pid, name) on
// its own connection, writes the script of KWinFocusScript.h for that connection into a
// private file, has KWin load and run it, and removes the file once KWin has read it.
// The script calls Activated() at every change of the active window.
//
// When the provider goes, it unloads the script; a provider that ends without doing so
// (a crash) leaves a script that unloads itself at the next focus change. Calls of
// Activated() are accepted only from KWin's connection.
//
// Threads: the loop's thread.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "base/Result.h"
#include "platform/FrontmostApplication.h"
#include "platform/linux/BusConnection.h"

namespace zv::platform {

inline constexpr const char* kKWinName = "org.kde.KWin";

class KWinFrontmostApplication : public FrontmostApplication {
 public:
  // Loads the script into the KWin on `bus` (the session bus); the script file is
  // written to `scriptFolder` (the user's runtime folder). Fails when the bus refuses
  // the object or the file cannot be written; whether KWin runs the script is known when
  // it answers (waitingFor(), then reports).
  static base::Result<std::unique_ptr<KWinFrontmostApplication>> open(
      std::unique_ptr<BusConnection> bus, const std::filesystem::path& scriptFolder,
      ExecutableLookup lookup = executableOfProcess);
  // Unloads the script (waiting briefly for KWin's answer).
  ~KWinFrontmostApplication() override;

  std::string_view providerName() const override { return "KWin"; }
  std::string waitingFor() const override { return waitingFor_; }

  // The name the script is loaded under ("kinetra-focus-1_42").
  const std::string& pluginName() const { return pluginName_; }

 private:
  KWinFrontmostApplication(std::unique_ptr<BusConnection> bus, ExecutableLookup lookup)
      : bus_(std::move(bus)), lookup_(std::move(lookup)) {}
  // Writes the script file and asks KWin to load it.
  base::Result<void> load();
  void onLoaded(sd_bus_message* reply);
  // Asks KWin to run the loaded script, at the object path of KWin 5.27 (`oldPath`) or of
  // later releases.
  void run(bool oldPath);
  void onRun(sd_bus_message* reply, bool oldPath);
  int onCall(sd_bus_message* call);
  void onOwnerChanged(sd_bus_message* signal);
  void removeScriptFile();
  void fail(std::string why);

  static int loaded(sd_bus_message* message, void* self, sd_bus_error*);
  static int ranAtNewPath(sd_bus_message* message, void* self, sd_bus_error*);
  static int ranAtOldPath(sd_bus_message* message, void* self, sd_bus_error*);
  static int called(sd_bus_message* message, void* self, sd_bus_error*);
  static int ownerChanged(sd_bus_message* message, void* self, sd_bus_error*);

  std::unique_ptr<BusConnection> bus_;
  ExecutableLookup lookup_;
  std::filesystem::path scriptFolder_;
  BusSlot object_;
  BusSlot ownerSignal_;
  BusSlot pendingCall_;
  std::string pluginName_;
  std::filesystem::path scriptFile_;
  int scriptId_ = -1;
  bool loadAsked_ = false;
  RunLoop::TimerId reloadTimer_ = 0;
  int reloads_ = 0;
  // KWin's unique name, learnt from its answer to the load.
  std::string kwin_;
  std::string waitingFor_;
};

}  // namespace zv::platform
