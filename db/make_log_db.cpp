// Builds the database template db/log.db: the schema, the address ranges and the
// country names. Run by the build; the program itself never creates tables.
//   make_log_db SCHEMA.sql RANGES.csv.gz COUNTRIES.csv OUT.db [RANGES6.csv.gz]
// RANGES.csv.gz holds IPv4 ranges as numbers, RANGES6.csv.gz IPv6 ranges as address
// texts; the IPv6 bounds are stored as 16-byte big-endian blobs, which SQLite compares
// byte by byte, so they order as the addresses do.
#include <arpa/inet.h>
#include <sqlite3.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "make_log_db: %s\n", message.c_str());
  return 1;
}

bool Exec(sqlite3* db, const std::string& sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    error = message ? message : "unknown error";
    sqlite3_free(message);
    return false;
  }
  return true;
}

// Narrower ranges rank higher: the number of leading address bits the range shares,
// as for a network prefix (a /24 gets 24, a single address 32).
int64_t ValueBitsOf(uint32_t start, uint32_t end) {
  uint64_t size = static_cast<uint64_t>(end) - start + 1;
  int bits = 0;
  while ((uint64_t{1} << (bits + 1)) <= size && bits < 32) ++bits;
  return 32 - bits;
}

// The IPv6 counterpart of ValueBitsOf: 128 less the bits of the range's size.
int64_t ValueBits6Of(const unsigned char start[16], const unsigned char end[16]) {
  unsigned __int128 a = 0, b = 0;
  for (int i = 0; i < 16; ++i) {
    a = (a << 8) | start[i];
    b = (b << 8) | end[i];
  }
  unsigned __int128 span = b - a;  // the size less one: the whole space does not overflow
  if (span == ~static_cast<unsigned __int128>(0)) return 0;
  unsigned __int128 size = span + 1;
  int bits = 0;
  while ((size >> (bits + 1)) != 0) ++bits;
  return 128 - bits;
}

std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') field.push_back('"'), ++i;
      else if (c == '"') quoted = false;
      else field.push_back(c);
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.push_back(field);
      field.clear();
    } else if (c != '\r') {
      field.push_back(c);
    }
  }
  fields.push_back(field);
  return fields;
}

// A prepared statement on db; null with the reason (naming table) when it does not
// prepare.
sqlite3_stmt* Prepare(sqlite3* db, const std::string& sql, const char* table, std::string& error) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) return statement;
  error = std::string(table) + ": " + sqlite3_errmsg(db);
  sqlite3_finalize(statement);
  return nullptr;
}

// Writes the row bound to insert; false with the reason ("insert WHAT: why").
bool InsertRow(sqlite3* db, sqlite3_stmt* insert, const char* what, std::string& error) {
  if (sqlite3_step(insert) != SQLITE_DONE) {
    error = std::string("insert ") + what + ": " + sqlite3_errmsg(db);
    return false;
  }
  sqlite3_reset(insert);
  return true;
}

// The bounds of one range line bound to the insert (start, end, code, value bits);
// false when the line is no range.
using BindRange = bool (*)(sqlite3_stmt* insert, const std::vector<std::string>& fields);

