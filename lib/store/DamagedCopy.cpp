#include "store/DamagedCopy.h"

#include <cerrno>
#include <ctime>

#include "platform/ExclusiveFile.h"
#include "platform/ReadFile.h"

namespace zv::store {

namespace {

// Copies are kept for the user, never read back by the suite: a few are enough.
constexpr int kMaximumCopiesPerSecond = 100;

std::string stamp(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

}  // namespace

base::Result<std::filesystem::path> keepDamagedCopy(const std::filesystem::path& file,
                                                    std::chrono::system_clock::time_point when) {
  const base::Result<std::string> bytes = platform::readFile(file);
  if (!bytes) return bytes.failure().prefixed("cannot keep a copy of the damaged file: ");
  const std::string base = file.string() + ".damaged-" + stamp(when);
  for (int attempt = 1; attempt <= kMaximumCopiesPerSecond; ++attempt) {
    const std::filesystem::path copy = attempt == 1 ? base : base + "-" + std::to_string(attempt);
    const auto created = platform::createFileExclusively(copy, *bytes, 0600);
    if (created) return copy;
    if (!created.failure().is(base::kSystemDomain, EEXIST)) {
      return created.failure().prefixed("cannot keep a copy of the damaged file: ");
    }
  }
  return base::Failure{base::kSystemDomain, EEXIST,
                       "cannot keep a copy of " + file.string() + ": " + base +
                           " and its numbered variants exist already"};
}

}  // namespace zv::store
