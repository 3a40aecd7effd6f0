#include "daemon/UserClientServer.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "daemon/DriverLog.h"
#include "daemon/MethodDispatch.h"
#include "daemon/ZenvorDriver.h"
#include "protocol/TrustedFolder.h"

namespace zv::driver {

using namespace userclient;

namespace {

std::string errorText(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// Creates the folder and its missing parents with mode 0755, or checks an existing one.
bool prepareFolder(const std::string& folder, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(folder, ec)) {
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      *error = "cannot create the services folder " + folder + ": " + ec.message();
      return false;
    }
    chmod(folder.c_str(), 0755);
  }
  // Every folder from "/" on, not only the last: a user who may replace any of them may
  // serve a socket of their own where clients look for ours.
  const std::string absolute = std::filesystem::absolute(folder, ec).string();
  if (const auto problem = untrustedFolderComponent(absolute, geteuid())) {
    *error = *problem + "; the driver serves no socket there";
    return false;
  }
  return true;
}

sockaddr_un addressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

}  // namespace

UserClientServer::UserClientServer(EventLoop& loop, ZenvorDriver& driver, AccessRule& access)
    : loop_(loop), driver_(driver), access_(access), alive_(std::make_shared<bool>(true)) {}

UserClientServer::~UserClientServer() {
  closeAll();
}

bool UserClientServer::listen(const std::string& folder, const std::string& deviceId,
                              std::string* error) {
  if (!prepareFolder(folder, error)) return false;
  const std::string path = servicePath(folder, driver_.className(), deviceId);
  if (path.size() >= sizeof(sockaddr_un::sun_path)) {
    *error = "the socket path " + path + " is too long for a Unix socket; use a shorter " +
             "services folder";
    return false;
  }
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = errorText("cannot create the service socket", errno);
    return false;
  }
  const sockaddr_un address = addressOf(path);
  auto bindIt = [&] {
    return bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  };
  if (!bindIt()) {
    if (errno != EADDRINUSE) {
      *error = errorText("cannot create " + path, errno);
      close(fd);
      return false;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
      *error = path + " exists and is not a socket; remove it";
      close(fd);
      return false;
    }
    // Is somebody serving it? A daemon killed with SIGKILL leaves its socket file behind.
    const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    const bool served = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address),
                                              sizeof address) == 0;
    if (probe >= 0) close(probe);
    if (served) {
      *error = "another zenvor-driver already serves " + path;
      close(fd);
      return false;
    }
    unlink(path.c_str());
    if (!bindIt()) {
      *error = errorText("cannot create " + path, errno);
      close(fd);
      return false;
    }
  }
  chmod(path.c_str(), 0666);
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    socketDevice_ = st.st_dev;
    socketInode_ = st.st_ino;
  }
  if (::listen(fd, 64) != 0) {
    *error = errorText("cannot listen on " + path, errno);
    unlink(path.c_str());
    close(fd);
    return false;
  }
  listener_ = fd;
  path_ = path;
  loop_.watch(listener_, EPOLLIN, [this](std::uint32_t) { onListenerReadable(); });
  return true;
}

void UserClientServer::onListenerReadable() {
  for (;;) {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: the listener would stay readable and spin the loop. Pause
        // accepting for a moment; the waiting peers stay in the backlog.
        driverLog(LOG_WARNING, "cannot accept a client: %s; pausing for 100 ms\n",
                  std::strerror(errno));
        loop_.unwatch(listener_);
        acceptPause_ = loop_.addTimer(std::chrono::milliseconds(100), [this] {
          acceptPause_ = 0;
          loop_.watch(listener_, EPOLLIN, [this](std::uint32_t) { onListenerReadable(); });
        });
      }
      return;
    }
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
      driverLog(LOG_WARNING, "cannot read a client's credentials: %s\n", std::strerror(errno));
      close(fd);
      continue;
    }
    const AccessRule::Decision decision = access_.decide(credentials.uid);
    if (!decision.allowed) {
      // Rate-limited: a refused user may try thousands of times a second.
      if (const auto line = refusals_.refused(credentials.uid, credentials.pid, decision.reason,
                                              std::chrono::steady_clock::now())) {
        driverLog(LOG_NOTICE, "%s", line->c_str());
      }
      const auto greeting = encodeGreeting({kProtocolVersion, kReturnNotPrivileged});
      [[maybe_unused]] ssize_t n =
          send(fd, greeting.data(), greeting.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
      close(fd);
      continue;
    }
    com_Zenvor_userclient_Skarn* client = adopt(fd, {credentials.uid, credentials.pid});
    driverLog(LOG_INFO, "client %llu connected: uid %u (pid %d), %s\n",
              static_cast<unsigned long long>(client->id()), static_cast<unsigned>(credentials.uid),
              static_cast<int>(credentials.pid), decision.reason.c_str());
  }
}

