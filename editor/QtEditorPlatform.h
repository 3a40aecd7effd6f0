// The desktop's side of the editor's main window (EditorPlatform) with Qt: the choosers
// are modal dialogs, URLs open with the desktop's default handler, the frame is kept in
// "<config>/com.zenvor.Kinetra.Tessel.ini" (QSettings), languages come from QLocale.
//
// ScriptedEditorPlatform answers the choosers from files and records what it would open,
// so that a test can drive the page without dialogs (TESSEL_SCRIPTED_DESKTOP, see
// main.cpp): in its folder, "applications" holds one executable path per line (an empty
// file cancels), "image" and "open-file" one path each (missing: cancel); every URL, path or
// settings request is appended to "opened". ScriptedPackageInstaller appends "install PATH" there
// instead of handing a downloaded update to the system's package tool.
//
// Threads: the GUI thread.
#pragma once

#include <QWidget>
#include <filesystem>

#include "EditorPlatform.h"
#include "update/PackageInstaller.h"

namespace zv::editor {

class QtEditorPlatform : public EditorPlatform {
 public:
  std::vector<std::string> chooseApplications(const std::string& title) override;
  std::optional<std::string> chooseImage(const std::string& title,
                                         const std::vector<std::string>& extensions) override;
  std::optional<std::string> chooseFile(const std::string& title) override;
  void openURL(const std::string& url) override;
  void openMouseSettings() override;
  std::vector<std::string> preferredLanguages() override;
  std::string nativeLanguageName(const std::string& locale) override;
  std::optional<Rect> savedFrame(const std::string& name) override;
  void saveFrame(const std::string& name, const Rect& frame) override;

  // The file the frames are kept in.
  static std::filesystem::path framesFile();
};

class ScriptedEditorPlatform : public QtEditorPlatform {
 public:
  explicit ScriptedEditorPlatform(std::filesystem::path folder) : folder_(std::move(folder)) {}
  std::vector<std::string> chooseApplications(const std::string& title) override;
  std::optional<std::string> chooseImage(const std::string& title,
                                         const std::vector<std::string>& extensions) override;
  std::optional<std::string> chooseFile(const std::string& title) override;
  void openURL(const std::string& url) override;
  void openMouseSettings() override;

 private:
  void record(const std::string& line);
  std::filesystem::path folder_;
};

class ScriptedPackageInstaller : public update::PackageInstaller {
 public:
  explicit ScriptedPackageInstaller(std::filesystem::path folder) : folder_(std::move(folder)) {}
  bool install(const std::filesystem::path& package, std::string* error) override;

 private:
  std::filesystem::path folder_;
};

}  // namespace zv::editor
