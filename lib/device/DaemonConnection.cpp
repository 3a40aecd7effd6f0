#include "device/DaemonConnection.h"

#include <sys/epoll.h>

namespace zv::device {

namespace uc = userclient;
using platform::SeqPacketSocket;

namespace {

base::Failure failure(DaemonConnectionCode code, std::string message) {
  return base::Failure{kDaemonConnectionDomain, code, std::move(message)};
}

}  // namespace

base::Result<std::shared_ptr<DaemonConnection>> DaemonConnection::open(const std::string& path) {
  std::shared_ptr<DaemonConnection> client(new DaemonConnection(path));
  if (auto connected = client->socket_.connect(path); !connected) return connected.failure();
  std::vector<std::uint8_t> frame;
  const auto status =
      client->socket_.receive(frame, uc::kMaxFrameSize, static_cast<int>(kReplyTimeout.count()));
  if (!status || *status != SeqPacketSocket::Status::Packet) {
    return failure(kNoGreeting,
                   path + ": the driver did not greet (" +
                       (!status                                       ? status.failure().message
                        : *status == SeqPacketSocket::Status::Timeout ? std::string("no answer")
                                                                      : std::string("it hung up")) +
                       ")");
  }
  const auto greeting = uc::decodeGreeting(frame);
  if (!greeting) {
    return failure(kNoGreeting, path + ": the service did not greet like a driver daemon");
  }
  if (greeting->result != uc::kReturnSuccess) {
    return failure(kUserRefused,
                   path + ": the driver refused this user (" +
                       uc::returnCodeName(greeting->result) +
                       "); run the program as the user of the active session, or as root");
  }
  if (greeting->version != uc::kProtocolVersion) {
    return failure(kOtherProtocol, path + ": the driver speaks protocol version " +
                                       std::to_string(greeting->version) +
                                       ", this library version " +
                                       std::to_string(uc::kProtocolVersion));
  }
  return client;
}

DaemonConnection::~DaemonConnection() {
  if (loop_ && watch_) loop_->unwatchFd(watch_);
}

bool DaemonConnection::isOpen() const {
  std::lock_guard lock(socketMutex_);
  return socket_.isOpen();
}

std::uint64_t DaemonConnection::discardedFrames() const {
  std::lock_guard lock(pendingMutex_);
  return discarded_;
}

void DaemonConnection::keepCompletion(const std::vector<std::uint8_t>& frame) {
  std::lock_guard lock(pendingMutex_);
  if (const auto completion = uc::decodeCompletion(frame)) {
    pending_.push_back(*completion);
  } else {
    ++discarded_;
  }
}

base::Result<uc::Reply> DaemonConnection::call(std::uint32_t method,
                                               const std::vector<std::uint64_t>& scalars,
                                               const std::vector<std::uint8_t>& structure,
                                               std::uint32_t scalarsOut, std::uint32_t structOut,
                                               std::uint64_t reference) {
  std::optional<base::Result<uc::Reply>> answer;
  bool setAside = false;
  {
    std::lock_guard lock(socketMutex_);
    if (!socket_.isOpen())
      return failure(kConnectionEnded, "the connection to the driver has ended");
    uc::Call call{method, nextTag_++, scalars, structure, scalarsOut, structOut, reference};
    const std::vector<std::uint8_t> frame = uc::encodeCall(call);
    if (frame.empty()) return failure(kCallTooLarge, "call exceeds the protocol's limits");
    if (auto sent = socket_.send(frame); !sent) return sent.failure();
    const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
    std::vector<std::uint8_t> received;
    while (!answer) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        const char* name = uc::methodName(method);
        answer = failure(kNoAnswer,
                         std::string("the driver did not answer ") + (name ? name : "a call"));
        break;
      }
      const auto status =
          socket_.receive(received, uc::kMaxFrameSize, static_cast<int>(left.count()));
      if (status && *status == SeqPacketSocket::Status::Timeout) continue;
      if (!status || *status != SeqPacketSocket::Status::Packet) {
        // The peer has gone: the watching loop learns it from the socket as well.
        answer = status ? failure(kConnectionEnded, "the driver closed the connection")
                        : base::Result<uc::Reply>(status.failure());
        break;
      }
      if (uc::frameKind(received) == uc::kReplyFrame) {
        auto reply = uc::decodeReply(received);
        // A reply to an earlier call that gave up waiting is stale: skip it.
        if (reply && reply->tag == call.tag && reply->method == method) {
          answer = std::move(*reply);
        } else {
          std::lock_guard pending(pendingMutex_);
          ++discarded_;
        }
        continue;
      }
      keepCompletion(received);
      setAside = true;
    }
  }
  if (setAside) scheduleDelivery();
  return std::move(*answer);
}

