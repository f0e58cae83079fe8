#include <iostream>

#include "cli/cli.h"
#include "shell/shell_app.h"
#include "store/data_source_registry.h"
#include "store/database.h"
#include "store/trace.h"

int main(int argc, char** argv) {
  // The window's own options first; the rest is the command line's.
  weavil::ShellOptions options;
  weavil::TakeShellOptions(argc, argv, options);
  // Settings, then the data source (or the --db file); a command runs and ends here.
  int code = weavil::RunCli(argc, argv, std::cout, std::cerr);
  if (code == weavil::kExitOpenWindow) {
    options.programDir = weavil::ProgramDir();
    code = weavil::RunMainWindow(argc, argv, options);
  }
  weavil::LogDataSource::Release();
  weavil::CloseTrace();
  return code;
}
