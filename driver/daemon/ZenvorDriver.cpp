#include "daemon/ZenvorDriver.h"

#include <sys/epoll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/DebugLog.h"
#include "daemon/DriverLog.h"
#include "protocol/HIDConstants.h"
#include "protocol/PresentedMouse.h"
#include "protocol/SuiteVersion.h"

namespace zv::driver {

using namespace userclient;

std::string ZenvorDriver::lifecycleMessage(std::string_view transport, std::string_view event) {
  return "Skarn " + std::string(transport) + " driver v" + kSuiteVersion + " " +
         std::string(event) + "\n";
}

namespace {

// The largest report hidraw hands out (HID_MAX_BUFFER_SIZE).
constexpr std::size_t kMaxReport = 16384;
// Reports read per wake-up before the loop serves the clients again.
constexpr int kReportsPerWakeUp = 64;
constexpr unsigned kControlTimeoutMs = 1000;

std::uint64_t dataWordOf(const std::uint8_t* bytes) {
  std::uint64_t word = 0;
  for (int i = 0; i < 8; ++i) word |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  return word;
}

}  // namespace

ZenvorDriver::ZenvorDriver(EventLoop& loop, DriverBackends backends, DriverModes modes)
    : loop_(loop),
      backends_(std::move(backends)),
      modes_(modes),
      buffer_(kMaxReport),
      alive_(std::make_shared<bool>(true)),
      worker_(std::make_unique<DeviceWorker>(modes.worker)) {}

ZenvorDriver::~ZenvorDriver() {
  // The subclasses stop (their unload message is theirs); this only makes sure no watch
  // or thread outlives the object.
  if (running_) {
    loop_.unwatch(backends_.hidraw->fd());
    if (backends_.uhid->fd() >= 0) loop_.unwatch(backends_.uhid->fd());
  }
  worker_.reset();
  pipeline_.reset();
}

bool ZenvorDriver::start(std::string* error) {
  if (started_) return running_;
  started_ = true;
  HidrawDevice& hidraw = *backends_.hidraw;
  const HidDeviceIdentity& id = hidraw.identity();

  pipeline_ = std::make_unique<ReportPipeline>(
      id.product, hidraw.descriptor(),
      [this](const std::uint8_t* report, std::size_t length) { sendPointerReport(report, length); },
      modes_.reporter);
  if (const auto& failure = pipeline_->descriptorError()) {
    driverLog(LOG_WARNING,
              "the report descriptor of %04x:%04x cannot be parsed (%s); its reports pass "
              "through unchanged\n",
              id.vendor, id.product, failure->describe().c_str());
  } else if (const std::string summary = pipeline_->pointerReportSummary(); !summary.empty()) {
    // A mouse without a configuration: say what was found, or why nothing is rewritten.
    const bool nothingFound = summary == "no mouse collection";
    driverLog(nothingFound ? LOG_WARNING : LOG_INFO,
              "%04x:%04x has no configuration; read from its own descriptor: %s\n", id.vendor,
              id.product,
              nothingFound ? "no mouse collection with buttons or relative X and Y, its reports "
                             "pass through unchanged"
                           : summary.c_str());
  }
  // The type word is read with a vendor request that only our products understand; other
  // mice are never sent it.
  typeID_ = pipeline_->configuration() ? getDeviceTypeID() : 0;

  UhidCreateParams params;
  params.name = presented::markedName(id.name.empty() ? std::string("Mouse") : id.name);
  params.phys = presented::markedPhys(id.phys);
  params.uniq = id.uniq;
  params.bus = id.bus;
  params.vendor = id.vendor;
  params.product = id.product;
  params.version = id.version;
  const auto descriptor = pipeline_->systemDescriptor();
  params.descriptor.assign(descriptor.begin(), descriptor.end());
  const int created = backends_.uhid->create(params);
  driverLog(LOG_NOTICE, "%s", loadMessage().c_str());
  if (created != 0) {
    *error =
        std::string("cannot create the rewritten mouse through uhid: ") + std::strerror(-created);
    pipeline_.reset();
    return false;
  }
  uhidCreated_ = true;

  if (backends_.grab && !backends_.evdevNodes.empty()) {
    std::vector<std::string> problems;
    const int held = backends_.grab->grab(backends_.evdevNodes, &problems);
    for (const std::string& problem : problems) driverLog(LOG_WARNING, "%s\n", problem.c_str());
    driverLog(LOG_INFO, "grabbed %d of %zu event nodes of the mouse\n", held,
              backends_.evdevNodes.size());
  }

  running_ = true;
  loop_.watch(hidraw.fd(), EPOLLIN, [this](std::uint32_t) { onHidrawReadable(); });
  if (backends_.uhid->fd() >= 0) {
    loop_.watch(backends_.uhid->fd(), EPOLLIN, [this](std::uint32_t) { onUhidReadable(); });
  }
  return true;
}

void ZenvorDriver::stop() {
  if (!started_) return;
  started_ = false;
  if (running_) {
    loop_.unwatch(backends_.hidraw->fd());
    if (backends_.uhid->fd() >= 0) loop_.unwatch(backends_.uhid->fd());
  }
  running_ = false;
  worker_.reset();
  alive_.reset();
  // The reporter thread next: it sends to the uhid device.
  pipeline_.reset();
  if (uhidCreated_) backends_.uhid->destroy();
  uhidCreated_ = false;
  if (backends_.grab) backends_.grab->release();
  driverLog(LOG_NOTICE, "%s", unloadMessage().c_str());
}

void ZenvorDriver::deviceGone(const char* why) {
  if (!running_) return;
  driverLog(LOG_INFO, "the mouse is gone (%s)\n", why);
  loop_.unwatch(backends_.hidraw->fd());
  if (backends_.uhid->fd() >= 0) loop_.unwatch(backends_.uhid->fd());
  running_ = false;
  if (unplugHandler_) unplugHandler_();
}

void ZenvorDriver::onHidrawReadable() {
  for (int i = 0; i < kReportsPerWakeUp && running_; ++i) {
    const ssize_t n = backends_.hidraw->readReport(buffer_);
    if (n == 0) return;
    if (n < 0) {
      deviceGone(n == -ENODEV ? "unplugged" : std::strerror(static_cast<int>(-n)));
      return;
    }
    const auto length = static_cast<std::size_t>(n);
    if (reportObserver_) rawCopy_.assign(buffer_.begin(), buffer_.begin() + n);
    if (!pipeline_->handleReport(buffer_.data(), length)) continue;
    const int sent = backends_.uhid->input({buffer_.data(), length});
    if (sent != 0 && inputFailures_++ % 1000 == 0) {
      // Rate-limited: a stuck uhid device would otherwise log every report.
      driverLog(LOG_WARNING, "cannot pass a report on to the system: %s (%llu times)\n",
                std::strerror(-sent), static_cast<unsigned long long>(inputFailures_));
    }
    if (reportObserver_) reportObserver_(rawCopy_, {buffer_.data(), length});
  }
}

void ZenvorDriver::sendPointerReport(const std::uint8_t* report, std::size_t length) {
  backends_.uhid->input({report, length});
  if (pointerObserver_) pointerObserver_({report, length});
}

void ZenvorDriver::onUhidReadable() {
  // A bounded number per wake-up; the rest wake the loop again.
  for (int i = 0; i < 16 && running_; ++i) {
    auto request = backends_.uhid->readRequest();
    if (!request) return;
    handleUhidRequest(std::move(*request));
  }
}

void ZenvorDriver::submit(std::function<void(const Post& post)> job) {
  if (!worker_) return;
  std::weak_ptr<bool> alive = alive_;
  EventLoop* loop = &loop_;
  worker_->submit([alive, loop, job = std::move(job)] {
    const Post post = [alive, loop](std::function<void()> task) {
      loop->post([alive, task = std::move(task)] {
        if (alive.lock()) task();
      });
    };
    job(post);
  });
}

void ZenvorDriver::handleUhidRequest(UhidRequest request) {
  HidrawDevice* hidraw = backends_.hidraw;
  UhidDevice* uhid = backends_.uhid;
  switch (request.kind) {
    case UhidRequest::Kind::output:
      submit([hidraw, data = std::move(request.data)](const Post&) {
        const int written = hidraw->writeOutput(data);
        if (written < 0) {
          driverLog(LOG_WARNING, "cannot send an output report to the mouse: %s\n",
                    std::strerror(-written));
        }
      });
      return;
    case UhidRequest::Kind::getReport: {
      if (request.reportType != UhidRequest::feature) {
        uhid->answerGetReport(request.id, EIO, {});
        return;
      }
      const std::uint32_t id = request.id;
      const std::uint8_t number = request.reportNumber;
      submit([hidraw, uhid, id, number](const Post& post) {
        std::vector<std::uint8_t> report(4096);
        report[0] = number;
        const int n = hidraw->getFeature(report);
        report.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        post([uhid, id, n, report = std::move(report)] {
          uhid->answerGetReport(id, static_cast<std::uint16_t>(n < 0 ? -n : 0), report);
        });
      });
      return;
    }
    case UhidRequest::Kind::setReport: {
      const std::uint32_t id = request.id;
      const std::uint8_t type = request.reportType;
      if (type == UhidRequest::input) {
        uhid->answerSetReport(id, EIO);
        return;
      }
      submit([hidraw, uhid, id, type, data = std::move(request.data)](const Post& post) {
        const int n =
            type == UhidRequest::feature ? hidraw->setFeature(data) : hidraw->writeOutput(data);
        post([uhid, id, n] {
          uhid->answerSetReport(id, static_cast<std::uint16_t>(n < 0 ? -n : 0));
        });
      });
      return;
    }
    case UhidRequest::Kind::start:
    case UhidRequest::Kind::stop:
    case UhidRequest::Kind::open:
    case UhidRequest::Kind::close:
      driverLog(LOG_DEBUG, "uhid: %s\n",
                request.kind == UhidRequest::Kind::start  ? "started"
                : request.kind == UhidRequest::Kind::stop ? "stopped"
                : request.kind == UhidRequest::Kind::open ? "opened"
                                                          : "closed");
      return;
  }
}

void ZenvorDriver::addUserClient(ZVUserClient* client) {
  if (ZVReportHandler* handler = reportHandler()) handler->addUserClient(client);
}

void ZenvorDriver::removeUserClient(ZVUserClient* client) {
  if (ZVReportHandler* handler = reportHandler()) handler->removeUserClient(client);
}

ZVDeviceInfo ZenvorDriver::getDeviceInfo() const {
  return {identity().vendor, identity().product, typeID_};
}

void ZenvorDriver::controlRequest(const ZVControlRequest& request, bool privileged,
                                  ControlDone done) {
  if ((request.length & 0xFFFF) > 8) {
    done(kReturnBadArgument, 0);
    return;
  }
  if (!request.deviceToHost() && !privileged) {
    done(kReturnNotPrivileged, 0);
    return;
  }
  // `this` is safe on the worker: stop() joins it before the driver goes away.
  submit([this, request, done = std::move(done)](const Post& post) mutable {
    ZVControlRequest r = request;
    const std::uint32_t code = performControlRequest(r);
    post([done = std::move(done), code, data = r.data] { done(code, data); });
  });
}

void ZenvorDriver::getFeatureByte(std::uint8_t reportID, FeatureDone done) {
  HidrawDevice* hidraw = backends_.hidraw;
  submit([hidraw, reportID, done = std::move(done)](const Post& post) mutable {
    std::uint8_t report[8] = {};
    report[0] = reportID;
    const int n = hidraw->getFeature(report);
    const std::uint8_t byte = n >= 2 ? report[1] : 0;
    const std::uint32_t code = n < 0 ? kReturnError : kReturnSuccess;
    post([done = std::move(done), code, byte] { done(code, byte); });
  });
}

void ZenvorDriver::setMouseAxis(std::uint32_t element, std::uint32_t axis) {
  driverLog(LOG_DEBUG, "set mosue axis %d\n", static_cast<int>(element));
  if (ZVReportHandler* handler = reportHandler()) handler->setMouseAxis(element, axis);
}

std::uint32_t com_Zenvor_driver_usb_Skarn::performControlRequest(ZVControlRequest& request) {
  if (!usb()) return kReturnNotAttached;
  std::uint8_t data[8];
  for (int i = 0; i < 8; ++i) data[i] = static_cast<std::uint8_t>(request.data >> (8 * i));
  const std::size_t length = request.length & 0xFFFF;  // at most 8: checked by the caller
  if (request.deviceToHost()) std::memset(data, 0, sizeof data);
  const int n = usb()->controlTransfer(
      static_cast<std::uint8_t>(request.requestType), static_cast<std::uint8_t>(request.request),
      static_cast<std::uint16_t>(request.value), static_cast<std::uint16_t>(request.index),
      {data, length}, kControlTimeoutMs);
  if (n < 0) {
    driverLog(LOG_WARNING, "control request %02x/%02x to the mouse failed: %s\n",
              static_cast<unsigned>(request.requestType & 0xFF),
              static_cast<unsigned>(request.request & 0xFF), std::strerror(-n));
    return kReturnError;
  }
  if (request.deviceToHost()) request.data = dataWordOf(data);
  return kReturnSuccess;
}

std::uint32_t com_Zenvor_driver_usb_Skarn::getDeviceTypeID() {
  ZVControlRequest request;
  request.requestType = 0xC0;
  request.request = 0x90;
  request.value = 0;
  request.index = 11;
  request.length = 2;
  if (performControlRequest(request) != kReturnSuccess) return 0;
  return static_cast<std::uint32_t>(request.data & 0xFFFF);
}

bool drivesInterface(std::span<const std::uint8_t> descriptor, std::string* why) {
  const auto parsed = HIDOpenReportDescriptor(descriptor);
  if (!parsed) return true;
  for (const HIDCollectionUsage& collection : parsed->topLevelCollections()) {
    if (PointerReportLayout::isMouseCollection(collection) ||
        (collection.usagePage == hid::kGenericDesktopPage && collection.usage == 0x05)) {
      return true;
    }
  }
  const HIDCapabilities& caps = parsed->getCapabilities();
  char text[96];
  std::snprintf(text, sizeof text, "its primary usage is page 0x%02X usage 0x%02X, not a mouse",
                caps.usagePage, caps.usage);
  *why = text;
  return false;
}

std::unique_ptr<ZenvorDriver> makeDriver(std::uint16_t bus, EventLoop& loop,
                                         DriverBackends backends, DriverModes modes) {
  if (bus == kBusBluetooth) {
    return std::make_unique<com_Zenvor_driver_bt_Skarn>(loop, std::move(backends), modes);
  }
  return std::make_unique<com_Zenvor_driver_usb_Skarn>(loop, std::move(backends), modes);
}

}  // namespace zv::driver
