// "Select App To Link": the installed applications (name and icon from their desktop
// entries) and a button to pick any executable instead. One selection.
//
// Threads: the GUI thread; modal.
#pragma once

#include <QDialog>
#include <QString>

class QListWidget;

namespace zv::editor {

class AppLinkDialog : public QDialog {
 public:
  explicit AppLinkDialog(const QString& title, QWidget* parent = nullptr);

  // The chosen executable's path once accepted; empty otherwise.
  QString chosenExecutable() const { return chosen_; }

 private:
  void chooseOther();

  QListWidget* list_;
  QString chosen_;
};

}  // namespace zv::editor
