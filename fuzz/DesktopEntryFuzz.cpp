// Any bytes as a desktop entry file: reading must not crash, hang or leak, and an entry it
// answers has a name, an Exec and an executable taken from that Exec.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "DesktopEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto entry = zv::editor::parseDesktopEntry(bytes, "fuzz.desktop");
  if (entry && (entry->name.empty() || entry->exec.empty() || entry->executable.empty())) {
    std::abort();
  }
  (void)zv::editor::execProgram(bytes);
  return 0;
}
