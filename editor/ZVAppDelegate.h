// The editor process around its one window. Start-up (applicationDidFinishLaunching), in
// this order:
//
//   1. device access: can this user open /dev/uinput and the mouse's hidraw nodes? If
//      not, the editor still opens (it sends no keys itself): standard error and a
//      banner of the page say what will not work and how to get access. (Skipped in devel
//      mode, where the mouse is simulated, unless a node to check is given.)
//   2. overlay scroll bars (set on the web engine before the application object exists,
//      see ZVScrollbarHack.h)
//   3. the shared command store
//   4. the installed device bundles are scanned for the editor's "Alias" (its Info.plist):
//      the editor's own plug-ins when it has any, else MainstreamDevices, then Devices
//   5. HID matching starts
//   6. the editor window is made for the first device found; it shows itself once its
//      page has loaded. No device: an alert names the alias and the folder scanned, and
//      the editor ends; so it does when the page cannot be loaded.
//
// Closing the window ends the process (applicationShouldTerminateAfterLastWindowClosed).
//
// Threads: the GUI thread, which also dispatches the library's main run loop.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DeviceAccess.h"

namespace zv::device {
class DeviceController;
}

namespace zv::editor {

class EditorPlatform;
class HTMLWindowWidget;
class ZVEditorWindow;

struct AppDelegateOptions {
  // Skip the device-access check (devel mode).
  bool skipAccessCheck = false;
  // The editor's own alias; empty: "Alias" of the editor's bundle information.
  std::string alias;
  // The nodes to check and how; tests replace them.
  std::function<std::vector<RefusedNode>()> accessCheck;
  // Shows an alert (message, informative text); tests record it.
  std::function<void(const std::string&, const std::string&)> alert;
  // The desktop's services for the window; null: Qt's (or the scripted one of
  // TESSEL_SCRIPTED_DESKTOP, which also records package installs instead of running the
  // system's package tool).
  std::shared_ptr<EditorPlatform> platform;
  // Devel mode: the page file to load instead of the device bundle's "Interface" (a file
  // of the bundle's resources), and the FIFO the key tap reads (DevelKeyInput.h).
  std::string page;
  std::filesystem::path keyInput;
};

class ZVAppDelegate {
 public:
  explicit ZVAppDelegate(AppDelegateOptions options = {});
  ~ZVAppDelegate();

  // False when the editor must end (see above).
  bool applicationDidFinishLaunching();
  static bool applicationShouldTerminateAfterLastWindowClosed() { return true; }
  // Where the device bundles are looked for, in order: the editor's built-in plug-ins
  // when it has bundles there, else the installed MainstreamDevices and Devices folders.
  static std::vector<std::filesystem::path> bundleFolders();

  // Whether the start-up got as far as scanning for devices.
  bool scanned() const { return scanned_; }
  ZVEditorWindow* win() const;
  HTMLWindowWidget* widget() const { return widget_; }

 private:
  std::vector<RefusedNode> defaultAccessCheck(const std::string& alias) const;
  std::string brand() const;

  AppDelegateOptions options_;
  std::shared_ptr<EditorPlatform> platform_;
  std::filesystem::path scriptedDesktop_;
  HTMLWindowWidget* widget_ = nullptr;  // deleted when closed
  bool scanned_ = false;
};

}  // namespace zv::editor
