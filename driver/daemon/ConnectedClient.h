// The daemon's end of one user client: a user-space process connected to the service. It receives
// element events from the report handler (once it registered with method 2) and sends them
// as completion frames; replies to its calls go the same way.
//
// Sending never blocks: a frame the socket cannot take at once waits in the client's queue
// (sent when the socket drains); a client whose queue reaches kMaxQueuedFrames has stopped
// reading and is dropped by the server. The report path therefore never waits for a
// client.
//
// Thread affinity: the loop's thread only.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "core/ZVReportHandler.h"

namespace zv::driver {

class UserClientServer;

class com_Zenvor_userclient_Skarn : public ZVUserClient {
 public:
  struct Peer {
    uid_t uid = 0;
    pid_t pid = 0;
  };

  // Takes ownership of the connected socket `fd` (non-blocking).
  com_Zenvor_userclient_Skarn(std::uint64_t id, int fd, Peer peer, UserClientServer& server);
  ~com_Zenvor_userclient_Skarn() override;
  com_Zenvor_userclient_Skarn(const com_Zenvor_userclient_Skarn&) = delete;
  com_Zenvor_userclient_Skarn& operator=(const com_Zenvor_userclient_Skarn&) = delete;

  // ZVUserClient: called by the report handler on the report path.
  void setReportHandler(ZVReportHandler* handler) override { handler_ = handler; }
  // Does nothing until the client registered (method 2).
  void sendElementEvent(std::uint32_t element, std::uint64_t value, std::uint32_t bitSize) override;

  // Method 2: keeps the reference every completion carries back and starts the events.
  void registerCallback(std::uint64_t reference);
  bool callbackRegistered() const { return callbackRegistered_; }

  // Sends one frame now or queues it (see the file comment).
  void send(std::span<const std::uint8_t> frame);
  // Sends what the queue holds as far as the socket takes it. Answers false when the
  // connection failed.
  bool flush();
  bool hasQueuedFrames() const { return !queue_.empty(); }
  std::size_t queuedFrames() const { return queue_.size(); }

  // A call whose reply has not been sent yet: the server reads no further frame meanwhile.
  bool callPending() const { return callPending_; }
  void setCallPending(bool pending) { callPending_ = pending; }

  // Set once the server decided to drop the client; nothing is sent any more.
  bool dropping() const { return dropping_; }
  void setDropping() { dropping_ = true; }

  std::uint64_t id() const { return id_; }
  int fd() const { return fd_; }
  const Peer& peer() const { return peer_; }
  ZVReportHandler* reportHandler() const { return handler_; }

 private:
  const std::uint64_t id_;
  const int fd_;
  const Peer peer_;
  UserClientServer& server_;
  ZVReportHandler* handler_ = nullptr;
  bool callbackRegistered_ = false;
  std::uint64_t reference_ = 0;
  bool callPending_ = false;
  bool dropping_ = false;
  std::deque<std::vector<std::uint8_t>> queue_;
};

}  // namespace zv::driver
