#pragma once
// The per-user settings store: one INI file, $XDG_CONFIG_HOME/Vyr/Weavil/1.4/Weavil.ini
// (default ~/.config/...), with the value names, types and defaults of the record.
#include <string>

#include "settings/settings.h"

namespace weavil {

std::string DefaultSettingsFile();
// The first run's "Path": the program folder followed by "log/", or for an installed
// program $XDG_DATA_HOME/Vyr/Weavil/log/.
std::string DefaultDownloadFolder(const std::string& programDir);

class SettingsStore {
 public:
  explicit SettingsStore(std::string filePath = DefaultSettingsFile());

  // Reads every value. A store that does not exist yet is created first with the
  // defaults ("Path" = programDir followed by "log/"). Texts longer than 259 characters
  // or unreadable become empty, missing numbers 0, an empty "Extensions" the default
  // list. Takes the import's copies of "DefaultHost" and "Extensions".
  void Load(Settings& settings, ImportCopies& copies, const std::string& programDir) const;

  // Writes every value; false when the store cannot be written.
  bool Save(const Settings& settings) const;

  bool Exists() const;
  const std::string& FilePath() const { return filePath_; }

 private:
  std::string filePath_;
};

// Load into / save from the process-wide record, under its lock.
void LoadAppSettings(const std::string& programDir, const SettingsStore& store = SettingsStore());
bool SaveAppSettings(const SettingsStore& store = SettingsStore());

}  // namespace weavil
