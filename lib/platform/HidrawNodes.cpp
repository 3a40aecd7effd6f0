#include "platform/HidrawNodes.h"

#include <algorithm>
#include <optional>

#include "platform/ReadFile.h"

namespace zv::platform {

namespace fs = std::filesystem;

namespace {

// The largest report descriptor the kernel keeps (HID_MAX_DESCRIPTOR_SIZE).
constexpr std::size_t kMaxDescriptor = 4096;
// A uevent file is a few hundred bytes; more is not one.
constexpr std::size_t kMaxUevent = 16384;

// "hidraw10" → 10, for ordering; names without a number sort last.
unsigned long nodeNumber(const std::string& name) {
  const std::size_t digits = name.find_first_of("0123456789");
  if (digits == std::string::npos) return ~0ul;
  try {
    return std::stoul(name.substr(digits));
  } catch (...) {
    return ~0ul;
  }
}

std::optional<HidrawNode> readNode(const fs::path& entry) {
  HidrawNode node;
  node.name = entry.filename().string();
  node.devnode = "/dev/" + node.name;
  std::error_code ec;
  node.hidDevice = fs::canonical(entry / "device", ec);
  if (ec) return std::nullopt;
  const base::Result<std::string> uevent = readFile(node.hidDevice / "uevent", kMaxUevent);
  if (!uevent) return std::nullopt;
  const std::optional<HidId> id = parseHidId(ueventValue(*uevent, "HID_ID"));
  if (!id) return std::nullopt;
  node.id = *id;
  node.product = ueventValue(*uevent, "HID_NAME");
  node.phys = ueventValue(*uevent, "HID_PHYS");
  node.descriptor = readReportDescriptor(node.hidDevice);
  node.underUhid = isUnderUhid(node.hidDevice.string());
  return node;
}

}  // namespace

std::vector<HidrawNode> listHidrawNodes(const fs::path& root) {
  std::vector<HidrawNode> nodes;
  std::error_code ec;
  for (auto it = fs::directory_iterator(root / "class" / "hidraw", ec);
       !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (auto node = readNode(it->path())) nodes.push_back(std::move(*node));
  }
  std::sort(nodes.begin(), nodes.end(), [](const HidrawNode& a, const HidrawNode& b) {
    const unsigned long left = nodeNumber(a.name), right = nodeNumber(b.name);
    return left != right ? left < right : a.name < b.name;
  });
  return nodes;
}

std::vector<std::uint8_t> readReportDescriptor(const fs::path& hidDevice) {
  const base::Result<std::string> bytes = readFile(hidDevice / "report_descriptor", kMaxDescriptor);
  if (!bytes) return {};
  return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

std::string ueventValue(std::string_view uevent, std::string_view key) {
  while (!uevent.empty()) {
    const std::size_t end = uevent.find('\n');
    const std::string_view line = uevent.substr(0, end);
    if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
      return std::string(line.substr(key.size() + 1));
    }
    if (end == std::string_view::npos) break;
    uevent.remove_prefix(end + 1);
  }
  return {};
}

}  // namespace zv::platform
