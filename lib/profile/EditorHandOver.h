// Starting the editor for a profile. The asking process writes a small XML property list,
// the hand-over file, and opens it with "<Applications folder>/<brand> Editor.app"; the
// editor reads the file to learn which profile, and for which device, it is to edit:
//
//   { "file": profile path, "alias": device udid, "name": device name,
//     "productId": number, "vendorId": number }          (invokeEditorForProfileUsingAlias)
//   { "file": profile path, "balias": device balias }    (invokeEditorForProfileUsingBalias)
//
// The file goes to the runtime folder ($XDG_RUNTIME_DIR, else /tmp; platform/Paths.h) under
// a random name ("<32 hex digits>.pr1"), created exclusively with mode 0600 and never
// through a symbolic link, so no other user can read it, plant a file or a link in its
// place, or guess its name. Nothing removes it but the editor, once read, or the end of
// the session, which empties $XDG_RUNTIME_DIR.
//
// These functions take the device's values; ZVProfile's class operations of the same
// names pass them from its DeviceController. Any thread; the workspace call returns
// without waiting for the editor.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "json/Value.h"

namespace zv::profile {

// What the editor is told about the device in the "alias" form.
struct EditorDevice {
  std::string udid;  // written as "alias"
  std::string name;
  std::uint32_t productId = 0;
  std::uint32_t vendorId = 0;
};

// Writes `dictionary` as an XML property list to a new file "<random>.<extension>" in the
// runtime folder (see above) and answers its path; none, with `error` saying why, when the
// extension is not a plain name or the file cannot be created.
std::optional<std::filesystem::path> writeEditorHandOver(const json::DictionaryPtr& dictionary,
                                                         std::string_view extension,
                                                         std::string* error = nullptr);

// The dictionary of a hand-over file; none, with `error` saying why, for anything that is
// not a regular file of at most 64 KiB holding a property-list dictionary.
json::DictionaryPtr readEditorHandOver(const std::filesystem::path& path,
                                       std::string* error = nullptr);

// "<Applications folder>/<brand> Editor.app"; none when there is no brand or it is not
// usable in a file name (empty, ".", "..", or holding '/').
std::optional<std::filesystem::path> editorApplicationPath(const std::optional<std::string>& brand,
                                                           std::string* error = nullptr);

// Writes the hand-over file for `profilePath` and asks the shared workspace
// (output/Workspace.h) to open it with the editor of the running application's brand
// (ZVBrandedApplication). Answers whether the editor was started; on failure `error`
// says why and no hand-over file is left behind. Fails before writing anything when the
// editor application is missing or has no executable.
bool invokeEditorForProfileUsingAlias(const std::filesystem::path& profilePath,
                                      const EditorDevice& device, std::string* error = nullptr);
bool invokeEditorForProfileUsingBalias(const std::filesystem::path& profilePath,
                                       std::string_view balias, std::string* error = nullptr);

}  // namespace zv::profile
