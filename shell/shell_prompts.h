#pragma once
// The window's questions to the user that tests answer instead: the file-open dialog and
// the message boxes. The defaults are the real dialogs.
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace weavil {

struct ShellPrompts {
  // The log files to open (one or several, in the order they are to be read), starting
  // in folder; empty when the user cancels.
  std::function<QStringList(QWidget* parent, const QString& folder)> chooseLogFile;
  // The page "Export HTML..." writes, suggested first; empty when the user cancels.
  std::function<QString(QWidget* parent, const QString& suggested)> chooseReportFile;
  // A warning with OK and Cancel; true only for OK.
  std::function<bool(QWidget* parent, const QString& title, const QString& text)> confirm;
  // An error box with OK.
  std::function<void(QWidget* parent, const QString& title, const QString& text)> showError;
};

// Files chosen together, in the order an import reads them: oldest modification first
// (a rotated log's access.log.2.gz, access.log.1, access.log), equal times by name.
QStringList OrderLogFiles(const QStringList& files);

// The prompts in use (the real dialogs unless a test replaced them).
ShellPrompts& Prompts();
// Puts the real dialogs back.
void ResetPrompts();

}  // namespace weavil
