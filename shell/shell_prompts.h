#pragma once
// The window's questions to the user that tests answer instead: the file-open dialog and
// the message boxes. The defaults are the real dialogs.
#include <QString>

#include <functional>

class QWidget;

namespace weavil {

struct ShellPrompts {
  // The log file to open, starting in folder; empty when the user cancels.
  std::function<QString(QWidget* parent, const QString& folder)> chooseLogFile;
  // The page "Export HTML..." writes, suggested first; empty when the user cancels.
  std::function<QString(QWidget* parent, const QString& suggested)> chooseReportFile;
  // A warning with OK and Cancel; true only for OK.
  std::function<bool(QWidget* parent, const QString& title, const QString& text)> confirm;
  // An error box with OK.
  std::function<void(QWidget* parent, const QString& title, const QString& text)> showError;
};

// The prompts in use (the real dialogs unless a test replaced them).
ShellPrompts& Prompts();
// Puts the real dialogs back.
void ResetPrompts();

}  // namespace weavil
