#include "AgentProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "testing/LineReader.h"

namespace zv::agent::testing {

AgentProcess::AgentProcess(const std::filesystem::path& executable,
                           const std::filesystem::path& errorLog,
                           const std::map<std::string, std::string>& environment) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  zv::testing::ChildOptions options;
  options.environment = environment;
  options.output = errorLog;
  options.standardOutput = out[1];
  auto started = zv::testing::ChildProcess::start(
      {executable.string(), "--headless", "--output", "record"}, options);
  ::close(out[1]);
  if (started) process_.emplace(std::move(*started));
  if (!process_) {
    ::close(out[0]);
    return;
  }
  reader_ = std::thread([this, fd = out[0]] { read(fd); });
}

AgentProcess::~AgentProcess() {
  if (process_) process_->stop();
  if (reader_.joinable()) reader_.join();
}

void AgentProcess::read(int fd) {
  zv::testing::readLines(fd, [this](std::string line) {
    {
      std::lock_guard lock(mutex_);
      lines_.push_back(std::move(line));
    }
    changed_.notify_all();
  });
  std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

std::optional<std::size_t> AgentProcess::waitFor(std::string_view fragment,
                                                 std::size_t from) const {
  std::unique_lock lock(mutex_);
  std::optional<std::size_t> found;
  changed_.wait_for(lock, kPatience, [&] {
    for (std::size_t i = from; i < lines_.size(); ++i) {
      if (lines_[i].find(fragment) != std::string::npos) {
        found = i;
        return true;
      }
    }
    return ended_;
  });
  return found;
}

std::size_t AgentProcess::size() const {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

std::vector<std::string> AgentProcess::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::string AgentProcess::text() const {
  std::string all;
  for (const std::string& line : lines()) all += line + "\n";
  return all;
}

std::optional<int> AgentProcess::terminate() {
  if (!process_ || !process_->signal(SIGTERM)) return std::nullopt;
  const auto status = process_->wait(kPatience);
  // The process is gone: its record ends once the reader has read everything.
  if (status && reader_.joinable()) reader_.join();
  return status;
}

}  // namespace zv::agent::testing
