#include "platform/FrontmostApplication.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace zv::platform {

namespace {

// Characters a URL path carries as they are; every other byte is percent-escaped.
bool isPathCharacter(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case ':':
    case '@':
    case '/':
      return true;
    default:
      return false;
  }
}

}  // namespace

FocusedApplication applicationOfProcess(pid_t pid, std::string name,
                                        const ExecutableLookup& lookup) {
  FocusedApplication application;
  application.pid = pid;
  application.name = std::move(name);
  if (pid > 0) application.executable = lookup(pid).value_or(std::filesystem::path());
  return application;
}

std::optional<std::filesystem::path> executableOfProcess(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::vector<char> buffer(PATH_MAX + 1);
  const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return std::nullopt;
  std::string target(buffer.data(), static_cast<std::size_t>(n));
  constexpr std::string_view kDeleted = " (deleted)";
  if (target.size() > kDeleted.size() && target.ends_with(kDeleted)) {
    target.resize(target.size() - kDeleted.size());
  }
  return std::filesystem::path(target);
}

std::string normaliseApplicationKey(std::string_view urlText) {
  std::string result;
  if (urlText.starts_with('/')) result = "/";
  bool first = true;
  std::size_t start = 0;
  while (start <= urlText.size()) {
    std::size_t end = urlText.find('/', start);
    if (end == std::string_view::npos) end = urlText.size();
    const std::string_view component = urlText.substr(start, end - start);
    if (!component.empty() && component != ".") {
      if (!first) result += '/';
      result += component;
      first = false;
    }
    start = end + 1;
  }
  return result;
}

std::string applicationKey(const std::filesystem::path& executable) {
  const std::string& path = executable.native();
  if (path.empty()) return {};
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (isPathCharacter(c)) {
      url += ch;
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0xF];
    }
  }
  return normaliseApplicationKey(url);
}

FrontmostApplication::ObserverId FrontmostApplication::addObserver(Observer observer) {
  const ObserverId id = nextId_++;
  observers_.emplace(id, std::move(observer));
  return id;
}

void FrontmostApplication::removeObserver(ObserverId id) {
  observers_.erase(id);
}

void FrontmostApplication::report(const FocusedApplication& application) {
  current_ = application;
  // A copy: an observer may add or remove observers while it is told.
  const auto observers = observers_;
  for (const auto& [id, observer] : observers) {
    if (observers_.count(id)) observer(application);
  }
}

}  // namespace zv::platform
