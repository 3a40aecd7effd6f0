#include "ScriptObjects.h"

#include <QEvent>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <cerrno>
#include <cstring>

#include "DeviceScriptOperations.h"
#include "ZVEditorWindow.h"
#include "ZVHTMLWindow.h"
#include "device/DeviceController.h"
#include "log/Log.h"

namespace zv::editor {

namespace {

std::string text(const QString& value) {
  return value.toStdString();
}

QStringList list(const std::vector<std::string>& values) {
  QStringList out;
  out.reserve(static_cast<qsizetype>(values.size()));
  for (const auto& value : values) out.push_back(QString::fromStdString(value));
  return out;
}

// A null QVariant reaches the page as null.
QVariant orNull(const std::optional<std::string>& value) {
  return value ? QVariant(QString::fromStdString(*value)) : QVariant();
}

// The web channel's JSON and the library's JSON values meet here.
json::Value toValue(const QJsonValue& value) {
  switch (value.type()) {
    case QJsonValue::Bool:
      return json::Value::boolean(value.toBool());
    case QJsonValue::Double:
      return json::Value(value.toDouble());
    case QJsonValue::String:
      return json::Value(value.toString().toStdString());
    case QJsonValue::Array: {
      auto array = json::makeArray();
      for (const auto& item : value.toArray()) array->push_back(toValue(item));
      return json::Value(array);
    }
    case QJsonValue::Object: {
      auto dictionary = json::makeDictionary();
      const auto object = value.toObject();
      for (auto it = object.begin(); it != object.end(); ++it) {
        dictionary->set(it.key().toStdString(), toValue(it.value()));
      }
      return json::Value(dictionary);
    }
    default:
      return json::Value();
  }
}

json::Value toValue(const QVariant& value) {
  return toValue(QJsonValue::fromVariant(value));
}

QJsonValue toJson(const json::Value& value) {
  switch (value.type()) {
    case json::Value::Type::Boolean:
      return QJsonValue(value.asBoolean());
    case json::Value::Type::Number:
      return QJsonValue(value.asNumber());
    case json::Value::Type::String:
      return QJsonValue(QString::fromStdString(value.asString()));
    case json::Value::Type::Array: {
      QJsonArray array;
      for (const auto& item : *value.asArray()) array.push_back(toJson(item));
      return array;
    }
    case json::Value::Type::Dictionary: {
      QJsonObject object;
      for (const auto& [key, item] : *value.asDictionary()) {
        object.insert(QString::fromStdString(key), toJson(item));
      }
      return object;
    }
    default:
      return QJsonValue(QJsonValue::Null);
  }
}

QVariant fromValue(const json::Value& value) {
  return toJson(value).toVariant();
}

}  // namespace

bool ScriptObject::event(QEvent* event) {
  if (event->type() == QEvent::DeferredDelete) return true;
  return QObject::event(event);
}

// --- editor (every window) ----------------------------------------------------------------------

HTMLWindowScriptObject::HTMLWindowScriptObject(ZVHTMLWindow& window, QObject* parent)
    : ScriptObject(parent), window_(window) {}

void HTMLWindowScriptObject::startWindowDrag() {
  window_.startWindowDrag();
}
void HTMLWindowScriptObject::close() {
  window_.close();
}
void HTMLWindowScriptObject::startKeyTap(const QString& name) {
  window_.startKeyTapJS(text(name));
}
void HTMLWindowScriptObject::stopKeyTap() {
  window_.stopKeyTapJS();
}
void HTMLWindowScriptObject::setIsVisible(bool visible) {
  window_.setIsVisible(visible);
}
void HTMLWindowScriptObject::displayAtMouseWithSize(uint width, uint height) {
  window_.displayAtMouseWithSize(width, height);
}
uint HTMLWindowScriptObject::createHTMLWindow(const QVariant& arguments) {
  return window_.createChildWindowWithArguments(toValue(arguments));
}
void HTMLWindowScriptObject::displayChildWindowAtPosition(int child, int x, int y) {
  window_.displayChildWindow(child, x, y);
}
void HTMLWindowScriptObject::setChildWindowIsVisible(int child, bool visible) {
  window_.setChildWindowIsVisible(child, visible);
}
void HTMLWindowScriptObject::invokeJSOnChildWindow(const QString& script, int child) {
  window_.invokeJavascriptOnChildWindow(text(script), child);
}
void HTMLWindowScriptObject::invokeJSOnParent(const QString& script) {
  window_.invokeJavascriptOnParentWindow(text(script));
}
void HTMLWindowScriptObject::hideChildren() {
  window_.hideChildren();
}
void HTMLWindowScriptObject::log(const QString& message) {
  window_.log(text(message));
}

// --- editor (main window) -----------------------------------------------------------------------

EditorScriptObject::EditorScriptObject(ZVEditorWindow& window, QObject* parent)
    : HTMLWindowScriptObject(window, parent), editor_(window) {}

bool EditorScriptObject::save() {
  return editor_.save();
}
QStringList EditorScriptObject::profileList() {
  return list(editor_.profileList());
}
void EditorScriptObject::setProfile(const QString& name) {
  editor_.setProfileByName(text(name));
}
void EditorScriptObject::setDeviceActionCallback(const QString& name) {
  editor_.setDeviceActionCallback(text(name));
}
void EditorScriptObject::newProfile() {
  editor_.newProfile();
}
void EditorScriptObject::deleteProfile(const QString& name) {
  editor_.deleteProfile(text(name));
}
void EditorScriptObject::renameProfile(const QString& oldName, const QString& newName) {
  editor_.renameProfile(text(oldName), text(newName));
}
void EditorScriptObject::resetProfile() {
  editor_.resetProfile();
}
QString EditorScriptObject::getActiveProfile() {
  return QString::fromStdString(editor_.activeProfile());
}
void EditorScriptObject::setActiveProfile(const QString& name) {
  editor_.setActiveProfile(text(name));
}
QString EditorScriptObject::startupProfile() {
  return QString::fromStdString(editor_.startupProfile());
}
void EditorScriptObject::setStartupProfile(const QString& name) {
  editor_.setStartupProfile(text(name));
}
QString EditorScriptObject::profileJSON() {
  return QString::fromStdString(editor_.profileJSON());
}
bool EditorScriptObject::setProfileJSON(const QString& json) {
  return editor_.setProfileJSON(text(json));
}
void EditorScriptObject::openAppLinkDialogForProfile(const QString& name) {
  editor_.openAppLinkDialogForProfile(text(name));
}
void EditorScriptObject::unlinkAppFromProfile(const QString& application, const QString& name) {
  editor_.unlinkApp(text(application), text(name));
}
QStringList EditorScriptObject::appsLinkedToProfile(const QString& name) {
  return list(editor_.appsLinkedToProfile(text(name)));
}
QVariant EditorScriptObject::focusStatus() {
  const auto status = editor_.focusStatus();
  return QVariantMap{{"linksWork", status.linksWork},
                     {"canLink", status.canLink},
                     {"provider", QString::fromStdString(status.provider)},
                     {"reason", QString::fromStdString(status.reason)}};
}
QVariant EditorScriptObject::appNameAtPath(const QString& path) {
  return orNull(ZVEditorWindow::appNameAtPath(text(path)));
}
QString EditorScriptObject::commandXML() {
  return QString::fromStdString(editor_.commandXML());
}
QVariant EditorScriptObject::favoriteCommandJSON() {
  return orNull(editor_.favouriteCommandJSON());
}
void EditorScriptObject::setFavouriteCommandJSON(const QString& value) {
  editor_.setFavouriteCommandJSON(text(value));
}
QString EditorScriptObject::browseForImagePath() {
  return QString::fromStdString(editor_.browseForImagePath());
}
void EditorScriptObject::systemMouseSettings() {
  editor_.systemMouseSettings();
}
void EditorScriptObject::openURL(const QString& url) {
  editor_.openURL(text(url));
}
void EditorScriptObject::startUpdateDownload() {
  editor_.startUpdateDownload();
}
int EditorScriptObject::downloadPercentage() {
  return editor_.downloadPercentage();
}
void EditorScriptObject::installUpdate() {
  editor_.installUpdate();
}
QVariant EditorScriptObject::updateVersion() {
  return orNull(editor_.updateVersion());
}
void EditorScriptObject::updateIsDownloaded() {
  editor_.updateIsDownloaded();
}
QString EditorScriptObject::languageNameForLocale(const QString& locale) {
  return QString::fromStdString(editor_.languageNameForLocale(text(locale)));
}
QString EditorScriptObject::currentLocale() {
  return QString::fromStdString(editor_.currentLocale());
}
QString EditorScriptObject::chooseFileToOpen() {
  return QString::fromStdString(editor_.chooseFileToOpen());
}
QVariant EditorScriptObject::deviceLayoutJSON() {
  return orNull(editor_.deviceLayoutJSON());
}
QVariantList EditorScriptObject::deviceAccess() {
  QVariantList out;
  for (const auto& node : editor_.refusedNodes()) {
    QVariantMap entry;
    entry.insert(QStringLiteral("path"), QString::fromStdString(node.path.string()));
    entry.insert(QStringLiteral("missing"), node.error == ENOENT);
    entry.insert(QStringLiteral("reason"), QString::fromLocal8Bit(std::strerror(node.error)));
    out.push_back(entry);
  }
  return out;
}

// --- device -------------------------------------------------------------------------------------

DeviceScriptObject::DeviceScriptObject(std::shared_ptr<device::DeviceController> device,
                                       QObject* parent)
    : ScriptObject(parent), device_(std::move(device)) {}

QVariant DeviceScriptObject::call(const char* scriptName,
                                  std::initializer_list<QVariant> arguments) {
  std::vector<json::Value> values;
  for (const auto& argument : arguments) values.push_back(toValue(argument));
  auto result = callDeviceScriptOperation(*device_, scriptName, values);
  if (!result) {
    ZV_LOG(log::ZVLogLevel::Notice, nullptr,
           "device.%@: no such operation on %@, or wrong arguments", scriptName,
           device_->description());
    return QVariant();
  }
  return fromValue(*result);
}

QVariant DeviceScriptObject::OverrideElement(const QVariant& element, const QVariant& enabled) {
  return call("OverrideElement", {element, enabled});
}
QVariant DeviceScriptObject::GetBundleVersion() {
  return call("GetBundleVersion", {});
}
QVariant DeviceScriptObject::GetName() {
  return call("GetName", {});
}
QVariant DeviceScriptObject::GetPID() {
  return call("GetPID", {});
}
QVariant DeviceScriptObject::GetVID() {
  return call("GetVID", {});
}
QVariant DeviceScriptObject::connected() {
  return call("connected", {});
}
QVariant DeviceScriptObject::GetBatteryLevel() {
  return call("GetBatteryLevel", {});
}
QVariant DeviceScriptObject::GetBatteryState() {
  return call("GetBatteryState", {});
}
QVariant DeviceScriptObject::GetBatteryLifeYears() {
  return call("GetBatteryLifeYears", {});
}
QVariant DeviceScriptObject::controlDescriptionJSON() {
  return call("controlDescriptionJSON", {});
}
QVariant DeviceScriptObject::GetBrand() {
  return call("GetBrand", {});
}
QVariant DeviceScriptObject::GetAlias() {
  return call("GetAlias", {});
}
QVariant DeviceScriptObject::GetBalias() {
  return call("GetBalias", {});
}
QVariant DeviceScriptObject::GetType() {
  return call("GetType", {});
}
QVariant DeviceScriptObject::WriteSettings() {
  return call("WriteSettings", {});
}
QVariant DeviceScriptObject::GetSetting(const QVariant& key) {
  return call("GetSetting", {key});
}
QVariant DeviceScriptObject::SetSetting(const QVariant& key, const QVariant& value) {
  return call("SetSetting", {key, value});
}

// --- page ready ---------------------------------------------------------------------------------

PageReadyObject::PageReadyObject(std::function<void()> onReady, QObject* parent)
    : ScriptObject(parent), onReady_(std::move(onReady)) {}

void PageReadyObject::ready() {
  if (onReady_) onReady_();
}

}  // namespace zv::editor
