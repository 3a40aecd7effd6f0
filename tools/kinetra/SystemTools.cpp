#include "SystemTools.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/RunLoop.h"
#include "platform/SpawnProcess.h"

namespace kinetra {

namespace {

class LinuxSystemTools : public SystemTools {
 public:
  bool isRoot() const override { return ::geteuid() == 0; }

  zv::base::Result<int> run(const std::vector<std::string>& command) override {
    auto& loop = zv::platform::RunLoop::main();
    std::optional<zv::platform::ChildExit> ended;
    const auto pid =
        zv::platform::spawnProcess(command, {}, loop, [&](const zv::platform::ChildExit& exit) {
          ended = exit;
          loop.stop();
        });
    if (!pid) return pid.failure();
    while (!ended) loop.run();
    return ended->exited ? ended->status : 128 + ended->signal;
  }
};

class RecordingSystemTools : public SystemTools {
 public:
  explicit RecordingSystemTools(std::string file) : file_(std::move(file)) {}

  bool isRoot() const override {
    const char* root = std::getenv("KINETRA_FAKE_SYSTEM_TOOLS_ROOT");
    return !root || std::string(root) != "0";
  }

  zv::base::Result<int> run(const std::vector<std::string>& command) override {
    std::string line;
    for (const std::string& word : command) line += (line.empty() ? "" : " ") + word;
    std::ofstream(file_, std::ios::app) << line << "\n";
    const char* refused = std::getenv("KINETRA_FAKE_SYSTEM_TOOLS_REFUSE");
    std::istringstream words(refused ? refused : "");
    for (std::string word; words >> word;) {
      if (!command.empty() && command.front() == word) return 126;
    }
    return 0;
  }

 private:
  std::string file_;
};

}  // namespace

std::unique_ptr<SystemTools> systemTools() {
  const char* fake = std::getenv("KINETRA_FAKE_SYSTEM_TOOLS");
  if (fake && *fake) return std::make_unique<RecordingSystemTools>(fake);
  return std::make_unique<LinuxSystemTools>();
}

}  // namespace kinetra
