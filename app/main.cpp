#include <iostream>

#include "cli/cli.h"
#include "shell/shell_app.h"
#include "store/data_source_registry.h"
#include "store/database.h"
#include "store/trace.h"

int main(int argc, char** argv) {
  // The hidden screenshot option belongs to the window, not to the commands.
  std::string screenshotDir = weavil::TakeScreenshotOption(argc, argv);
  // Settings, then the data source (or the --db file); a command runs and ends here.
  int code = weavil::RunCli(argc, argv, std::cout, std::cerr);
  if (code == weavil::kExitOpenWindow) {
    weavil::ShellOptions options;
    options.programDir = weavil::ProgramDir();
    options.screenshotDir = screenshotDir;
    code = weavil::RunMainWindow(argc, argv, options);
  }
  weavil::LogDataSource::Release();
  weavil::CloseTrace();
  return code;
}
