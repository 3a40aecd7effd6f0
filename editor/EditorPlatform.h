// What the editor's main window needs from the desktop besides its own window: modal
// choosers, opening URLs and the desktop's mouse settings, the user's languages and a
// place to keep the window frame. QtEditorPlatform is the desktop's; tests use a fake.
//
// Threads: the GUI thread. The choosers are modal: they return when the user is done.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "HTMLWindowHost.h"

namespace zv::editor {

class EditorPlatform {
 public:
  virtual ~EditorPlatform() = default;

  // "Select App To Link": the installed applications and any executable. Answers the
  // chosen executables' paths; empty when cancelled.
  virtual std::vector<std::string> chooseApplications(const std::string& title) = 0;
  // "Select Command Icon": one file of the given extensions. Answers its URL text
  // ("file:///…", percent-escaped); nothing when cancelled.
  virtual std::optional<std::string> chooseImage(const std::string& title,
                                                 const std::vector<std::string>& extensions) = 0;
  // A file or program for an "open" action: any file. Answers its path; nothing when
  // cancelled.
  virtual std::optional<std::string> chooseFile(const std::string& title) = 0;
  // Opens a URL (or path) with the desktop's default handler.
  virtual void openURL(const std::string& url) = 0;
  // Shows the desktop's mouse settings, or tells the user why it cannot.
  virtual void openMouseSettings() = 0;

  // The user's languages, most preferred first, as BCP 47 tags ("en-GB", "zh-Hant-TW").
  virtual std::vector<std::string> preferredLanguages() = 0;
  // The language of `locale` named in that language ("de" → "Deutsch"); the identifier
  // itself when unknown.
  virtual std::string nativeLanguageName(const std::string& locale) = 0;

  // The frame saved under `name`, if any.
  virtual std::optional<Rect> savedFrame(const std::string& name) = 0;
  virtual void saveFrame(const std::string& name, const Rect& frame) = 0;
};

}  // namespace zv::editor
