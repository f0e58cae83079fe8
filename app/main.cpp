#include <iostream>

#include "cli/cli.h"
#include "store/database.h"
#include "store/trace.h"

int main(int argc, char** argv) {
  int code = weavil::RunCli(argc, argv, std::cout, std::cerr);
  if (code == weavil::kExitOpenWindow) {
    // The desktop window is not part of this build yet: say how to use the commands.
    char help[] = "--help";
    char* helpArgv[] = {argv[0], help, nullptr};
    code = weavil::RunCli(2, helpArgv, std::cout, std::cerr);
  }
  weavil::LogDataSource::Release();
  weavil::CloseTrace();
  return code;
}
