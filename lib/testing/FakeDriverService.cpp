#include "testing/FakeDriverService.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/Paths.h"
#include "protocol/UserClientProtocol.h"

namespace zv::testing {

namespace uc = userclient;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 10s;

std::string describeCall(const uc::Call& call) {
  const char* name = uc::methodName(call.method);
  std::string text = name ? name : "method " + std::to_string(call.method);
  for (std::uint64_t scalar : call.scalars) {
    char number[24];
    std::snprintf(number, sizeof number, scalar > 9 ? " 0x%llx" : " %llu",
                  static_cast<unsigned long long>(scalar));
    text += number;
  }
  if (!call.structure.empty()) text += " [" + std::to_string(call.structure.size()) + " bytes]";
  return text;
}

}  // namespace

FakeDriverService::FakeDriverService(std::string driverClass, std::string deviceId)
    : path_(uc::servicePath(platform::servicesFolder().string(), driverClass, deviceId)) {
  std::filesystem::create_directories(platform::servicesFolder());
  std::filesystem::remove(path_);
  listenFd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long");
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  if (listenFd_ < 0 ||
      ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 8) != 0) {
    throw std::runtime_error("cannot listen at " + path_ + ": " + std::strerror(errno));
  }
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { serve(); });
}

FakeDriverService::~FakeDriverService() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  const std::uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  thread_.join();
  for (const Client& client : clients_) ::close(client.fd);
  ::close(listenFd_);
  ::close(wakeFd_);
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

void FakeDriverService::sendLocked(int fd, const std::vector<std::uint8_t>& frame) {
  (void)::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void FakeDriverService::serve() {
  std::vector<std::uint8_t> buffer(uc::kMaxFrameSize + 1);
  for (;;) {
    std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      for (const Client& client : clients_) fds.push_back({client.fd, POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) {
      std::uint64_t count;
      (void)!::read(wakeFd_, &count, sizeof count);
      continue;
    }
    if (fds[1].revents & POLLIN) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        std::lock_guard lock(mutex_);
        uc::Greeting greeting;
        greeting.result = refuse_ ? uc::kReturnNotPrivileged : uc::kReturnSuccess;
        const auto bytes = uc::encodeGreeting(greeting);
        sendLocked(fd, {bytes.begin(), bytes.end()});
        if (refuse_) {
          ::close(fd);
        } else {
          clients_.push_back({fd, false});
        }
        changed_.notify_all();
      }
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      const ssize_t got = ::recv(fds[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
      std::lock_guard lock(mutex_);
      const auto client = std::find_if(clients_.begin(), clients_.end(),
                                       [&](const Client& c) { return c.fd == fds[i].fd; });
      if (client == clients_.end()) continue;
      if (got <= 0) {
        ::close(client->fd);
        clients_.erase(client);
        changed_.notify_all();
        continue;
      }
      answer(*client, {buffer.begin(), buffer.begin() + got});
    }
  }
}

void FakeDriverService::answer(Client& client, const std::vector<std::uint8_t>& frame) {
  const auto call = uc::decodeCall(frame);
  if (!call) return;
  uc::Reply reply{call->method, call->tag, uc::checkShape(*call), {}, {}};
  if (reply.result == uc::kReturnSuccess) {
    const uc::MethodShape& shape = uc::kMethodShapes[call->method];
    reply.scalars.assign(shape.scalarsOut, 0);
    reply.structure.assign(shape.structOut, 0);
    if (call->method == uc::sSetElementEventCallback) client.registered = true;
    if (call->method == uc::sGetFeatureByte) reply.scalars[0] = featureByte_;
    if (call->method == uc::sControlRequest)
      uc::wire::putU64(reply.structure.data(), controlAnswer_);
    if (call->method == uc::sGetDeviceInfo) {
      const auto info = uc::ZVDeviceInfo{0x5A56, 0x1704, 1}.encode();
      reply.structure.assign(info.begin(), info.end());
    }
  }
  calls_.push_back(describeCall(*call));
  sendLocked(client.fd, uc::encodeReply(reply));
  changed_.notify_all();
}

std::vector<std::string> FakeDriverService::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void FakeDriverService::clearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

bool FakeDriverService::waitForCall(const std::string& call) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kPatience, [&] {
    return std::find(calls_.begin(), calls_.end(), call) != calls_.end();
  });
}

bool FakeDriverService::waitForRegistered(std::size_t count) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kPatience, [&] {
    return std::size_t(std::count_if(clients_.begin(), clients_.end(),
                                     [](const Client& c) { return c.registered; })) >= count;
  });
}

std::size_t FakeDriverService::registeredClients() const {
  std::lock_guard lock(mutex_);
  return std::size_t(std::count_if(clients_.begin(), clients_.end(),
                                   [](const Client& c) { return c.registered; }));
}

std::size_t FakeDriverService::connectedClients() const {
  std::lock_guard lock(mutex_);
  return clients_.size();
}

void FakeDriverService::sendElementEvent(std::uint32_t element, std::uint64_t value,
                                         std::uint32_t bitSize) {
  const auto frame = uc::encodeCompletion(0, element, value, bitSize);
  sendFrame({frame.begin(), frame.end()});
}

void FakeDriverService::sendFrame(const std::vector<std::uint8_t>& frame) {
  std::lock_guard lock(mutex_);
  for (const Client& client : clients_) {
    if (client.registered) sendLocked(client.fd, frame);
  }
}

void FakeDriverService::setRefuseClients(bool refuse) {
  std::lock_guard lock(mutex_);
  refuse_ = refuse;
}

void FakeDriverService::setControlAnswer(std::uint64_t dataWord) {
  std::lock_guard lock(mutex_);
  controlAnswer_ = dataWord;
}

void FakeDriverService::setFeatureByte(std::uint8_t byte) {
  std::lock_guard lock(mutex_);
  featureByte_ = byte;
}

void FakeDriverService::dropClients() {
  std::lock_guard lock(mutex_);
  for (const Client& client : clients_) ::close(client.fd);
  clients_.clear();
  changed_.notify_all();
  const std::uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
}

}  // namespace zv::testing
