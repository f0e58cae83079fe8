#pragma once
// The per-user list of named data sources: an INI file beside the settings with one
// section per source holding the database path. Weavil uses one source, "Log".
#include <string>

namespace weavil {

// $XDG_CONFIG_HOME/Vyr/Weavil/1.4 (default ~/.config/Vyr/Weavil/1.4): settings and sources.
std::string UserConfigDir();
// $XDG_DATA_HOME/Vyr/Weavil (default ~/.local/share/Vyr/Weavil): the per-user database copy.
std::string UserDataDir();
// The data-source list file inside UserConfigDir().
std::string DataSourceListPath();

bool LookupDataSource(const std::string& name, std::string& databasePath);
// Adds or replaces a source for the current user; false when the list cannot be written.
bool RegisterDataSource(const std::string& name, const std::string& databasePath);

// The program's first own step: checks that "Log" opens and, when it does not,
// registers it for db/log.db beside the program (or for a per-user copy of the template,
// UserDataDir()/log.db, when the program is installed or its folder is not writable). Traces what it does; the program starts
// in every case.
void EnsureDataSource(const std::string& programDir);

// Copies the database template to path when path does not exist yet. Returns false
// (with a reason) when the template is missing or the copy fails.
bool CreateDatabaseFromTemplate(const std::string& templatePath, const std::string& path, std::string& error);

// db/log.db beside the program (UserDataDir()/log.db for an installed program): the
// database the data source "Log" is registered for.
std::string ProgramDatabasePath(const std::string& programDir);
// db/log-template.db beside the program (or in the installed share/weavil/): the
// pristine database with the reference data and no sessions, copied for new files.
std::string TemplateDatabasePath(const std::string& programDir);

// Folder of the running program file (with a trailing "/").
std::string ProgramDir();

}  // namespace weavil
