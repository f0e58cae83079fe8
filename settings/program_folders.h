#pragma once
// Where the program's own files are. Run from its build folder, everything sits beside
// the program (db/, help/, libplotwell.so). Installed into a prefix P, the program is
// P/bin/weavil, its libraries are in P/lib and its read-only files (help pages, the
// database template) in P/share/weavil; what it writes (the database of "Log", the
// downloaded logs) then lives below $XDG_DATA_HOME/Vyr/Weavil, because the prefix
// belongs to whoever installed it.
#include <string>

namespace weavil {

// True when programDir (with or without a trailing "/") is the bin/ folder of an
// installed prefix: ../share/weavil holds the database template and no db/ folder sits
// beside the program.
bool IsInstalledProgram(const std::string& programDir);

// The folder of the program's read-only files, with a trailing "/": P/share/weavil/
// when installed, else programDir.
std::string ProgramDataDir(const std::string& programDir);

// $XDG_DATA_HOME/Vyr/Weavil (default ~/.local/share/Vyr/Weavil), without a trailing "/".
std::string UserDataHome();

// The chart library to register: the one beside the program when it is there, else the
// one in runtimeFolder (the folder the component runtime was loaded from, P/lib when
// installed). The first candidate's path when neither exists.
std::string ChartLibraryFile(const std::string& programDir, const std::string& runtimeFolder);

}  // namespace weavil
