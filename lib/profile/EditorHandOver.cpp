#include "profile/EditorHandOver.h"

#include <cerrno>
#include <cstring>

#include "output/Workspace.h"
#include "platform/ExclusiveFile.h"
#include "platform/Paths.h"
#include "platform/ReadFile.h"
#include "support/BrandedApplication.h"
#include "support/PropertyList.h"
#include "text/Unicode.h"

namespace zv::profile {
namespace {

constexpr std::size_t kLargestHandOver = 64 * 1024;
// A collision of 128 random bits means something else is wrong; a few tries suffice.
constexpr int kNameAttempts = 4;
static_assert(kNameAttempts > 0);

bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

base::Failure failure(EditorHandOverCode code, std::string message) {
  return base::Failure{kEditorHandOverDomain, code, std::move(message)};
}

base::Result<void> handOver(const json::DictionaryPtr& dictionary) {
  const json::Value* file = dictionary->find("file");
  if (!file || !text::isValidUtf8(file->asString())) {
    return failure(kProfilePathNotText,
                   "the profile path is not UTF-8 text: the editor could not be told it");
  }
  const auto application = editorApplicationPath(support::ZVBrandedApplication::brand());
  if (!application) return application.failure().prefixed("cannot start the editor: ");
  std::string why;
  if (!output::applicationExecutable(application->string(), &why)) {
    return failure(kEditorUnusable, "cannot start the editor: " + why);
  }
  const auto handOverFile =
      writeEditorHandOver(dictionary, support::ZVBrandedApplication::brandProfileExtension());
  if (!handOverFile) return handOverFile.failure().prefixed("cannot start the editor: ");
  if (!output::Workspace::shared()->openFileWithApplication(handOverFile->string(),
                                                            application->string())) {
    std::error_code ignored;
    std::filesystem::remove(*handOverFile, ignored);
    return failure(kEditorDidNotStart, "cannot start the editor " + application->string());
  }
  return {};
}

}  // namespace

base::Result<std::filesystem::path> writeEditorHandOver(const json::DictionaryPtr& dictionary,
                                                        std::string_view extension) {
  if (!isPlainName(extension)) {
    return failure(kNotAPlainName, "not a file-name extension: " + std::string(extension));
  }
  const std::string bytes =
      support::writePropertyListXML(dictionary ? json::Value(dictionary) : json::Value());
  const std::filesystem::path folder = platform::runtimeFolder();
  std::optional<base::Failure> last;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::optional<std::string> stem = platform::randomHexToken(16);
    if (!stem) {
      return failure(kNoRandomNumbers,
                     "no random numbers from the kernel for the hand-over file's name");
    }
    const std::filesystem::path path = folder / (*stem + "." + std::string(extension));
    const base::Result<void> created = platform::createFileExclusively(path, bytes, 0600);
    if (created) return path;
    last = created.failure();
    if (!last->is(base::kSystemDomain, EEXIST)) break;
  }
  return *last;
}

base::Result<json::DictionaryPtr> readEditorHandOver(const std::filesystem::path& path) {
  // In a shared folder: a link in the hand-over file's place is refused, not followed.
  const base::Result<std::string> read =
      platform::readFile(path, kLargestHandOver, platform::Links::refuse);
  if (!read && read.failure().domain == base::kSystemDomain) {
    return base::Failure::system(read.failure().code, path.string());
  }
  if (!read) {
    return failure(kNotAHandOverFile,
                   path.string() + ": not a hand-over file (a regular file of at most 64 KiB)");
  }
  const std::string& bytes = *read;
  std::string why;
  const std::optional<json::Value> root = support::readPropertyList(bytes, &why);
  if (!root || !root->isDictionary()) {
    return failure(kNotADictionary, path.string() + ": not a property-list dictionary" +
                                        (why.empty() ? "" : ": ") + why);
  }
  return root->asDictionary();
}

base::Result<std::filesystem::path> editorApplicationPath(const std::optional<std::string>& brand) {
  if (!brand)
    return failure(kNoBrand, "the application has no brand (\"Brand\" in its Info.plist)");
  const std::string name = *brand + " Editor.app";
  if (!isPlainName(*brand) || !isPlainName(name)) {
    return failure(kNotAPlainName, "the brand \"" + *brand + "\" cannot name an application");
  }
  return platform::applicationsFolder() / name;
}

base::Result<void> invokeEditorForProfileUsingAlias(const std::filesystem::path& profilePath,
                                                    const EditorDevice& device) {
  const json::DictionaryPtr dictionary = json::makeDictionary();
  dictionary->set("file", profilePath.string());
  dictionary->set("alias", device.udid);
  dictionary->set("name", device.name);
  dictionary->set("productId", json::Value(static_cast<std::uint64_t>(device.productId)));
  dictionary->set("vendorId", json::Value(static_cast<std::uint64_t>(device.vendorId)));
  return handOver(dictionary);
}

base::Result<void> invokeEditorForProfileUsingBalias(const std::filesystem::path& profilePath,
                                                     std::string_view balias) {
  const json::DictionaryPtr dictionary = json::makeDictionary();
  dictionary->set("file", profilePath.string());
  dictionary->set("balias", std::string(balias));
  return handOver(dictionary);
}

}  // namespace zv::profile
