#include "device/ProfileStoreInterface.h"

namespace zv::device {

SimpleProfileStore::SimpleProfileStore(std::filesystem::path seedPath,
                                       std::filesystem::path profileFolder, std::string extension)
    : seedPath_(std::move(seedPath)),
      folder_(std::move(profileFolder)),
      extension_(std::move(extension)) {}

std::filesystem::path SimpleProfileStore::pathForProfile(const std::string& name) const {
  return folder_ / (name + extension_);
}

}  // namespace zv::device
