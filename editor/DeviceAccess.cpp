#include "DeviceAccess.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

namespace zv::editor {

int openForReadWrite(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

std::vector<RefusedNode> refusedNodes(const std::vector<std::filesystem::path>& nodes,
                                      const NodeOpener& open) {
  std::vector<RefusedNode> refused;
  for (const auto& node : nodes) {
    if (const int error = open(node); error != 0) refused.push_back({node, error});
  }
  return refused;
}

std::vector<std::filesystem::path> hidrawNodesOf(
    const std::vector<std::pair<std::uint16_t, std::uint16_t>>& identifiers,
    const std::filesystem::path& hidrawClass, const std::filesystem::path& devFolder) {
  std::vector<std::filesystem::path> nodes;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator(hidrawClass, error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const auto device = it->path() / "device";
    // The driver's own mouse hangs below the virtual uhid parent.
    const auto real = std::filesystem::canonical(device, error);
    if (error) {
      error.clear();
      continue;
    }
    if (real.string().find("/virtual/misc/uhid/") != std::string::npos) continue;
    std::ifstream uevent(device / "uevent");
    for (std::string line; std::getline(uevent, line);) {
      if (line.rfind("HID_ID=", 0) != 0) continue;
      unsigned bus = 0, vendor = 0, product = 0;
      if (std::sscanf(line.c_str() + 7, "%x:%x:%x", &bus, &vendor, &product) != 3) break;
      for (const auto& [wantedVendor, wantedProduct] : identifiers) {
        if (vendor == wantedVendor && product == wantedProduct) {
          nodes.push_back(devFolder / it->path().filename());
          break;
        }
      }
      break;
    }
  }
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}

std::string accessAlertMessage(const std::string& brand) {
  return brand + " Editor needs your permission to run";
}

std::string accessAlertAdvice(const std::vector<RefusedNode>& refused) {
  std::ostringstream text;
  text << "The editor cannot open ";
  bool missingUinput = false;
  for (std::size_t i = 0; i < refused.size(); ++i) {
    if (i > 0) text << (i + 1 == refused.size() ? " and " : ", ");
    text << refused[i].path.string() << " (" << std::strerror(refused[i].error) << ")";
    missingUinput =
        missingUinput || (refused[i].error == ENOENT && refused[i].path.filename() == "uinput");
  }
  text << ".\n\n";
  if (missingUinput) text << "Load the uinput module: sudo modprobe uinput\n";
  text << "Give your user access to /dev/uinput and to your mouse's hidraw node with a udev "
          "rule (/etc/udev/rules.d/70-kinetra-local.rules, as the README shows), add yourself to "
          "the group input (sudo usermod -aG input $USER), reload the rules (sudo udevadm "
          "control --reload && sudo udevadm trigger) and log in again. Then restart the "
          "editor.";
  return text.str();
}

}  // namespace zv::editor