com_Zenvor_userclient_Skarn* UserClientServer::adopt(int fd,
                                                     com_Zenvor_userclient_Skarn::Peer peer) {
  const std::uint64_t id = nextClient_++;
  auto owned = std::make_unique<com_Zenvor_userclient_Skarn>(id, fd, peer, *this);
  com_Zenvor_userclient_Skarn* client = owned.get();
  clients_.emplace(id, std::move(owned));
  const auto greeting = encodeGreeting({kProtocolVersion, kReturnSuccess});
  client->send(greeting);
  loop_.watch(fd, EPOLLIN | EPOLLRDHUP | (client->hasQueuedFrames() ? EPOLLOUT : 0u),
              [this, id](std::uint32_t events) { onClientEvents(id, events); });
  // The handler offers the new client its held overridden elements; they reach it only once
  // it registered for events, which it cannot have done yet.
  driver_.addUserClient(client);
  return client;
}

com_Zenvor_userclient_Skarn* UserClientServer::client(std::uint64_t id) const {
  const auto found = clients_.find(id);
  return found == clients_.end() ? nullptr : found->second.get();
}

void UserClientServer::updateInterest(com_Zenvor_userclient_Skarn& client) {
  if (client.dropping()) return;
  const std::uint32_t events = (client.callPending() ? 0u : std::uint32_t{EPOLLIN}) | EPOLLRDHUP |
                               (client.hasQueuedFrames() ? EPOLLOUT : 0u);
  loop_.modify(client.fd(), events);
}

void UserClientServer::onClientEvents(std::uint64_t id, std::uint32_t events) {
  com_Zenvor_userclient_Skarn* c = client(id);
  if (!c || c->dropping()) return;
  if (events & EPOLLOUT) {
    if (!c->flush()) {
      closeClient(id, "the connection failed", LOG_INFO);
      return;
    }
    if (!c->hasQueuedFrames()) updateInterest(*c);
  }
  if ((events & EPOLLIN) && !c->callPending()) {
    readFrame(*c);
    return;
  }
  if (events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) {
    // Closed, or died: the kernel closes a dead process's sockets.
    closeClient(id, "it closed the connection", LOG_INFO);
  }
}

void UserClientServer::readFrame(com_Zenvor_userclient_Skarn& c) {
  frame_.resize(kMaxFrameSize + 1);
  const ssize_t n = recv(c.fd(), frame_.data(), frame_.size(), MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) {
    closeClient(c.id(), "it closed the connection", LOG_INFO);
    return;
  }
  std::string why;
  const auto call = decodeCall({frame_.data(), static_cast<std::size_t>(n)}, &why);
  if (!call) {
    // Also frames longer than any call: recv cut them to kMaxFrameSize + 1 bytes.
    driverLog(LOG_NOTICE, "client %llu (pid %d) sent a malformed frame (%s); closing it\n",
              static_cast<unsigned long long>(c.id()), static_cast<int>(c.peer().pid), why.c_str());
    closeClient(c.id(), "it sent a malformed frame", LOG_DEBUG);
    return;
  }
  c.setCallPending(true);
  updateInterest(c);
  const std::uint64_t id = c.id();
  std::weak_ptr<bool> alive = alive_;
  dispatchCall(*call, c, driver_, [this, id, alive](Reply reply) {
    if (alive.lock()) deliverReply(id, reply);
  });
}

void UserClientServer::deliverReply(std::uint64_t id, const Reply& reply) {
  com_Zenvor_userclient_Skarn* c = client(id);
  if (!c || c->dropping()) return;
  c->setCallPending(false);
  c->send(encodeReply(reply));
  updateInterest(*c);
}

void UserClientServer::scheduleDrop(com_Zenvor_userclient_Skarn& c, const char* why) {
  if (c.dropping()) return;
  c.setDropping();
  dropped_.emplace_back(c.id(), why);
  std::weak_ptr<bool> alive = alive_;
  loop_.post([this, alive] {
    if (alive.lock()) reapDropped();
  });
}

void UserClientServer::reapDropped() {
  auto dropped = std::move(dropped_);
  dropped_.clear();
  for (const auto& [id, why] : dropped) closeClient(id, why, LOG_NOTICE);
}

void UserClientServer::closeClient(std::uint64_t id, const char* why, int priority) {
  const auto found = clients_.find(id);
  if (found == clients_.end()) return;
  com_Zenvor_userclient_Skarn& c = *found->second;
  driverLog(priority, "client %llu (pid %d) disconnected: %s\n",
            static_cast<unsigned long long>(id), static_cast<int>(c.peer().pid), why);
  // Off the handler's list first: no event reaches it, and it no longer holds the exclusive
  // interface.
  driver_.removeUserClient(&c);
  loop_.unwatch(c.fd());
  clients_.erase(found);
}

void UserClientServer::closeAll() {
  while (!clients_.empty()) closeClient(clients_.begin()->first, "the driver stops", LOG_DEBUG);
  dropped_.clear();
  if (acceptPause_) loop_.cancelTimer(acceptPause_);
  acceptPause_ = 0;
  if (listener_ >= 0) {
    loop_.unwatch(listener_);
    close(listener_);
    listener_ = -1;
    // Only our own socket file: a later daemon may have replaced it meanwhile.
    struct stat st;
    if (lstat(path_.c_str(), &st) == 0 && st.st_dev == socketDevice_ && st.st_ino == socketInode_) {
      unlink(path_.c_str());
    }
  }
}

}  // namespace zv::driver
