#include "ZVAppDelegate.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include "DevelKeyInput.h"
#include "HTMLWindowWidget.h"
#include "QtEditorPlatform.h"
#include "ScriptObjects.h"
#include "ZVEditorWindow.h"
#include "device/DeviceController.h"
#include "device/DriverSets.h"
#include "device/ProfileStoreFactory.h"
#include "device/ZVDeviceManager.h"
#include "log/Log.h"
#include "output/ZVKeyboard.h"
#include "platform/Paths.h"
#include "store/ProfileFilesStoreFactory.h"
#include "store/ZVCommandStore.h"
#include "store/ZVProfileSwitcher.h"
#include "support/Bundle.h"

namespace zv::editor {

namespace {

std::string infoText(std::string_view key) {
  const auto bundle = support::Bundle::main();
  if (!bundle) return {};
  const auto value = bundle->objectForInfoDictionaryKey(key);
  return value.isString() ? value.asString() : std::string();
}

void showAlert(const std::string& message, const std::string& informative) {
  // Also on standard error: the editor may run where nobody sees its windows.
  std::fprintf(stderr, "tessel: %s\n%s\n", message.c_str(), informative.c_str());
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(message),
                  QString::fromStdString(message), QMessageBox::Ok);
  box.setInformativeText(QString::fromStdString(informative));
  box.exec();
}

bool holdsBundles(const std::filesystem::path& folder) {
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->path().extension() == ".bundle") return true;
  }
  return false;
}

// The (vendor, product) pairs of the installed descriptions with this alias, read from
// the bundles without making controllers (the device scan comes after the check).
std::vector<std::pair<std::uint16_t, std::uint16_t>> identifiersOfAlias(const std::string& alias) {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> identifiers;
  for (const auto& folder : ZVAppDelegate::bundleFolders()) {
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (it->path().extension() != ".bundle") continue;
      const auto info = support::Bundle(it->path()).infoDictionary();
      const auto* devices = info->find("Devices");
      if (!devices || !devices->isDictionary()) continue;
      const auto* rootAlias = info->find("Alias");
      for (const auto& [name, description] : *devices->asDictionary()) {
        if (!description.isDictionary()) continue;
        const auto& entry = *description.asDictionary();
        const auto* entryAlias = entry.find("Alias");
        const auto* aliasValue = entryAlias ? entryAlias : rootAlias;
        if (!aliasValue || !aliasValue->isString() || aliasValue->asString() != alias) continue;
        const auto* vendor = entry.find("VendorID");
        const auto* product = entry.find("ProductID");
        if (vendor && product && vendor->isNumber() && product->isNumber()) {
          identifiers.emplace_back(static_cast<std::uint16_t>(vendor->asNumber()),
                                   static_cast<std::uint16_t>(product->asNumber()));
        }
      }
    }
  }
  return identifiers;
}

}  // namespace

std::vector<std::filesystem::path> ZVAppDelegate::bundleFolders() {
  const auto builtIn = device::ZVDeviceManager::deviceBundleDirectory();
  if (holdsBundles(builtIn)) return {builtIn};
  return {platform::mainstreamDevicesFolder(), platform::devicesFolder()};
}

ZVAppDelegate::ZVAppDelegate(AppDelegateOptions options) : options_(std::move(options)) {
  if (!options_.alert) options_.alert = showAlert;
  platform_ = options_.platform;
  if (!platform_) {
    const char* scripted = std::getenv("TESSEL_SCRIPTED_DESKTOP");
    if (scripted && *scripted) {
      scriptedDesktop_ = scripted;
      platform_ = std::make_shared<ScriptedEditorPlatform>(scripted);
    } else {
      platform_ = std::make_shared<QtEditorPlatform>();
    }
  }
}

ZVAppDelegate::~ZVAppDelegate() = default;

ZVEditorWindow* ZVAppDelegate::win() const {
  return widget_ ? static_cast<ZVEditorWindow*>(widget_->window()) : nullptr;
}

std::string ZVAppDelegate::brand() const {
  const std::string brand = infoText("Brand");
  return brand.empty() ? std::string("Zenvor") : brand;
}

