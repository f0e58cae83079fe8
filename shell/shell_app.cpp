#include "shell/shell_app.h"

#include <QApplication>

#include <cstring>
#include <iostream>

#include "settings/settings_store.h"
#include "shell/main_frame.h"
#include "shell/screenshot.h"
#include "shell/shell_images.h"

namespace weavil {

void TakeShellOptions(int& argc, char** argv, ShellOptions& options) {
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (std::strcmp(word, "--") == 0) {  // everything after belongs to the command
      while (i < argc) argv[out++] = argv[i++];
      break;
    }
    if (std::strcmp(word, "--screenshot-dir") == 0 && i + 1 < argc) {
      options.screenshotDir = argv[++i];
      continue;
    }
    if (std::strncmp(word, "--screenshot-dir=", 17) == 0) {
      options.screenshotDir = word + 17;
      continue;
    }
    if (std::strcmp(word, "--connect") == 0) {
      options.connect = true;
      continue;
    }
    argv[out++] = argv[i];
  }
  argc = out;
  argv[argc] = nullptr;
}

int RunShell(const ShellOptions& options) {
  int code = 0;
  {
    MainFrame frame(options.programDir);
    if (options.connect) frame.OnConnect();
    frame.show();
    if (!options.screenshotDir.empty()) StartScreenshots(frame, options.screenshotDir);
    code = QApplication::exec();
  }
  if (!SaveAppSettings()) {
    std::cerr << "weavil: cannot write the settings to " << DefaultSettingsFile() << '\n';
    if (code == 0) code = 1;
  }
  return code;
}

int RunMainWindow(int& argc, char** argv, const ShellOptions& options) {
  if (QApplication::instance()) return RunShell(options);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Weavil"));
  QApplication::setOrganizationName(QStringLiteral("Vyr"));
  QApplication::setWindowIcon(ProgramIcon());
  return RunShell(options);
}

}  // namespace weavil
