// One run of zenvor-driver on the guest's USB mouse, shared by the daemon's own checks and
// the agent's: started on the mouse's hidraw node with its services in a folder of the
// guest's tmpfs, ready once it serves its socket and presents the rewritten mouse.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "GuestSession.h"
#include "testing/ChildProcess.h"

namespace zv::vmtest {

// The folder the daemon serves its socket in, which clients are pointed at.
inline constexpr const char* kServicesFolder = "/tmp/services";

struct DriverRun {
  std::unique_ptr<testing::ChildProcess> daemon;
  std::string deviceId;  // the hidraw node's name, the daemon's device id: "hidraw1"
  std::string socket;
  HidDeviceInfo presented;
  std::string presentedEvdev;
};

// Starts the daemon on the USB mouse and waits until it is ready; fails the check (with
// what the daemon said) when it ends or does not get there.
void startDriver(GuestSession& session, DriverRun& run);
// The same on any HID device, as udev starts it for an adopted mouse; `isPresentedMouse`
// finds the mouse the daemon presents for it.
void startDriverOn(GuestSession& session, const HidDeviceInfo& device,
                   const HidDeviceMatch& isPresentedMouse, DriverRun& run);

// `kinetra driver --services DIR ARGS...`, which must succeed; answers its output.
std::string kinetraDriver(GuestSession& session, std::vector<std::string> args);
// A client that prints the element events it gets, connected before this returns.
std::unique_ptr<testing::ChildProcess> listenForEvents(GuestSession& session, const DriverRun& run,
                                                       int count);
// Fails the check unless the listener printed each of `events` (in order) within the bound.
void expectEvents(GuestSession& session, testing::ChildProcess& listener,
                  const std::vector<std::string>& events);

// The daemon's output and its latest lines in the system log, for failure messages.
std::string daemonSaid(testing::ChildProcess& daemon);

// Whether `info` is the mouse a daemon presents through uhid.
bool isPresented(const HidDeviceInfo& info);

// A press of `button` (1-based) followed by motion, then the release: the presented mouse's
// first frame after the press must be the motion alone (events reach a reader in order),
// or the check fails.
void expectButtonHidden(GuestSession& session, EvdevReader& presented, int button);

// Plugs the unplugged USB mouse in again and waits for its nodes, for the checks after an
// unplug.
void plugUsbMouseAgain(GuestSession& session);

}  // namespace zv::vmtest
