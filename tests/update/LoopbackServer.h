// An HTTPS server on 127.0.0.1 for the update tests, with a certificate of its own that
// clients trust through certificateFile(). Each path answers as configured, including
// the ways real servers go wrong: dropping the connection, stalling, announcing a wrong
// length. Connections are served one after another on the server's own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace zv::testing {

class LoopbackServer {
 public:
  enum class Behaviour {
    Normal,       // status line, headers, body, close
    Drop,         // read the request, close without an answer
    Stall,        // headers and the first half of the body, then nothing until released
    WrongLength,  // announce 100 bytes more than the body holds, send the body, close
    NoLength,     // no Content-Length: the body ends when the connection closes
  };
  struct Route {
    Route(int status = 200, std::string body = {}, Behaviour behaviour = Behaviour::Normal,
          std::string location = {})
        : status(status),
          body(std::move(body)),
          behaviour(behaviour),
          location(std::move(location)) {}
    int status;
    std::string body;
    Behaviour behaviour;
    std::string location;  // a Location header (for redirects)
  };

  // Starts listening; throws std::runtime_error when it cannot.
  explicit LoopbackServer(const std::filesystem::path& folder);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // "https://127.0.0.1:PORT" + path.
  std::string url(const std::string& path) const;
  // The PEM certificate to trust.
  const std::filesystem::path& certificateFile() const { return certificateFile_; }

  // Unknown paths answer 404.
  void route(const std::string& path, Route route);
  // Requests seen for `path` (counted once the request has been read).
  int requests(const std::string& path) const;
  // Whether a stalled answer is waiting for release().
  bool isStalling() const { return stalling_; }
  // Ends every stall: the connection is closed without the rest of the body.
  void release();

 private:
  void serve();
  void answer(void* ssl);

  std::filesystem::path certificateFile_;
  void* context_ = nullptr;  // SSL_CTX*
  int listener_ = -1;
  int wake_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> stalling_{false};

  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool releaseRequested_ = false;
  std::map<std::string, Route> routes_;
  std::map<std::string, int> requests_;
};

}  // namespace zv::testing
