// A driver service for tests: listens on a real SOCK_SEQPACKET socket in the services
// folder, greets, answers every call with the method's shape (recording it), and sends
// element events to the clients that registered for them, the way zenvor-driver does.
//
//   testing::TemporaryTree tree;                  // services folder in a temporary tree
//   testing::FakeDriverService service;           // com_Zenvor_driver_usb_Skarn@hidraw-fake
//   ... connect a DriverInterface ...
//   service.sendElementEvent(0x90004, 1);
//   EXPECT_TRUE(service.waitForCall("sElementOverride 0x90005 1"));
//
// The service runs on a thread of its own (a client blocks on its calls). Everything
// here may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zv::testing {

class FakeDriverService {
 public:
  static constexpr const char* kDefaultClass = "com_Zenvor_driver_usb_Skarn";

  // Listens at "<services folder>/<driverClass>@<deviceId>" (the folder is made).
  explicit FakeDriverService(std::string driverClass = kDefaultClass,
                             std::string deviceId = "hidraw-fake");
  // Disconnects every client and removes the socket.
  ~FakeDriverService();
  FakeDriverService(const FakeDriverService&) = delete;
  FakeDriverService& operator=(const FakeDriverService&) = delete;

  const std::string& path() const { return path_; }

  // The calls so far, as "sElementOverride 0x90005 1" (method name, then each input
  // scalar; a structure as "[N bytes]").
  std::vector<std::string> calls() const;
  void clearCalls();
  // Waits (up to 10 s) until a call equal to `call` has arrived.
  bool waitForCall(const std::string& call) const;
  // Waits (up to 10 s) until `count` clients registered for element events.
  bool waitForRegistered(std::size_t count) const;
  std::size_t registeredClients() const;
  std::size_t connectedClients() const;

  // One element event (a six-word completion) to every registered client.
  void sendElementEvent(std::uint32_t element, std::uint64_t value, std::uint32_t bitSize = 1);
  // Any bytes as one frame to every registered client.
  void sendFrame(const std::vector<std::uint8_t>& frame);

  // Greets new clients with "not privileged" and hangs up on them.
  void setRefuseClients(bool refuse);
  // The data word sControlRequest answers and the byte sGetFeatureByte answers.
  void setControlAnswer(std::uint64_t dataWord);
  void setFeatureByte(std::uint8_t byte);
  // Hangs up on every client, as a daemon that stops does.
  void dropClients();

 private:
  struct Client {
    int fd;
    bool registered;
  };

  void serve();
  void answer(Client& client, const std::vector<std::uint8_t>& frame);
  void sendLocked(int fd, const std::vector<std::uint8_t>& frame);

  const std::string path_;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Client> clients_;
  std::vector<std::string> calls_;
  bool refuse_ = false;
  bool stopping_ = false;
  std::uint64_t controlAnswer_ = 0;
  std::uint8_t featureByte_ = 0;
};

}  // namespace zv::testing
