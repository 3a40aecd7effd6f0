#include "output/InputAccess.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <vector>

namespace zv::output {

namespace {

// Where the package installs its rule (cmake/Install.cmake), on merged-/usr systems and
// not.
constexpr std::array<const char*, 3> kPackageRules = {
    "/usr/lib/udev/rules.d/70-zenvor-driver.rules", "/lib/udev/rules.d/70-zenvor-driver.rules",
    "/etc/udev/rules.d/70-zenvor-driver.rules"};
// The rule a user writes by hand, as the README shows it.
constexpr const char* kLocalRule = "/etc/udev/rules.d/70-kinetra-local.rules";

bool userIsMember(gid_t group) {
  const passwd* user = ::getpwuid(::getuid());
  if (!user) return false;
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<std::size_t>(count));
  return std::find(groups.begin(), groups.end(), group) != groups.end();
}

bool processIsMember(gid_t group) {
  if (::getegid() == group) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgroups(count, groups.data()) < 0) return false;
  return std::find(groups.begin(), groups.end(), group) != groups.end();
}

}  // namespace

InputAccessFacts inputAccessFacts() {
  InputAccessFacts facts;
  for (const char* rule : kPackageRules) {
    if (::access(rule, F_OK) == 0) {
      facts.packageRule = rule;
      break;
    }
  }
  struct stat st {};
  if (::stat("/dev/uinput", &st) == 0 && (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP) &&
      st.st_gid != 0) {
    if (const group* owner = ::getgrgid(st.st_gid)) {
      facts.nodeGroup = owner->gr_name;
      facts.userInGroup = userIsMember(st.st_gid);
      facts.processInGroup = processIsMember(st.st_gid);
    }
  }
  return facts;
}

std::string inputAccessAdvice(const InputAccessFacts& facts) {
  if (facts.nodeGroup && facts.userInGroup && !facts.processInGroup) {
    return "you are in the group " + *facts.nodeGroup +
           ", which may use /dev/uinput, but this session started before you joined it: log "
           "in again";
  }
  if (facts.packageRule) {
    std::string text = "the suite's udev rule (" + facts.packageRule->string() +
                       ") gives /dev/uinput to the user of the active session at the seat: log "
                       "in again at the seat (a remote or background session does not get it)";
    if (facts.nodeGroup) {
      text += ", or join the group " + *facts.nodeGroup + " (sudo usermod -aG " + *facts.nodeGroup +
              " $USER) and log in again";
    }
    return text;
  }
  return std::string(
             "allow your user to use the input devices: install the udev rule "
             "KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\" (for example in ") +
         kLocalRule +
         "), load the uinput module (sudo modprobe uinput), add yourself to the input group "
         "(sudo usermod -aG input $USER), reload the rules (sudo udevadm control --reload && "
         "sudo udevadm trigger) and log in again";
}

std::string inputAccessAdvice() {
  return inputAccessAdvice(inputAccessFacts());
}

}  // namespace zv::output
