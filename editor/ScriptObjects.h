// The objects a page reaches through the web channel. Their invokable methods are the
// script interface, under the exact names pages call; nothing else of them is meant for
// pages. Write pages against this header.
//
// HOW A PAGE USES THE BRIDGE
//
// The editor injects Qt's qwebchannel.js and a start-up script into every page, before
// the page's own scripts run. Once the channel is up, the globals `editor` (every window)
// and `device` (the editor's main window only) exist, the device's own script text has
// been evaluated, and then the editor sends its load events (below). A page therefore
// does its first calls from its handler of 'editor:update', never from its own start-up.
//
// Calls are asynchronous: a call returns at once and its answer arrives later, in the
// order the calls were made. Every method takes an optional callback as its last
// argument, and without one answers a Promise:
//
//   editor.profileList(function (names) { ... });       // or
//   const names = await editor.profileList();
//   editor.setProfile('Game');                           // no answer needed
//
// A call's effects (events it sends, files it writes) have happened when its answer
// arrives. Answers are JSON values: strings, numbers, booleans, arrays, or null where
// the list below says "or null". Arguments of the wrong type are converted as the web
// channel converts them (a number for a string argument becomes its text; text for a
// number becomes 0).
//
// EVENTS INTO THE PAGE
//
// The editor evaluates "$(document).trigger('editor:NAME')" (editor events) and
// "$(document).trigger('NAME')" (system events) in the page, so the page must define a
// jQuery-compatible `$` whose $(document).trigger(name) calls its handlers. Events carry
// no data: the page calls back for details. Evaluated scripts run in the order the editor
// sends them, after every answer already on its way; editor events are sent at once,
// system events are queued on the editor's main loop first, so a system event may reach
// the page after an editor event sent later.
//
//   editor:update             the page loaded; after newProfile, a successful setProfile,
//                             resetProfile, and deleteProfile's re-selection
//   editor:profileRenamed     the page loaded (right after editor:update)
//   editor:profileList        the profile folder changed (another process too)
//   editor:activeProfileChanged  a new active profile (also set by another process)
//   editor:closing            the window is closing (already hidden)
//   deviceDisconnect          the mouse went away (nothing is sent on connect)
//   deviceConnectComplete     at page load, when the device's connection is complete
//   softwareUpdateAvailable   a newer version was found; also at page load when known
//   softwareUpdateDownloadProgress   read downloadPercentage
//   softwareUpdateDownloadComplete   the package is downloaded; also at page load
//
// At page load the order is: editor:update, editor:profileRenamed, then the system
// events (deviceConnectComplete, softwareUpdateAvailable, softwareUpdateDownloadComplete,
// as they apply); the window is shown only after that.
//
// Test mode: after setDeviceActionCallback('fn'), presses on the mouse run the edited
// profile with its actions reported instead of performed, as fn('action', usagePage,
// usage, value, text) (text '' when the action has none). setDeviceActionCallback('')
// ends test mode. Test mode stays on while the edited profile changes (setProfile,
// newProfile, deleteProfile, resetProfile): the profile edited next is tested.
//
// Key tap: after startKeyTap('fn'), each key reaches fn(usagePage, usage, value,
// elapsedMs), elapsedMs 0 for the first key.
//
// Threads: the GUI thread.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>

namespace zv::device {
class DeviceController;
}

namespace zv::editor {

class ZVHTMLWindow;
class ZVEditorWindow;

// Published objects must not be deleted by a page: the web channel would otherwise let
// a page call deleteLater() on them.
class ScriptObject : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;
  bool event(QEvent* event) override;
};

// "editor" in every HTML window.
class HTMLWindowScriptObject : public ScriptObject {
  Q_OBJECT

 public:
  HTMLWindowScriptObject(ZVHTMLWindow& window, QObject* parent);

  Q_INVOKABLE void startWindowDrag();
  Q_INVOKABLE void close();
  // fn(usagePage, usage, value, elapsedMs) for each key until stopKeyTap.
  Q_INVOKABLE void startKeyTap(const QString& functionName);
  Q_INVOKABLE void stopKeyTap();
  Q_INVOKABLE void setIsVisible(bool visible);
  Q_INVOKABLE void displayAtMouseWithSize(uint width, uint height);
  // {file: "child.html"}: answers the number of child windows (the new child's number);
  // without "file" nothing is made.
  Q_INVOKABLE uint createHTMLWindow(const QVariant& arguments);
  Q_INVOKABLE void displayChildWindowAtPosition(int child, int x, int y);
  Q_INVOKABLE void setChildWindowIsVisible(int child, bool visible);
  Q_INVOKABLE void invokeJSOnChildWindow(const QString& script, int child);
  Q_INVOKABLE void invokeJSOnParent(const QString& script);
  Q_INVOKABLE void hideChildren();
  Q_INVOKABLE void log(const QString& text);

 private:
  ZVHTMLWindow& window_;
};

// "editor" in the editor's main window: the window operations above and these.
class EditorScriptObject : public HTMLWindowScriptObject {
  Q_OBJECT

 public:
  EditorScriptObject(ZVEditorWindow& window, QObject* parent);

