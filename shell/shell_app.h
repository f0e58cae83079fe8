#pragma once
// The window side of the program entry: run the main window on the prepared settings
// and data source, and write the settings back when the window closes normally.
#include <string>

namespace weavil {

struct ShellOptions {
  std::string programDir;     // with a trailing "/"
  std::string screenshotDir;  // non-empty: grab each tab into PNGs there, then quit
  bool darkPalette = false;   // the pictures in a dark desktop palette
  bool connect = false;       // load the reports at start, as "IsAutoConnect" does
};

// Takes the window's own options out of the arguments (argc shrinks): "--connect" and
// the hidden "--screenshot-dir DIR" and "--screenshot-dark". The rest is left for the command line.
void TakeShellOptions(int& argc, char** argv, ShellOptions& options);

// The exit code of a start without a display.
inline constexpr int kNoDisplayExitCode = 1;

// True when a window can be shown: a display (X11 or Wayland) is named, or Qt was told
// to use a platform that needs none (QT_QPA_PLATFORM=offscreen, ...).
bool HasDisplay();

// Creates the application object when there is none, then RunShell. Without a display
// it says so, names --help and returns kNoDisplayExitCode instead of Qt's abort.
int RunMainWindow(int& argc, char** argv, const ShellOptions& options);

// Shows the main window and runs the message loop until it ends; at a normal end the
// settings record is written to the settings file. Returns the loop's exit code (1 when
// the settings cannot be written).
int RunShell(const ShellOptions& options);

}  // namespace weavil
