// The JSON reader's failures as the tool prints them.
#pragma once

#include <string>
#include <string_view>

#include "json/Error.h"

namespace kinetra {

// "<domain> <code>: <description>". The reader gives no description when there is no
// data at all; then the text says so, naming `input`.
std::string describeJsonError(const zv::json::Error& error, std::string_view input);

}  // namespace kinetra
