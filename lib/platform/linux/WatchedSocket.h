// A connected stream socket read from a run loop: the IPC connections of the compositor
// focus providers. It connects, sends the request that starts the conversation, and hands
// whatever arrives to its reader on the loop; it never blocks and never polls.
//
// The object owns the descriptor and its watch. Either handler may destroy the object or
// call close(); nothing of the object is touched after a handler that did so returns.
//
// Threads: the thread of the run loop it was opened on.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/RunLoop.h"

namespace zv::platform {

class WatchedSocket {
 public:
  // Called with the bytes of one round of reading (all that was available).
  using Reader = std::function<void(std::string_view bytes)>;
  // Called once when the peer closed the connection or reading failed, after the socket
  // has been closed; `why` says which.
  using EndHandler = std::function<void(const std::string& why)>;

  // Connects to the socket at `path`, sends `request` (when not empty) and starts
  // reading on `loop`. A failure saying why when nobody answers there.
  static base::Result<std::unique_ptr<WatchedSocket>> open(RunLoop& loop, const std::string& path,
                                                           std::string_view request, Reader reader,
                                                           EndHandler ended);
  ~WatchedSocket();
  WatchedSocket(const WatchedSocket&) = delete;
  WatchedSocket& operator=(const WatchedSocket&) = delete;

  // Stops reading and closes the connection; no handler is called after it.
  void close();
  bool isOpen() const { return fd_ >= 0; }

 private:
  WatchedSocket(RunLoop& loop, int fd, Reader reader, EndHandler ended);
  void onReadable();

  RunLoop& loop_;
  int fd_;
  RunLoop::WatchId watch_ = 0;
  Reader reader_;
  EndHandler ended_;
  // Cleared when the object goes, so that onReadable() knows when a handler destroyed it.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zv::platform
