// Text made safe to print one item per line.
#pragma once

#include <string>
#include <string_view>

namespace zv::text {

// Appends `text` to `out` with every control character (below 0x20, and 0x7F) written as
// \xNN, so that a name or path holding a line break stays on one line. Other bytes, UTF-8
// included, pass unchanged.
void appendEscapingControls(std::string& out, std::string_view text);

}  // namespace zv::text
