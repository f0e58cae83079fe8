#pragma once
// Client address to country code through the shipped address ranges: IPRanges for
// IPv4, IPRanges6 for IPv6 (16-byte big-endian bounds).
#include <array>
#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "classify/ip_address.h"

namespace weavil {

class DbSession;

// The number a.b.c.d -> a*16777216 + b*65536 + c*256 + d by the standard dotted-address
// conversion (the inet_aton forms: one to four parts, decimal, octal with a leading 0,
// hexadecimal with 0x). Text that is not a valid address gives 4294967295, the same
// number as 255.255.255.255. The text is read up to its first zero byte.
uint32_t AddressNumber(std::string_view address);

// The query LookupCountry runs for an address: on IPRanges by its address number, or
// for an IPv6 address (other than an IPv4-mapped one) on IPRanges6 by its 16 bytes.
std::string CountryQuery(std::string_view address);

// Runs CountryQuery and puts the first two characters of the first row's non-null Code
// into country. Without such a row, or when the query fails, country is left as the
// caller set it (normally empty). Always returns 0; no cache, every call asks the
// database. Imports and resolve runs use CountryRanges, which answers the same (each
// query reads every range below the address, about 15 ms).
int32_t LookupCountry(std::string_view address, std::string& country, DbSession& session);

// Both range tables held in memory for the lookups of an import: overlapping ranges
// are resolved once when loading (the largest ValueBits wins, as in the query), so a
// lookup is one binary search. With a session given, each table is read the first
// time an address of its family is looked up (few logs hold IPv6 clients).
class CountryRanges {
 public:
  explicit CountryRanges(DbSession* session = nullptr) : session_(session) {}
  // A read ahead still running is broken off: nothing waits for a table no lookup asked.
  ~CountryRanges();
  CountryRanges(CountryRanges&&) = default;
  CountryRanges& operator=(CountryRanges&&) = default;
  // Reads IPRanges and IPRanges6 now (a database without IPRanges6 has no IPv6 ranges).
  // False when IPRanges cannot be read. Without withIpv6, IPRanges6 is left for
  // LoadIpv6, or for the first IPv6 lookup through the session of UseSession.
  bool Load(DbSession& session, bool withIpv6 = true);
  void LoadIpv6(DbSession& session);
  // The code (at most two characters) of the range holding the address; empty when
  // none does. An address is read as LookupCountry reads it; the first few IPv6 ones of
  // a file are answered by its query, before IPRanges6 is read.
  std::string Lookup(std::string_view address);
  // The same for an IPv4 address given as its number (AddressNumber's).
  std::string LookupIpv4(uint32_t address);
  // Reads IPRanges through the session of UseSession now, as the first IPv4 lookup
  // would (nothing when it is read already).
  void ReadIpv4Ranges();
  // From now on the tables are read through session, for the lookups of an import into
  // the database at path: the rounds of a follow keep one object and read the ranges
  // once. A table read from another database, or whose read failed, is read again at
  // its first lookup.
  void UseSession(DbSession* session, const std::string& path);
  // IPRanges of the database at path is read, without a failure.
  bool HoldsTablesOf(const std::string& path) const { return path_ == path && read4_ && !failed4_; }
  // Starts reading IPRanges through a session of its own on the shared data source, on a
  // thread of its own, while the caller goes on; IPRanges6 too when ipv6 is set by the
  // time IPRanges is read (an address other than IPv4 came meanwhile), else at its first
  // lookup. The first lookup waits for it; a failed read leaves the table to the
  // session of UseSession. On a file, only where another connection may read meanwhile:
  // in WAL mode, not written through a rollback journal (DbSession::StartBulkWrite).
  void ReadAhead(std::shared_ptr<const std::atomic<bool>> ipv6 = nullptr);
  size_t Ipv4Count() const { return v4_.starts.size(); }
  size_t Ipv6Count() const { return v6_.starts.size(); }

  struct Code {
    char text[2] = {};
    uint8_t length = 0;
  };
  template <typename N>
  struct Table {
    std::vector<N> starts, ends;  // disjoint, ascending
    std::vector<Code> codes;
  };

 private:
  // A table read through session, its rows' ranges resolved; false when it failed.
  bool ReadTable4(DbSession& session, const std::atomic<bool>* stop = nullptr);
  bool ReadTable6(DbSession& session, const std::atomic<bool>* stop = nullptr);
  // From now on the tables other read serve as those of the database at path.
  void TakeTables(CountryRanges&& other, const std::string& path);
  // Takes what ReadAhead read, then the session and path UseSession gave meanwhile.
  void AwaitAhead();

  // The first IPv6 addresses of a file are looked up by a query each (10 ms): reading
  // IPRanges6 costs about as much as seven of them, and many logs hold only a handful.
  static constexpr int kIpv6QueriesBeforeRead = 4;

  DbSession* session_;
  int ipv6Queried_ = 0;  // lookups answered so since the table was last let go
  std::string path_;  // the database the tables were read from (UseSession)
  std::future<std::unique_ptr<CountryRanges>> ahead_;
  std::shared_ptr<std::atomic<bool>> stopAhead_;
  std::optional<std::string> aheadPath_;  // UseSession's while the read ahead was running
  Table<uint32_t> v4_;
  Table<Ipv6Number> v6_;
  bool read4_ = false, read6_ = false;
  bool failed4_ = false, failed6_ = false;
};

}  // namespace weavil
