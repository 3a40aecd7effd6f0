#include "device/PresentMice.h"

#include <sys/stat.h>

#include <set>

#include "platform/Paths.h"

namespace zv::device {

namespace fs = std::filesystem;

namespace {

// The daemon serving hidrawN listens on "<class>@hidrawN" in the services folder.
bool driverServes(const std::string& node) {
  std::error_code ec;
  for (auto it = fs::directory_iterator(platform::servicesFolder(), ec);
       !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::size_t at = name.rfind('@');
    if (at == std::string::npos || name.substr(at + 1) != node) continue;
    struct stat info {};
    if (::stat(it->path().c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) return true;
  }
  return false;
}

}  // namespace

std::string PresentMouse::name() const {
  return node.product.empty() ? "mouse " + identifier() : node.product;
}

std::vector<PresentMouse> presentMice(const fs::path& sysfs,
                                      const std::vector<AdoptedMouse>& adopted) {
  std::vector<PresentMouse> mice;
  for (platform::HidrawNode& node : platform::listHidrawNodes(sysfs)) {
    if (node.presentedByOurDriver()) continue;
    auto capabilities = mouseCapabilities(node.descriptor);
    if (!capabilities) continue;
    PresentMouse mouse;
    mouse.capabilities = std::move(*capabilities);
    mouse.node = std::move(node);
    mouse.automatic = isAutomaticProduct(mouse.vendor(), mouse.product());
    for (const AdoptedMouse& record : adopted) {
      if (record.vendor == mouse.vendor() && record.product == mouse.product())
        mouse.adopted = true;
    }
    mouse.driverRunning = driverServes(mouse.node.name);
    mice.push_back(std::move(mouse));
  }
  return mice;
}

std::string notAdoptedNotice(const PresentMouse& mouse) {
  return "found mouse " + mouse.identifier() + " (" + mouse.name() +
         "), not adopted: kinetra adopt " + mouse.identifier();
}

std::vector<std::string> notAdoptedNotices() {
  std::vector<std::string> notices;
  std::set<std::string> said;
  for (const PresentMouse& mouse : presentMice()) {
    if (mouse.served() || !said.insert(mouse.identifier()).second) continue;
    notices.push_back(notAdoptedNotice(mouse));
  }
  return notices;
}

}  // namespace zv::device
