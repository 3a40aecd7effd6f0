// Any bytes as a `kinetra simulate` script: parsing must not crash or hang; a failure
// names a line of the text and says why; a success keeps every limit, and its notes and
// its error messages are printable.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/EventScript.h"
#include "text/Unicode.h"

namespace {
bool printable(std::string_view text) {
  if (!zv::text::isValidUtf8(text)) return false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  zv::engine::EventScriptError error;
  const auto steps = zv::engine::parseEventScript(bytes, &error);
  if (!steps) {
    const std::size_t lines =
        static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
    if (error.message.empty() || error.line == 0 || error.line > lines) std::abort();
    if (!printable(error.describe())) std::abort();
    return 0;
  }
  std::chrono::milliseconds total{0};
  for (const auto& step : *steps) {
    if (step.delay < std::chrono::milliseconds(0) ||
        step.delay > zv::engine::kEventScriptMaxDelay) {
      std::abort();
    }
    total += step.delay;
    if (!step.note.empty() && (step.hasEvent || !printable(step.note))) std::abort();
  }
  if (total > zv::engine::kEventScriptMaxLength) std::abort();
  return 0;
}
