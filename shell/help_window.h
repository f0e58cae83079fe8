#pragma once
// The help window: the HTML help pages shipped in help/ beside the program, opened at
// html/index.htm, with back, forward and contents buttons. One window for the run.
#include <QWidget>

#include <string>

class QTextBrowser;

namespace weavil {

// The help topic every Help command opens, relative to the program's folder.
inline constexpr const char* kHelpIndexPage = "help/html/index.htm";

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(const QString& indexFile, QWidget* parent = nullptr);

  // Shows the window on the index page (creating it once); null when the help pages are
  // not there, after telling the user.
  static HelpWindow* Open(const std::string& programDir);
  static HelpWindow* Current();
  static void CloseAll();

  QTextBrowser* Browser() const { return browser_; }

 private:
  QTextBrowser* browser_ = nullptr;
};

}  // namespace weavil
