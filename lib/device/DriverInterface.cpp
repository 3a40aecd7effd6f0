#include "device/DriverInterface.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "device/DaemonConnection.h"
#include "device/DriverSets.h"
#include "log/Log.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "protocol/HIDConstants.h"
#include "text/Numbers.h"

namespace zv::device {

namespace {

namespace uc = userclient;
using log::ZVLogLevel;

std::mutex timingMutex;
DriverTiming& currentTiming() {
  static auto* timing = new DriverTiming;
  return *timing;
}

std::string hex4(std::int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%04llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

DriverTiming DriverInterface::timing() {
  std::lock_guard lock(timingMutex);
  return currentTiming();
}

void DriverInterface::setTiming(const DriverTiming& timing) {
  std::lock_guard lock(timingMutex);
  currentTiming() = timing;
}

DriverInterface::DriverInterface(std::int64_t vendorId, std::int64_t productId,
                                 std::uint32_t typeId, DriverInterfaceDelegate* delegate,
                                 std::string interfaceName)
    : vendorId_(vendorId),
      productId_(productId),
      typeId_(typeId),
      interfaceName_(std::move(interfaceName)),
      delegate_(delegate) {}

std::shared_ptr<DriverInterface> DriverInterface::create(std::int64_t vendorId,
                                                         std::int64_t productId,
                                                         std::uint32_t typeId,
                                                         DriverInterfaceDelegate* delegate,
                                                         std::string_view interfaceName) {
  std::shared_ptr<DriverInterface> interface(new DriverInterface(
      vendorId, productId, typeId, delegate,
      std::string(interfaceName.empty() ? kDefaultInterfaceName : interfaceName)));
  RegisterDriver(interface);
  return interface;
}

std::shared_ptr<DriverInterface> DriverInterface::create(std::int64_t vendorId,
                                                         std::int64_t productId,
                                                         DriverInterfaceDelegate* delegate) {
  std::shared_ptr<DriverInterface> interface(
      new DriverInterface(vendorId, productId, 0, delegate, std::string(kHIDDeviceInterfaceName)));
  RegisterDriver(interface);
  return interface;
}

DriverInterface::~DriverInterface() {
  if (client_) client_->close();
  if (opened_) opened_->close();
}

void DriverInterface::setDelegate(DriverInterfaceDelegate* delegate) {
  delegate_.store(delegate);
}

std::string DriverInterface::description() const {
  return "DriverInterface " + hex4(vendorId_) + ":" + hex4(productId_) + " " + interfaceName_;
}

// --- Remapping -----------------------------------------------------------------------------

void DriverInterface::setElementRemapping(const json::Dictionary& remapping) {
  std::map<std::uint32_t, std::uint32_t> to;
  std::map<std::uint32_t, std::uint32_t> from;
  for (const auto& [key, value] : remapping) {
    std::uint32_t profileElement = 0;
    if (!text::parseWholeNumber(key, profileElement) || !value.isNumber() || value.asNumber() < 0 ||
        value.asNumber() > 0xFFFFFFFFu) {
      ZV_LOG(ZVLogLevel::Error, this,
             "ElementRemapping entry \"%@\" skipped: keys are decimal element numbers and "
             "values numbers",
             key);
      continue;
    }
    const auto deviceElement = static_cast<std::uint32_t>(value.asNumber());
    to[profileElement] = deviceElement;
    from[deviceElement] = profileElement;
  }
  std::lock_guard lock(mutex_);
  remapToDevice_ = std::move(to);
  remapFromDevice_ = std::move(from);
}

std::uint32_t DriverInterface::toDevice(std::uint32_t element) const {
  std::lock_guard lock(mutex_);
  const auto found = remapToDevice_.find(element);
  return found == remapToDevice_.end() ? element : found->second;
}

std::uint32_t DriverInterface::fromDevice(std::uint32_t element) const {
  std::lock_guard lock(mutex_);
  const auto found = remapFromDevice_.find(element);
  return found == remapFromDevice_.end() ? element : found->second;
}

// --- Connection ----------------------------------------------------------------------------

std::vector<std::string> DriverInterface::servicePaths(const platform::HidDeviceRef& device) const {
  const std::filesystem::path folder = platform::servicesFolder();
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const auto service = uc::parseServiceName(name);
    if (!service || service->driverClass != interfaceName_) continue;
    if (!it->is_socket(ec)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  // The daemon names its service after the hidraw node it serves ("hidraw3"), or
  // "simulated-PPPP" when it simulates the product; that one comes first.
  std::vector<std::string> preferred;
  if (device) {
    preferred.push_back(
        uc::serviceName(interfaceName_, std::filesystem::path(device->path()).filename().string()));
  }
  preferred.push_back(uc::serviceName(interfaceName_, "simulated-" + hex4(productId_)));
  for (auto first = preferred.rbegin(); first != preferred.rend(); ++first) {
    const auto found = std::find(names.begin(), names.end(), *first);
    if (found != names.end()) std::rotate(names.begin(), found, found + 1);
  }
  std::vector<std::string> paths;
  for (const std::string& name : names) paths.push_back((folder / name).string());
  return paths;
}

bool DriverInterface::openZVDriverConnection() {
  return openConnection(hidDevice());
}

bool DriverInterface::openConnection(const platform::HidDeviceRef& device) {
  const std::vector<std::string> paths = servicePaths(device);
  std::string failure;
  std::shared_ptr<DaemonConnection> client;
  for (const std::string& path : paths) {
    auto opened = DaemonConnection::open(path);
    if (opened) {
      client = std::move(*opened);
      break;
    }
    failure = opened.failure().message;
  }
  if (paths.empty()) {
    failure = "no driver service of class " + interfaceName_ + " in " +
              platform::servicesFolder().string();
  }
  std::lock_guard lock(mutex_);
  opened_ = client;
  loaded_ = client != nullptr;
  lastFailure_ = client ? std::string() : failure;
  return loaded_;
}

void DriverInterface::setHIDDevice(platform::HidDeviceRef device) {
  if (!device) {
    std::shared_ptr<DaemonConnection> client;
    {
      std::lock_guard lock(mutex_);
      if (!connected_) return;
      elementMap_.clear();
      connected_ = false;
      ++generation_;
      client = std::move(client_);
    }
    ZV_LOG(ZVLogLevel::Notice, this, "disconnected");
    if (DriverInterfaceDelegate* delegate = delegate_.load()) delegate->onDisconnect(*this);
    if (client) client->close();
    return;
  }
  if (connected()) return;
  if (!openConnection(device)) return;

  std::shared_ptr<DaemonConnection> client;
  std::uint64_t generation;
  {
    std::lock_guard lock(mutex_);
    connected_ = true;
    hidDevice_ = device;
    client = client_ = std::move(opened_);
    generation = ++generation_;
  }
  ZV_LOG(ZVLogLevel::Notice, this, "connected to %@ through %@", device->path(), client->path());
  std::weak_ptr<DriverInterface> self = weak_from_this();
  client->watch(
      platform::RunLoop::main(),
      [self](const uc::Completion& completion) {
        if (auto interface = self.lock()) {
          interface->elementNotificationCallback(completion.reference, completion.result,
                                                 completion.arguments.data(),
                                                 completion.argumentCount);
        }
      },
      [self, generation] {
        if (auto interface = self.lock()) interface->connectionEnded(generation);
      });
  if (const auto registered = client->call(uc::sSetElementEventCallback, {}, {}, 0, 0,
                                           reinterpret_cast<std::uintptr_t>(this));
      !registered) {
    ZV_LOG(ZVLogLevel::Error, this, "cannot register for element events: %@",
           registered.failure().message);
  }
  platform::RunLoop::main().addTimer(timing().registerDelay, [self, generation] {
    if (auto interface = self.lock()) interface->finishConnect(generation);
  });
}

void DriverInterface::finishConnect(std::uint64_t generation) {
  std::set<std::uint32_t> overrides;
  platform::HidDeviceRef device;
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_ || !connected_) return;
    overrides = overrides_;
    device = hidDevice_;
  }
  for (std::uint32_t element : overrides) callDriver(uc::sElementOverride, {element, 1});

  if (const auto opened = device->open(); opened) {
    std::weak_ptr<DriverInterface> self = weak_from_this();
    device->setInputReportHandler([self](std::span<const std::uint8_t> report) {
      if (auto interface = self.lock()) interface->onInputReport(report);
    });
    if (const auto sent = device->setReport(platform::HidReportType::Output, 0, kConnectReport);
        !sent) {
      ZV_LOG(ZVLogLevel::Info, this, "the device did not take the connect report: %@",
             sent.failure().message);
    }
  } else {
    ZV_LOG(ZVLogLevel::Notice, this, "no raw reports from the device: %@",
           opened.failure().message);
  }
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
  }
  if (DriverInterfaceDelegate* delegate = delegate_.load()) delegate->onConnect(*this);
}

void DriverInterface::connectionEnded(std::uint64_t generation) {
  platform::HidDeviceRef device;
  std::string path;
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_ || !connected_) return;
    device = hidDevice_;
    path = client_ ? client_->path() : std::string();
  }
  ZV_LOG(ZVLogLevel::Notice, this,
         "the driver at %@ ended the connection; connecting again while the device is present",
         path);
  setHIDDevice(nullptr);
  std::weak_ptr<DriverInterface> self = weak_from_this();
  platform::RunLoop::main().addTimer(timing().retryInterval, [self, device] {
    auto interface = self.lock();
    const DriverSet* set =
        interface ? findRegisteredDeviceByVidPid(interface->vendorId(), interface->productId())
                  : nullptr;
    if (set && set->device == device) interface->connectWithRetry(device);
  });
}

