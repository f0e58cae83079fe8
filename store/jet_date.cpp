#include "store/jet_date.h"

#include <cmath>
#include <cstdio>

namespace weavil {
namespace {

// Days between 1899-12-30 (serial 0) and 1970-01-01.
constexpr int64_t kSerialEpochOffset = 25569;

bool ReadDigits(std::string_view text, size_t& pos, int minDigits, int maxDigits, int& value) {
  int count = 0;
  value = 0;
  while (pos < text.size() && count < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++count;
  }
  return count >= minDigits;
}

}  // namespace

int64_t DaysFromCivil(int year, int month, int day) {
  int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

int WeekdayFromDays(int64_t days) {
  // 1970-01-01 was a Thursday.
  int64_t w = (days + 4) % 7;
  return static_cast<int>(w < 0 ? w + 7 : w);
}

bool IsValidDate(int year, int month, int day) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int limit = kDays[month - 1];
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && leap) limit = 29;
  return day <= limit;
}

bool ParseDateTime(std::string_view text, DateTimeParts& parts) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  DateTimeParts p;
  if (!ReadDigits(text, pos, 4, 4, p.year)) return false;
  if (pos >= text.size() || (text[pos] != '-' && text[pos] != '/')) return false;
  char sep = text[pos++];
  if (!ReadDigits(text, pos, 1, 2, p.month)) return false;
  if (pos >= text.size() || text[pos] != sep) return false;
  ++pos;
  if (!ReadDigits(text, pos, 1, 2, p.day)) return false;
  if (!IsValidDate(p.year, p.month, p.day)) return false;
  size_t afterDate = pos;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == 'T')) ++pos;
  if (pos < text.size() && pos > afterDate) {
    if (!ReadDigits(text, pos, 1, 2, p.hour)) return false;
    if (pos >= text.size() || text[pos] != ':') return false;
    ++pos;
    if (!ReadDigits(text, pos, 1, 2, p.minute)) return false;
    if (pos < text.size() && text[pos] == ':') {
      ++pos;
      if (!ReadDigits(text, pos, 1, 2, p.second)) return false;
    }
    if (p.hour > 23 || p.minute > 59 || p.second > 59) return false;
  }
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos != text.size()) return false;
  parts = p;
  return true;
}

std::string FormatDateTime(const DateTimeParts& p) {
  // Written digit by digit when every field has its width (this runs for each stored
  // request); anything else goes through the general formatting.
  if (p.year >= 0 && p.year <= 9999 && p.month >= 0 && p.month <= 99 && p.day >= 0 && p.day <= 99 && p.hour >= 0 &&
      p.hour <= 99 && p.minute >= 0 && p.minute <= 99 && p.second >= 0 && p.second <= 99) {
    char text[19];
    auto two = [&](size_t at, int value) {
      text[at] = static_cast<char>('0' + value / 10);
      text[at + 1] = static_cast<char>('0' + value % 10);
    };
    two(0, p.year / 100);
    two(2, p.year % 100);
    text[4] = text[7] = '-';
    two(5, p.month);
    two(8, p.day);
    text[10] = ' ';
    two(11, p.hour);
    text[13] = text[16] = ':';
    two(14, p.minute);
    two(17, p.second);
    return std::string(text, sizeof text);
  }
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  return buffer;
}

double SerialFromParts(const DateTimeParts& p) {
  double days = static_cast<double>(DaysFromCivil(p.year, p.month, p.day) + kSerialEpochOffset);
  double fraction = (p.hour * 3600.0 + p.minute * 60.0 + p.second) / 86400.0;
  return days + fraction;
}

DateTimeParts PartsFromSerial(double serial) {
  // Serial dates before 0 keep the time as a positive fraction of their day.
  double whole = std::floor(serial);
  int64_t seconds = std::llround((serial - whole) * 86400.0);
  int64_t days = static_cast<int64_t>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }
  DateTimeParts p;
  CivilFromDays(days - kSerialEpochOffset, p.year, p.month, p.day);
  p.hour = static_cast<int>(seconds / 3600);
  p.minute = static_cast<int>(seconds / 60 % 60);
  p.second = static_cast<int>(seconds % 60);
  return p;
}

int64_t EpochSecondsFromParts(const DateTimeParts& p) {
  return DaysFromCivil(p.year, p.month, p.day) * 86400 + p.hour * 3600 + p.minute * 60 + p.second;
}

DateTimeParts PartsFromEpochSeconds(int64_t seconds) {
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t secondOfDay = seconds - days * 86400;
  DateTimeParts p;
  CivilFromDays(days, p.year, p.month, p.day);
  p.hour = static_cast<int>(secondOfDay / 3600);
  p.minute = static_cast<int>(secondOfDay / 60 % 60);
  p.second = static_cast<int>(secondOfDay % 60);
  return p;
}

std::string FormatEpochSeconds(int64_t seconds) { return FormatDateTime(PartsFromEpochSeconds(seconds)); }

}  // namespace weavil
