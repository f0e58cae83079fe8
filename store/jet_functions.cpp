#include "store/jet_functions.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "store/jet_date.h"

namespace weavil {
namespace {

const char* const kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

std::string_view ValueText(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  if (!text) return {};
  return std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(value)));
}

// A date argument: a date text, or a number taken as a serial date.
bool ValueDate(sqlite3_value* value, DateTimeParts& parts) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      parts = PartsFromSerial(sqlite3_value_double(value));
      return true;
    case SQLITE_TEXT:
      return ParseDateTime(ValueText(value), parts);
    default:
      return false;
  }
}

// A numeric argument; texts that hold a whole number are taken too.
bool ValueNumber(sqlite3_value* value, double& number, bool& isInteger) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      number = static_cast<double>(sqlite3_value_int64(value));
      isInteger = true;
      return true;
    case SQLITE_FLOAT:
      number = sqlite3_value_double(value);
      isInteger = false;
      return true;
    case SQLITE_TEXT: {
      std::string text(ValueText(value));
      char* end = nullptr;
      number = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0') return false;
      isInteger = number == std::floor(number) && std::fabs(number) < 9e15;
      return true;
    }
    default:
      return false;
  }
}

bool AnyNull(int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i)
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
  return false;
}

void ResultText(sqlite3_context* context, const std::string& text) {
  sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void TypeMismatch(sqlite3_context* context, const char* function) {
  std::string message = std::string("Data type mismatch in ") + function;
  sqlite3_result_error(context, message.c_str(), -1);
}

void CDateFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  DateTimeParts parts;
  if (!ValueDate(argv[0], parts)) return TypeMismatch(context, "CDate");
  ResultText(context, FormatDateTime(parts));
}

void CDblFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  double number;
  bool isInteger;
  if (sqlite3_value_type(argv[0]) != SQLITE_TEXT && ValueNumber(argv[0], number, isInteger))
    return sqlite3_result_double(context, number);
  DateTimeParts parts;
  if (ParseDateTime(ValueText(argv[0]), parts)) return sqlite3_result_double(context, SerialFromParts(parts));
  if (ValueNumber(argv[0], number, isInteger)) return sqlite3_result_double(context, number);
  TypeMismatch(context, "CDbl");
}

void AppendNumber(std::string& out, int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  out += buffer;
}

size_t RunLength(std::string_view format, size_t pos, char lower) {
  size_t n = 0;
  while (pos + n < format.size() && (format[pos + n] | 0x20) == lower) ++n;
  return n;
}

}  // namespace

// Formats a date with Jet's user-defined date patterns.
std::string FormatJetDate(const DateTimeParts& p, std::string_view format) {
  std::string out;
  int weekday = WeekdayFromDays(DaysFromCivil(p.year, p.month, p.day));
  bool afterHour = false;  // "m" right after an hour token means minutes
  for (size_t pos = 0; pos < format.size();) {
    char c = static_cast<char>(format[pos] | 0x20);
    size_t n = (c >= 'a' && c <= 'z') ? RunLength(format, pos, c) : 0;
    switch (n ? c : '\0') {
      case 'y':
        if (n >= 3) AppendNumber(out, p.year, 4), n = std::min<size_t>(n, 4);
        else if (n == 2) AppendNumber(out, p.year % 100, 2);
        else AppendNumber(out, static_cast<int>(DaysFromCivil(p.year, p.month, p.day) - DaysFromCivil(p.year, 1, 1) + 1), 1);
        afterHour = false;
        break;
      case 'm':
        if (afterHour && n <= 2) AppendNumber(out, p.minute, static_cast<int>(n));
        else if (n >= 4) out += kMonthNames[p.month - 1], n = 4;
        else if (n == 3) out += std::string(kMonthNames[p.month - 1]).substr(0, 3);
        else AppendNumber(out, p.month, static_cast<int>(n));
        afterHour = false;
        break;
      case 'd':
        if (n >= 4) out += kDayNames[weekday], n = 4;
        else if (n == 3) out += std::string(kDayNames[weekday]).substr(0, 3);
        else AppendNumber(out, p.day, static_cast<int>(n));
        afterHour = false;
        break;
      case 'w':
        if (n >= 2) {
          // Week of the year, weeks starting on Sunday and week 1 holding January 1.
          int64_t jan1 = DaysFromCivil(p.year, 1, 1);
          int64_t today = DaysFromCivil(p.year, p.month, p.day);
          int64_t week = (today - jan1 + WeekdayFromDays(jan1)) / 7 + 1;
          AppendNumber(out, static_cast<int>(week), 1);
          n = 2;
        } else {
          AppendNumber(out, weekday + 1, 1);
        }
        afterHour = false;
        break;
      case 'h':
      case 'n':
      case 's':
        // Hour, minute, second: one digit or two; "m" after an hour is the minute.
        AppendNumber(out, c == 'h' ? p.hour : c == 'n' ? p.minute : p.second, n >= 2 ? 2 : 1);
        n = std::min<size_t>(n, 2);
        afterHour = c == 'h';
        break;
      case 'q':
        AppendNumber(out, (p.month - 1) / 3 + 1, 1);
        n = 1;
        break;
      default:
        out.push_back(format[pos]);
        n = 1;
        break;
    }
    pos += n;
  }
  return out;
}

