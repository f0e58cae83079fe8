#pragma once
// Shared test helpers: temporary folders and fresh database files from the template.
#include <cstdint>
#include <string>

namespace weavil {
class DbSession;
}

namespace weavil::test {

// A new empty folder under the system's temporary folder, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A temporary folder the process works in while the object lives: the trace file
// "RovanTrace.txt" lands there. The trace is closed and the old working folder
// restored at the end.
class WorkFolder : public TempDir {
 public:
  WorkFolder();
  ~WorkFolder();
  // The trace written so far (the trace file is closed, so the next line starts a new one).
  std::string Trace() const;

 private:
  std::string previous_;
};

// Sets TZ while the object lives and restores it afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  bool hadOld_ = false;
  std::string old_;
};

// The first column of the first row sql yields, as a number; -1 when the statement
// fails or yields no row (or the database does not open).
int64_t QueryNumber(DbSession& session, const std::string& sql);
int64_t QueryNumber(const std::string& databasePath, const std::string& sql);

// Copies the generated database template to path.
void CopyTemplateDatabase(const std::string& path);
// Gives a template's copy the tables naming sessions (Resource, SessionBytes, the link
// tables) as they were before the file kept them by number, empty: tables keyed by the
// SessionId text, with their indexes and the stored queries on Resource.
bool KeepSessionTablesByText(DbSession& session);
// Gives a template's copy ResourceRow, empty, with its TimeEnter typed TEXT as earlier
// templates had it, keeping the views and triggers on it.
bool KeepRequestTimesAsText(DbSession& session);
// Gives a template's copy the sessions as the table Session, with each agent's text in
// its row, as earlier templates had them: its rows, key sequence and indexes kept, and
// the views and triggers that read SessionRow reading the table.
bool KeepSessionsAsTable(DbSession& session);

// Writes text to a file (binary, exactly as given).
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// Runs a shell command: its output (both streams); *status is its exit status, -1 when
// it could not run or did not exit.
std::string Shell(const std::string& command, int* status);

// The program folder of the build (bin/), where weavil and db/log.db are.
std::string BuildBinDir();

}  // namespace weavil::test