void DaemonConnection::watch(platform::RunLoop& loop, CompletionHandler onCompletion,
                             ClosedHandler onClosed) {
  loop_ = &loop;
  onCompletion_ = std::move(onCompletion);
  onClosed_ = std::move(onClosed);
  int fd;
  {
    std::lock_guard lock(socketMutex_);
    fd = socket_.fd();
  }
  if (fd >= 0) {
    watch_ = loop.watchFd(fd, EPOLLIN, [this](std::uint32_t) { readable(); });
  }
  scheduleDelivery();
}

void DaemonConnection::readable() {
  {
    // A caller waiting for its reply may be reading the socket: it sets completions
    // aside, and this waits until it has its reply.
    std::lock_guard lock(socketMutex_);
    std::vector<std::uint8_t> frame;
    for (;;) {
      const auto status = socket_.receive(frame, uc::kMaxFrameSize, 0);
      if (status && *status == SeqPacketSocket::Status::Packet) {
        keepCompletion(frame);
        continue;
      }
      // A socket that fails is as good as closed.
      if (!status || *status == SeqPacketSocket::Status::Closed) {
        if (watch_) loop_->unwatchFd(watch_);
        watch_ = 0;
        socket_.close();
        std::lock_guard pending(pendingMutex_);
        closed_ = true;
      }
      break;
    }
  }
  deliverPending();
}

void DaemonConnection::scheduleDelivery() {
  if (!loop_) return;
  {
    std::lock_guard lock(pendingMutex_);
    if (deliveryPosted_ || (pending_.empty() && !closed_)) return;
    deliveryPosted_ = true;
  }
  std::weak_ptr<DaemonConnection> self = weak_from_this();
  loop_->post([self] {
    if (auto client = self.lock()) {
      {
        std::lock_guard lock(client->pendingMutex_);
        client->deliveryPosted_ = false;
      }
      client->deliverPending();
    }
  });
}

void DaemonConnection::deliverPending() {
  // Handlers may close the client or call it; take one item at a time without a lock held.
  std::shared_ptr<DaemonConnection> keep = shared_from_this();
  for (;;) {
    std::optional<uc::Completion> next;
    bool ended = false;
    {
      std::lock_guard lock(pendingMutex_);
      if (!pending_.empty()) {
        next = pending_.front();
        pending_.pop_front();
      } else if (closed_ && !closedDelivered_) {
        closedDelivered_ = true;
        ended = true;
      }
    }
    if (next) {
      if (onCompletion_) onCompletion_(*next);
      continue;
    }
    if (ended && onClosed_) {
      ClosedHandler handler = onClosed_;
      handler();
    }
    return;
  }
}

void DaemonConnection::close() {
  {
    std::lock_guard lock(socketMutex_);
    if (loop_ && watch_) loop_->unwatchFd(watch_);
    watch_ = 0;
    socket_.close();
  }
  std::lock_guard lock(pendingMutex_);
  pending_.clear();
  closed_ = true;
  closedDelivered_ = true;  // an ending asked for is not reported back
}

}  // namespace zv::device