// Counts the interval boundaries crossed from a to b, as Jet's DateDiff does.
bool JetDateDiff(std::string_view interval, const DateTimeParts& a, const DateTimeParts& b, int64_t& result) {
  std::string i;
  for (char c : interval) i.push_back(static_cast<char>(c | 0x20));
  int64_t daysA = DaysFromCivil(a.year, a.month, a.day);
  int64_t daysB = DaysFromCivil(b.year, b.month, b.day);
  if (i == "yyyy") result = b.year - a.year;
  else if (i == "q") result = (b.year * 4 + (b.month - 1) / 3) - (a.year * 4 + (a.month - 1) / 3);
  else if (i == "m") result = (static_cast<int64_t>(b.year) * 12 + b.month) - (static_cast<int64_t>(a.year) * 12 + a.month);
  else if (i == "d" || i == "y") result = daysB - daysA;
  else if (i == "w") result = (daysB - daysA) / 7;
  else if (i == "ww") result = ((daysB - WeekdayFromDays(daysB)) - (daysA - WeekdayFromDays(daysA))) / 7;
  else if (i == "h") result = (daysB * 24 + b.hour) - (daysA * 24 + a.hour);
  else if (i == "n") result = (daysB * 1440 + b.hour * 60 + b.minute) - (daysA * 1440 + a.hour * 60 + a.minute);
  else if (i == "s") result = EpochSecondsFromParts(b) - EpochSecondsFromParts(a);
  else return false;
  return true;
}

// Jet's Str: a blank before a non-negative number, up to 15 significant digits, and no
// zero before the decimal point of a number below one (" .5").
std::string JetStr(double number, bool isInteger) {
  char buffer[64];
  if (isInteger) {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(number));
  } else {
    std::snprintf(buffer, sizeof buffer, "%.15g", number);
  }
  std::string text = buffer;
  if (!isInteger) {
    if (text.rfind("0.", 0) == 0) text.erase(0, 1);
    else if (text.rfind("-0.", 0) == 0) text.erase(1, 1);
  }
  if (number >= 0) text.insert(text.begin(), ' ');
  return text;
}

