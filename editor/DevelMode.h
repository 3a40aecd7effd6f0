// `tessel --devel`: the editor on a simulated mouse and a private folder tree, so pages
// can be written and tested without a mouse and without touching the user's profiles.
//
//   <root>/home/         KINETRA_HOME: profiles, preferences, the window frame
//   <root>/run/          KINETRA_RUNTIME_DIR
//   <root>/services/     KINETRA_SERVICES_DIR: the simulated driver's socket
//   <root>/data/         KINETRA_DATA_ROOT: MainstreamDevices/ links the device bundles
//                        of the bundle folder given (default: the build's or the
//                        installed Devices folder)
//   <root>/mouse         a FIFO: report-script lines written here ("report 08 00 00 00 00
//                        00 00") reach the simulated mouse
//   <root>/keys          a FIFO: the key tap's keyboard ("KEY_B 1 1000", see
//                        DevelKeyInput.h), since devel mode grabs no real keyboard
//
// The root is a new temporary folder, removed at the end, unless --devel-root names one
// (which is kept, with its profiles). The driver daemon runs as
// "zenvor-driver --simulate <product> --input <root>/mouse --services <root>/services"
// (with "--descriptor-file FILE --vendor VVVV" for a mouse given by its report
// descriptor) and is stopped when the editor ends. The library finds the simulated mouse
// (KINETRA_SIMULATED_DEVICES=1). The page's DevTools protocol opens on 127.0.0.1 only.
//
// Threads: the main thread, before the QApplication exists (the environment must be set
// before the web engine starts).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace zv::editor {

struct DevelOptions {
  std::optional<std::filesystem::path> root;  // kept; none: a temporary one
  std::filesystem::path bundles;              // the device bundles to offer
  std::filesystem::path driver;               // zenvor-driver
  std::uint16_t product = 0x1704;
  // Another mouse than ours: its report-descriptor file (data/mice/*.hid) and vendor ID.
  std::filesystem::path descriptorFile;
  std::uint16_t vendor = 0x5A56;
  std::uint16_t devtoolsPort = 9222;
};

class DevelMode {
 public:
  // Prepares the tree and the environment and starts the driver. Nothing, with `error`
  // set, when a folder cannot be made or the driver does not start.
  static std::unique_ptr<DevelMode> start(const DevelOptions& options, std::string* error);
  DevelMode(const DevelMode&) = delete;
  DevelMode& operator=(const DevelMode&) = delete;
  ~DevelMode();

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path mouseInput() const { return root_ / "mouse"; }
  std::filesystem::path keyInput() const { return root_ / "keys"; }
  pid_t driverPid() const { return driver_; }
  // What the editor prints at start.
  std::string banner(const DevelOptions& options) const;

 private:
  DevelMode() = default;
  std::filesystem::path root_;
  bool temporary_ = false;
  pid_t driver_ = 0;
};

// The driver next to the editor in a build (<build>/bin/zenvor-driver), else in PATH.
std::filesystem::path defaultDriverPath();
// The device bundles of the build's source tree when the editor runs from a build, else
// the installed Devices folder.
std::filesystem::path defaultBundleFolder();

}  // namespace zv::editor
