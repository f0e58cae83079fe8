#include "shell/shell_prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace weavil {
namespace {

ShellPrompts RealPrompts() {
  ShellPrompts prompts;
  prompts.chooseLogFile = [](QWidget* parent, const QString& folder) {
    QFileDialog dialog(parent, QStringLiteral("Open"), folder,
                       QStringLiteral("Log Files (*.log);;All Files (*.*)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("log"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().front();
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
  prompts.showError = [](QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::critical(parent, title, text);
  };
  return prompts;
}

}  // namespace

ShellPrompts& Prompts() {
  static ShellPrompts prompts = RealPrompts();
  return prompts;
}

void ResetPrompts() { Prompts() = RealPrompts(); }

}  // namespace weavil
