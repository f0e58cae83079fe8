#pragma once
// Helpers shared by the chart tests: a fixed local time zone and local times.
#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "charts/chart_data.h"
#include "tests/support/test_support.h"

namespace plotwell::test {

using weavil::test::ScopedTimeZone;

// Central European time with its daylight-saving rules, without needing zone files:
// clocks go forward at 02:00 on the last Sunday of March and back at 03:00 on the
// last Sunday of October.
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

// The calendar fields of a wall-clock time.
inline std::tm CalendarFields(int year, int month, int day, int hour, int minute) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  return fields;
}

// Unix time of a local wall-clock time; isdst -1 lets the C library decide.
inline long long LocalTime(int year, int month, int day, int hour = 0, int minute = 0,
                           int isdst = -1) {
  std::tm fields = CalendarFields(year, month, day, hour, minute);
  fields.tm_isdst = isdst;
  return static_cast<long long>(std::mktime(&fields));
}

inline long long UtcTime(int year, int month, int day, int hour = 0, int minute = 0) {
  std::tm fields = CalendarFields(year, month, day, hour, minute);
  return static_cast<long long>(timegm(&fields));
}

// A model's extremes as one value: min and max count, then min and max value.
struct Extremes {
  std::int32_t minCount = 0;
  std::int32_t maxCount = 0;
  std::int32_t minValue = 0;
  std::int32_t maxValue = 0;
  friend bool operator==(const Extremes&, const Extremes&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Extremes& e) {
    return out << "counts " << e.minCount << ".." << e.maxCount << ", values " << e.minValue << ".." << e.maxValue;
  }
};

// The field at of the first count entries (or samples), in order.
template <class Data, class Field>
std::vector<long long> Column(const Data& data, Field (Data::*at)(int) const, int count) {
  std::vector<long long> column;
  for (int i = 0; i < count; ++i) column.push_back((data.*at)(i));
  return column;
}
using Numbers = std::vector<long long>;

inline Extremes ExtremesOf(const ChartData& data) {
  return {data.MinCount(), data.MaxCount(), data.MinValue(), data.MaxValue()};
}

}  // namespace plotwell::test
