#include "update/UrlConnection.h"

#include <curl/curl.h>
#include <sys/epoll.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <utility>

namespace zv::update {

namespace {

constexpr const char* kUserAgent = "Kinetra-SoftwareUpdate/1";

bool hasScheme(std::string_view url, std::string_view scheme) {
  if (url.size() <= scheme.size() || url[scheme.size()] != ':') return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
  }
  return true;
}

void initializeCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

// libcurl's callbacks, with the exact types it calls them through.
struct CurlCallbacks {
  static int socket(CURL*, curl_socket_t socket, int what, void* self, void*) {
    static_cast<UrlConnection*>(self)->watchSocket(socket, what);
    return 0;
  }
  static int timer(CURLM*, long timeoutMs, void* self) {
    static_cast<UrlConnection*>(self)->setTimer(timeoutMs);
    return 0;
  }
  static std::size_t write(char* data, std::size_t size, std::size_t count, void* self) {
    const std::size_t length = size * count;
    return static_cast<UrlConnection*>(self)->receive(data, length) ? length : 0;
  }
};

bool UrlConnection::isFollowedLocation(std::string_view url) {
  return hasScheme(url, "https") || hasScheme(url, "file");
}

bool UrlConnection::isFileLocation(std::string_view url) {
  return hasScheme(url, "file");
}

UrlConnection::UrlConnection(std::string url, UrlConnectionDelegate& delegate,
                             platform::RunLoop& loop)
    : url_(std::move(url)), delegate_(delegate), loop_(loop) {}

std::unique_ptr<UrlConnection> UrlConnection::start(const std::string& url,
                                                    UrlConnectionDelegate& delegate,
                                                    const UrlConnectionOptions& options,
                                                    platform::RunLoop& loop, std::string* error) {
  if (!isFollowedLocation(url)) {
    if (error) *error = "'" + url + "' is not an https: location; only https: locations are used";
    return nullptr;
  }
  std::unique_ptr<UrlConnection> connection(new UrlConnection(url, delegate, loop));
  if (!connection->setUp(options, error)) return nullptr;
  return connection;
}

bool UrlConnection::setUp(const UrlConnectionOptions& options, std::string* error) {
  initializeCurl();
  CURLM* multi = curl_multi_init();
  CURL* easy = curl_easy_init();
  multi_ = multi;
  easy_ = easy;
  if (!multi || !easy) {
    if (error) *error = "cannot set up a download (out of memory)";
    return false;
  }
  errorBuffer_.assign(CURL_ERROR_SIZE + 1, '\0');
  maximumLength_ = options.maximumLength;

  bool ok = curl_easy_setopt(easy, CURLOPT_URL, url_.c_str()) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https,file") == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK;
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer_.data());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(options.connectTimeout.count()));
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.stallTimeout.count()));
  if (options.maximumLength > 0) {
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(options.maximumLength));
  }
  if (!options.certificateAuthorities.empty()) {
    ok = ok &&
         curl_easy_setopt(easy, CURLOPT_CAINFO, options.certificateAuthorities.c_str()) == CURLE_OK;
  }
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlCallbacks::write);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &CurlCallbacks::socket);
  curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
  curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &CurlCallbacks::timer);
  curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
  if (!ok) {
    if (error) *error = "cannot set up a download of " + url_ + " (this libcurl lacks https)";
    return false;
  }
  // Adding the handle asks for a timeout of 0 through the timer callback; the transfer
  // starts when that timer fires on the loop.
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
    if (error) *error = "cannot start a download of " + url_;
    return false;
  }
  return true;
}

UrlConnection::~UrlConnection() {
  *alive_ = false;
  if (timer_) loop_.cancelTimer(timer_);
  for (const auto& [socket, watch] : watches_) loop_.unwatchFd(watch);
  watches_.clear();
  auto* multi = static_cast<CURLM*>(multi_);
  auto* easy = static_cast<CURL*>(easy_);
  if (multi && easy) {
    // Removing the handle closes its sockets through the socket callback; the watches
    // are gone already, and watchSocket() ignores calls from here on.
    curl_multi_remove_handle(multi, easy);
  }
  if (easy) curl_easy_cleanup(easy);
  if (multi) curl_multi_cleanup(multi);
}

