// A user's own files (profiles, preferences, links) as they are at one moment, to prove
// that installing, upgrading and removing the suite leaves them exactly as they were.
#pragma once

#include <map>
#include <string>

namespace zv::vmtest {

// Path below `home` → content, for every regular file and symbolic link (its target) below
// it, apart from caches and the user's systemd units.
using FileContents = std::map<std::string, std::string>;
FileContents userFiles(const std::string& home);

// The first file of `before` that `after` lost or holds changed, in words ("changed:
// .local/share/…"), or empty when every one is kept as it was. Files that are new in
// `after` are not a loss.
std::string firstLost(const FileContents& before, const FileContents& after);

}  // namespace zv::vmtest