// "start,end,code" with the IPv4 bounds as numbers.
bool BindIpv4Range(sqlite3_stmt* insert, const std::vector<std::string>& fields) {
  if (fields.size() < 3) return false;
  char* end1 = nullptr;
  char* end2 = nullptr;
  unsigned long long start = std::strtoull(fields[0].c_str(), &end1, 10);
  unsigned long long end = std::strtoull(fields[1].c_str(), &end2, 10);
  if (*end1 || *end2 || start > end || end > 0xFFFFFFFFull) return false;
  sqlite3_bind_int64(insert, 1, static_cast<int64_t>(start));
  sqlite3_bind_int64(insert, 2, static_cast<int64_t>(end));
  sqlite3_bind_text(insert, 3, fields[2].c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(insert, 4, ValueBitsOf(static_cast<uint32_t>(start), static_cast<uint32_t>(end)));
  return true;
}

// "start,end,code" with the IPv6 bounds as address texts, stored as 16-byte blobs.
bool BindIpv6Range(sqlite3_stmt* insert, const std::vector<std::string>& fields) {
  unsigned char start[16], end[16];
  if (fields.size() < 3 || inet_pton(AF_INET6, fields[0].c_str(), start) != 1 ||
      inet_pton(AF_INET6, fields[1].c_str(), end) != 1 || std::memcmp(start, end, 16) > 0)
    return false;
  sqlite3_bind_blob(insert, 1, start, 16, SQLITE_TRANSIENT);
  sqlite3_bind_blob(insert, 2, end, 16, SQLITE_TRANSIENT);
  sqlite3_bind_text(insert, 3, fields[2].c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(insert, 4, ValueBits6Of(start, end));
  return true;
}

// Reads the range lines of a gzip file into table; the number of ranges, or -1 with
// the reason.
long InsertRanges(sqlite3* db, const char* table, const char* path, BindRange bind, std::string& error) {
  sqlite3_stmt* insert = Prepare(
      db, std::string("INSERT INTO ") + table + " (StartIP, EndIP, Code, ValueBits) VALUES (?,?,?,?)", table, error);
  if (!insert) return -1;
  gzFile ranges = gzopen(path, "rb");
  if (!ranges) {
    sqlite3_finalize(insert);
    error = std::string("cannot read ") + path;
    return -1;
  }
  char buffer[512];
  long count = 0, lineNumber = 0;
  while (gzgets(ranges, buffer, sizeof buffer)) {
    ++lineNumber;
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty()) continue;
    if (!bind(insert, SplitCsv(line))) {
      error = std::string(path) + ":" + std::to_string(lineNumber) + ": bad range line: " + line;
      count = -1;
      break;
    }
    if (!InsertRow(db, insert, "range", error)) {
      count = -1;
      break;
    }
    ++count;
  }
  gzclose(ranges);
  sqlite3_finalize(insert);
  return count;
}

// Reads the country names (a header line, then "code,name" lines) into Countries; the
// number of countries, or -1 with the reason.
long InsertCountries(sqlite3* db, const char* path, std::string& error) {
  std::ifstream countries(path);
  if (!countries) {
    error = std::string("cannot read ") + path;
    return -1;
  }
  sqlite3_stmt* insert = Prepare(db, "INSERT INTO Countries (Code, Name) VALUES (?,?)", "Countries", error);
  if (!insert) return -1;
  std::string line;
  long count = 0;
  bool header = true;
  while (std::getline(countries, line)) {
    if (header) {
      header = false;
      continue;
    }
    std::vector<std::string> fields = SplitCsv(line);
    if (fields.size() < 2 || fields[0].empty()) continue;
    sqlite3_bind_text(insert, 1, fields[0].c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, fields[1].c_str(), -1, SQLITE_TRANSIENT);
    if (!InsertRow(db, insert, "country", error)) {
      count = -1;
      break;
    }
    ++count;
  }
  sqlite3_finalize(insert);
  return count;
}

// A new database at path with the schema of the file schemaPath, in an open
// transaction; null with the reason.
sqlite3* CreateDatabase(const std::string& path, const char* schemaPath, std::string& error) {
  std::ifstream schemaFile(schemaPath);
  if (!schemaFile) {
    error = std::string("cannot read ") + schemaPath;
    return nullptr;
  }
  std::stringstream schema;
  schema << schemaFile.rdbuf();
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    error = "cannot create " + path;
    return nullptr;
  }
  std::string why;
  if (!Exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;", why) || !Exec(db, schema.str(), why)) {
    sqlite3_close(db);
    error = "schema: " + why;
    return nullptr;
  }
  return db;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6)
    return Fail("usage: make_log_db SCHEMA.sql RANGES.csv.gz COUNTRIES.csv OUT.db [RANGES6.csv.gz]");
  std::string outPath = argv[4];
  std::string tempPath = outPath + ".tmp";
  std::remove(tempPath.c_str());

  std::string error;
  sqlite3* db = CreateDatabase(tempPath, argv[1], error);
  if (!db) return Fail(error);
  long rangeCount = InsertRanges(db, "IPRanges", argv[2], BindIpv4Range, error);
  if (rangeCount < 0) return Fail(error);
  long range6Count = argc == 6 ? InsertRanges(db, "IPRanges6", argv[5], BindIpv6Range, error) : 0;
  if (range6Count < 0) return Fail(error);
  long countryCount = InsertCountries(db, argv[3], error);
  if (countryCount < 0) return Fail(error);
  if (!Exec(db, "COMMIT; VACUUM;", error)) return Fail("commit: " + error);
  sqlite3_close(db);
  if (std::rename(tempPath.c_str(), outPath.c_str()) != 0) return Fail("cannot write " + outPath);
  std::printf("log.db: %ld IPv4 and %ld IPv6 address ranges, %ld countries\n", rangeCount, range6Count, countryCount);
  return 0;
}