std::vector<RefusedNode> ZVAppDelegate::defaultAccessCheck(const std::string& alias) const {
  std::vector<std::filesystem::path> nodes{"/dev/uinput"};
  for (auto& node : hidrawNodesOf(identifiersOfAlias(alias))) nodes.push_back(std::move(node));
  return refusedNodes(nodes);
}

bool ZVAppDelegate::applicationDidFinishLaunching() {
  const std::string alias = options_.alias.empty() ? infoText("Alias") : options_.alias;

  // 1. Access to the devices. The editor sends no keys itself, so it opens all the same:
  // its page shows what will not work and how to fix it.
  std::vector<RefusedNode> refused;
  if (!options_.skipAccessCheck) {
    refused = options_.accessCheck ? options_.accessCheck() : defaultAccessCheck(alias);
    if (!refused.empty()) {
      std::fprintf(stderr, "tessel: %s\n%s\n", accessAlertMessage(brand()).c_str(),
                   accessAlertAdvice(refused).c_str());
    }
  }

  // 2. Overlay scroll bars are set before the application object (main.cpp).
  // 3. The command store.
  store::ZVCommandStore::sharedCommandStore();

  // 4. The device bundles of the editor's alias, their profiles in the shared store.
  device::setProfileStoreFactory(std::make_shared<store::ProfileFilesStoreFactory>());
  auto criteria = json::makeDictionary();
  criteria->set("Alias", json::Value(alias));
  auto& manager = device::ZVDeviceManager::sharedDeviceManager();
  device::ControllerList controllers;
  const auto folders = bundleFolders();
  for (const auto& folder : folders) {
    controllers = manager.scanFolder(folder, criteria);
    if (!controllers.empty()) break;
  }
  scanned_ = true;

  // 5. Matching.
  device::startMatching();

  // 6. The window.
  if (controllers.empty()) {
    options_.alert(brand() + " Editor found no device to edit",
                   "No installed device bundle has the alias \"" + alias + "\" (looked in " +
                       folders.front().string() +
                       (folders.size() > 1 ? " and " + folders.back().string() : std::string()) +
                       "). Reinstall the suite, then start the editor again.");
    return false;
  }
  const auto& device = controllers.front();
  widget_ = new HTMLWindowWidget();
  widget_->setAttribute(Qt::WA_DeleteOnClose);
  // Small enough for a 200 % desktop on a small screen, large enough for the page.
  widget_->setMinimumSize(360, 280);
  widget_->setWindowTitle(QString::fromStdString(brand() + " Editor — " + device->name()));
  EditorWindowOptions windowOptions;
  windowOptions.frontmost = store::ZVProfileSwitcher::sharedFrontmostApplication();
  windowOptions.frontmostUnavailable = store::ZVProfileSwitcher::frontmostApplicationUnavailable();
  windowOptions.page = options_.page;
  windowOptions.refusedNodes = std::move(refused);
  windowOptions.pageFailed = [this](const std::string& reason) {
    options_.alert(brand() + " Editor cannot show its window",
                   "Its page could not be loaded: " + reason +
                       ". Reinstall the suite, then start the editor again.");
    QApplication::exit(1);
  };
  if (!scriptedDesktop_.empty()) {
    windowOptions.update.installer = std::make_shared<ScriptedPackageInstaller>(scriptedDesktop_);
  }
  if (!options_.keyInput.empty()) {
    std::string error;
    auto keys = DevelKeyInput::open(options_.keyInput, &error);
    if (keys) {
      windowOptions.keyboard =
          std::make_shared<output::ZVKeyboard>(nullptr, output::TapServices{keys, nullptr});
    } else {
      ZV_LOG(log::ZVLogLevel::Critical, nullptr, "no devel key capture: %@", error);
    }
  }
  auto window = ZVEditorWindow::create(*widget_, *platform_, device, std::move(windowOptions));
  widget_->adopt(window, new EditorScriptObject(*window, widget_),
                 new DeviceScriptObject(device, widget_));
  widget_->setFrameObserver([raw = window.get()](const Rect& frame) { raw->frameChanged(frame); });
  widget_->setCloseObserver([this] {
    widget_ = nullptr;
    if (applicationShouldTerminateAfterLastWindowClosed()) QApplication::quit();
  });
  return true;
}

}  // namespace zv::editor
