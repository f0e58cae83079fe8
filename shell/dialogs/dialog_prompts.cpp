#include "shell/dialogs/dialog_prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace weavil {
namespace {

DialogPrompts RealPrompts() {
  DialogPrompts prompts;
  prompts.showError = ShowErrorBox;
  prompts.chooseFolder = [](QWidget* parent, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, QString(), start);
  };
  return prompts;
}

}  // namespace

void ShowErrorBox(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox::critical(parent, title, text);
}

DialogPrompts& DialogPromptsInUse() {
  static DialogPrompts prompts = RealPrompts();
  return prompts;
}

void ResetDialogPrompts() { DialogPromptsInUse() = RealPrompts(); }

}  // namespace weavil
