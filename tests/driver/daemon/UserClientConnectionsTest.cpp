// Connections to the driver: who may connect, what happens when clients close, die, send
// garbage or stop reading, and many clients coming and going while reports flow.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "DaemonHarness.h"
#include "daemon/ZenvorDriver.h"

namespace zv::driver::testing {
namespace {

using namespace userclient;

const std::vector<std::uint8_t> kIdle = {0, 0, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> kButton9 = {0, 0x01, 0, 0, 0, 0, 0};

TEST(UserClientConnections, ClosingReleasesTheExclusiveInterfaceAndTheListEntry) {
  DaemonHarness d;
  auto a = d.listener();
  auto b = d.listener();
  call(*a, sSeizeOverrides, {1});
  EXPECT_EQ(d.handlerClientCount(), 2u);
  a->close();
  ASSERT_TRUE(waitFor([&] { return d.handlerClientCount() == 1; }));
  EXPECT_EQ(d.onLoop([&] { return d.driver->reportHandler()->exclusiveInterface(); }), nullptr);
  d.report(kButton9);
  EXPECT_EQ(drainEvents(*b), (std::vector<Event>{{0x90009, 1}}));
}

TEST(UserClientConnections, AClientProcessThatDiesReleasesTheExclusiveInterface) {
  DaemonHarness d;
  auto b = d.listener();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    // The child seizes the events, says so and waits to be killed.
    UserClientConnection c;
    std::string error;
    const bool ok = c.open(d.socketPath(), &error) == kReturnSuccess &&
                    c.call(sSetElementEventCallback, {}, {}, 0, 0, &error) &&
                    c.call(sSeizeOverrides, {1}, {}, 0, 0, &error);
    const char answer = ok ? 'y' : 'n';
    [[maybe_unused]] ssize_t n = write(ready[1], &answer, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  ASSERT_EQ(answer, 'y');
  ASSERT_TRUE(waitFor([&] {
    return d.onLoop([&] { return d.driver->reportHandler()->exclusiveInterface() != nullptr; });
  }));
  d.report(kButton9);
  EXPECT_TRUE(drainEvents(*b).empty());  // the child holds them

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(waitFor([&] { return d.handlerClientCount() == 1; }));
  EXPECT_EQ(d.onLoop([&] { return d.driver->reportHandler()->exclusiveInterface(); }), nullptr);
  d.report(kIdle);
  EXPECT_EQ(drainEvents(*b), (std::vector<Event>{{0x90009, 0}}));
}

TEST(UserClientConnections, TheInitialOfferReachesNobodyBeforeRegistration) {
  DaemonHarness d;
  d.report(kButton9);  // button 9 (overridden) is held when the client connects
  auto c = d.connect();
  EXPECT_EQ(d.handlerClientCount(), 1u);
  EXPECT_TRUE(drainEvents(*c).empty());
  call(*c, sSetElementEventCallback);
  EXPECT_TRUE(drainEvents(*c).empty());
  d.report(kIdle);
  EXPECT_EQ(drainEvents(*c), (std::vector<Event>{{0x90009, 0}}));
}

// Runs `body` in a child process as uid 65534 and answers its exit status.
int asNobody(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

TEST(UserClientConnections, OnlyRootAndTheActiveUserOfTheSeatMayConnect) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a client as another user";
  DaemonHarness d;
  const std::string path = d.socketPath();
  const auto openAsNobody = [&] {
    return asNobody([&] {
      UserClientConnection c;
      std::string error;
      const std::uint32_t code = c.open(path, &error);
      if (code == kReturnSuccess) return 0;
      return code == kReturnNotPrivileged ? 1 : 2;
    });
  };
  d.seats.setActive("seat0", 1000);
  EXPECT_EQ(openAsNobody(), 1);
  EXPECT_TRUE(d.log.contains("refused a client: uid 65534"));
  d.seats.clear("seat0");
  EXPECT_EQ(openAsNobody(), 1);
  EXPECT_TRUE(d.log.contains("no active session on seat0"));
  d.seats.setActive("seat0", 65534);
  EXPECT_EQ(openAsNobody(), 0);
  // The child has exited; the daemon's loop notices the hang-up on its own thread.
  EXPECT_TRUE(waitFor([&] { return d.handlerClientCount() == 0; }));
}

// A raw connection for sending frames the client class never would.
class RawClient {
 public:
  explicit RawClient(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::vector<std::uint8_t> greeting(64);
    EXPECT_EQ(recv(fd_, greeting.data(), greeting.size(), 0), static_cast<ssize_t>(kGreetingSize));
  }
  ~RawClient() { close(fd_); }
  void send(const std::vector<std::uint8_t>& frame) {
    ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
  }
  // Whether the daemon closed the connection (within the safety bound).
  bool closedByDaemon() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 20000) != 1) return false;
    std::vector<std::uint8_t> frame(kMaxFrameSize);
    return recv(fd_, frame.data(), frame.size(), 0) == 0;
  }

