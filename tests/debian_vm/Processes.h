// What the guest's checks read about running programs from a /proc tree: which processes
// run a given program (by its command name), and how many descriptors and how much
// resident memory one holds. The root is a parameter so the parsing is tested on a copy.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace zv::vmtest {

struct ProcessInfo {
  pid_t pid = 0;
  uid_t uid = 0;
  std::string name;  // the command name (comm), at most 15 characters
};

// Every process whose command name is `name`, by ascending pid. Processes that end while
// being read are left out; zombies too (they run nothing any more).
std::vector<ProcessInfo> processesNamed(const std::string& name,
                                        const std::string& procRoot = "/proc");

// Resident memory (VmRSS) of `pid` in KiB; nullopt when it is gone.
std::optional<std::size_t> residentKiB(pid_t pid, const std::string& procRoot = "/proc");

// The number of open file descriptors of `pid`; nullopt when it is gone.
std::optional<std::size_t> openDescriptors(pid_t pid, const std::string& procRoot = "/proc");

// The value after "Name:" in a /proc/PID/status text ("VmRSS", "Uid", "State"), without
// the leading blanks; empty when the field is missing.
std::string statusField(const std::string& statusText, const std::string& field);

}  // namespace zv::vmtest
