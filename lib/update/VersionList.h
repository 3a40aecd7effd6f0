// The version list an update endpoint serves: UTF-8 text, one entry per line (any
// Unicode line break ends a line), four comma-separated fields:
//
//   vendor id (hex, optional 0x), product id (hex), version text, package location
//
// for example "0x5a56,1704, 1.4 , https://updates.example/kinetra_1.4_amd64.deb".
// White space around each field is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zv::update {

struct VersionListEntry {
  std::uint32_t vendorId = 0;
  std::uint32_t productId = 0;
  std::string version;
  std::string location;
  std::size_t line = 0;  // 1-based; "\r\n" counts as one line break
};

struct VersionList {
  // Usable entries in the order of the text.
  std::vector<VersionListEntry> entries;
  // Why each skipped non-empty line was skipped ("line 3: ..."), or why the whole text was
  // (not UTF-8). For people diagnosing their list; the entries never depend on them.
  std::vector<std::string> problems;
};

// Never fails: text that is not UTF-8 yields no entries; lines with another number of
// fields, ids that are not 32-bit hexadecimal numbers, and versions that could not name a
// file (see isUsableVersionText) are skipped. A leading byte-order mark is ignored.
VersionList parseVersionList(std::string_view text);

// Whether `version` can name the cached package file "<version>.deb": 1 to 128
// characters of letters, digits and ". + ~ _ -", in components separated by single dots,
// none of them empty. Real version texts are dotted numbers; this keeps a hostile list
// from writing outside the cache, and "99..0" from passing for a version.
bool isUsableVersionText(std::string_view version);

}  // namespace zv::update
