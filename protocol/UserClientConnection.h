// The client end of the user-client protocol (UserClientProtocol.h): one connection to one
// zenvor-driver service. Header-only, plain POSIX sockets, no threads of its own.
//
// Thread affinity: one thread at a time. fd() may be watched by the caller's own loop
// (readable = a completion or the daemon closing); call readCompletion(0) then.
//
//   UserClientConnection c;
//   std::string error;
//   if (c.open(path, &error) != kReturnSuccess) ...        // error says why
//   c.call(sSetElementEventCallback, {}, {}, 0, 0, &error, myReference);
//   auto reply = c.call(sElementOverride, {0x90009, 1}, {}, 0, 0, &error);
//   while (auto event = c.readCompletion(-1, &error)) ...   // element events
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/TrustedFolder.h"
#include "protocol/UserClientProtocol.h"

namespace zv::userclient {

class UserClientConnection {
 public:
  UserClientConnection() = default;
  ~UserClientConnection() { close(); }
  UserClientConnection(const UserClientConnection&) = delete;
  UserClientConnection& operator=(const UserClientConnection&) = delete;

  // Connects to the service socket at `path` and waits up to timeoutMs for the greeting.
  // Answers kReturnSuccess; kReturnNotPrivileged when the daemon refuses this user;
  // kReturnNotAttached when nothing serves the path; kReturnError for anything else. On
  // failure *error says why in words a user can act on, and the connection stays closed.
  std::uint32_t open(const std::string& path, std::string* error, int timeoutMs = 5000) {
    close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
      *error = "socket path too long: " + path;
      return kReturnError;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::geteuid() == 0) {
      // Root trusts only a socket nobody else could have put there (TrustedFolder.h):
      // components of root, or of the system account the folder belongs to.
      const std::size_t slash = path.find_last_of('/');
      const std::string folder = slash == std::string::npos ? std::string(".")
                                 : slash == 0               ? std::string("/")
                                                            : path.substr(0, slash);
      struct stat st {};
      const uid_t owner =
          ::stat(folder.c_str(), &st) == 0 && isSystemAccount(st.st_uid) ? st.st_uid : 0;
      if (const auto problem = untrustedFolderComponent(folder, owner)) {
        *error = *problem + "; run as root, this program does not trust a socket there";
        return kReturnNotPrivileged;
      }
    }
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
      *error = std::string("cannot create a socket: ") + std::strerror(errno);
      return kReturnError;
    }
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      const int e = errno;
      close();
      if (e == ENOENT || e == ECONNREFUSED) {
        *error = "no driver serves " + path + " (" + std::strerror(e) + ")";
        return kReturnNotAttached;
      }
      *error = "cannot connect to " + path + ": " + std::strerror(e);
      return e == EACCES || e == EPERM ? kReturnNotPrivileged : kReturnError;
    }
    std::vector<std::uint8_t> frame;
    if (!receive(&frame, timeoutMs, error)) {
      close();
      return kReturnError;
    }
    const auto greeting = decodeGreeting(frame);
    if (!greeting) {
      *error = "the service at " + path + " did not greet like a driver";
      close();
      return kReturnError;
    }
    if (greeting->result != kReturnSuccess) {
      *error = "the driver refused this user (" + std::string(returnCodeName(greeting->result)) +
               "): only root and the user of the active session on the mouse's seat may "
               "connect";
      close();
      return greeting->result;
    }
    if (greeting->version != kProtocolVersion) {
      *error = "the driver speaks protocol version " + std::to_string(greeting->version) +
               ", this program version " + std::to_string(kProtocolVersion);
      close();
      return kReturnError;
    }
    return kReturnSuccess;
  }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_.clear();
  }

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Calls a method with exactly the counts given (they need not match the method's shape:
  // the daemon then answers kReturnBadArgument). Waits up to timeoutMs for the reply;
  // completions arriving meanwhile are kept for readCompletion. Nothing when the transport
  // failed (the daemon went away, a timeout, a garbled reply), with *error saying so.
  std::optional<Reply> call(std::uint32_t method, std::vector<std::uint64_t> scalars,
                            std::vector<std::uint8_t> structure, std::uint32_t scalarsOut,
                            std::uint32_t structOut, std::string* error,
                            std::uint64_t reference = 0, int timeoutMs = 5000) {
    Call c;
    c.method = method;
    c.tag = ++tag_;
    c.scalars = std::move(scalars);
    c.structure = std::move(structure);
    c.scalarsOut = scalarsOut;
    c.structOut = structOut;
    c.reference = reference;
    return call(c, error, timeoutMs);
  }

  std::optional<Reply> call(const Call& c, std::string* error, int timeoutMs = 5000) {
    if (fd_ < 0) {
      *error = "not connected";
      return std::nullopt;
    }
    const std::vector<std::uint8_t> frame = encodeCall(c);
    if (frame.empty()) {
      *error = "call counts beyond the protocol's limits";
      return std::nullopt;
    }
    if (::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(frame.size())) {
      *error = std::string("cannot send to the driver: ") + std::strerror(errno);
      return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> in;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (!receive(&in, timeoutMs < 0 ? -1 : static_cast<int>(std::max<long>(0, left.count())),
                   error)) {
        return std::nullopt;
      }
      const std::uint32_t kind = frameKind(in);
      if (kind == kCompletionFrame) {
        if (auto completion = decodeCompletion(in)) pending_.push_back(*completion);
        continue;
      }
      auto reply = decodeReply(in, error);
      if (!reply) return std::nullopt;
      if (reply->tag != c.tag || reply->method != c.method) {
        *error = "the driver answered another call";
        return std::nullopt;
      }
      return reply;
    }
  }

  // The next element-event completion: a kept one first, else one read within timeoutMs
  // (0 = only what has arrived, -1 = wait for ever). Nothing on timeout (*error empty) or
  // when the connection failed or the daemon closed it (*error says so).
  std::optional<Completion> readCompletion(int timeoutMs, std::string* error) {
    error->clear();
    if (!pending_.empty()) {
      Completion c = pending_.front();
      pending_.pop_front();
      return c;
    }
    std::vector<std::uint8_t> in;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int wait = timeoutMs;
      if (timeoutMs > 0) {
        wait = static_cast<int>(
            std::max<long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count()));
      }
      if (!receive(&in, wait, error, /*timeoutIsError=*/false)) return std::nullopt;
      if (auto completion = decodeCompletion(in)) return completion;
      // Anything else unasked for is skipped.
    }
  }

  // Completions received while waiting for replies and not read yet.
  std::size_t keptCompletions() const { return pending_.size(); }

 private:
  // One frame within timeoutMs. A timeout fails with "timed out" unless timeoutIsError is
  // false, when it fails with *error empty.
  bool receive(std::vector<std::uint8_t>* frame, int timeoutMs, std::string* error,
               bool timeoutIsError = true) {
    if (fd_ < 0) {
      *error = "not connected";
      return false;
    }
    pollfd p{fd_, POLLIN, 0};
    int ready;
    do {
      ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
      if (timeoutIsError) *error = "the driver did not answer in time";
      return false;
    }
    frame->resize(kMaxFrameSize + 1);
    ssize_t n;
    do {
      n = ::recv(fd_, frame->data(), frame->size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      *error = n == 0 ? "the driver closed the connection"
                      : std::string("cannot read from the driver: ") + std::strerror(errno);
      close();
      return false;
    }
    frame->resize(static_cast<std::size_t>(n));
    return true;
  }

  int fd_ = -1;
  std::uint32_t tag_ = 0;
  std::deque<Completion> pending_;
};

}  // namespace zv::userclient
