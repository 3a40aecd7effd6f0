// A connected Unix-domain SOCK_SEQPACKET socket: whole packets in, whole packets out.
// The driver daemon serves its user clients this way.
//
// Threads: one object may be used from several threads only under the caller's own lock;
// fd() may be watched by a run loop meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/Result.h"

namespace zv::platform {

class SeqPacketSocket {
 public:
  enum class Status { Packet, Timeout, Closed };

  SeqPacketSocket() = default;
  ~SeqPacketSocket();
  SeqPacketSocket(SeqPacketSocket&& other) noexcept;
  SeqPacketSocket& operator=(SeqPacketSocket&& other) noexcept;
  SeqPacketSocket(const SeqPacketSocket&) = delete;
  SeqPacketSocket& operator=(const SeqPacketSocket&) = delete;

  // Connects to the socket at `path`. A failure naming the path and the reason when
  // nothing listens there or access is refused.
  base::Result<void> connect(const std::string& path);
  // Sends one packet whole. A failure when the peer has gone or the packet is refused. A
  // peer that has gone never raises SIGPIPE.
  base::Result<void> send(std::span<const std::uint8_t> packet);
  // Waits up to `timeoutMs` (0: do not wait; negative: without limit) for one packet.
  // A packet longer than `maxSize` is cut to maxSize + 1 bytes, so that a reader that
  // checks lengths sees it is too long. Closed: the peer has gone. A failure when the
  // socket cannot be waited for or read.
  base::Result<Status> receive(std::vector<std::uint8_t>& packet, std::size_t maxSize,
                               int timeoutMs);

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void close();

 private:
  int fd_ = -1;
};

}  // namespace zv::platform