bool IsStoredDateText(std::string_view t) {
  if (t.size() != 19 || t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' || t[16] != ':') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18})
    if (t[i] < '0' || t[i] > '9') return false;
  auto number = [&](size_t at, size_t count) {
    int value = 0;
    for (size_t i = 0; i < count; ++i) value = value * 10 + (t[at + i] - '0');
    return value;
  };
  // An impossible date in the right shape is still no date.
  return IsValidDate(number(0, 4), number(5, 2), number(8, 2)) && number(11, 2) < 24 && number(14, 2) < 60 &&
         number(17, 2) < 60;
}

namespace {

// The report statements format every row's stored date with a handful of patterns;
// those are cut straight out of the stored text. False for any other pattern.
bool FormatStoredDate(std::string_view t, std::string_view format, sqlite3_context* context) {
  char out[16];
  size_t n = 0;
  auto copy = [&](size_t from, size_t count) {
    for (size_t i = 0; i < count; ++i) out[n++] = t[from + i];
  };
  if (format == "yyyy-mm-dd hh:mm") {
    sqlite3_result_text(context, t.data(), 16, SQLITE_TRANSIENT);
    return true;
  }
  if (format == "yyyymmddhhnnss") {
    copy(0, 4), copy(5, 2), copy(8, 2), copy(11, 2), copy(14, 2), copy(17, 2);
  } else if (format == "dd") {
    copy(8, 2);
  } else if (format == "hh") {
    copy(11, 2);
  } else {
    return false;
  }
  sqlite3_result_text(context, out, static_cast<int>(n), SQLITE_TRANSIENT);
  return true;
}

void FormatFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string_view format = argc > 1 ? ValueText(argv[1]) : std::string_view();
  if (sqlite3_value_type(argv[0]) == SQLITE_TEXT) {
    std::string_view text = ValueText(argv[0]);
    if (IsStoredDateText(text) && FormatStoredDate(text, format, context)) return;
  }
  DateTimeParts parts;
  if (format.empty() || !ValueDate(argv[0], parts)) {
    // Not a date: Jet gives the value's own text.
    return ResultText(context, std::string(ValueText(argv[0])));
  }
  ResultText(context, FormatJetDate(parts, format));
}

void DateDiffFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  DateTimeParts a, b;
  if (!ValueDate(argv[1], a) || !ValueDate(argv[2], b)) return TypeMismatch(context, "DateDiff");
  int64_t result = 0;
  if (!JetDateDiff(ValueText(argv[0]), a, b, result)) {
    sqlite3_result_error(context, "Invalid procedure call in DateDiff", -1);
    return;
  }
  sqlite3_result_int64(context, result);
}

void StrFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  double number;
  bool isInteger;
  if (!ValueNumber(argv[0], number, isInteger)) return TypeMismatch(context, "Str");
  ResultText(context, JetStr(number, isInteger));
}

void LenFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  sqlite3_value_text(argv[0]);  // numbers count the length of their text
  sqlite3_result_int(context, sqlite3_value_bytes(argv[0]));
}

void LeftFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return TypeMismatch(context, "Left");
  int64_t n = sqlite3_value_int64(argv[1]);
  if (n < 0) {
    sqlite3_result_error(context, "Invalid procedure call in Left", -1);
    return;
  }
  (void)argc;
  std::string_view text = ValueText(argv[0]);
  size_t keep = static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(text.size())));
  sqlite3_result_text(context, text.data(), static_cast<int>(keep), SQLITE_TRANSIENT);
}

void SpaceFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  int64_t n = sqlite3_value_int64(argv[0]);
  if (n < 0) {
    sqlite3_result_error(context, "Invalid procedure call in Space", -1);
    return;
  }
  static const std::string kBlanks(256, ' ');
  if (n <= static_cast<int64_t>(kBlanks.size())) {
    sqlite3_result_text(context, kBlanks.data(), static_cast<int>(n), SQLITE_STATIC);
    return;
  }
  ResultText(context, std::string(static_cast<size_t>(std::min<int64_t>(n, 1 << 20)), ' '));
}

template <int Field>
void TimePartFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(context);
  DateTimeParts parts;
  if (!ValueDate(argv[0], parts)) return TypeMismatch(context, "time function");
  sqlite3_result_int(context, Field == 0 ? parts.hour : Field == 1 ? parts.minute : parts.second);
}

void Register(sqlite3* db, const char* name, int args, void (*function)(sqlite3_context*, int, sqlite3_value**)) {
  sqlite3_create_function_v2(db, name, args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, function, nullptr, nullptr,
                             nullptr);
}

}  // namespace

void RegisterJetFunctions(sqlite3* db) {
  Register(db, "CDate", 1, CDateFunction);
  Register(db, "CDbl", 1, CDblFunction);
  Register(db, "Format", 2, FormatFunction);
  Register(db, "DateDiff", 3, DateDiffFunction);
  Register(db, "Str", 1, StrFunction);
  Register(db, "Len", 1, LenFunction);
  Register(db, "Left", 2, LeftFunction);
  Register(db, "JetLeft", 2, LeftFunction);  // what TranslateSql makes of "left(" calls
  Register(db, "Space", 1, SpaceFunction);
  Register(db, "Hour", 1, TimePartFunction<0>);
  Register(db, "Minute", 1, TimePartFunction<1>);
  Register(db, "Second", 1, TimePartFunction<2>);
}

}  // namespace weavil
