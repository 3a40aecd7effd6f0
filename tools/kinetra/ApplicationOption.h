// How link and unlink name an application: an executable's path, a program name found
// in $PATH, or a key ("file:/usr/bin/firefox"). Paths are resolved the way the desktop
// reports the running program (/proc/<pid>/exe: symbolic links followed), so that
// "firefox" links the program that actually runs.
#pragma once

#include <string>

namespace kinetra {

// The application's key; empty, with `error` set, when a path or name finds no program.
std::string applicationKeyFor(const std::string& application, std::string& error);

}  // namespace kinetra