void DriverInterface::connectWithRetry(platform::HidDeviceRef device, int attemptsLeft) {
  if (!device) return;
  if (attemptsLeft < 0) {
    attemptsLeft = std::max(1, timing().connectAttempts);
    ++retryChain_;
  }
  const std::uint64_t chain = retryChain_;
  setHIDDevice(device);
  if (connected()) return;
  std::string failure;
  {
    std::lock_guard lock(mutex_);
    failure = lastFailure_;
  }
  if (--attemptsLeft <= 0) {
    ZV_LOG(ZVLogLevel::Error, this,
           "gave up connecting %@ after %@ attempts: %@. Is zenvor-driver running for this "
           "mouse? It connects when the mouse is plugged in again or the program restarts.",
           device->path(), std::max(1, timing().connectAttempts), failure);
    return;
  }
  ZV_LOG(ZVLogLevel::Info, this, "not connected yet (%@); trying again", failure);
  std::weak_ptr<DriverInterface> self = weak_from_this();
  platform::RunLoop::main().addTimer(timing().retryInterval, [self, device, attemptsLeft, chain] {
    auto interface = self.lock();
    if (!interface || interface->retryChain_ != chain || interface->connected()) return;
    const DriverSet* set =
        findRegisteredDeviceByVidPid(interface->vendorId(), interface->productId());
    if (!set || set->device != device) return;
    interface->connectWithRetry(device, attemptsLeft);
  });
}

