#include "profile/EditorHandOver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "output/Workspace.h"
#include "platform/ExclusiveFile.h"
#include "platform/Paths.h"
#include "support/BrandedApplication.h"
#include "support/PropertyList.h"
#include "text/Unicode.h"

namespace zv::profile {
namespace {

constexpr std::size_t kLargestHandOver = 64 * 1024;
// A collision of 128 random bits means something else is wrong; a few tries suffice.
constexpr int kNameAttempts = 4;

bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool fail(std::string* error, std::string why) {
  if (error) *error = std::move(why);
  return false;
}

bool handOver(const json::DictionaryPtr& dictionary, std::string* error) {
  const json::Value* file = dictionary->find("file");
  if (!file || !text::isValidUtf8(file->asString())) {
    return fail(error, "the profile path is not UTF-8 text: the editor could not be told it");
  }
  std::string why;
  const auto application = editorApplicationPath(support::ZVBrandedApplication::brand(), &why);
  if (!application) return fail(error, "cannot start the editor: " + why);
  if (!output::applicationExecutable(application->string(), &why)) {
    return fail(error, "cannot start the editor: " + why);
  }
  const auto handOverFile =
      writeEditorHandOver(dictionary, support::ZVBrandedApplication::brandProfileExtension(), &why);
  if (!handOverFile) return fail(error, "cannot start the editor: " + why);
  if (!output::Workspace::shared()->openFileWithApplication(handOverFile->string(),
                                                            application->string())) {
    std::error_code ignored;
    std::filesystem::remove(*handOverFile, ignored);
    return fail(error, "cannot start the editor " + application->string());
  }
  return true;
}

}  // namespace

std::optional<std::filesystem::path> writeEditorHandOver(const json::DictionaryPtr& dictionary,
                                                         std::string_view extension,
                                                         std::string* error) {
  if (!isPlainName(extension)) {
    fail(error, "not a file-name extension: " + std::string(extension));
    return std::nullopt;
  }
  const std::string bytes =
      support::writePropertyListXML(dictionary ? json::Value(dictionary) : json::Value());
  const std::filesystem::path folder = platform::runtimeFolder();
  std::string why = "no random name";
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::optional<std::string> stem = platform::randomHexToken(16);
    if (!stem) {
      fail(error, "no random numbers from the kernel for the hand-over file's name");
      return std::nullopt;
    }
    const std::filesystem::path path = folder / (*stem + "." + std::string(extension));
    if (platform::createFileExclusively(path, bytes, 0600, &why)) return path;
    if (errno != EEXIST) break;
  }
  fail(error, why);
  return std::nullopt;
}

json::DictionaryPtr readEditorHandOver(const std::filesystem::path& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    fail(error, path.string() + ": " + std::strerror(errno));
    return nullptr;
  }
  struct stat info {};
  std::string bytes;
  bool readable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                  static_cast<std::size_t>(info.st_size) <= kLargestHandOver;
  if (readable) {
    bytes.resize(kLargestHandOver + 1);
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) readable = false;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    readable = readable && got <= kLargestHandOver;
  }
  ::close(fd);
  if (!readable) {
    fail(error, path.string() + ": not a hand-over file (a regular file of at most 64 KiB)");
    return nullptr;
  }
  std::string why;
  const std::optional<json::Value> root = support::readPropertyList(bytes, &why);
  if (!root || !root->isDictionary()) {
    fail(error,
         path.string() + ": not a property-list dictionary" + (why.empty() ? "" : ": ") + why);
    return nullptr;
  }
  return root->asDictionary();
}

std::optional<std::filesystem::path> editorApplicationPath(const std::optional<std::string>& brand,
                                                           std::string* error) {
  if (!brand) {
    fail(error, "the application has no brand (\"Brand\" in its Info.plist)");
    return std::nullopt;
  }
  const std::string name = *brand + " Editor.app";
  if (!isPlainName(*brand) || !isPlainName(name)) {
    fail(error, "the brand \"" + *brand + "\" cannot name an application");
    return std::nullopt;
  }
  return platform::applicationsFolder() / name;
}

bool invokeEditorForProfileUsingAlias(const std::filesystem::path& profilePath,
                                      const EditorDevice& device, std::string* error) {
  const json::DictionaryPtr dictionary = json::makeDictionary();
  dictionary->set("file", profilePath.string());
  dictionary->set("alias", device.udid);
  dictionary->set("name", device.name);
  dictionary->set("productId", json::Value(static_cast<std::uint64_t>(device.productId)));
  dictionary->set("vendorId", json::Value(static_cast<std::uint64_t>(device.vendorId)));
  return handOver(dictionary, error);
}

bool invokeEditorForProfileUsingBalias(const std::filesystem::path& profilePath,
                                       std::string_view balias, std::string* error) {
  const json::DictionaryPtr dictionary = json::makeDictionary();
  dictionary->set("file", profilePath.string());
  dictionary->set("balias", std::string(balias));
  return handOver(dictionary, error);
}

}  // namespace zv::profile
