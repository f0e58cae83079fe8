#include "store/data_source_registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "settings/program_folders.h"
#include "store/database.h"
#include "store/pg_backend.h"
#include "store/trace.h"

namespace fs = std::filesystem;

namespace weavil {
namespace {

std::string EnvOr(const char* name, const std::string& fallbackUnderHome) {
  const char* value = std::getenv(name);
  if (value && *value) return value;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/" + fallbackUnderHome;
}

// Reads the list as section -> (key -> value), keeping unknown sections intact on rewrite.
using IniData = std::map<std::string, std::map<std::string, std::string>>;

IniData ReadIni(const std::string& path) {
  IniData data;
  std::ifstream in(path);
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      data[section];
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || section.empty()) continue;
    data[section][line.substr(0, eq)] = line.substr(eq + 1);
  }
  return data;
}

bool WriteIni(const std::string& path, const IniData& data) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  std::string temp = path + ".tmp";
  {
    // Readable by its user alone: a server's URI may hold a password.
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::fchmod(fd, 0600);
    ::close(fd);
    std::ofstream out(temp, std::ios::trunc);
    if (!out) return false;
    for (const auto& [section, values] : data) {
      out << '[' << section << "]\n";
      for (const auto& [key, value] : values) out << key << '=' << value << '\n';
      out << '\n';
    }
    if (!out.flush()) return false;
  }
  fs::rename(temp, path, ec);
  return !ec;
}

bool TryOpen(const std::string& name) {
  std::string path;
  if (!LookupDataSource(name, path)) return false;
  if (pg::IsServerUri(path)) {
    DbSession session;
    return session.OpenFile(path) >= 0;
  }
  sqlite3* db = nullptr;
  int32_t result = OpenDatabaseFile(path, &db);
  if (db) sqlite3_close(db);
  return result >= 0;
}

bool FolderWritable(const std::string& folder) { return ::access(folder.c_str(), W_OK) == 0; }

}  // namespace

std::string UserConfigDir() { return EnvOr("XDG_CONFIG_HOME", ".config") + "/Vyr/Weavil/1.4"; }
std::string UserDataDir() { return UserDataHome(); }
std::string DataSourceListPath() { return UserConfigDir() + "/datasources.ini"; }

bool LookupDataSource(const std::string& name, std::string& databasePath) {
  IniData data = ReadIni(DataSourceListPath());
  auto section = data.find(name);
  if (section == data.end()) return false;
  auto value = section->second.find("Database");
  if (value == section->second.end() || value->second.empty()) return false;
  databasePath = value->second;
  return true;
}

bool RegisterDataSource(const std::string& name, const std::string& databasePath) {
  std::string listPath = DataSourceListPath();
  IniData data = ReadIni(listPath);
  data[name]["Database"] = databasePath;
  data[name]["Driver"] = pg::IsServerUri(databasePath) ? "PostgreSQL" : "SQLite 3";
  return WriteIni(listPath, data);
}

namespace {
std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  return dir;
}
}  // namespace

std::string ProgramDatabasePath(const std::string& programDir) {
  if (IsInstalledProgram(programDir)) return UserDataDir() + "/log.db";
  return WithSlash(programDir) + "db/log.db";
}

std::string TemplateDatabasePath(const std::string& programDir) {
  return ProgramDataDir(programDir) + "db/log-template.db";
}

std::string ProgramDir() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  std::string dir = exe.parent_path().string();
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  return dir;
}

namespace {

// Copies the template into the open file fd and flushes it to the disk; errno tells why not.
bool CopyInto(const std::string& templatePath, int fd) {
  int in = ::open(templatePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (;;) {
    ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < got;) {
      ssize_t put = ::write(fd, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) ok = false;
      else done += put;
    }
    if (!ok) break;
  }
  int saved = errno;
  ::close(in);
  if (ok && ::fsync(fd) != 0) ok = false;
  else errno = saved;
  return ok;
}

}  // namespace

bool CreateDatabaseFromTemplate(const std::string& templatePath, const std::string& path, std::string& error) {
  std::error_code ec;
  if (fs::exists(path, ec)) return true;
  if (!fs::exists(templatePath, ec)) {
    error = "database template " + templatePath + " is missing";
    return false;
  }
  fs::path target(path);
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  // The copy is made under a name of its own and appears under the real name only when
  // complete: a full disk must not leave a cut database that every later run fails on.
  std::string temp = path + ".new-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  bool copied = CopyInto(templatePath, fd);
  int copyErrno = errno;
  if (::close(fd) != 0 && copied) {
    copied = false;
    copyErrno = errno;
  }
  if (copied) ::chmod(temp.c_str(), 0644);
  // link() never replaces: a database another process made meanwhile is kept.
  if (copied && ::link(temp.c_str(), path.c_str()) != 0 && errno != EEXIST) {
    if (::rename(temp.c_str(), path.c_str()) != 0) {
      copied = false;
      copyErrno = errno;
    }
  }
  ::unlink(temp.c_str());
  if (!copied) {
    error = "cannot create " + path + ": " + std::strerror(copyErrno);
    return false;
  }
  // The copy takes the template's mode, which is read-only when it was installed by
  // someone else; the database itself is the user's to write.
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
  if (ec) {
    error = "cannot make " + path + " writable: " + ec.message();
    return false;
  }
  return true;
}

void EnsureDataSource(const std::string& programDir) {
  if (TryOpen("Log")) return;
  WriteTrace("Fail to open ODBC source");
  // A server that does not answer now is still the user's choice: it is kept, and the
  // reports say why it did not open.
  std::string registered;
  if (LookupDataSource("Log", registered) && pg::IsServerUri(registered)) return;
  std::string databasePath = ProgramDatabasePath(programDir);
  // An installed program, or a program folder we may not write to, gets a per-user
  // copy; SQLite needs to write beside the file for its journal.
  if (IsInstalledProgram(programDir) || !FolderWritable(fs::path(databasePath).parent_path().string())) {
    std::string userCopy = UserDataDir() + "/log.db";
    std::string error;
    if (CreateDatabaseFromTemplate(TemplateDatabasePath(programDir), userCopy, error)) databasePath = userCopy;
  }
  WriteTrace("Creating new ODBC source...");
  RegisterDataSource("Log", databasePath);
  WriteTrace(TryOpen("Log") ? "succeed" : "faild");
}

}  // namespace weavil
