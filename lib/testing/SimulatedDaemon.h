// A `zenvor-driver --simulate PRODUCT` process for integration tests and benchmarks: it
// serves the real socket in the services folder of the environment (a TemporaryTree's)
// and takes report-script lines on its standard input, or with Input::binary the
// reports themselves, one per packet of a socket pair (`--input-format binary`).
//
//   testing::SimulatedDaemon daemon(ZV_DRIVER_EXECUTABLE);
//   ASSERT_TRUE(daemon.ready()) << daemon.output();
//   daemon.send("report 08 00 00 00 00 00 00");
//   EXPECT_TRUE(daemon.waitForLine("report 08 00 00 00 00 00 00 -> 00 00 00 00 00 00 00"));
//
// A thread of its own reads the daemon's output. Everything here may be called from any
// thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace zv::testing {

class SimulatedDaemon {
 public:
  enum class Input { script, binary };

  // Starts the daemon and waits (up to 10 s) for its "ready PATH" line. `arguments` follow
  // "--simulate PRODUCT" (a mouse's own descriptor: "--descriptor", "HEX").
  explicit SimulatedDaemon(const std::filesystem::path& executable,
                           const std::string& product = "0x1704", Input input = Input::script,
                           const std::vector<std::string>& arguments = {});
  // Ends the daemon (SIGTERM) and waits for it.
  ~SimulatedDaemon();
  SimulatedDaemon(const SimulatedDaemon&) = delete;
  SimulatedDaemon& operator=(const SimulatedDaemon&) = delete;

  bool ready() const;
  // The socket the daemon serves; empty until ready.
  std::string servicePath() const;
  // One script line to the daemon's standard input (Input::script).
  bool send(const std::string& line);
  // One input report as the mouse sends it (Input::binary).
  bool sendReport(std::span<const std::uint8_t> report);
  // Closes the daemon's input: with Input::binary the mouse is unplugged.
  void closeInput();
  // Whether the daemon has ended (its output closed), waiting up to 10 s for it.
  bool waitForEnd() const;
  // Waits (up to 10 s) until the daemon printed `line` (a whole line of its output);
  // lines printed before the call count too.
  bool waitForLine(const std::string& line) const;
  // The same for a line that starts with `start`; answers that line (empty: none came).
  std::string waitForLineStartingWith(const std::string& start) const;
  // Everything printed so far, standard output and error together.
  std::string output() const;
  // Called on the reader thread for each line as it is printed.
  void setLineListener(std::function<void(const std::string&)> listener);

 private:
  void read(int fd);

  pid_t pid_ = -1;
  int input_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::string servicePath_;
  bool ended_ = false;  // the daemon closed its output (it has ended)
  std::function<void(const std::string&)> listener_;
};

}  // namespace zv::testing
