#include "shell/shell_app.h"

#include <QApplication>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "cli/huge_page_heap.h"
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
    if (std::strcmp(word, "--screenshot-dark") == 0) {
      options.darkPalette = true;
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

namespace {

constexpr const char* kNoDisplayText =
    "weavil: cannot open the window: no display to show it on (DISPLAY and WAYLAND_DISPLAY name\n"
    "none that answers). The commands need none: 'weavil --help' lists them, for example\n"
    "'weavil import FILE', 'weavil report sessions' or 'weavil export html FILE'.\n";

QtMessageHandler previousHandler = nullptr;

// Qt ends the process with an abort when no platform plugin starts; say what to do
// instead and end with a plain failure.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) {
    std::cerr << kNoDisplayText << std::flush;
    std::_Exit(kNoDisplayExitCode);
  }
  if (previousHandler) previousHandler(type, context, message);
  else std::cerr << qPrintable(qFormatLogMessage(type, context, message)) << '\n';
}

}  // namespace

bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  // A platform chosen by name (offscreen, vnc, ...) needs no display of the desktop's.
  if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0 && std::strncmp(platform, "wayland", 7) != 0)
    return true;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

int RunMainWindow(int& argc, char** argv, const ShellOptions& options) {
  if (QApplication::instance()) return RunShell(options);
  if (!HasDisplay()) {
    std::cerr << kNoDisplayText;
    return kNoDisplayExitCode;
  }
  // The window refreshes all six views after every import and filter change.
  UseHugePageHeap();
  // A named display that does not answer shows only while the application starts.
  previousHandler = qInstallMessageHandler(StartupMessageHandler);
  QApplication app(argc, argv);
  qInstallMessageHandler(previousHandler);
  QApplication::setApplicationName(QStringLiteral("Weavil"));
  QApplication::setOrganizationName(QStringLiteral("Vyr"));
  QApplication::setWindowIcon(ProgramIcon());
  if (options.darkPalette) {
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(DarkDesktopPalette());
  }
  return RunShell(options);
}

}  // namespace weavil
