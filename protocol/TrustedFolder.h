// Whether the services folder can be trusted with the driver's sockets. Whoever may
// replace any folder on the way from "/" to it (or a symbolic link on that way) may put a
// socket of their own where a client looks for the driver's, and serve it fake answers.
// So every component is checked, as the SSH daemon checks the paths of its keys: owned by
// root or by an allowed user, and writable by nobody else. A folder that others may write
// to is accepted only with the sticky bit and owned by root (/tmp): there nobody can
// rename or remove an entry of another user. Symbolic links on the way are checked
// themselves (their owner) and followed.
//
// Header-only and plain POSIX, for the daemon (which refuses to serve from an untrusted
// folder) and for clients run as root (which refuse to trust a socket there).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace zv::userclient {

// Whether `uid` is a system account (below the first login user's uid): the daemon's own
// user when it does not run as root. Root clients trust such an owner, never a login user.
inline bool isSystemAccount(uid_t uid) {
  return uid < 1000;
}

// What makes `folder` untrusted, naming the component ("/home/u: belongs to uid 1000"), or
// nothing when every component from "/" to it may be trusted. Components may belong to
// root or to `allowed`.
inline std::optional<std::string> untrustedFolderComponent(const std::string& folder,
                                                           uid_t allowed) {
  const auto describe = [](const std::string& path, const std::string& why) {
    return "the services folder's component " + path + " " + why;
  };
  const auto trusted = [allowed](uid_t owner) { return owner == 0 || owner == allowed; };
  const auto checkFolder = [&](const std::string& path) -> std::optional<std::string> {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      return describe(path, std::string("cannot be examined: ") + std::strerror(errno));
    }
    if (!S_ISDIR(st.st_mode)) return describe(path, "is not a folder");
    if (!trusted(st.st_uid)) {
      return describe(path, "belongs to uid " + std::to_string(st.st_uid) +
                                "; every folder on the way must belong to root or to the "
                                "driver's user");
    }
    const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (othersWrite && !((st.st_mode & S_ISVTX) && st.st_uid == 0)) {
      return describe(path, "may be written by other users (chmod go-w)");
    }
    return std::nullopt;
  };

  if (folder.empty() || folder.front() != '/') {
    return "the services folder " + folder + " is not an absolute path";
  }
  std::deque<std::string> rest;
  const auto split = [](std::string_view path, std::deque<std::string>& into, bool front) {
    std::deque<std::string> parts;
    for (std::size_t at = 0; at < path.size();) {
      const std::size_t end = std::min(path.find('/', at), path.size());
      if (end > at) parts.emplace_back(path.substr(at, end - at));
      at = end + 1;
    }
    if (front) {
      into.insert(into.begin(), parts.begin(), parts.end());
    } else {
      into.insert(into.end(), parts.begin(), parts.end());
    }
  };
  split(folder, rest, false);
  std::string at = "/";
  if (auto problem = checkFolder(at)) return problem;
  int links = 0;
  while (!rest.empty()) {
    const std::string part = rest.front();
    rest.pop_front();
    if (part == ".") continue;
    if (part == "..") {
      // Reached through folders already checked: the parent was checked on the way down.
      const std::size_t slash = at.find_last_of('/');
      at = slash == 0 ? "/" : at.substr(0, slash);
      continue;
    }
    const std::string next = (at == "/" ? "" : at) + "/" + part;
    struct stat st {};
    if (::lstat(next.c_str(), &st) != 0) {
      return describe(next, std::string("cannot be examined: ") + std::strerror(errno));
    }
    if (S_ISLNK(st.st_mode)) {
      if (!trusted(st.st_uid)) {
        return describe(next, "is a symbolic link of uid " + std::to_string(st.st_uid) +
                                  "; links on the way must belong to root or to the driver's "
                                  "user");
      }
      if (++links > 40) return describe(next, "leads through too many symbolic links");
      std::string target(4096, '\0');
      const ssize_t length = ::readlink(next.c_str(), target.data(), target.size());
      if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
        return describe(next, "is a symbolic link that cannot be read");
      }
      target.resize(static_cast<std::size_t>(length));
      split(target, rest, true);
      if (target.front() == '/') at = "/";
      continue;
    }
    if (auto problem = checkFolder(next)) return problem;
    at = next;
  }
  return std::nullopt;
}

}  // namespace zv::userclient