// --- Element events ------------------------------------------------------------------------

void DriverInterface::elementNotificationCallback(std::uint64_t /*reference*/,
                                                  std::uint32_t /*result*/,
                                                  const std::uint64_t* arguments,
                                                  std::uint32_t count) {
  if (count != uc::kCompletionArguments || !arguments) return;
  onElementEvent(static_cast<std::uint32_t>(arguments[0]), static_cast<std::int32_t>(arguments[1]),
                 0);
}

int DriverInterface::elementSize(std::uint32_t element) {
  return element == hid::kXAxisElement || element == hid::kYAxisElement ||
                 element == hid::kZAxisElement
             ? 16
             : 1;
}

void DriverInterface::onElementEvent(std::uint32_t element, std::int32_t value,
                                     std::int32_t /*oldValue*/) {
  element = fromDevice(element);
  const int size = elementSize(element);
  if (size > 1) {
    // Single precision, as profiles were written against: 65535 gives 99, not 100.
    float scaled = static_cast<float>(static_cast<std::uint32_t>(value));
    scaled /= static_cast<float>(1u << size);
    scaled *= 100.0f;
    value = static_cast<std::int32_t>(scaled);
  }
  {
    std::lock_guard lock(mutex_);
    const auto found = elementMap_.find(element);
    if (found != elementMap_.end() && found->second == value) return;
    elementMap_[element] = value;
  }
  if (DriverInterfaceDelegate* delegate = delegate_.load()) {
    delegate->onElementEvent(element, value, 0);
  }
}

