// Serves the driver's user clients on a SOCK_SEQPACKET socket
// "<services folder>/<driver class>@<device id>" (protocol/UserClientProtocol.h).
//
// Each connection is checked against the AccessRule with the peer's credentials
// (SO_PEERCRED) and greeted; an accepted one becomes a com_Zenvor_userclient_Skarn in the
// report handler's list. Its calls are decoded and dispatched one at a time. A client that
// closes its socket or dies is taken off the handler's list, which also releases the
// exclusive interface if it held it. A frame that cannot be decoded closes that client
// only; so does a full send queue (it stopped reading).
//
// Thread affinity: the loop's thread only.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "daemon/AccessRule.h"
#include "daemon/ConnectedClient.h"
#include "daemon/EventLoop.h"
#include "protocol/UserClientProtocol.h"

namespace zv::driver {

class ZenvorDriver;

class UserClientServer {
 public:
  UserClientServer(EventLoop& loop, ZenvorDriver& driver, AccessRule& access);
  ~UserClientServer();
  UserClientServer(const UserClientServer&) = delete;
  UserClientServer& operator=(const UserClientServer&) = delete;

  // Binds and listens on "<folder>/<driver class>@<deviceId>". Creates the folder (mode
  // 0755) when it is missing and refuses one that someone else owns or that others may
  // write to. A socket file left by a daemon that was killed is replaced; one that a
  // running daemon serves is not (the second daemon refuses to start). The socket file is
  // mode 0666: the access rule, not the file mode, decides who may connect. Answers false
  // with *error saying why.
  bool listen(const std::string& folder, const std::string& deviceId, std::string* error);
  const std::string& path() const { return path_; }

  // Adds an already connected socket as a client with the given credentials, without the
  // access check (tests and the fuzzer). Takes ownership of fd. Answers the client.
  com_Zenvor_userclient_Skarn* adopt(int fd, com_Zenvor_userclient_Skarn::Peer peer);

  // Closes every client and the listening socket and removes the socket file. Idempotent.
  void closeAll();

  std::size_t clientCount() const { return clients_.size(); }
  com_Zenvor_userclient_Skarn* client(std::uint64_t id) const;

  // For the clients: drop it once the current work is done (it may be inside the report
  // handler's loop over its clients now). `why` goes to the log.
  void scheduleDrop(com_Zenvor_userclient_Skarn& client, const char* why);
  // For the clients: their queue changed between empty and not empty.
  void updateInterest(com_Zenvor_userclient_Skarn& client);

 private:
  void onListenerReadable();
  void onClientEvents(std::uint64_t id, std::uint32_t events);
  void readFrame(com_Zenvor_userclient_Skarn& client);
  void deliverReply(std::uint64_t id, const userclient::Reply& reply);
  void closeClient(std::uint64_t id, const char* why, int priority);
  void reapDropped();

  EventLoop& loop_;
  ZenvorDriver& driver_;
  AccessRule& access_;
  int listener_ = -1;
  std::string path_;
  dev_t socketDevice_ = 0;
  ino_t socketInode_ = 0;
  std::uint64_t nextClient_ = 1;
  std::map<std::uint64_t, std::unique_ptr<com_Zenvor_userclient_Skarn>> clients_;
  std::vector<std::pair<std::uint64_t, const char*>> dropped_;
  std::vector<std::uint8_t> frame_;
  EventLoop::TimerId acceptPause_ = 0;
  // Keeps posted reap tasks and device replies from reaching a destroyed server.
  std::shared_ptr<bool> alive_;
};

}  // namespace zv::driver
