#include "device/ControllerClasses.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "device/DeviceController.h"

namespace zv::device {

namespace {

struct Classes {
  std::mutex mutex;
  std::map<std::string, ControllerFactory, std::less<>> factories;
  // Each bundle's code is loaded once; the answer is kept (empty: loaded).
  std::map<std::filesystem::path, std::string> loaded;
};

Classes& classes() {
  static auto* instance = new Classes;  // the loaded code stays for the process's life
  return *instance;
}

}  // namespace

void registerControllerClass(std::string name, ControllerFactory factory) {
  Classes& c = classes();
  std::lock_guard lock(c.mutex);
  c.factories[std::move(name)] = std::move(factory);
}

ControllerFactory controllerClass(std::string_view name) {
  if (name == kBaseControllerClass) {
    return [](json::DictionaryPtr description, const std::filesystem::path& bundlePath) {
      return std::make_shared<DeviceController>(std::move(description), bundlePath);
    };
  }
  Classes& c = classes();
  std::lock_guard lock(c.mutex);
  const auto found = c.factories.find(name);
  return found == c.factories.end() ? ControllerFactory() : found->second;
}

std::filesystem::path bundleCodePath(const support::Bundle& bundle) {
  const json::Value executable = bundle.objectForInfoDictionaryKey("CFBundleExecutable");
  std::string name = executable.isString() ? executable.asString() : std::string();
  if (name.empty() || name.find('/') != std::string::npos) {
    name = bundle.bundlePath().filename().replace_extension().string();
  }
  return bundle.bundlePath() / "Contents" / "Linux" / (name + ".so");
}

base::Result<void> loadBundleCode(const support::Bundle& bundle) {
  const std::filesystem::path path = bundleCodePath(bundle);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return {};
  const auto answered = [](const std::string& answer) -> base::Result<void> {
    if (answer.empty()) return {};
    return base::Failure{kBundleCodeDomain, kBundleCodeNotLoaded, answer};
  };
  Classes& c = classes();
  std::string answer;
  {
    std::lock_guard lock(c.mutex);
    if (const auto known = c.loaded.find(path); known != c.loaded.end()) {
      return answered(known->second);
    }
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = ::dlerror();
    answer = "cannot load " + path.string() + ": " + (reason ? reason : "unknown reason");
  } else if (auto registerClasses =
                 reinterpret_cast<void (*)()>(::dlsym(handle, kRegisterControllerClassesSymbol))) {
    // Registration takes the lock itself.
    registerClasses();
  } else {
    answer = path.string() + " does not export " + kRegisterControllerClassesSymbol;
    ::dlclose(handle);
  }
  std::lock_guard lock(c.mutex);
  c.loaded[path] = answer;
  return answered(answer);
}

}  // namespace zv::device
