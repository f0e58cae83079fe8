#pragma once
// Client address to country code through the shipped IPRanges table.
#include <cstdint>
#include <string>
#include <string_view>

namespace weavil {

class DbSession;

// The number a.b.c.d -> a*16777216 + b*65536 + c*256 + d by the standard dotted-address
// conversion (the inet_aton forms: one to four parts, decimal, octal with a leading 0,
// hexadecimal with 0x). Text that is not a valid address gives 4294967295, the same
// number as 255.255.255.255. The text is read up to its first zero byte.
uint32_t AddressNumber(std::string_view address);

// The query LookupCountry runs for an address.
std::string CountryQuery(std::string_view address);

// Runs "Select Code from IPRanges where StartIP<=N and EndIP>=N order by ValueBits DESC;"
// and puts the first two characters of the first row's non-null Code into country.
// Without such a row, or when the query fails, country is left as the caller set it
// (normally empty). Always returns 0; no cache, every call asks the database.
int32_t LookupCountry(std::string_view address, std::string& country, DbSession& session);

}  // namespace weavil
