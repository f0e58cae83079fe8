#pragma once
// Calendar arithmetic for the stored date texts 'yyyy-mm-dd hh:mm:ss' and for serial
// dates (days since 1899-12-30, the time as the fraction of a day).
#include <cstdint>
#include <string>
#include <string_view>

namespace weavil {

struct DateTimeParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Days since 1970-01-01 of a proleptic Gregorian date (negative before).
int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(int64_t days, int& year, int& month, int& day);
// 0 = Sunday ... 6 = Saturday.
int WeekdayFromDays(int64_t days);
bool IsValidDate(int year, int month, int day);

// Parses 'yyyy-mm-dd', 'yyyy-mm-dd hh:mm' or 'yyyy-mm-dd hh:mm:ss' ('/' or '-' between
// the date fields, 'T' or blanks before the time). False for anything else or an
// impossible date or time.
bool ParseDateTime(std::string_view text, DateTimeParts& parts);

// 'yyyy-mm-dd hh:mm:ss'
std::string FormatDateTime(const DateTimeParts& parts);

double SerialFromParts(const DateTimeParts& parts);
DateTimeParts PartsFromSerial(double serial);

// Seconds since 1970-01-01 00:00:00 of the parts read as a calendar time (no zone).
int64_t EpochSecondsFromParts(const DateTimeParts& parts);
// The calendar time of seconds since 1970-01-01 00:00:00 (no zone); the inverse of
// EpochSecondsFromParts, seconds before 1970 included.
DateTimeParts PartsFromEpochSeconds(int64_t seconds);
// 'yyyy-mm-dd hh:mm:ss' of seconds since 1970-01-01 00:00:00 (no zone).
std::string FormatEpochSeconds(int64_t seconds);

}  // namespace weavil
