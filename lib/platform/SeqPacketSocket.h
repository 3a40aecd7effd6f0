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

namespace zv::platform {

class SeqPacketSocket {
 public:
  enum class Status { Packet, Timeout, Closed, Failed };

  SeqPacketSocket() = default;
  ~SeqPacketSocket();
  SeqPacketSocket(SeqPacketSocket&& other) noexcept;
  SeqPacketSocket& operator=(SeqPacketSocket&& other) noexcept;
  SeqPacketSocket(const SeqPacketSocket&) = delete;
  SeqPacketSocket& operator=(const SeqPacketSocket&) = delete;

  // Connects to the socket at `path`. False, with a message naming the path and the
  // reason in `error`, when nothing listens there or access is refused.
  bool connect(const std::string& path, std::string* error = nullptr);
  // Sends one packet whole. False when the peer has gone or the packet is refused. A
  // peer that has gone never raises SIGPIPE.
  bool send(std::span<const std::uint8_t> packet, std::string* error = nullptr);
  // Waits up to `timeoutMs` (0: do not wait; negative: without limit) for one packet.
  // A packet longer than `maxSize` is cut to maxSize + 1 bytes, so that a reader that
  // checks lengths sees it is too long. Closed: the peer has gone.
  Status receive(std::vector<std::uint8_t>& packet, std::size_t maxSize, int timeoutMs,
                 std::string* error = nullptr);

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void close();

 private:
  int fd_ = -1;
};

}  // namespace zv::platform
