// The delegate of a profile store. Every operation is optional: the defaults do nothing.
//
// Threads: called on the main thread (from the store's reads, which the file watch
// delivers there, and from the calls that change the current profile), with the store's
// lock held: a delegate may call the store back on that thread.
#pragma once

namespace zv::store {

class ZVProfileStore;

class ZVProfileStoreDelegate {
 public:
  virtual ~ZVProfileStoreDelegate() = default;
  // The folder scan found a new profile file or lost a listed one, or there is no
  // current profile path.
  virtual void profileStoreUpdate(ZVProfileStore& /*store*/) {}
  // The info file was deleted and not replaced.
  virtual void profileStoreDeleted(ZVProfileStore& /*store*/) {}
  // The current profile changed (also to none).
  virtual void activeProfileHasChanged() {}
  // Another start-up profile was read from the info file.
  virtual void startupProfileHasChanged() {}
};

}  // namespace zv::store
