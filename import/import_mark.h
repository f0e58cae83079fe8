#pragma once
// Where the last import of a plain log file ended, kept in the database it wrote
// (table ImportMark, one row): the file, the bytes read (up to a line end), a hash of
// those bytes, a hash of the settings that shape sessions, the Fields directive in
// force there and the last session and request identifiers after it. When the same
// file is imported again with its imported part unchanged, the same settings and
// nothing else written to the database since, the import reads on from that byte with
// the sessions still open there taken back from the database: it stores what reading
// the whole file again would store, without reading again what was stored before.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "settings/settings.h"

namespace weavil {

class DbSession;

struct ImportMark {
  std::string path;             // absolute
  int64_t endOffset = 0;        // bytes imported, the last of them a line end
  std::string prefixHash;       // of bytes [0, endOffset), as PrefixHash gives it
  std::string settingsHash;     // SettingsHash of the import's copies
  std::string fieldsDirective;  // in force at endOffset (W3C logs), else empty
};

// Where a prefix hash stood after the last whole 32-byte stripe of the bytes it read:
// the hash of a longer prefix of the same file goes on from there and reads only the
// bytes after it.
struct PrefixHashStart {
  int64_t offset = -1;  // a multiple of 32; -1: none
  uint64_t lanes[4] = {};
  uint64_t tail = 0, length = 0;
};

// A hash of the first length bytes of the file (hex text); empty when the file does
// not open or is shorter. With start: where it stood for PrefixHashFrom.
std::string PrefixHash(const std::string& path, int64_t length, PrefixHashStart* start = nullptr);
// PrefixHash(path, length) of a file whose first start.offset bytes gave start: only
// the bytes after them are read. The whole prefix is read when start is none or lies
// past length.
std::string PrefixHashFrom(const std::string& path, int64_t length, const PrefixHashStart& start);
// A hash of the settings that decide how lines become sessions.
std::string SettingsHash(const ImportCopies& copies);

// The path as the mark names it: absolute, symbolic links resolved; empty when the
// file does not exist.
std::string MarkPath(const std::string& path);

// The mark of an import that read path's bytes [0, end), whose hash prefixHash is
// (PrefixHash), with the settings copies and the Fields directive in force at end.
// None when the path does not resolve or the hash is missing.
std::optional<ImportMark> MarkOfImport(const std::string& path, int64_t end, std::string prefixHash,
                                       const ImportCopies& copies, std::string fieldsDirective);

// The mark of the database, when the database has one and nothing was stored since it
// was written (its last session and request identifiers still match).
std::optional<ImportMark> ReadImportMark(DbSession& db);
// Replaces the database's mark by mark (none: only removes it), inside the caller's
// transaction after the import's rows are written. A failed statement shows in the
// session's errors, so the import is rolled back with it.
void WriteImportMark(DbSession& db, const ImportMark* mark);

// Where a new import of path may read on from: the database's mark when it names this
// file, the same settings, and the file still starts with the bytes it hashed.
// With hashed: where the hash of the imported part stood, for the mark the import
// leaves (PrefixHashFrom). beforeHash, when given, is called with the mark and the
// session it was read through before the file's imported part is hashed.
std::optional<ImportMark> FindResumePoint(const std::string& path, const ImportCopies& copies,
                                          PrefixHashStart* hashed = nullptr,
                                          const std::function<void(const ImportMark&, DbSession&)>& beforeHash = {});

}  // namespace weavil
