#include "Processes.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zv::vmtest {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> readText(const fs::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool isPid(const std::string& name) {
  return !name.empty() &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string statusField(const std::string& statusText, const std::string& field) {
  std::istringstream in(statusText);
  const std::string prefix = field + ":";
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    const auto start = line.find_first_not_of(" \t", prefix.size());
    return start == std::string::npos ? std::string() : line.substr(start);
  }
  return {};
}

std::vector<ProcessInfo> processesNamed(const std::string& name, const std::string& procRoot) {
  std::vector<ProcessInfo> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(procRoot, error)) {
    const std::string pid = entry.path().filename().string();
    if (!isPid(pid)) continue;
    const auto status = readText(entry.path() / "status");
    if (!status || statusField(*status, "Name") != name) continue;
    // "Z (zombie)" and "X (dead)" run nothing any more.
    const std::string state = statusField(*status, "State");
    if (state.empty() || state[0] == 'Z' || state[0] == 'X') continue;
    // Uid: real, effective, saved, file system: the real one.
    const unsigned long uid = std::strtoul(statusField(*status, "Uid").c_str(), nullptr, 10);
    found.push_back({static_cast<pid_t>(std::stol(pid)), static_cast<uid_t>(uid), name});
  }
  std::sort(found.begin(), found.end(),
            [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
  return found;
}

std::optional<std::size_t> residentKiB(pid_t pid, const std::string& procRoot) {
  const auto status = readText(fs::path(procRoot) / std::to_string(pid) / "status");
  if (!status) return std::nullopt;
  // "VmRSS:	    5120 kB"; kernel threads and zombies have none.
  const std::string value = statusField(*status, "VmRSS");
  if (value.empty()) return std::nullopt;
  return std::strtoull(value.c_str(), nullptr, 10);
}

std::optional<std::size_t> openDescriptors(pid_t pid, const std::string& procRoot) {
  std::error_code error;
  fs::directory_iterator entries(fs::path(procRoot) / std::to_string(pid) / "fd", error);
  if (error) return std::nullopt;
  std::size_t count = 0;
  for (auto it = entries; it != fs::directory_iterator(); it.increment(error)) {
    if (error) return std::nullopt;
    ++count;
  }
  return count;
}

}  // namespace zv::vmtest