  // Profiles. Names are the profile store's ("Default" first). The first one is the
  // device bundle's default profile: it is read-only (save and setProfileJSON answer
  // false for it) and cannot be deleted.
  // Answers whether the edited profile was written.
  Q_INVOKABLE bool save();
  Q_INVOKABLE QStringList profileList();
  Q_INVOKABLE void setProfile(const QString& name);
  Q_INVOKABLE void setDeviceActionCallback(const QString& functionName);
  Q_INVOKABLE void newProfile();
  // Deleting the first profile or an unknown name does nothing (the log says why).
  Q_INVOKABLE void deleteProfile(const QString& name);
  Q_INVOKABLE void renameProfile(const QString& oldName, const QString& newName);
  Q_INVOKABLE void resetProfile();
  Q_INVOKABLE QString getActiveProfile();
  Q_INVOKABLE void setActiveProfile(const QString& name);
  // '' while the store's "NoProfile" setting is on.
  Q_INVOKABLE QString startupProfile();
  Q_INVOKABLE void setStartupProfile(const QString& name);
  // The edited profile as JSON text.
  Q_INVOKABLE QString profileJSON();
  // The edited profile takes the JSON, re-applies its shift state and is saved. Answers
  // false, leaving the profile and its file as they were, for JSON that does not parse,
  // a profile that would not read back (a text with [ ] ' " or \) and the default profile.
  Q_INVOKABLE bool setProfileJSON(const QString& json);

  // Application links. An application is its executable's path; a link's key is
  // "file:" + that path (spaces as %20).
  Q_INVOKABLE void openAppLinkDialogForProfile(const QString& profileName);
  Q_INVOKABLE void unlinkAppFromProfile(const QString& application, const QString& profileName);
  Q_INVOKABLE QStringList appsLinkedToProfile(const QString& profileName);
  // Whether links fire on this desktop: { linksWork, canLink, provider, reason } (see
  // ZVEditorWindow::FocusStatus).
  Q_INVOKABLE QVariant focusStatus();
  // The application's name for an executable's path, a link key or an application
  // folder; null when the path is none of these.
  Q_INVOKABLE QVariant appNameAtPath(const QString& path);

  // Commands and favourites.
  Q_INVOKABLE QString commandXML();
  // The favourites file's text, or null when it cannot be read.
  Q_INVOKABLE QVariant favoriteCommandJSON();
  Q_INVOKABLE void setFavouriteCommandJSON(const QString& text);

  // Desktop.
  // The chosen image's path (percent-escapes kept), or '' when cancelled.
  Q_INVOKABLE QString browseForImagePath();
  Q_INVOKABLE void systemMouseSettings();
  Q_INVOKABLE void openURL(const QString& url);

  // Software update.
  Q_INVOKABLE void startUpdateDownload();
  Q_INVOKABLE int downloadPercentage();
  Q_INVOKABLE void installUpdate();
  // The available version, or null.
  Q_INVOKABLE QVariant updateVersion();
  Q_INVOKABLE void updateIsDownloaded();

  // Languages.
  Q_INVOKABLE QString languageNameForLocale(const QString& locale);
  Q_INVOKABLE QString currentLocale();

  // The editor's own page: the file an "open" action opens, chosen in a file chooser
  // ('' when cancelled); the device bundle's layout of the controls (its "EditorLayout"
  // file's text, or null); the device nodes this user cannot open, as
  // [{path, missing: true when the node does not exist, reason}] (empty when all open).
  Q_INVOKABLE QString chooseFileToOpen();
  Q_INVOKABLE QVariant deviceLayoutJSON();
  Q_INVOKABLE QVariantList deviceAccess();

 private:
  ZVEditorWindow& editor_;
};

// "device" in the editor's main window: the device controller's script operations.
// An operation the controller does not have (GetBatteryLifeYears on the plain
// controller) or arguments that do not fit answer null and log why.
class DeviceScriptObject : public ScriptObject {
  Q_OBJECT

 public:
  DeviceScriptObject(std::shared_ptr<device::DeviceController> device, QObject* parent);

  Q_INVOKABLE QVariant OverrideElement(const QVariant& element, const QVariant& enabled);
  Q_INVOKABLE QVariant GetBundleVersion();
  Q_INVOKABLE QVariant GetName();
  Q_INVOKABLE QVariant GetPID();
  Q_INVOKABLE QVariant GetVID();
  Q_INVOKABLE QVariant connected();
  Q_INVOKABLE QVariant GetBatteryLevel();
  Q_INVOKABLE QVariant GetBatteryState();
  Q_INVOKABLE QVariant GetBatteryLifeYears();
  Q_INVOKABLE QVariant controlDescriptionJSON();
  Q_INVOKABLE QVariant GetBrand();
  Q_INVOKABLE QVariant GetAlias();
  Q_INVOKABLE QVariant GetBalias();
  Q_INVOKABLE QVariant GetType();
  Q_INVOKABLE QVariant WriteSettings();
  Q_INVOKABLE QVariant GetSetting(const QVariant& key);
  Q_INVOKABLE QVariant SetSetting(const QVariant& key, const QVariant& value);

 private:
  QVariant call(const char* scriptName, std::initializer_list<QVariant> arguments);
  std::shared_ptr<device::DeviceController> device_;
};

// Internal: the start-up script tells the window that the channel is up in a new page.
class PageReadyObject : public ScriptObject {
  Q_OBJECT

 public:
  PageReadyObject(std::function<void()> onReady, QObject* parent);
  Q_INVOKABLE void ready();

 private:
  std::function<void()> onReady_;
};

}  // namespace zv::editor
