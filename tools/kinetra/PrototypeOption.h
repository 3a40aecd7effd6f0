// The profile prototype for subcommands that take --prototype: the given file, else the
// one bundled in Kinetra.app.
#pragma once

#include <string>

#include "json/Value.h"

namespace kinetra {

// The parsed prototype, or null with `error` saying why.
zv::json::DictionaryPtr loadPrototypeOption(const std::string& path, std::string& error);

}  // namespace kinetra
