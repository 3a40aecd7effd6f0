// A `perch --headless --output record` process for integration tests: its record
// (standard output) is read line by line on a thread of its own, and tests wait for lines
// to appear. Standard error goes to a log file. The process is ended (SIGTERM, then
// SIGKILL after a while) when the object goes away.
//
// Everything here may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "testing/ChildProcess.h"

namespace zv::agent::testing {

class AgentProcess {
 public:
  static constexpr std::chrono::seconds kPatience{15};

  // Starts `executable --headless --output record` and `arguments` with `environment`
  // added to the test's own. started() tells whether it could be started.
  AgentProcess(const std::filesystem::path& executable, const std::filesystem::path& errorLog,
               const std::map<std::string, std::string>& environment,
               const std::vector<std::string>& arguments = {});
  ~AgentProcess();
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  bool started() const { return process_.has_value(); }
  // Waits (up to kPatience) for a line at index `from` or later that holds `fragment`;
  // answers its index.
  std::optional<std::size_t> waitFor(std::string_view fragment, std::size_t from = 0) const;
  // The number of lines read so far: the `from` of a wait for what happens next.
  std::size_t size() const;
  std::vector<std::string> lines() const;
  // The record as text, for failure messages.
  std::string text() const;
  // SIGTERM, then waits for the process and its last line; answers its wait status
  // (nothing when it did not end in time).
  std::optional<int> terminate();

 private:
  void read(int fd);

  std::optional<zv::testing::ChildProcess> process_;
  std::thread reader_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool ended_ = false;
};

}  // namespace zv::agent::testing
