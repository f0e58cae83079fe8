#include "reports/report_filter.h"

#include <cstdio>
#include <mutex>

#include "base/text.h"
#include "settings/settings.h"
#include "store/jet_date.h"
#include "store/sql_text.h"

namespace weavil {

namespace {

// Every field of the filter with the setting that stores it, handed to copy as
// (filter field, setting); one list for both directions.
template <class Filter, class Store, class Copy>
void PairFilterFields(Filter& f, Store& s, Copy copy) {
  copy(f.applyFilter, s.applyFilter);
  copy(f.noRobots, s.noRobots);
  copy(f.isPeriod, s.isPeriod);
  copy(f.period, s.period);
  copy(f.isPages, s.isPages);
  copy(f.pages, s.pages);
  copy(f.isCountries, s.isCountries);
  copy(f.countries, s.countries);
  copy(f.isKeywords, s.isKeywords);
  copy(f.keywords, s.keywords);
  copy(f.isReferers, s.isReferers);
  copy(f.referers, s.referers);
}

}  // namespace

ReportFilter FilterFromSettings(const Settings& s) {
  ReportFilter f;
  PairFilterFields(f, s, [](auto& field, const auto& setting) { field = setting; });
  return f;
}

void FilterToSettings(const ReportFilter& f, Settings& s) {
  PairFilterFields(f, s, [](const auto& field, auto& setting) { setting = field; });
}

ReportFilter CopyReportFilter() {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  return FilterFromSettings(AppSettings());
}

void StoreReportFilter(const ReportFilter& filter) {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  FilterToSettings(filter, AppSettings());
}

namespace {

enum class PeriodKind { kYear, kMonth, kWeek, kDay };

std::optional<PeriodKind> ParsePeriod(std::string_view name) {
  if (!name.empty() && name.back() == '+') name.remove_suffix(1);
  if (name == "Year") return PeriodKind::kYear;
  if (name == "Month") return PeriodKind::kMonth;
  if (name == "Week") return PeriodKind::kWeek;
  if (name == "Day") return PeriodKind::kDay;
  return std::nullopt;
}

}  // namespace

std::optional<std::tm> PeriodStart(std::string_view period, std::time_t now) {
  std::optional<PeriodKind> kind = ParsePeriod(period);
  if (!kind) return std::nullopt;
  std::time_t back = 0;
  switch (*kind) {
    case PeriodKind::kYear: back = 31536000; break;
    case PeriodKind::kMonth: back = 2592000; break;
    case PeriodKind::kWeek: back = 604800; break;
    case PeriodKind::kDay: back = 86400; break;
  }
  std::time_t moment = now - back;
  std::tm local{};
  if (!localtime_r(&moment, &local)) return std::nullopt;
  int year = local.tm_year + 1900, month = local.tm_mon + 1, day = local.tm_mday;
  int64_t days = DaysFromCivil(year, month, day);
  switch (*kind) {
    case PeriodKind::kYear: days = DaysFromCivil(year, 1, 1); break;
    case PeriodKind::kMonth: days = DaysFromCivil(year, month, 1); break;
    case PeriodKind::kWeek: days -= (WeekdayFromDays(days) + 6) % 7; break;  // back to Monday
    case PeriodKind::kDay: break;
  }
  CivilFromDays(days, year, month, day);
  std::tm start{};
  start.tm_year = year - 1900;
  start.tm_mon = month - 1;
  start.tm_mday = day;
  start.tm_wday = WeekdayFromDays(days);
  start.tm_yday = static_cast<int>(days - DaysFromCivil(year, 1, 1));
  start.tm_isdst = -1;
  return start;
}

std::string FormatPeriodStart(const std::tm& start) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", start.tm_year + 1900, start.tm_mon + 1,
                start.tm_mday, start.tm_hour, start.tm_min, start.tm_sec);
  return buffer;
}

std::string SanitizeListText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\'' && c != '"') out.push_back(c);
  return out;
}

std::vector<std::string_view> ListItems(std::string_view listText) {
  listText = TrimView(listText);
  auto isSeparator = [](char c) { return c == ' ' || c == ',' || c == ';'; };
  std::vector<std::string_view> items;
  size_t i = 0;
  while (i < listText.size()) {
    while (i < listText.size() && isSeparator(listText[i])) ++i;
    size_t start = i;
    while (i < listText.size() && !isSeparator(listText[i])) ++i;
    if (i > start) items.push_back(listText.substr(start, i - start));
  }
  return items;
}

std::string QuoteList(std::string_view listText) {
  std::string out;
  for (std::string_view item : ListItems(listText)) {
    if (!out.empty()) out += ", ";
    out += '\'';
    AppendEscapedSql(out, item);
    out += '\'';
  }
  return out;
}

