// Stream connections to local (Unix-domain) sockets, as desktop compositors offer them.
#pragma once

#include <string>
#include <string_view>

namespace zv::platform {

// A connected, non-blocking, close-on-exec stream socket; -1 with `error` set when the
// path is too long for a socket address or nobody listens there.
int connectUnixSocket(const std::string& path, std::string* error = nullptr);

// Writes all of `bytes` to a connected socket, waiting (up to one second in all) while the
// socket's buffer is full. False with `error` set when the peer is gone or stays full.
bool sendAll(int fd, std::string_view bytes, std::string* error = nullptr);

// Reads what is available without blocking and appends it to `buffer`. Answers false
// once the peer has closed the connection or on an error (then `error` says which);
// true when the socket is merely drained.
bool receiveAvailable(int fd, std::string& buffer, std::string* error = nullptr);

}  // namespace zv::platform
