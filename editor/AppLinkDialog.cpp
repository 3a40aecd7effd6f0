#include "AppLinkDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "DesktopEntries.h"

namespace zv::editor {

namespace {

constexpr int kPathRole = Qt::UserRole + 1;

QIcon entryIcon(const DesktopEntry& entry) {
  const QString icon = QString::fromStdString(entry.icon);
  if (icon.startsWith('/')) return QIcon(icon);
  return QIcon::fromTheme(icon);
}

}  // namespace

AppLinkDialog::AppLinkDialog(const QString& title, QWidget* parent)
    : QDialog(parent), list_(new QListWidget(this)) {
  setWindowTitle(title);
  resize(420, 480);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setIconSize(QSize(24, 24));
  for (const auto& application : installedApplications()) {
    auto* item = new QListWidgetItem(entryIcon(application.entry),
                                     QString::fromStdString(application.entry.name), list_);
    const QString path = QString::fromStdString(application.executablePath.string());
    item->setData(kPathRole, path);
    item->setToolTip(path);
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  auto* link = buttons->addButton(tr("Link"), QDialogButtonBox::AcceptRole);
  auto* other = buttons->addButton(tr("Other Program…"), QDialogButtonBox::ActionRole);
  link->setEnabled(false);
  connect(list_, &QListWidget::itemSelectionChanged, this,
          [this, link] { link->setEnabled(!list_->selectedItems().isEmpty()); });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    chosen_ = item->data(kPathRole).toString();
    accept();
  });
  connect(link, &QPushButton::clicked, this, [this] {
    const auto selected = list_->selectedItems();
    if (selected.isEmpty()) return;
    chosen_ = selected.front()->data(kPathRole).toString();
    accept();
  });
  connect(other, &QPushButton::clicked, this, [this] { chooseOther(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addWidget(buttons);
}

void AppLinkDialog::chooseOther() {
  const QString path =
      QFileDialog::getOpenFileName(this, windowTitle(), QStringLiteral("/usr/bin"));
  if (path.isEmpty()) return;
  const QFileInfo info(path);
  if (!info.isFile() || !info.isExecutable()) {
    QMessageBox::warning(this, windowTitle(),
                         tr("%1 is not a program: choose an executable file.").arg(path));
    return;
  }
  chosen_ = info.absoluteFilePath();
  accept();
}

}  // namespace zv::editor
