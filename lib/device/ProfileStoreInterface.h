// What a profile needs from its device's profile store: where the seed profile is, where
// a profile of a given name is kept, and which profile is current. ZVProfileStore, the
// per-device store of profile files, implements it; SimpleProfileStore is a small
// in-memory implementation for tests and tools that run one profile.
//
// The profile is the engine's, a layer above this one: it is only named here and handed
// through, never used.
//
// Threads: the main thread (the thread that loads profiles and delivers element events).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace zv::engine {
class ZVProfile;
}

namespace zv::device {

class ProfileStoreInterface {
 public:
  virtual ~ProfileStoreInterface() = default;

  // The device's seed profile: the file that describes its controls.
  virtual std::filesystem::path seedPath() const = 0;
  // The file a profile at `profilePath` is recreated from when it is missing or reset.
  virtual std::filesystem::path seedPathForProfilePath(
      const std::filesystem::path& profilePath) const = 0;
  // Where the profile named `name` is kept.
  virtual std::filesystem::path pathForProfile(const std::string& name) const = 0;

  // The profile that receives the device's element events; nullptr when none.
  virtual std::shared_ptr<engine::ZVProfile> currentProfile() const = 0;
  virtual void setCurrentProfile(std::shared_ptr<engine::ZVProfile> profile) = 0;
};

// Keeps the current profile in memory and names profile files "<folder>/<name><extension>".
// Every profile is recreated from the one seed file.
class SimpleProfileStore : public ProfileStoreInterface {
 public:
  SimpleProfileStore(std::filesystem::path seedPath, std::filesystem::path profileFolder,
                     std::string extension = ".pr0");

  std::filesystem::path seedPath() const override { return seedPath_; }
  std::filesystem::path seedPathForProfilePath(const std::filesystem::path&) const override {
    return seedPath_;
  }
  std::filesystem::path pathForProfile(const std::string& name) const override;
  std::shared_ptr<engine::ZVProfile> currentProfile() const override { return current_; }
  void setCurrentProfile(std::shared_ptr<engine::ZVProfile> profile) override {
    current_ = std::move(profile);
  }

 private:
  std::filesystem::path seedPath_;
  std::filesystem::path folder_;
  std::string extension_;
  std::shared_ptr<engine::ZVProfile> current_;
};

}  // namespace zv::device
