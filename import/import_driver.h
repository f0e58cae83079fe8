#pragma once
// Importing a log: parse it from a byte offset to its end, group the requests into
// sessions in memory, then store the sessions not stored before. Several files (the
// rotated parts of one log, oldest first) form one import with one session builder, so
// a visit that spans two of them stays one session. Progress and errors go to the trace
// log; callers get counts back and may watch and cancel.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings.h"

namespace weavil {

class CountryRanges;

// What became of one file of an import.
struct SourceStats {
  std::string path;
  int64_t linesRead = 0;
  int64_t linesRejected = 0;
  int64_t records = 0;            // lines that became requests
  int64_t firstUnusableLine = 0;  // number of the first rejected or binary line, 0 when none
  std::string readError;          // reading stopped early (damaged compressed data, I/O error)
  // Lines came but not one could be used (a binary or UTF-16 file, another format).
  bool NothingUsable() const { return records == 0 && firstUnusableLine > 0; }
};

struct ImportStats {
  int64_t linesRead = 0;              // physical lines read (directives included)
  int64_t linesRejected = 0;          // data lines traced as unusable
  int64_t sessionsStored = 0;         // new sessions written
  int64_t sessionsAlreadyStored = 0;  // sessions found in the database and skipped
  int64_t sessionsCompleted = 0;      // stored sessions that got requests they lacked
  double seconds = 0;                 // wall time of parsing and storing
  // The file was read on from this byte, where the last import of it ended (it was
  // unchanged up to there; see import/import_mark.h); 0 when it was read from the
  // offset given.
  int64_t resumedAt = 0;
  bool opened = false;                // the log file could be opened
  bool cancelled = false;             // the caller cancelled: nothing was stored
  // Nothing was stored: the database did not open, its write lock did not come within
  // the busy time, or a statement failed and the import was rolled back.
  bool databaseFailed = false;
  // With databaseFailed: what to tell the user, naming the database and giving SQLite's
  // message ("cannot store the sessions in the database PATH: database is locked").
  std::string error;
  std::vector<SourceStats> sources;   // per file, in the order read (those opened)
  std::string unopenedPath;           // with opened false: the first file that did not open
  std::string formatError;            // the log format could not be read: nothing was read
  // The Fields directive in force at the end of the last file read, empty when it had
  // none: what a later import reading on in the same W3C log starts with.
  std::string fieldsDirective;
  // 2 when the files were read a second time (ImportOptions::deferMaybeStored).
  int passes = 1;
};

// Why an import that ran must not count as a success, naming the file and line: the
// format could not be read, reading a file stopped early (damaged or cut-off compressed
// data, a read failure), or a file had lines of which not one could be used (a binary
// or UTF-16 file, another format). Empty when none of these happened. A file that did
// not open is left to the caller, which can say why.
std::string ImportProblem(const ImportStats& stats);
// A path as messages show it: "-" is "standard input".
std::string ShownPath(const std::string& path);

struct ImportOptions {
  // Called for every rejected line (as read, before any joining) with its file and
  // line number; only then are lines kept for it.
  std::function<void(const std::string& path, int64_t lineNumber, std::string_view line)> rejected;
  // The lines to read continue the stored data: the same log read on from where an
  // earlier import ended (a download of the new part, a followed log), or the next
  // file of a split log. Before the first line the sessions still open at the end of
  // the stored data (last request within the session gap of the newest stored request)
  // are read back into the builder, so that requests of this import can join them;
  // such a session is then completed in place (pages appended, NumVisited, TimeExit
  // and byte sums updated) instead of being stored twice. Off, a session cut by the
  // end of the earlier import is completed only when this import reads it again from
  // its first request (a grown log imported from its start); lines read again are
  // never stored twice either way. Leave it off when the lines read overlap the
  // stored ones (from the last header of a W3C log): they would join the seeded
  // sessions a second time.
  bool continueStored = false;
  // With a regular file, no byte at or past this offset is read (-1: read to the end).
  // A followed log is read to the end of its last whole line, so a line still being
  // written is left for the next round. Only for a single plain file.
  int64_t endOffset = -1;
  // A Fields directive line in force before the first line read (the first file is
  // read on past its header, as ImportStats::fieldsDirective of the import before gave
  // it); empty: none, the lines read as those of a log without one.
  std::string fieldsDirective;
  // A session still open while this many later sessions exist, and started more than
  // deferAge seconds before the latest request, is stored at its place as it is, and
  // the later ones after it, instead of holding them all in memory until it ends (a
  // monitor polling all day, a crawler); its page requests are then written whenever
  // handOverResources more came (SessionList::Defer). A session that will close
  // within the gap is not worth it. Page requests of deferred sessions follow in
  // storing order rather than in list order; every row is the same. deferBehind
  // SIZE_MAX: never.
  size_t deferBehind = 16384;
  int64_t deferAge = 3600;
  size_t handOverResources = 65536;
  // A session that starts no later than the stored ones may be stored already: it is
  // deferred too, looked up by its start when deferred, as long as every file read is
  // a regular file. Should its start then move earlier, to where a stored session may
  // start (a line out of order), the look-up storing it whole makes could find another
  // row: the import is then rolled back and read again without deferring
  // (ImportStats::passes 2). Off: only a seeded session or one starting after every
  // stored one is deferred.
  bool deferMaybeStored = true;
  // The address ranges, read at the first new address of one import and kept for the
  // next ones into the same database (the rounds of a follow); null: each import reads
  // its own (half a million rows, a third of a second).
  std::shared_ptr<CountryRanges> countries;
};

// Reported from the import thread, at most every 100 ms: while parsing (bytes of the
// file read and to read, lines, sessions built so far), then while the last sessions
// are stored (bytesRead == bytesTotal, sessions counts the sessions handled).
class ImportProgress {
 public:
  virtual ~ImportProgress() = default;
  virtual void OnProgress(int64_t bytesRead, int64_t bytesTotal, int64_t lines, int64_t sessions) = 0;
  // Polled from the import thread; true abandons the import and stores nothing.
  virtual bool Cancelled() { return false; }
};

// Imports path from byte offset into the data source "Log" (LogDataSource::Obtain()),
// with the default host and page extensions copied when the settings were loaded.
// Traces "File Open:"/path, "File Close", "Start storing to DB", "DB stored" and the
// store's lines. A file that cannot be opened stores nothing (stats.opened false).
ImportStats RunImport(const std::string& path, int64_t offset, ImportProgress* progress = nullptr);
// The same with explicit copies of "DefaultHost", "Extensions" and "IsModernRules".
ImportStats RunImport(const std::string& path, int64_t offset, const ImportCopies& copies,
                      ImportProgress* progress = nullptr);
// Several files read one after the other as one import (offset applies to the first).
// Every file is opened before anything is read; when one does not open nothing is read
// (stats.opened false, unopenedPath names it). copies.logFormat, when not empty, is the
// format the lines are read with (see custom_format.h); a format that cannot be read
// leaves formatError set and reads nothing.
ImportStats RunImport(const std::vector<std::string>& paths, int64_t offset, const ImportCopies& copies,
                      ImportProgress* progress, const ImportOptions& options);

// One file, with options.
ImportStats RunImport(const std::string& path, int64_t offset, const ImportCopies& copies,
                      ImportProgress* progress, const ImportOptions& options);

struct HeaderOffset {
  bool compressed = false;  // the file holds compressed data; positions count decoded bytes
  int64_t offset = 0;  // just after the last "#Software:" directive line, 0 when none
  int64_t size = 0;    // length of the file in bytes, 0 when it cannot be opened
};

// Where an incremental import starts: the position just after the last directive line
// whose text after its first character begins with "Software:" (W3C logs), so the
// last header block with its Fields directive is read again. 0 when there is none or
// the file cannot be opened.
HeaderOffset FindLastHeader(const std::string& path);
int64_t FindLastHeaderOffset(const std::string& path);

struct ImportJob {
  std::string path;
  int64_t offset = 0;
  std::vector<std::string> more;  // further files read after path, as one import

  std::vector<std::string> Paths() const;
};

// Body of the import worker thread: raises the reset of the report views (and
// withdraws a pending reload), runs the import, then withdraws the reset and raises
// the reload, and finally calls finished (the window posts its import-finished
// command there). Exactly one worker runs at a time; the caller guards that.
void ImportWorker(const ImportJob& job, ImportProgress* progress = nullptr,
                  const std::function<void(const ImportStats&)>& finished = {});

}  // namespace weavil
