// The library's end of one driver daemon's user client: a connection to the service
// socket, synchronous method calls answered by their replies, and element-event
// completions delivered on a run loop (protocol/UserClientProtocol.h has the frames).
//
//   auto client = DaemonConnection::open(path);  // a failure says why
//   if (!client) return client.failure();
//   (*client)->watch(RunLoop::main(), onCompletion, onClosed);
//   (*client)->call(userclient::sElementOverride, {0x90009, 1}, {}, 0, 0);
//
// Threads: call() may come from any thread, one call at a time on the socket (calls from
// several threads wait for each other). Completions and the end of the connection are
// delivered on the watching loop's thread, in the order the daemon sent them; a
// completion that arrives while a thread waits for a reply is set aside and delivered
// from the loop afterwards.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "platform/RunLoop.h"
#include "platform/SeqPacketSocket.h"
#include "protocol/UserClientProtocol.h"

namespace zv::device {

// The daemon at the path is not one this library can use.
inline constexpr const char* kDaemonConnectionDomain = "DaemonConnection";
enum DaemonConnectionCode {
  kNoGreeting = 1,       // no answer, it hung up, or it does not greet like a driver daemon
  kUserRefused = 2,      // the daemon refuses this user
  kOtherProtocol = 3,    // it speaks another protocol version
  kConnectionEnded = 4,  // the connection has ended, or the daemon closed it during a call
  kNoAnswer = 5,         // a call's reply did not come within kReplyTimeout
  kCallTooLarge = 6,     // the call exceeds the protocol's limits
};

class DaemonConnection : public std::enable_shared_from_this<DaemonConnection> {
 public:
  using CompletionHandler = std::function<void(const userclient::Completion& completion)>;
  using ClosedHandler = std::function<void()>;

  // How long a call waits for its reply, and open() for the greeting.
  static constexpr std::chrono::milliseconds kReplyTimeout{2000};

  // Connects to the service socket at `path` and reads the daemon's greeting. A failure
  // saying why when nothing serves the path (a system failure), the daemon refuses this
  // user or the peer does not greet like a driver daemon (kDaemonConnectionDomain).
  static base::Result<std::shared_ptr<DaemonConnection>> open(const std::string& path);

  ~DaemonConnection();
  DaemonConnection(const DaemonConnection&) = delete;
  DaemonConnection& operator=(const DaemonConnection&) = delete;

  const std::string& path() const { return path_; }
  bool isOpen() const;

  // Calls `method` with the given inputs, expecting outputs of the given sizes, and
  // answers the daemon's reply (whose result may be an error code). A failure saying why
  // when the connection has ended, the daemon does not answer within kReplyTimeout, or the
  // call exceeds the protocol's limits.
  base::Result<userclient::Reply> call(std::uint32_t method,
                                       const std::vector<std::uint64_t>& scalars,
                                       const std::vector<std::uint8_t>& structure,
                                       std::uint32_t scalarsOut, std::uint32_t structOut,
                                       std::uint64_t reference = 0);

  // Delivers completions and the end of the connection on `loop` (from its next dispatch).
  // Call once, on the loop's thread.
  void watch(platform::RunLoop& loop, CompletionHandler onCompletion, ClosedHandler onClosed);
  // Ends the connection; nothing is delivered afterwards. Harmless when already closed.
  // On the watching loop's thread.
  void close();

  // Frames that were neither a reply nor a completion, or that did not decode.
  std::uint64_t discardedFrames() const;

 private:
  explicit DaemonConnection(std::string path) : path_(std::move(path)) {}

  // Sorts one received frame: a completion is set aside; anything else is counted.
  void keepCompletion(const std::vector<std::uint8_t>& frame);
  void readable();
  void deliverPending();
  void scheduleDelivery();

  const std::string path_;

  mutable std::mutex socketMutex_;  // one reader and one caller at a time
  platform::SeqPacketSocket socket_;
  std::uint32_t nextTag_ = 1;

  mutable std::mutex pendingMutex_;
  std::deque<userclient::Completion> pending_;
  bool closed_ = false;  // the peer has gone; delivered after the pending completions
  bool deliveryPosted_ = false;
  std::uint64_t discarded_ = 0;

  platform::RunLoop* loop_ = nullptr;
  platform::RunLoop::WatchId watch_ = 0;
  CompletionHandler onCompletion_;
  ClosedHandler onClosed_;
  bool closedDelivered_ = false;
};

}  // namespace zv::device
