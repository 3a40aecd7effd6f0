// One download over libcurl, driven by a run loop: curl's sockets are fd watches and its
// timeout is a timer of the loop, so nothing ever blocks the loop's thread.
//
// Only https: locations are loaded, and redirects are followed only to https:; file:
// locations (local files, for tests and offline mirrors) are loaded as well, read here
// piece by piece on the loop: only a regular file is opened, and without blocking (a FIFO
// or a device at the path is refused at once). A server answering 400 or more, a body
// shorter than its announced length, a dropped connection, a server that sends nothing
// for `stallTimeout` and a load that takes longer than `totalTimeout` all end in a
// failure. The body is handed on in pieces as it arrives; the connection keeps none of it.
//
// Thread affinity: create, use and destroy a connection on its loop's thread; every
// delegate call arrives there. The delegate may destroy the connection from inside any of
// its calls; no further call follows.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/RunLoop.h"

namespace zv::update {

class UrlConnection;

// Every operation is optional.
class UrlConnectionDelegate {
 public:
  virtual ~UrlConnectionDelegate() = default;
  // The response has started: its announced length in bytes, or -1 when it gave none.
  // Comes once, before the first data.
  virtual void connectionDidReceiveResponse(UrlConnection& /*connection*/,
                                            std::int64_t /*expectedLength*/) {}
  // The next piece of the body.
  virtual void connectionDidReceiveData(UrlConnection& /*connection*/, std::string_view /*data*/) {}
  // The whole body has arrived.
  virtual void connectionDidFinishLoading(UrlConnection& /*connection*/) {}
  // The load ended without the whole body; `message` says why, naming the location.
  virtual void connectionDidFail(UrlConnection& /*connection*/, const std::string& /*message*/) {}
};

struct UrlConnectionOptions {
  // A PEM file of certificate authorities to trust instead of the system's (a private
  // update server, a test server).
  std::filesystem::path certificateAuthorities;
  std::chrono::seconds connectTimeout{30};
  // The load fails when less than one byte arrived in this long.
  std::chrono::seconds stallTimeout{60};
  // The load fails when it has not ended in this long, however steadily data arrives (a
  // server trickling a few bytes a second would otherwise never be given up).
  std::chrono::seconds totalTimeout{30 * 60};
  // The load fails when the body is (or is announced to be) longer; 0: no limit.
  std::int64_t maximumLength = 0;
};

class UrlConnection {
 public:
  // Starts loading `url`. Answers nothing, with `error` saying why, for a location that
  // is not https: or file:, or when curl cannot be set up.
  static std::unique_ptr<UrlConnection> start(const std::string& url,
                                              UrlConnectionDelegate& delegate,
                                              const UrlConnectionOptions& options,
                                              platform::RunLoop& loop, std::string* error);
  // Cancels a load still running; nothing more is sent to the delegate.
  ~UrlConnection();
  UrlConnection(const UrlConnection&) = delete;
  UrlConnection& operator=(const UrlConnection&) = delete;

  const std::string& url() const { return url_; }

  // Whether `url` is one this class loads: "https:" or "file:" (letters in any case).
  static bool isFollowedLocation(std::string_view url);
  static bool isFileLocation(std::string_view url);

 private:
  UrlConnection(std::string url, UrlConnectionDelegate& delegate, platform::RunLoop& loop);
  bool setUp(const UrlConnectionOptions& options, std::string* error);
  bool openFile(const UrlConnectionOptions& options, std::string* error);
  void readFilePiece();

  friend struct CurlCallbacks;
  void watchSocket(int socket, int what);
  void setTimer(long timeoutMs);
  bool receive(const char* data, std::size_t length);
  void act(int socket, int events);
  void deliver();
  void fail(const std::string& reason);

  std::string url_;
  UrlConnectionDelegate& delegate_;
  platform::RunLoop& loop_;
  void* multi_ = nullptr;  // CURLM*
  void* easy_ = nullptr;   // CURL*
  std::map<int, platform::RunLoop::WatchId> watches_;
  platform::RunLoop::TimerId timer_ = 0;
  std::string pending_;  // received, not yet delivered
  bool responseSent_ = false;
  bool done_ = false;
  bool tooLong_ = false;
  std::int64_t maximumLength_ = 0;
  std::int64_t received_ = 0;
  std::string errorBuffer_;
  std::chrono::seconds totalTimeout_{0};
  std::chrono::steady_clock::time_point started_;
  int file_ = -1;  // a file: location's open file
  std::int64_t fileSize_ = 0;
  platform::RunLoop::TimerId fileTimer_ = 0;
  platform::RunLoop::TimerId deadline_ = 0;
  // Reset when the connection goes away, so a delivery in progress notices.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zv::update
