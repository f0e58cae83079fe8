#include "import/import_mark.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "base/unique_fd.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {
namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ULL;

uint64_t Rotate(uint64_t value, int bits) { return (value << bits) | (value >> (64 - bits)); }
uint64_t Round(uint64_t accumulator, uint64_t word) { return Rotate(accumulator + word * kPrime2, 31) * kPrime1; }
uint64_t Word(const unsigned char* at) {
  uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// Four lanes over 32-byte stripes, the bytes after the last whole stripe one by one,
// the length mixed in at the end.
class PrefixHasher {
 public:
  // size is a multiple of 32 except for the last call.
  void Add(const unsigned char* data, size_t size) {
    size_t at = 0;
    for (; at + 32 <= size; at += 32)
      for (int lane = 0; lane < 4; ++lane) lanes_[lane] = Round(lanes_[lane], Word(data + at + 8 * lane));
    for (; at < size; ++at) tail_ = Rotate(tail_ ^ (data[at] * kPrime3), 11) * kPrime1;
    length_ += size;
  }
  void Save(PrefixHashStart& start, int64_t offset) const {
    start.offset = offset;
    std::memcpy(start.lanes, lanes_, sizeof lanes_);
    start.tail = tail_;
    start.length = length_;
  }
  void Restore(const PrefixHashStart& start) {
    std::memcpy(lanes_, start.lanes, sizeof lanes_);
    tail_ = start.tail;
    length_ = start.length;
  }
  uint64_t Final() const {
    uint64_t hash = Rotate(lanes_[0], 1) + Rotate(lanes_[1], 7) + Rotate(lanes_[2], 12) + Rotate(lanes_[3], 18);
    hash = Round(hash ^ tail_, length_);
    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    hash *= kPrime3;
    return hash ^ (hash >> 32);
  }

 private:
  uint64_t lanes_[4] = {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1};
  uint64_t tail_ = kPrime3;
  uint64_t length_ = 0;
};

std::string Hex(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

uint64_t TextHash(uint64_t hash, const std::string& text) {
  PrefixHasher hasher;
  hasher.Add(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  return Round(hash, hasher.Final());
}

bool HasMarkTable(DbSession& db) {
  Statement find;
  const char* sql = db.IsServer()
                        ? "SELECT 1 FROM pg_tables WHERE tablename = 'importmark' AND schemaname = current_schema();"
                        : "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'ImportMark';";
  return Succeeded(find.Execute(db, sql)) && find.MoveNext() == kResultOk;
}

// What the mark is checked against: the last session and request identifiers (a
// completed session gains requests, not sessions; identifiers are never given twice,
// so a cleared database that was written again shows too). Both are read from the
// keys' own trees, without a scan.
bool LastIds(DbSession& db, int64_t& lastSession, int64_t& lastResource) {
  Statement count;
  if (Failed(count.Execute(db, "SELECT (SELECT max(NumId) FROM [Session]), (SELECT max(ResourceId) FROM Resource);")) ||
      count.MoveNext() != kResultOk)
    return false;
  lastSession = count.Get<int64_t>(1);
  lastResource = count.Get<int64_t>(2);
  return true;
}

}  // namespace

namespace {

// Adds bytes [from, to) of the file to the hash, in blocks of whole stripes but the last.
bool AddFileBytes(int fd, int64_t from, int64_t to, PrefixHasher& hasher) {
  std::vector<unsigned char> block(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(to - from, 0), 1 << 20)));
  int64_t done = from;
  while (done < to) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(to - done, static_cast<int64_t>(block.size())));
    size_t got = 0;
    while (got < want) {
      ssize_t n = ::pread(fd, block.data() + got, want - got, static_cast<off_t>(done + static_cast<int64_t>(got)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    hasher.Add(block.data(), got);
    done += static_cast<int64_t>(got);
  }
  return true;
}

// The hash of the first length bytes, the hasher standing after the first from of them.
std::string HashPrefix(const std::string& path, int64_t length, int64_t from, PrefixHasher hasher,
                       PrefixHashStart* start) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd || length < 0) return {};
  ::posix_fadvise(fd.Get(), from, length - from, POSIX_FADV_SEQUENTIAL);
  // The stripes first, then the bytes after the last whole one: the same hash as one
  // pass in blocks, with the state between the two kept.
  const int64_t whole = length - length % 32;
  if (!AddFileBytes(fd.Get(), from, whole, hasher)) return {};
  if (start) hasher.Save(*start, whole);
  if (!AddFileBytes(fd.Get(), whole, length, hasher)) return {};
  return Hex(hasher.Final());
}

}  // namespace

std::string PrefixHash(const std::string& path, int64_t length, PrefixHashStart* start) {
  return HashPrefix(path, length, 0, PrefixHasher(), start);
}

