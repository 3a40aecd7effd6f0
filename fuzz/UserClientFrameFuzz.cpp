// The user-client frame decoders and the daemon's dispatch behind them: one root client of a
// simulated type-1 mouse sends a stream of frames over a real socket pair; the daemon
// decodes, checks and runs them, and every frame it sends back must decode again (the
// daemon never writes what a client would refuse). Reports go in between, so element events
// flow while calls change overrides, exclusivity and forced buttons.
//
// Input: a sequence of records, each a length byte pair (little-endian) and that many bytes
// of one frame; a length of 0xFFFF sends the next 7 bytes as an input report instead. The
// whole input also goes through every decoder directly.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/SampleDescriptors.h"
#include "daemon/AccessRule.h"
#include "daemon/DriverLog.h"
#include "daemon/EventLoop.h"
#include "daemon/UserClientServer.h"
#include "daemon/ZenvorDriver.h"
#include "fakes/FakeHidraw.h"
#include "fakes/FakeSeatSessions.h"
#include "fakes/FakeUhid.h"
#include "fakes/FakeUsbControl.h"
#include "protocol/UserClientProtocol.h"

using namespace zv::driver;
using namespace zv::userclient;

namespace {

void checkDaemonFrame(std::span<const std::uint8_t> frame) {
  bool ok = false;
  switch (frameKind(frame)) {
    case kGreetingFrame:
      ok = decodeGreeting(frame).has_value();
      break;
    case kReplyFrame:
      ok = decodeReply(frame).has_value();
      break;
    case kCompletionFrame: {
      const auto c = decodeCompletion(frame);
      ok = c && c->argumentCount == kCompletionArguments;
      break;
    }
    default:
      break;
  }
  if (!ok) std::abort();  // the daemon sent something its clients refuse
}

// Reads what the daemon sent; answers false once it closed the connection.
bool drain(int fd) {
  std::vector<std::uint8_t> frame(kMaxFrameSize + 1);
  for (;;) {
    const ssize_t n = recv(fd, frame.data(), frame.size(), MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) return true;
    checkDaemonFrame({frame.data(), static_cast<std::size_t>(n)});
  }
}

void settle(EventLoop& loop) {
  while (loop.runOnce(0)) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    setDriverLogSink([](int, const std::string&) {});
    return true;
  }();
  (void)quiet;

  const std::span<const std::uint8_t> whole(data, size);
  std::string why;
  (void)decodeCall(whole, &why);
  (void)decodeReply(whole, &why);
  (void)decodeCompletion(whole);
  (void)decodeGreeting(whole);
  (void)ZVControlRequest::decode(whole);
  (void)ZVDeviceInfo::decode(whole);

  HidDeviceIdentity id;
  id.vendor = 0x5A56;
  id.product = 0x1704;
  const auto sample = sampleDescriptorForType(1);
  FakeHidraw hidraw(id, {sample.begin(), sample.end()});
  hidraw.setFeatureReport(1, {1, 2, 3});
  FakeUhid uhid;
  uhid.setRecording(false);
  FakeUsbControl usb;
  EventLoop loop;
  FakeSeatSessions seats;
  AccessRule access("seat0", 0, seats);
  DriverBackends backends;
  backends.hidraw = &hidraw;
  backends.uhid = &uhid;
  backends.usb = &usb;
  auto driver = makeDriver(kBusUSB, loop, std::move(backends),
                           {ZVMouseReporter::Mode::manual, DeviceWorker::Mode::inline_});
  std::string error;
  if (!driver->start(&error)) std::abort();
  UserClientServer server(loop, *driver, access);
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) return 0;
  server.adopt(ends[0], {0, 1});

  bool open = drain(ends[1]);
  for (std::size_t i = 0; open && i + 2 <= size;) {
    const std::size_t length = data[i] | static_cast<std::size_t>(data[i + 1]) << 8;
    i += 2;
    if (length == 0xFFFF) {
      const std::size_t n = std::min<std::size_t>(7, size - i);
      hidraw.sendReport({data + i, n});
      i += n;
    } else {
      const std::size_t n = std::min(length, size - i);
      send(ends[1], data + i, n, MSG_NOSIGNAL);
      i += n;
    }
    settle(loop);
    open = drain(ends[1]);
  }
  server.closeAll();
  close(ends[1]);
  driver->stop();
  settle(loop);
  return 0;
}
