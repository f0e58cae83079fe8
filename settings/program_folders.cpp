#include "settings/program_folders.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace weavil {
namespace {

constexpr const char* kTemplateFile = "db/log-template.db";
constexpr const char* kChartLibrary = "libplotwell.so";

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  return dir;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

// P/share/weavil/ for a program in P/bin/.
std::string SharedDataDir(const std::string& programDir) {
  fs::path bin = fs::path(WithSlash(programDir)).parent_path();
  if (bin.filename() != "bin") return {};
  return WithSlash((bin.parent_path() / "share" / "weavil").string());
}

}  // namespace

bool IsInstalledProgram(const std::string& programDir) {
  if (programDir.empty() || Exists(WithSlash(programDir) + kTemplateFile)) return false;
  std::string shared = SharedDataDir(programDir);
  return !shared.empty() && Exists(shared + kTemplateFile);
}

std::string ProgramDataDir(const std::string& programDir) {
  return IsInstalledProgram(programDir) ? SharedDataDir(programDir) : WithSlash(programDir);
}

std::string UserDataHome() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data) return std::string(data) + "/Vyr/Weavil";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/Vyr/Weavil";
}

std::string ChartLibraryFile(const std::string& programDir, const std::string& runtimeFolder) {
  std::string beside = WithSlash(programDir) + kChartLibrary;
  if (Exists(beside) || runtimeFolder.empty()) return beside;
  std::string installed = WithSlash(runtimeFolder) + kChartLibrary;
  return Exists(installed) ? installed : beside;
}

}  // namespace weavil
