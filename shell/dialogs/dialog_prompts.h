#pragma once
// The questions the dialogs put to the user through other windows (error boxes, the
// folder chooser). Tests answer them instead; the defaults are the real dialogs.
#include <QString>

#include <functional>

class QWidget;

namespace weavil {

struct DialogPrompts {
  // A message box with an error icon and OK.
  std::function<void(QWidget* parent, const QString& title, const QString& text)> showError;
  // A folder starting from start; empty when the user cancels.
  std::function<QString(QWidget* parent, const QString& start)> chooseFolder;
};

DialogPrompts& DialogPromptsInUse();
// The real error box: an error icon, the title and text, and OK.
void ShowErrorBox(QWidget* parent, const QString& title, const QString& text);
// Puts the real dialogs back.
void ResetDialogPrompts();

}  // namespace weavil
