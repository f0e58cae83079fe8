#pragma once
// The window side of the program entry: run the main window on the prepared settings
// and data source, and write the settings back when the window closes normally.
#include <string>

namespace weavil {

struct ShellOptions {
  std::string programDir;     // with a trailing "/"
  std::string screenshotDir;  // non-empty: grab each tab into PNGs there, then quit
  bool connect = false;       // load the reports at start, as "IsAutoConnect" does
};

// Takes the window's own options out of the arguments (argc shrinks): "--connect" and
// the hidden "--screenshot-dir DIR". The rest is left for the command line.
void TakeShellOptions(int& argc, char** argv, ShellOptions& options);

// Creates the application object when there is none, then RunShell.
int RunMainWindow(int& argc, char** argv, const ShellOptions& options);

// Shows the main window and runs the message loop until it ends; at a normal end the
// settings record is written to the settings file. Returns the loop's exit code (1 when
// the settings cannot be written).
int RunShell(const ShellOptions& options);

}  // namespace weavil
