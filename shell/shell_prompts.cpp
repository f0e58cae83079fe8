#include "shell/shell_prompts.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "shell/dialogs/dialog_prompts.h"

namespace weavil {

QStringList OrderLogFiles(const QStringList& files) {
  std::vector<std::pair<QDateTime, QString>> dated;
  for (const QString& file : files) dated.emplace_back(QFileInfo(file).lastModified(), file);
  std::stable_sort(dated.begin(), dated.end());
  QStringList ordered;
  for (const auto& [time, file] : dated) ordered.push_back(file);
  return ordered;
}

namespace {

ShellPrompts RealPrompts() {
  ShellPrompts prompts;
  prompts.chooseLogFile = [](QWidget* parent, const QString& folder) {
    QFileDialog dialog(parent, QStringLiteral("Open"), folder,
                       QStringLiteral("Log Files (*.log *.log.* *.gz *.bz2 *.xz *.zst);;All Files (*.*)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setDefaultSuffix(QStringLiteral("log"));
    if (dialog.exec() != QDialog::Accepted) return QStringList();
    return OrderLogFiles(dialog.selectedFiles());
  };
  prompts.chooseReportFile = [](QWidget* parent, const QString& suggested) {
    QFileDialog dialog(parent, QStringLiteral("Export HTML"), suggested,
                       QStringLiteral("HTML pages (*.html);;All Files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("html"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().front();
  };
  prompts.confirm = [](QWidget* parent, const QString& title, const QString& text) {
    return QMessageBox::warning(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel) ==
           QMessageBox::Ok;
  };
  prompts.showError = ShowErrorBox;
  return prompts;
}

}  // namespace

ShellPrompts& Prompts() {
  static ShellPrompts prompts = RealPrompts();
  return prompts;
}

void ResetPrompts() { Prompts() = RealPrompts(); }

}  // namespace weavil