void DriverInterface::onInputReport(std::span<const std::uint8_t> report) {
  if (!connected()) return;
  if (DriverInterfaceDelegate* delegate = delegate_.load()) {
    delegate->onInputReport(report.first(std::min(report.size(), kReportBufferSize)));
  }
}

// --- Device operations ---------------------------------------------------------------------

std::optional<uc::Reply> DriverInterface::callDriver(std::uint32_t method,
                                                     const std::vector<std::uint64_t>& scalars,
                                                     const std::vector<std::uint8_t>& structure,
                                                     std::uint32_t scalarsOut,
                                                     std::uint32_t structOut) {
  std::shared_ptr<DaemonConnection> client;
  {
    std::lock_guard lock(mutex_);
    client = client_;
  }
  if (!client) return std::nullopt;
  auto reply = client->call(method, scalars, structure, scalarsOut, structOut);
  if (!reply) {
    ZV_LOG(ZVLogLevel::Error, this, "%@ failed: %@", uc::methodName(method),
           reply.failure().message);
    return std::nullopt;
  }
  if (reply->result != uc::kReturnSuccess) {
    ZV_LOG(ZVLogLevel::Notice, this, "%@ answered %@", uc::methodName(method),
           uc::returnCodeName(reply->result));
  }
  return std::move(*reply);
}

void DriverInterface::overrideElement(std::uint32_t element, bool enabled) {
  const std::uint32_t deviceElement = toDevice(element);
  {
    std::lock_guard lock(mutex_);
    if (enabled) {
      overrides_.insert(deviceElement);
    } else {
      overrides_.erase(deviceElement);
    }
  }
  callDriver(uc::sElementOverride, {deviceElement, enabled ? 1u : 0u});
}

bool DriverInterface::setExclusive(bool exclusive) {
  callDriver(uc::sSeizeOverrides, {exclusive ? 1u : 0u});
  return true;
}

bool DriverInterface::setPrecisionAim(std::uint64_t value, std::uint64_t button) {
  callDriver(uc::sSetPrecAim, {value, button});
  return true;
}

bool DriverInterface::setXCPI(std::uint64_t x, std::uint64_t y, std::uint64_t mode) {
  callDriver(uc::sSetCPI, {x, y, mode});
  return true;
}

bool DriverInterface::useHIDElement(std::uint32_t element, int axis) {
  callDriver(uc::sSetMouseAxis, {element & 0xFFFFu, static_cast<std::uint64_t>(axis)});
  return true;
}

void DriverInterface::setMouseAxis(std::uint32_t element, int axis) {
  callDriver(uc::sSetMouseAxis, {toDevice(element), static_cast<std::uint64_t>(axis)});
}

bool DriverInterface::setMouseAxisSensitivity(std::int64_t value, int axis) {
  callDriver(uc::sSetMouseAxisSensitivity,
             {static_cast<std::uint64_t>(value), static_cast<std::uint64_t>(axis)});
  return true;
}

bool DriverInterface::setHatElement(std::uint32_t element) {
  callDriver(uc::sSetHatControl, {element});
  return true;
}

std::uint8_t DriverInterface::getFeatureByte(std::uint8_t reportId) {
  const auto reply = callDriver(uc::sGetFeatureByte, {reportId}, {}, 1, 0);
  if (!reply || reply->scalars.empty()) return 0;
  return static_cast<std::uint8_t>(reply->scalars[0]);
}

void DriverInterface::setButtonStates(std::uint64_t buttons) {
  callDriver(uc::sSetButtonStates, {buttons});
}