void UrlConnection::watchSocket(int socket, int what) {
  if (!*alive_) return;
  if (const auto it = watches_.find(socket); it != watches_.end()) {
    loop_.unwatchFd(it->second);
    watches_.erase(it);
  }
  if (what == CURL_POLL_REMOVE) return;
  std::uint32_t events = 0;
  if (what & CURL_POLL_IN) events |= EPOLLIN;
  if (what & CURL_POLL_OUT) events |= EPOLLOUT;
  const auto watch = loop_.watchFd(socket, events, [this, socket](std::uint32_t ready) {
    int flags = 0;
    if (ready & EPOLLIN) flags |= CURL_CSELECT_IN;
    if (ready & EPOLLOUT) flags |= CURL_CSELECT_OUT;
    if (ready & (EPOLLERR | EPOLLHUP)) flags |= CURL_CSELECT_ERR;
    act(socket, flags);
  });
  if (watch) watches_.emplace(socket, watch);
}

void UrlConnection::setTimer(long timeoutMs) {
  if (!*alive_) return;
  if (timer_) loop_.cancelTimer(timer_);
  timer_ = 0;
  if (timeoutMs < 0) return;
  // Never act from inside curl's own callback: the timer runs in a later dispatch.
  timer_ = loop_.addTimer(std::chrono::milliseconds(timeoutMs), [this] {
    timer_ = 0;
    act(CURL_SOCKET_TIMEOUT, 0);
  });
}

bool UrlConnection::receive(const char* data, std::size_t length) {
  received_ += static_cast<std::int64_t>(length);
  if (maximumLength_ > 0 && received_ > maximumLength_) {
    tooLong_ = true;
    return false;
  }
  pending_.append(data, length);
  return true;
}

void UrlConnection::act(int socket, int events) {
  if (done_) return;
  const auto alive = alive_;
  int running = 0;
  curl_multi_socket_action(static_cast<CURLM*>(multi_), socket, events, &running);
  deliver();
  if (!*alive || done_) return;

  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(static_cast<CURLM*>(multi_), &queued)) {
    if (message->msg != CURLMSG_DONE) continue;
    done_ = true;
    if (timer_) loop_.cancelTimer(timer_);
    timer_ = 0;
    const CURLcode result = message->data.result;
    if (result == CURLE_OK) {
      deliver();
      if (!*alive) return;
      if (!responseSent_) {
        responseSent_ = true;
        delegate_.connectionDidReceiveResponse(*this, 0);
        if (!*alive) return;
      }
      delegate_.connectionDidFinishLoading(*this);
      return;
    }
    std::string reason = errorBuffer_.c_str();
    if (tooLong_ || result == CURLE_FILESIZE_EXCEEDED) {
      reason = "it is larger than " + std::to_string(maximumLength_) + " bytes";
    } else if (reason.empty()) {
      reason = curl_easy_strerror(result);
    }
    fail(reason);
    return;
  }
}

void UrlConnection::deliver() {
  if (pending_.empty()) return;
  const auto alive = alive_;
  if (!responseSent_) {
    responseSent_ = true;
    curl_off_t length = -1;
    curl_easy_getinfo(static_cast<CURL*>(easy_), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    delegate_.connectionDidReceiveResponse(*this, length);
    if (!*alive) return;
  }
  const std::string piece = std::exchange(pending_, std::string());
  delegate_.connectionDidReceiveData(*this, piece);
}

void UrlConnection::fail(const std::string& reason) {
  pending_.clear();
  delegate_.connectionDidFail(*this, "cannot download " + url_ + ": " + reason);
}

}  // namespace zv::update
