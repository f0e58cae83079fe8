#pragma once
// The Jet functions the report and import statements use, registered on every
// connection with Jet's semantics over the stored date texts:
//   CDate(x)            date text or serial number -> 'yyyy-mm-dd hh:mm:ss'
//   CDbl(x)             date -> serial number (days since 1899-12-30), numbers unchanged
//   Format(date, fmt)   yyyy yy mmmm mmm mm m dddd ddd dd d w hh h nn n ss s (mm after h = minutes)
//   DateDiff(i, d1, d2) intervals yyyy q m ww w d h n s: boundaries crossed from d1 to d2
//   Str(n)              a blank before a non-negative number, "-" before a negative one
//   Len, Left, Space, Hour, Minute, Second
#include <cstdint>
#include <string>
#include <string_view>

#include "store/jet_date.h"

struct sqlite3;

namespace weavil {

std::string FormatJetDate(const DateTimeParts& parts, std::string_view format);
bool JetDateDiff(std::string_view interval, const DateTimeParts& a, const DateTimeParts& b, int64_t& result);
std::string JetStr(double number, bool isInteger);
// The stored form 'yyyy-mm-dd hh:mm:ss' with digits where digits belong and a real
// date and time in them: the texts the report formats read straight from their places.
bool IsStoredDateText(std::string_view t);

void RegisterJetFunctions(sqlite3* db);

}  // namespace weavil
