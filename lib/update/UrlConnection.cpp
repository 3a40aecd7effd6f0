#include "update/UrlConnection.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
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

// A file: piece read at each turn of the loop: small enough that the loop stays responsive
// (signals, the editor's window) and memory stays bounded, whatever the file's size.
constexpr std::size_t kFilePiece = 256 * 1024;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path of a file: location ("file:/p", "file:///p", "file://localhost/p"), its
// escapes decoded; nothing for another host or a path holding a NUL.
std::optional<std::string> filePath(std::string_view url) {
  std::string_view rest = url.substr(5);  // "file:"
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost") return std::nullopt;
    rest.remove_prefix(slash);
  }
  if (!rest.starts_with('/')) return std::nullopt;
  rest = rest.substr(0, rest.find_first_of("?#"));
  std::string path;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && hexValue(rest[i + 1]) >= 0 &&
        hexValue(rest[i + 2]) >= 0) {
      path += static_cast<char>(hexValue(rest[i + 1]) * 16 + hexValue(rest[i + 2]));
      i += 2;
    } else {
      path += rest[i];
    }
  }
  if (path.find('\0') != std::string::npos) return std::nullopt;
  return path;
}

std::string minutesOrSeconds(std::chrono::seconds time) {
  if (time.count() % 60 == 0) return std::to_string(time.count() / 60) + " minutes";
  return std::to_string(time.count()) + " s";
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
  const bool ready = isFileLocation(url) ? connection->openFile(options, error)
                                         : connection->setUp(options, error);
  if (!ready) return nullptr;
  return connection;
}

bool UrlConnection::openFile(const UrlConnectionOptions& options, std::string* error) {
  const auto path = filePath(url_);
  if (!path) {
    if (error) *error = "cannot read " + url_ + ": not a local file location";
    return false;
  }
  // Without blocking: a FIFO at the path would otherwise hold the open (and the loop,
  // and with it the signals that end the program) until a writer comes.
  file_ = ::open(path->c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file_ < 0) {
    if (error) *error = "cannot read " + *path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(file_, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = "cannot read " + *path + ": not a regular file";
    return false;
  }
  fileSize_ = st.st_size;
  maximumLength_ = options.maximumLength;
  if (maximumLength_ > 0 && fileSize_ > maximumLength_) {
    if (error)
      *error = "cannot download " + url_ + ": it is larger than " + std::to_string(maximumLength_) +
               " bytes";
    return false;
  }
  totalTimeout_ = options.totalTimeout;
  started_ = std::chrono::steady_clock::now();
  if (totalTimeout_.count() > 0) {
    deadline_ = loop_.addTimer(totalTimeout_, [this] {
      deadline_ = 0;
      if (fileTimer_) loop_.cancelTimer(fileTimer_);
      fileTimer_ = 0;
      done_ = true;
      fail("it took longer than the time limit of " + minutesOrSeconds(totalTimeout_));
    });
  }
  fileTimer_ = loop_.addTimer(std::chrono::milliseconds(0), [this] { readFilePiece(); });
  return true;
}

void UrlConnection::readFilePiece() {
  fileTimer_ = 0;
  if (done_) return;
  const auto alive = alive_;
  if (!responseSent_) {
    responseSent_ = true;
    delegate_.connectionDidReceiveResponse(*this, fileSize_);
    if (!*alive) return;
  }
  std::string piece(kFilePiece, '\0');
  ssize_t n;
  do {
    n = ::read(file_, piece.data(), piece.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    done_ = true;
    fail(std::strerror(errno));
    return;
  }
  if (n == 0) {
    done_ = true;
    if (deadline_) loop_.cancelTimer(deadline_);
    deadline_ = 0;
    delegate_.connectionDidFinishLoading(*this);
    return;
  }
  received_ += n;
  if (maximumLength_ > 0 && received_ > maximumLength_) {
    done_ = true;
    fail("it is larger than " + std::to_string(maximumLength_) + " bytes");
    return;
  }
  piece.resize(static_cast<std::size_t>(n));
  delegate_.connectionDidReceiveData(*this, piece);
  if (!*alive || done_) return;
  fileTimer_ = loop_.addTimer(std::chrono::milliseconds(0), [this] { readFilePiece(); });
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
            curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
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
  totalTimeout_ = options.totalTimeout;
  started_ = std::chrono::steady_clock::now();
  if (totalTimeout_.count() > 0) {
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, static_cast<long>(totalTimeout_.count()));
  }
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
  if (fileTimer_) loop_.cancelTimer(fileTimer_);
  if (deadline_) loop_.cancelTimer(deadline_);
  if (file_ >= 0) ::close(file_);
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
    } else if (result == CURLE_OPERATION_TIMEDOUT && totalTimeout_.count() > 0 &&
               std::chrono::steady_clock::now() - started_ >= totalTimeout_) {
      reason = "it took longer than the time limit of " + minutesOrSeconds(totalTimeout_);
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
