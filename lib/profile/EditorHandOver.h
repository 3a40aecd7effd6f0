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
//
// Failures are base::Failure values (base/Result.h): a failed system call in
// base::kSystemDomain with its errno, anything else in kEditorHandOverDomain with one of
// the codes below. Every message names what it is about and reads well on its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "json/Value.h"

namespace zv::profile {

inline constexpr const char* kEditorHandOverDomain = "EditorHandOver";
enum EditorHandOverCode : int {
  kNotAPlainName = 1,   // an extension or brand that cannot be part of a file name
  kNoRandomNumbers,     // the kernel gave no random bytes for the file's name
  kNotAHandOverFile,    // not a regular file of at most 64 KiB
  kNotADictionary,      // the file holds no property-list dictionary
  kNoBrand,             // the running application has no "Brand"
  kProfilePathNotText,  // the profile path is not UTF-8 and cannot be written down
  kEditorUnusable,      // the editor application is missing or has no executable
  kEditorDidNotStart,   // the workspace did not start the editor
};

// What the editor is told about the device in the "alias" form.
struct EditorDevice {
  std::string udid;  // written as "alias"
  std::string name;
  std::uint32_t productId = 0;
  std::uint32_t vendorId = 0;
};

// Writes `dictionary` as an XML property list to a new file "<random>.<extension>" in the
// runtime folder (see above) and answers its path. Fails when the extension is not a
// plain name (kNotAPlainName) or the file cannot be created (the system's failure).
base::Result<std::filesystem::path> writeEditorHandOver(const json::DictionaryPtr& dictionary,
                                                        std::string_view extension);

// The dictionary of a hand-over file (never null). Fails for what cannot be opened (the
// system's failure), is not a regular file of at most 64 KiB (kNotAHandOverFile) or holds
// no property-list dictionary (kNotADictionary).
base::Result<json::DictionaryPtr> readEditorHandOver(const std::filesystem::path& path);

// "<Applications folder>/<brand> Editor.app". Fails when there is no brand (kNoBrand) or
// it is not usable in a file name: empty, ".", "..", or holding '/' (kNotAPlainName).
base::Result<std::filesystem::path> editorApplicationPath(const std::optional<std::string>& brand);

// Writes the hand-over file for `profilePath` and asks the shared workspace
// (output/Workspace.h) to open it with the editor of the running application's brand
// (ZVBrandedApplication). Succeeds when the editor was started; after a failure no
// hand-over file is left behind. Fails before writing anything when the profile path is
// not UTF-8 (kProfilePathNotText) or the editor application is missing or has no
// executable (kEditorUnusable).
base::Result<void> invokeEditorForProfileUsingAlias(const std::filesystem::path& profilePath,
                                                    const EditorDevice& device);
base::Result<void> invokeEditorForProfileUsingBalias(const std::filesystem::path& profilePath,
                                                     std::string_view balias);

}  // namespace zv::profile
