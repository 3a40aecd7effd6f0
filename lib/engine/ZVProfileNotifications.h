// The delegate of a profile. Every operation is optional: the defaults do nothing (and
// profileHasChangedOnDisk does not veto the reload), so a delegate overrides only what it
// wants to hear.
//
// Threads: onProfileActionWithPage, onProfileCmdBegin and onProfileCmdEnd are called on
// command threads, several at once when several commands run; the others on the main
// thread. A profile holds its delegate weakly: the delegate's owner keeps it alive, and a
// delegate that is gone is simply not called.
#pragma once

#include <cstdint>
#include <string>

namespace zv::engine {

class ZVProfile;

class ZVProfileNotifications {
 public:
  virtual ~ZVProfileNotifications() = default;

  // An action ran while the profile's useDelegateForActions is set: it was reported here
  // instead of performed. `string` is the action's text (for an opened file, its path).
  virtual void onProfileActionWithPage(std::uint32_t page, std::uint32_t usage, std::uint32_t value,
                                       const std::string& string) {
    (void)page, (void)usage, (void)value, (void)string;
  }
  // The profile took the name of its file, at load or after a rename on disk.
  virtual void profileWasRenamed(ZVProfile& profile) { (void)profile; }
  // The profile's file was deleted; the profile stays loaded in memory.
  virtual void profileWasDeleted(ZVProfile& profile) { (void)profile; }
  // The profile's file was replaced on disk; false keeps the profile as it is.
  virtual bool profileHasChangedOnDisk(ZVProfile& profile) {
    (void)profile;
    return true;
  }
  // Around each command run of a trigger while useDelegateForActions is set.
  virtual void onProfileCmdBegin() {}
  virtual void onProfileCmdEnd() {}
};

}  // namespace zv::engine
