#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace zv::testing {

namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("loopback server: ") + what);
}

// A self-signed certificate for 127.0.0.1, written with its key to `folder`.
SSL_CTX* makeContext(const std::filesystem::path& folder, std::filesystem::path& certificate) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  check(key != nullptr, "key");
  std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  X509V3_CTX v3;
  X509V3_set_ctx_nodb(&v3);
  X509V3_set_ctx(&v3, cert.get(), cert.get(), nullptr, nullptr, 0);
  for (const auto& [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                                   std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
    check(extension != nullptr, "extension");
    X509_add_ext(cert.get(), extension, -1);
    X509_EXTENSION_free(extension);
  }
  check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "sign");

  certificate = folder / "loopback-server.pem";
  FILE* file = std::fopen(certificate.c_str(), "w");
  check(file != nullptr, "certificate file");
  PEM_write_X509(file, cert.get());
  std::fclose(file);

  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  check(context != nullptr, "context");
  check(SSL_CTX_use_certificate(context, cert.get()) == 1 &&
            SSL_CTX_use_PrivateKey(context, key.get()) == 1,
        "certificate");
  return context;
}

bool sendAll(SSL* ssl, const std::string& bytes) {
  return bytes.empty() || SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())) > 0;
}

}  // namespace

LoopbackServer::LoopbackServer(const std::filesystem::path& folder) {
  context_ = makeContext(folder, certificateFile_);
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  check(listener_ >= 0, "socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  check(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
  check(::listen(listener_, 16) == 0, "listen");
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  wake_ = ::eventfd(0, EFD_CLOEXEC);
  check(wake_ >= 0, "eventfd");
  thread_ = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer() {
  stopping_ = true;
  release();
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto n = ::write(wake_, &one, sizeof one);
  thread_.join();
  ::close(listener_);
  ::close(wake_);
  SSL_CTX_free(static_cast<SSL_CTX*>(context_));
}

std::string LoopbackServer::url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::route(const std::string& path, Route route) {
  std::lock_guard lock(mutex_);
  routes_[path] = std::move(route);
}

int LoopbackServer::requests(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto it = requests_.find(path);
  return it == requests_.end() ? 0 : it->second;
}

void LoopbackServer::release() {
  std::lock_guard lock(mutex_);
  releaseRequested_ = true;
  released_.notify_all();
}

void LoopbackServer::serve() {
  while (!stopping_) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN)) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(context_));
    SSL_set_fd(ssl, client);
    if (SSL_accept(ssl) == 1) answer(ssl);
    SSL_free(ssl);
    ::close(client);
    ERR_clear_error();
  }
}

void LoopbackServer::answer(void* handle) {
  SSL* ssl = static_cast<SSL*>(handle);
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const int n = SSL_read(ssl, buffer, sizeof buffer);
    if (n <= 0) return;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  const auto start = request.find(' ') + 1;
  const std::string path = request.substr(start, request.find(' ', start) - start);
  Route route{404, "not found\n", Behaviour::Normal, {}};
  {
    std::lock_guard lock(mutex_);
    ++requests_[path];
    if (const auto it = routes_.find(path); it != routes_.end()) route = it->second;
  }
  if (route.behaviour == Behaviour::Drop) return;

  std::string head =
      "HTTP/1.1 " + std::to_string(route.status) + " Answer\r\nConnection: close\r\n";
  if (!route.location.empty()) head += "Location: " + route.location + "\r\n";
  std::size_t announced = route.body.size();
  if (route.behaviour == Behaviour::WrongLength) announced += 100;
  if (route.behaviour != Behaviour::NoLength) {
    head += "Content-Length: " + std::to_string(announced) + "\r\n";
  }
  head += "\r\n";
  if (route.behaviour == Behaviour::Stall) {
    sendAll(ssl, head + route.body.substr(0, route.body.size() / 2));
    std::unique_lock lock(mutex_);
    releaseRequested_ = false;
    stalling_ = true;
    released_.wait(lock, [this] { return releaseRequested_ || stopping_; });
    stalling_ = false;
    return;
  }
  sendAll(ssl, head + route.body);
  SSL_shutdown(ssl);
}

}  // namespace zv::testing