bool DriverInterface::deviceInfo(uc::ZVDeviceInfo& info) {
  const auto reply = callDriver(uc::sGetDeviceInfo, {}, {}, 0, uc::kDeviceInfoSize);
  if (reply && reply->result == uc::kReturnSuccess) {
    if (const auto decoded = uc::ZVDeviceInfo::decode(reply->structure)) info = *decoded;
  }
  return true;
}

bool DriverInterface::sendControlRequest(uc::ZVControlRequest& request) {
  const auto bytes = request.encode();
  const auto reply = callDriver(uc::sControlRequest, {}, {bytes.begin(), bytes.end()}, 0, 8);
  if (reply && reply->result == uc::kReturnSuccess && reply->structure.size() == 8) {
    request.data = uc::wire::getU64(reply->structure.data());
  }
  return true;
}

std::uint16_t DriverInterface::readFromDeviceMemory(std::int32_t address) {
  uc::ZVControlRequest request;
  request.requestType = 0xC0;
  request.request = 0x90;
  request.value = 0;
  request.index = static_cast<std::uint64_t>(static_cast<std::uint32_t>(address));
  request.length = 2;
  sendControlRequest(request);
  return static_cast<std::uint16_t>(request.data);
}

// --- Reports ---------------------------------------------------------------------------------

bool DriverInterface::setReport(std::span<const std::uint8_t> bytes) {
  platform::HidDeviceRef device;
  {
    std::lock_guard lock(mutex_);
    if (!connected_) return false;
    device = hidDevice_;
  }
  std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
  std::weak_ptr<DriverInterface> self = weak_from_this();
  platform::RunLoop::main().post([self, device, copy = std::move(copy)] {
    if (const auto sent = device->setReport(platform::HidReportType::Output, 0, copy); !sent) {
      if (auto interface = self.lock()) {
        ZV_LOG(ZVLogLevel::Notice, interface.get(), "output report not sent: %@",
               sent.failure().message);
      }
    }
  });
  return true;
}

bool DriverInterface::setFeature(std::span<const std::uint8_t> bytes) {
  const platform::HidDeviceRef device = hidDevice();
  if (!device || bytes.empty()) return false;
  if (const auto sent = device->setReport(platform::HidReportType::Feature, bytes[0], bytes);
      !sent) {
    ZV_LOG(ZVLogLevel::Notice, this, "feature report not sent: %@", sent.failure().message);
    return false;
  }
  return true;
}

bool DriverInterface::getFeature(std::span<std::uint8_t> buffer, std::size_t& length) {
  length = std::min({length, kReportBufferSize, buffer.size()});
  const platform::HidDeviceRef device = hidDevice();
  if (!device || length == 0) {
    length = 0;
    return false;
  }
  std::uint8_t report[kReportBufferSize] = {};
  report[0] = buffer[0];
  const auto received = device->getReport(platform::HidReportType::Feature, buffer[0],
                                          std::span<std::uint8_t>(report, length));
  if (!received) {
    ZV_LOG(ZVLogLevel::Notice, this, "feature report %@ not read: %@", unsigned{buffer[0]},
           received.failure().message);
    length = 0;
    return false;
  }
  length = std::min(length, *received);
  std::copy_n(report, length, buffer.begin());
  return true;
}

// --- State -----------------------------------------------------------------------------------

platform::HidDeviceRef DriverInterface::hidDevice() const {
  std::lock_guard lock(mutex_);
  return hidDevice_;
}

bool DriverInterface::loaded() const {
  std::lock_guard lock(mutex_);
  return loaded_;
}

bool DriverInterface::connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

ElementMap DriverInterface::elementMap() const {
  std::lock_guard lock(mutex_);
  return elementMap_;
}

std::set<std::uint32_t> DriverInterface::overrideDictionary() const {
  std::lock_guard lock(mutex_);
  return overrides_;
}

std::string DriverInterface::lastFailure() const {
  std::lock_guard lock(mutex_);
  return lastFailure_;
}

std::string DriverInterface::servicePath() const {
  std::lock_guard lock(mutex_);
  return connected_ && client_ ? client_->path() : std::string();
}

}  // namespace zv::device
