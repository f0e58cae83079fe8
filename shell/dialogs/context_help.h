#pragma once
// Pop-up help for the controls of a dialog: the texts of help/cxthelp/help.txt, shown by
// F1 on the focused control and by the "What's this" button. Each text stands under a
// line ".topic Dialog.control", where control is the widget's object name.
#include <QString>

#include <map>
#include <string>
#include <string_view>

class QDialog;
class QToolButton;
class QWidget;

namespace weavil {

// The topics of a help text; text lines are joined with line breaks, blank lines around
// a text are dropped.
std::map<std::string, std::string> ParseContextHelp(std::string_view text);

// The topics in use: help/cxthelp/help.txt beside the program (or in the installed
// share/weavil/) when it is there, else the copy built into the program. Read once.
const std::map<std::string, std::string>& ContextHelpTopics();
QString ContextHelpText(const QString& topic);

// Gives every named control of dialog the text of topic "prefix.objectName", turns on
// the title bar's help button and lets F1 show the focused control's text.
void InstallContextHelp(QDialog* dialog, const QString& prefix);

// A small "?" button that enters the what's-this mode (title bars here rarely have one).
QToolButton* MakeWhatsThisButton(QWidget* parent);

}  // namespace weavil
