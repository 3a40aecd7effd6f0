// Whether this user may use the devices the suite needs: /dev/uinput (the virtual
// keyboard and wheel, and the key tap's re-emitted keys) and the mouse's hidraw nodes.
// The editor checks at start-up and, when access is missing, opens all the same (it sends
// no keys itself): standard error and a banner of its page say what will not work and
// how to get access.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zv::editor {

struct RefusedNode {
  std::filesystem::path path;
  int error = 0;  // errno of the failed open: EACCES, ENOENT, …
};

// Opens a node for reading and writing and answers 0, or the errno.
using NodeOpener = std::function<int(const std::filesystem::path&)>;
int openForReadWrite(const std::filesystem::path& path);

// The nodes of `nodes` this user cannot open for reading and writing.
std::vector<RefusedNode> refusedNodes(const std::vector<std::filesystem::path>& nodes,
                                      const NodeOpener& open = openForReadWrite);

// The hidraw nodes under `hidrawClass` (/sys/class/hidraw) of a device with one of the
// (vendor, product) pairs, as "/dev/hidrawN". Virtual (uhid) devices are left out: they
// are the driver's own re-presented mouse.
std::vector<std::filesystem::path> hidrawNodesOf(
    const std::vector<std::pair<std::uint16_t, std::uint16_t>>& identifiers,
    const std::filesystem::path& hidrawClass = "/sys/class/hidraw",
    const std::filesystem::path& devFolder = "/dev");

// The message ("<Brand> Editor needs your permission to run"), on standard error.
std::string accessAlertMessage(const std::string& brand);
// What is refused and how a Linux user gets access, below the message.
std::string accessAlertAdvice(const std::vector<RefusedNode>& refused);

}  // namespace zv::editor