namespace {

// A session of alias s linked through tables (joined by join) to a row whose column is
// one of the list's values; nothing for an empty list.
void AppendListExists(std::string& out, const char* s, std::string_view listText, const char* tables,
                      const char* join, const char* column) {
  std::string values = QuoteList(listText);
  if (values.empty()) return;
  out += "AND EXISTS (Select * FROM ";
  out += tables;
  out += " WHERE SessionId=";
  out += s;
  out += ".SessionId and ";
  out += join;
  out += " AND (";
  out += column;
  out += " IN (" + values + "))) ";
}

void AppendPeriod(std::string& out, const ReportFilter& f, std::time_t now, const char* s) {
  if (!f.isPeriod) return;
  if (std::optional<std::tm> start = PeriodStart(f.period, now)) {
    out += "AND (";
    out += s;
    out += ".TimeEnter >= CDate('";
    out += FormatPeriodStart(*start);
    out += "')) ";
  }
}

void AppendNoRobots(std::string& out, const ReportFilter& f, const char* d) {
  if (!f.noRobots) return;
  out += "AND ((";
  out += d;
  out += ".IsRobot IS NULL) OR ";
  out += d;
  out += ".IsRobot=0) ";
}

std::string CountryIn(const std::string& countries, const char* d) {
  return std::string("AND (") + d + ".CountryCode IN (" + countries + "))";
}

// The filter's pieces against the given aliases of the session and address tables.
void AppendConditions(std::string& out, const ReportFilter& f, std::time_t now, const char* s, const char* d) {
  AppendPeriod(out, f, now, s);
  AppendNoRobots(out, f, d);
  std::string pages = f.isPages ? QuoteList(f.pages) : std::string();
  std::string countries = f.isCountries ? QuoteList(f.countries) : std::string();
  if (!pages.empty() || !countries.empty()) {
    out += "AND EXISTS (Select * FROM Resource WHERE SessionId=";
    out += s;
    out += ".SessionId ";
    if (!pages.empty()) out += "AND (UriStem IN (" + pages + "))";
    if (!countries.empty()) out += CountryIn(countries, d);
    out += ") ";
  }
  if (f.isKeywords)
    AppendListExists(out, s, f.keywords, "SessionKeywords, Keyword", "SessionKeywords.KeywordId=Keyword.KeywordId",
                     "Word");
  if (f.isReferers)
    AppendListExists(out, s, f.referers, "SessionReferer, Referer", "SessionReferer.RefererId=Referer.RefererId",
                     "Url");
}

// The statement naming the sessions linked through tables to a row whose column is one
// of the list's values; nothing for an empty list.
// By number, the links are read from the table that keeps them, under the view's name.
void AddListQuery(std::vector<std::string>& queries, std::string_view listText, bool byNumber, const char* links,
                  const char* names, const char* join, const char* column) {
  std::string values = QuoteList(listText);
  if (values.empty()) return;
  const std::string linked = std::string(links);
  const std::string from = byNumber ? linked + "Row " + linked + ", " + names : linked + ", " + names;
  const std::string name = byNumber ? "CAST(" + linked + ".SessionNum AS TEXT)" : linked + ".SessionId";
  queries.push_back("SELECT " + name + " FROM " + from + " WHERE " + join + " AND (" + column + " IN (" + values +
                    "));");
}

}  // namespace

std::string BuildSessionConditions(const ReportFilter& filter, std::time_t now) {
  std::string out;
  if (!filter.applyFilter) return out;
  AppendConditions(out, filter, now, "a", "b");
  return out;
}

FilterQueries BuildFilterQueries(const ReportFilter& f, std::time_t now, bool byNumber) {
  FilterQueries queries;
  if (!f.applyFilter) return queries;
  std::string period, address;
  AppendPeriod(period, f, now, "a");
  if (!period.empty()) queries.sessionQuery = "SELECT a.NumId FROM [Session] a WHERE 1=1 " + period + ";";
  AppendNoRobots(address, f, "b");
  std::string pages = f.isPages ? QuoteList(f.pages) : std::string();
  std::string countries = f.isCountries ? QuoteList(f.countries) : std::string();
  if (!pages.empty() || !countries.empty()) {
    // The country is asked of sessions with at least one request, as in the joined form.
    if (!countries.empty()) address += CountryIn(countries, "b") + " ";
    std::string requests = byNumber ? "SELECT CAST(SessionNum AS TEXT) FROM ResourceRow WHERE 1=1 "
                                    : "SELECT SessionId FROM Resource WHERE 1=1 ";
    if (!pages.empty()) requests += "AND (UriStem IN (" + pages + "))";
    queries.requestQuery = static_cast<int>(queries.idQueries.size());
    queries.idQueries.push_back(requests + ";");
    if (!pages.empty())
      for (std::string_view page : ListItems(f.pages)) queries.foldedPages.push_back(ToLowerAscii(page));
  }
  if (!address.empty()) queries.addressCondition = "1=1 " + address;
  if (f.isKeywords)
    AddListQuery(queries.idQueries, f.keywords, byNumber, "SessionKeywords", "Keyword",
                 "SessionKeywords.KeywordId=Keyword.KeywordId", "Word");
  if (f.isReferers)
    AddListQuery(queries.idQueries, f.referers, byNumber, "SessionReferer", "Referer",
                 "SessionReferer.RefererId=Referer.RefererId", "Url");
  return queries;
}

std::string BuildSessionConditions() { return BuildSessionConditions(CopyReportFilter(), std::time(nullptr)); }

std::string BuildStatisticsQuery(const ReportFilter& filter, std::time_t now, std::string_view head,
                                 std::string_view wherePart, std::string_view tail) {
  std::string out(head);
  if (!filter.applyFilter) {
    out += wherePart;
    out += tail;
    return out;
  }
  out += ", [Session] c, DNSLookUp d ";
  out += wherePart;
  out += " and a.SessionId = c.SessionId and c.UserIP=d.UserIP ";
  AppendConditions(out, filter, now, "c", "d");
  out += tail;
  return out;
}

std::string BuildStatisticsQuery(std::string_view head, std::string_view wherePart, std::string_view tail) {
  return BuildStatisticsQuery(CopyReportFilter(), std::time(nullptr), head, wherePart, tail);
}

}  // namespace weavil
