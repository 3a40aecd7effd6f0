#include "DesktopEntries.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "platform/Paths.h"

namespace zv::editor {

namespace {

// Entry files larger than this are not desktop entries.
constexpr std::uintmax_t kMaximumEntrySize = 256 * 1024;

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// The escapes of string values: \s \n \t \r \\.
std::string unescapeValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        out += value[i];
        break;
    }
  }
  return out;
}

bool isTrue(std::string_view value) {
  return value == "true";
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::filesystem::path canonicalOr(const std::filesystem::path& path) {
  std::error_code error;
  auto canonical = std::filesystem::canonical(path, error);
  return error ? path : canonical;
}

std::optional<std::string> readEntryFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > kMaximumEntrySize) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string id) {
  DesktopEntry entry;
  entry.id = std::move(id);
  bool inGroup = false;
  bool sawGroup = false;
  std::string type;
  bool hidden = false;
  std::string tryExec;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inGroup = line == "[Desktop Entry]";
      sawGroup = sawGroup || inGroup;
      continue;
    }
    if (!inGroup) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    // Localised keys ("Name[de]") are left to the plain key.
    const std::string_view key = trim(line.substr(0, equals));
    const std::string value = unescapeValue(trim(line.substr(equals + 1)));
    if (key == "Type")
      type = value;
    else if (key == "Name")
      entry.name = value;
    else if (key == "Icon")
      entry.icon = value;
    else if (key == "Exec")
      entry.exec = value;
    else if (key == "TryExec")
      tryExec = value;
    else if (key == "NoDisplay")
      entry.noDisplay = isTrue(value);
    else if (key == "Hidden")
      hidden = isTrue(value);
  }
  if (!sawGroup || type != "Application" || entry.name.empty() || entry.exec.empty()) {
    return std::nullopt;
  }
  entry.noDisplay = entry.noDisplay || hidden;
  entry.executable = execProgram(entry.exec);
  if (entry.executable.empty()) entry.executable = execProgram(tryExec);
  if (entry.executable.empty()) return std::nullopt;
  return entry;
}

std::string execProgram(std::string_view exec) {
  exec = trim(exec);
  std::string word;
  if (exec.empty()) return {};
  if (exec.front() != '"') {
    const auto end = exec.find_first_of(" \t");
    return std::string(exec.substr(0, end));
  }
  // A quoted word: \" \` \$ \\ are escapes, anything else inside the quotes is literal.
  for (std::size_t i = 1; i < exec.size(); ++i) {
    const char c = exec[i];
    if (c == '"') return word;
    if (c == '\\' && i + 1 < exec.size()) {
      word += exec[++i];
      continue;
    }
    word += c;
  }
  return {};  // no closing quote
}

std::vector<std::filesystem::path> applicationFolders() {
  std::vector<std::filesystem::path> folders;
  const char* home = std::getenv("XDG_DATA_HOME");
  folders.push_back(home && *home ? std::filesystem::path(home) / "applications"
                                  : platform::homeFolder() / ".local/share/applications");
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
  std::string_view rest = list;
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    const std::string_view folder = rest.substr(0, colon);
    if (!folder.empty()) folders.push_back(std::filesystem::path(folder) / "applications");
    rest.remove_prefix(colon == std::string_view::npos ? rest.size() : colon + 1);
  }
  return folders;
}

std::optional<std::filesystem::path> findExecutable(const std::string& name) {
  if (name.empty()) return std::nullopt;
  auto usable = [](const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
  };
  if (name.find('/') != std::string::npos) {
    if (name.front() != '/' || !usable(name)) return std::nullopt;
    return std::filesystem::path(name);
  }
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    const std::string_view folder = rest.substr(0, colon);
    rest.remove_prefix(colon == std::string_view::npos ? rest.size() : colon + 1);
    if (folder.empty() || folder.front() != '/') continue;
    const auto candidate = std::filesystem::path(folder) / name;
    if (usable(candidate)) return candidate;
  }
  return std::nullopt;
}

std::vector<InstalledApplication> installedApplications() {
  std::set<std::string> seenIds;
  std::set<std::filesystem::path> seenExecutables;
  std::vector<InstalledApplication> applications;
  for (const auto& folder : applicationFolders()) {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (auto it = std::filesystem::recursive_directory_iterator(
             folder, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (it->path().extension() == ".desktop") files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      // Entries in subfolders are named with dashes: applications/kde/x.desktop is kde-x.
      auto relative = file.lexically_relative(folder).string();
      std::replace(relative.begin(), relative.end(), '/', '-');
      if (!seenIds.insert(relative).second) continue;
      const auto text = readEntryFile(file);
      if (!text) continue;
      auto entry = parseDesktopEntry(*text, relative);
      if (!entry || entry->noDisplay) continue;
      auto executable = findExecutable(entry->executable);
      if (!executable) continue;
      if (!seenExecutables.insert(canonicalOr(*executable)).second) continue;
      applications.push_back({std::move(*entry), std::move(*executable)});
    }
  }
  std::sort(applications.begin(), applications.end(),
            [](const auto& a, const auto& b) { return lower(a.entry.name) < lower(b.entry.name); });
  return applications;
}

std::optional<InstalledApplication> applicationForExecutable(const std::filesystem::path& path) {
  const auto wanted = canonicalOr(path);
  for (auto& application : installedApplications()) {
    if (canonicalOr(application.executablePath) == wanted) return std::move(application);
  }
  return std::nullopt;
}

}  // namespace zv::editor
