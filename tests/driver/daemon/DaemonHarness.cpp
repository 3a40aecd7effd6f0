#include "DaemonHarness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "core/SampleDescriptors.h"

namespace zv::driver::testing {

using namespace userclient;

bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds bound) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pred();
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zvdaemon-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  chmod(path_.c_str(), 0755);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

LogCapture::LogCapture() {
  setDriverDebugLogging(true);
  setDriverLogSink([this](int, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(text);
  });
}

LogCapture::~LogCapture() {
  setDriverLogSink(nullptr);
  setDriverDebugLogging(false);
}

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool LogCapture::contains(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& line : lines_) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

namespace {

HidDeviceIdentity identityFor(const HarnessOptions& o) {
  HidDeviceIdentity id;
  id.bus = o.bus;
  id.vendor = 0x5A56;
  id.product = o.product;
  id.version = 0x0110;
  id.name = "Test Mouse";
  id.phys = "usb-test/input0";
  id.uniq = "serial-1";
  return id;
}

std::vector<std::uint8_t> descriptorFor(const HarnessOptions& o) {
  if (!o.descriptor.empty()) return o.descriptor;
  const auto sample = sampleDescriptorForType(GetDeviceTypeFromDevice(o.product));
  return {sample.begin(), sample.end()};
}

}  // namespace

DaemonHarness::DaemonHarness(HarnessOptions options)
    : hidraw(identityFor(options), descriptorFor(options)), access("seat0", 0, seats) {
  usb.setAnswer(0x90, 11, {0x34, 0x12});  // the mouse's own type word
  DriverBackends backends;
  backends.hidraw = &hidraw;
  backends.uhid = &uhid;
  backends.grab = &grab;
  backends.evdevNodes = options.evdevNodes;
  backends.usb = &usb;
  driver = makeDriver(options.bus, loop, std::move(backends),
                      {ZVMouseReporter::Mode::manual, options.worker});
  daemon = std::make_unique<Daemon>(loop, *driver, access);
  if (options.start) {
    std::string error;
    EXPECT_TRUE(start(&error)) << error;
  }
}

bool DaemonHarness::start(std::string* error) {
  std::promise<std::pair<bool, std::string>> started;
  auto result = started.get_future();
  thread_ = std::thread([this, &started] {
    std::string why;
    const bool ok = daemon->start(folder_.path(), "test-mouse", &why);
    if (ok) path_ = daemon->server().path();
    started.set_value({ok, why});
    if (ok) exitStatus_ = daemon->run();
    finished_ = true;
  });
  const auto [ok, why] = result.get();
  if (error) *error = why;
  return ok;
}

DaemonHarness::~DaemonHarness() {
  if (thread_.joinable()) {
    if (!finished_) loop.post([this] { daemon->shutdown("the test ends"); });
    thread_.join();
  }
  daemon.reset();
  driver.reset();
}

std::unique_ptr<UserClientConnection> DaemonHarness::connect() {
  auto c = std::make_unique<UserClientConnection>();
  std::string error;
  EXPECT_EQ(c->open(path_, &error), kReturnSuccess) << error;
  return c;
}

std::unique_ptr<UserClientConnection> DaemonHarness::listener(std::uint64_t reference) {
  auto c = connect();
  std::string error;
  const auto reply = c->call(sSetElementEventCallback, {}, {}, 0, 0, &error, reference);
  EXPECT_TRUE(reply && reply->result == kReturnSuccess) << error;
  return c;
}

void DaemonHarness::report(const std::vector<std::uint8_t>& bytes) {
  const std::size_t before = uhid.inputCount();
  ASSERT_TRUE(hidraw.sendReport(bytes));
  ASSERT_TRUE(waitFor([&] { return uhid.inputCount() > before; }));
}

std::size_t DaemonHarness::clientCount() {
  return onLoop([this] { return daemon->server().clientCount(); });
}

std::size_t DaemonHarness::handlerClientCount() {
  return onLoop([this] {
    ZVReportHandler* handler = driver->reportHandler();
    return handler ? handler->userClients().size() : std::size_t{0};
  });
}

std::ostream& operator<<(std::ostream& out, const Event& e) {
  return out << "{0x" << std::hex << e.element << std::dec << ", " << e.value << "}";
}

std::vector<Event> drainEvents(UserClientConnection& c) {
  std::string error;
  const auto sync = c.call(sUserClientOpen, {}, {}, 0, 0, &error);
  EXPECT_TRUE(sync.has_value()) << error;
  std::vector<Event> events;
  while (auto completion = c.readCompletion(0, &error)) {
    EXPECT_EQ(completion->argumentCount, kCompletionArguments);
    events.push_back({completion->element(), completion->value()});
  }
  return events;
}

std::optional<Reply> rawCall(UserClientConnection& c, std::uint32_t method,
                             std::vector<std::uint64_t> scalars,
                             std::vector<std::uint8_t> structure, std::uint32_t scalarsOut,
                             std::uint32_t structOut) {
  std::string error;
  auto reply =
      c.call(method, std::move(scalars), std::move(structure), scalarsOut, structOut, &error);
  EXPECT_TRUE(reply.has_value()) << error;
  return reply;
}

std::optional<Reply> call(UserClientConnection& c, std::uint32_t method,
                          std::vector<std::uint64_t> scalars, std::vector<std::uint8_t> structure) {
  const MethodShape& shape = kMethodShapes[method];
  return rawCall(c, method, std::move(scalars), std::move(structure), shape.scalarsOut,
                 shape.structOut);
}

}  // namespace zv::driver::testing
