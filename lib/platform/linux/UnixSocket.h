// Stream connections to local (Unix-domain) sockets, as desktop compositors offer them.
#pragma once

#include <string>
#include <string_view>

#include "base/Result.h"

namespace zv::platform {

// A connected, non-blocking, close-on-exec stream socket; a failure saying why when the
// path is too long for a socket address or nobody listens there.
base::Result<int> connectUnixSocket(const std::string& path);

// Writes all of `bytes` to a connected socket, waiting (up to one second in all) while the
// socket's buffer is full. A failure when the peer is gone or stays full.
base::Result<void> sendAll(int fd, std::string_view bytes);

// Reads what is available without blocking and appends it to `buffer`. Answers true when
// the socket is merely drained, false once the peer has closed the connection; a failure
// when reading fails.
base::Result<bool> receiveAvailable(int fd, std::string& buffer);

}  // namespace zv::platform