 private:
  int fd_ = -1;
};

TEST(UserClientConnections, AMalformedFrameClosesThatClientOnly) {
  DaemonHarness d;
  auto good = d.listener();
  Call valid;
  valid.method = sElementOverride;
  valid.scalars = {0x90001, 1};
  const std::vector<std::uint8_t> frame = encodeCall(valid);

  std::vector<std::vector<std::uint8_t>> garbage;
  garbage.push_back({1, 2, 3});                         // shorter than a header
  garbage.push_back({frame.begin(), frame.end() - 3});  // truncated scalars
  garbage.push_back(frame);                             // then one byte more:
  garbage.back().push_back(0);
  garbage.push_back(frame);
  garbage.back()[0] = kReplyFrame;  // not a call
  garbage.push_back(frame);
  garbage.back()[28] = 1;  // reserved word
  garbage.push_back(frame);
  garbage.back()[12] = 17;                                               // 17 scalars
  garbage.push_back(std::vector<std::uint8_t>(kMaxFrameSize + 100, 0));  // longer than any
  garbage.back()[0] = kCallFrame;
  for (const auto& bytes : garbage) {
    RawClient bad(d.socketPath());
    bad.send(bytes);
    EXPECT_TRUE(bad.closedByDaemon()) << bytes.size() << " bytes";
  }
  // None of them ran, and the daemon and the good client carry on.
  EXPECT_TRUE(drainEvents(*good).empty());
  EXPECT_EQ(call(*good, sUserClientOpen)->result, kReturnSuccess);
  EXPECT_TRUE(waitFor([&] { return d.clientCount() == 1; }));
  EXPECT_TRUE(d.log.contains("malformed frame"));
}

TEST(UserClientConnections, AClientThatStopsReadingIsDroppedWhileTheOthersGetEverything) {
  DaemonHarness d;
  auto reader = d.listener();
  auto stuck = d.listener();
  call(*reader, sElementOverride, {0x90001, 1});
  drainEvents(*reader);
  // Enough presses and releases to fill the stuck client's socket and its queue.
  const int kReports = 2 * static_cast<int>(kMaxQueuedFrames) + 2000;
  std::atomic<int> received{0};
  std::thread readerThread([&] {
    std::string error;
    while (received < kReports) {
      if (!reader->readCompletion(20000, &error)) break;
      ++received;
    }
  });
  for (int i = 0; i < kReports; ++i) {
    // The reader is kept within reach (a reader more than the queue behind would be
    // dropped as well); the stuck client falls ever further behind. Sending blocks only
    // while the driver has not read earlier reports: it never waits for the stuck client.
    if (i % 64 == 0) {
      ASSERT_TRUE(waitFor([&] { return received.load() + 256 >= i; }));
    }
    ASSERT_TRUE(
        d.hidraw.sendReport(i % 2 ? kIdle : std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0}));
  }
  readerThread.join();
  EXPECT_EQ(received, kReports);
  EXPECT_TRUE(waitFor([&] { return d.uhid.inputCount() == std::size_t(kReports); }));
  EXPECT_TRUE(waitFor([&] { return d.clientCount() == 1; }));
  EXPECT_TRUE(d.log.contains("it stopped reading"));
}

TEST(UserClientConnections, TwoHundredClientsComeAndGoWhileReportsFlow) {
  DaemonHarness d;
  std::atomic<bool> flowing{true};
  std::atomic<int> sent{0};
  std::thread mouse([&] {
    for (int i = 0; flowing; ++i) {
      if (d.hidraw.sendReport(i % 2 ? kIdle : kButton9)) ++sent;
      waitFor([&] { return d.uhid.inputCount() + 32 > std::size_t(sent.load()); });
    }
  });
  std::atomic<int> failures{0};
  std::vector<std::thread> groups;
  for (int g = 0; g < 4; ++g) {
    groups.emplace_back([&, g] {
      for (int i = 0; i < 50; ++i) {
        UserClientConnection c;
        std::string error;
        if (c.open(d.socketPath(), &error) != kReturnSuccess) {
          ++failures;
          continue;
        }
        if (!c.call(sSetElementEventCallback, {}, {}, 0, 0, &error)) ++failures;
        if ((g + i) % 3 == 0) c.call(sSeizeOverrides, {1}, {}, 0, 0, &error);
        if (i % 2 == 0) c.readCompletion(20, &error);  // some read, some never do
      }
    });
  }
  for (auto& t : groups) t.join();
  flowing = false;
  mouse.join();
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(waitFor([&] { return d.handlerClientCount() == 0; }));
  EXPECT_EQ(d.clientCount(), 0u);
  EXPECT_EQ(d.onLoop([&] { return d.driver->reportHandler()->exclusiveInterface(); }), nullptr);
  EXPECT_TRUE(waitFor([&] { return d.uhid.inputCount() == std::size_t(sent.load()); }));
  // Still serving.
  auto late = d.listener();
  d.report(kButton9);
  d.report(kIdle);
  EXPECT_FALSE(drainEvents(*late).empty());
}

}  // namespace
}  // namespace zv::driver::testing
