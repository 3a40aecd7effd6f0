#include "testing/SimulatedDaemon.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "testing/LineReader.h"

extern char** environ;

namespace zv::testing {

using namespace std::chrono_literals;

namespace {
constexpr auto kPatience = 10s;
constexpr std::string_view kReady = "ready ";
}  // namespace

SimulatedDaemon::SimulatedDaemon(const std::filesystem::path& executable,
                                 const std::string& product, Input input,
                                 const std::vector<std::string>& arguments) {
  int in[2];
  int out[2];
  const int made = input == Input::binary
                       ? ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, in)
                       : ::pipe2(in, O_CLOEXEC);
  if (made != 0) return;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  const std::string path = executable.string();
  std::vector<char*> argv{const_cast<char*>(path.c_str()), const_cast<char*>("--simulate"),
                          const_cast<char*>(product.c_str())};
  if (input == Input::binary) {
    argv.push_back(const_cast<char*>("--input-format"));
    argv.push_back(const_cast<char*>("binary"));
  }
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  if (::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  input_ = in[1];
  const int output = out[0];
  reader_ = std::thread([this, output] { read(output); });
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, kPatience, [&] { return !servicePath_.empty() || ended_; });
}

SimulatedDaemon::~SimulatedDaemon() {
  if (input_ >= 0) ::close(input_);
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  if (reader_.joinable()) reader_.join();
}

void SimulatedDaemon::read(int fd) {
  readLines(fd, [this](const std::string& line) {
    std::function<void(const std::string&)> listener;
    {
      std::lock_guard lock(mutex_);
      if (line.rfind(kReady, 0) == 0) servicePath_ = line.substr(kReady.size());
      lines_.push_back(line);
      listener = listener_;
    }
    changed_.notify_all();
    if (listener) listener(line);
  });
  std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

bool SimulatedDaemon::ready() const {
  std::lock_guard lock(mutex_);
  return !servicePath_.empty();
}

std::string SimulatedDaemon::servicePath() const {
  std::lock_guard lock(mutex_);
  return servicePath_;
}

bool SimulatedDaemon::send(const std::string& line) {
  if (input_ < 0) return false;
  const std::string text = line + "\n";
  return ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool SimulatedDaemon::sendReport(std::span<const std::uint8_t> report) {
  if (input_ < 0) return false;
  return ::send(input_, report.data(), report.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(report.size());
}

void SimulatedDaemon::closeInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

bool SimulatedDaemon::waitForEnd() const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kPatience, [&] { return ended_; });
}

bool SimulatedDaemon::waitForLine(const std::string& line) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kPatience, [&] {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  });
}

std::string SimulatedDaemon::waitForLineStartingWith(const std::string& start) const {
  std::unique_lock lock(mutex_);
  std::string found;
  changed_.wait_for(lock, kPatience, [&] {
    const auto it = std::find_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
      return line.rfind(start, 0) == 0;
    });
    if (it != lines_.end()) found = *it;
    return it != lines_.end();
  });
  return found;
}

std::string SimulatedDaemon::output() const {
  std::lock_guard lock(mutex_);
  std::string all;
  for (const std::string& line : lines_) all += line + "\n";
  return all;
}

void SimulatedDaemon::setLineListener(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

}  // namespace zv::testing