std::string PrefixHashFrom(const std::string& path, int64_t length, const PrefixHashStart& start) {
  if (start.offset < 0 || start.offset > length || start.offset % 32 != 0) return PrefixHash(path, length);
  PrefixHasher hasher;
  hasher.Restore(start);
  return HashPrefix(path, length, start.offset, hasher, nullptr);
}

std::string SettingsHash(const ImportCopies& copies) {
  uint64_t hash = kPrime3;
  hash = TextHash(hash, copies.defaultHost);
  hash = TextHash(hash, copies.extensions);
  hash = TextHash(hash, copies.logFormat);
  hash = Round(hash, copies.agentChaining ? 1 : 0);
  hash = Round(hash, static_cast<uint64_t>(copies.isModernRules));
  return Hex(hash);
}

std::string MarkPath(const std::string& path) {
  std::error_code error;
  std::filesystem::path resolved = std::filesystem::canonical(path, error);
  return error ? std::string() : resolved.string();
}

std::optional<ImportMark> MarkOfImport(const std::string& path, int64_t end, std::string prefixHash,
                                       const ImportCopies& copies, std::string fieldsDirective) {
  ImportMark mark;
  mark.path = MarkPath(path);
  mark.endOffset = end;
  mark.prefixHash = std::move(prefixHash);
  mark.settingsHash = SettingsHash(copies);
  mark.fieldsDirective = std::move(fieldsDirective);
  if (mark.path.empty() || mark.prefixHash.empty()) return std::nullopt;
  return mark;
}

std::optional<ImportMark> ReadImportMark(DbSession& db) {
  if (!HasMarkTable(db)) return std::nullopt;
  Statement read;
  if (Failed(read.Execute(db, "SELECT Path, EndOffset, PrefixHash, SettingsHash, FieldsDirective, LastSessionId, "
                              "LastResourceId FROM ImportMark;")) ||
      read.MoveNext() != kResultOk)
    return std::nullopt;
  ImportMark mark;
  read.Read(1, mark.path);
  read.Read(2, mark.endOffset);
  read.Read(3, mark.prefixHash);
  read.Read(4, mark.settingsHash);
  read.Read(5, mark.fieldsDirective);
  const int64_t markedSession = read.Get<int64_t>(6), markedResource = read.Get<int64_t>(7);
  read.Close();
  int64_t lastSession = 0, lastResource = 0;
  if (!LastIds(db, lastSession, lastResource) || lastSession != markedSession || lastResource != markedResource)
    return std::nullopt;
  return mark;
}

void WriteImportMark(DbSession& db, const ImportMark* mark) {
  Statement run;
  if (!mark) {
    if (HasMarkTable(db)) run.Execute(db, "DELETE FROM ImportMark;");
    return;
  }
  int64_t lastSession = 0, lastResource = 0;
  // Made only when missing: a server refuses even CREATE TABLE IF NOT EXISTS of an
  // existing table to a role that may not create tables (one that only reads and writes).
  if ((!HasMarkTable(db) &&
       Failed(run.Execute(db, "CREATE TABLE IF NOT EXISTS ImportMark (Path TEXT, EndOffset BIGINT, PrefixHash TEXT, "
                              "SettingsHash TEXT, FieldsDirective TEXT, LastSessionId BIGINT, LastResourceId BIGINT);"))) ||
      Failed(run.Execute(db, "DELETE FROM ImportMark;")) || !LastIds(db, lastSession, lastResource))
    return;
  run.Query(db,
            "INSERT INTO ImportMark (Path, EndOffset, PrefixHash, SettingsHash, FieldsDirective, LastSessionId, "
            "LastResourceId) VALUES (?, ?, ?, ?, ?, ?, ?);",
            mark->path, mark->endOffset, mark->prefixHash, mark->settingsHash, mark->fieldsDirective, lastSession,
            lastResource);
}

std::optional<ImportMark> FindResumePoint(const std::string& path, const ImportCopies& copies,
                                          PrefixHashStart* hashed,
                                          const std::function<void(const ImportMark&, DbSession&)>& beforeHash) {
  const std::string resolved = MarkPath(path);
  if (resolved.empty()) return std::nullopt;
  std::optional<ImportMark> mark;
  bool named = false;
  {
    DbSession db;
    if (Failed(OpenSourceSession(db))) return std::nullopt;
    mark = ReadImportMark(db);
    named = mark && mark->path == resolved && mark->settingsHash == SettingsHash(copies) && mark->endOffset > 0;
    if (named && beforeHash) beforeHash(*mark, db);
  }
  if (!named || PrefixHash(path, mark->endOffset, hashed) != mark->prefixHash) {
    if (hashed) *hashed = PrefixHashStart();
    return std::nullopt;
  }
  return mark;
}

}  // namespace weavil
