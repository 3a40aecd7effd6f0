#include "store/ZVCommandStore.h"

#include <mutex>
#include <set>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/ReadFile.h"
#include "store/ZVProfileStore.h"
#include "support/Bundle.h"
#include "text/Unicode.h"

namespace zv::store {

namespace fs = std::filesystem;

namespace {

struct ProcessState {
  std::mutex lock;
  std::shared_ptr<ZVCommandStore> instance;
};

ProcessState& state() {
  static ProcessState* const shared = new ProcessState;  // lives as long as the process
  return *shared;
}

}  // namespace

fs::path ZVCommandStore::bundleDirectory() {
  std::error_code ec;
  if (const auto bundle = support::Bundle::main()) {
    if (fs::is_directory(bundle->builtInPlugInsPath(), ec)) return bundle->builtInPlugInsPath();
  }
  return platform::devicesFolder();
}

std::shared_ptr<ZVCommandStore> ZVCommandStore::sharedCommandStore() {
  std::lock_guard lock(state().lock);
  if (!state().instance) {
    state().instance.reset(new ZVCommandStore(bundleDirectory()));
  }
  return state().instance;
}

std::shared_ptr<ZVCommandStore> ZVCommandStore::create(fs::path bundleDirectory) {
  std::lock_guard lock(state().lock);
  if (state().instance) return nullptr;
  state().instance.reset(new ZVCommandStore(std::move(bundleDirectory)));
  return state().instance;
}

void ZVCommandStore::forgetProcessInstanceForTesting() {
  std::lock_guard lock(state().lock);
  state().instance.reset();
}

ZVCommandStore::ZVCommandStore(fs::path bundleDirectory)
    : bundleDirectory_(std::move(bundleDirectory)) {
  commonFolder_ = ZVProfileStore::applicationSupportFolder() / "Common";
  std::error_code ec;
  fs::create_directories(commonFolder_, ec);
  favouritesPath_ = commonFolder_ / "Favourites.xml";
  commandDirectoryWatcher_ = platform::VDKQueue::create();
  favouritesWatcher_ = platform::VDKQueue::create();
  if (commandDirectoryWatcher_) {
    commandDirectoryWatcher_->setDelegate(this);
    commandDirectoryWatcher_->addPath(commonFolder_.string());
  }
}

ZVCommandStore::~ZVCommandStore() {
  if (commandDirectoryWatcher_) commandDirectoryWatcher_->setDelegate(nullptr);
}

namespace {

// Whether `path` is `folder` or lies below it (both canonical).
bool isWithin(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

}  // namespace

std::string ZVCommandStore::commandXML() const {
  std::string text;
  std::error_code ec;
  // Bundles may be linked into the folder (devel mode links the source tree's, a packager
  // may link a shared copy): links to folders are followed, each folder once, so a link
  // that leads back up ends the walk there instead of going round.
  std::set<fs::path> visited;
  const auto options = fs::directory_options::skip_permission_denied |
                       fs::directory_options::follow_directory_symlink;
  for (auto it = fs::recursive_directory_iterator(bundleDirectory_, options, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code linkError;
    if (it->is_symlink(linkError) && it->is_directory(linkError)) {
      const auto target = fs::canonical(it->path(), linkError);
      const auto where = fs::canonical(it->path().parent_path(), linkError);
      if (linkError || !visited.insert(target).second || isWithin(where, target)) {
        it.disable_recursion_pending();
        continue;
      }
    }
    const fs::path relative = it->path().lexically_relative(bundleDirectory_);
    if (relative == "Favourites.xml" || !it->path().filename().string().ends_with(".xml")) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    const base::Result<std::string> bytes = platform::readFile(it->path());
    if (!bytes || !text::isValidUtf8(*bytes)) continue;
    text += *bytes;
  }
  return text;
}

}  // namespace zv::store
