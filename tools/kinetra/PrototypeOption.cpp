#include "PrototypeOption.h"

#include "profile/Prototype.h"

namespace kinetra {

zv::json::DictionaryPtr loadPrototypeOption(const std::string& path, std::string& error) {
  std::string file = path;
  if (file.empty()) {
    const auto bundled = zv::profile::bundledPrototypePath();
    if (!bundled) {
      error = "no prototype: this kinetra does not run from Kinetra.app; give --prototype FILE";
      return nullptr;
    }
    file = bundled->string();
  }
  return zv::profile::readPrototypeFile(file, &error);
}

}  // namespace kinetra
