// The installed applications as the desktop lists them: the ".desktop" files of the XDG
// data folders ($XDG_DATA_HOME/applications, else ~/.local/share/applications, then each
// folder of $XDG_DATA_DIRS, else /usr/local/share and /usr/share). The editor's
// application chooser shows them, and their names and icons stand for executables.
//
// Only the "[Desktop Entry]" group is read: Type (must be Application), Name, Icon, Exec,
// TryExec, NoDisplay and Hidden. An entry's executable is the first word of Exec (quotes
// and backslash escapes undone), looked up in PATH unless it holds a slash; an entry
// whose executable cannot be found is left out. An entry file of the user's folder hides
// one of the same file name further down the list, as the desktop does.
//
// The reader takes any bytes: lines it does not understand are skipped, never fatal.
//
// Threads: any; nothing is shared.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::editor {

struct DesktopEntry {
  std::string id;          // the file name, "org.gnome.Calculator.desktop"
  std::string name;        // Name
  std::string icon;        // Icon: a theme icon name or an absolute file path
  std::string exec;        // Exec as written
  std::string executable;  // the first word of Exec, unquoted (not yet looked up)
  bool noDisplay = false;  // NoDisplay or Hidden
};

// Reads one entry file's text. Nothing when it has no "[Desktop Entry]" group, is not of
// Type "Application", or lacks a Name or an Exec.
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string id = {});

// The first word of an Exec value with the quoting of the desktop entry format undone;
// empty when the value is empty or its quoting is broken.
std::string execProgram(std::string_view exec);

// The folders searched, in order.
std::vector<std::filesystem::path> applicationFolders();

// An installed application: the entry and its executable's absolute path.
struct InstalledApplication {
  DesktopEntry entry;
  std::filesystem::path executablePath;
};

// Every displayable application, sorted by name (case-insensitive), at most one per
// executable.
std::vector<InstalledApplication> installedApplications();
// The application whose executable is `path` (compared after resolving symbolic links).
std::optional<InstalledApplication> applicationForExecutable(const std::filesystem::path& path);

// `name` looked up in PATH when it holds no slash; the path itself when it names an
// executable regular file; nothing otherwise.
std::optional<std::filesystem::path> findExecutable(const std::string& name);

}  // namespace zv::editor
