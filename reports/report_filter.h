#pragma once
// The report filter: a period, four value lists and the robot switch, turned into SQL
// condition text that the report builders splice into their queries. The filter lives
// in the settings record; every builder works on a copy taken under the settings lock,
// so a dialog changing it meanwhile never tears a query.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace weavil {

struct Settings;

struct ReportFilter {
  int32_t applyFilter = 0;  // master switch: off means no condition at all
  int32_t noRobots = 0;
  int32_t isPeriod = 0;
  std::string period;  // "Year+", "Month+", "Week+", "Day+" or the same without "+"
  int32_t isPages = 0;
  std::string pages;  // UriStem values
  int32_t isCountries = 0;
  std::string countries;  // two-letter codes
  int32_t isKeywords = 0;
  std::string keywords;  // Word values
  int32_t isReferers = 0;
  std::string referers;  // referring host names (Referer.Url)
};

ReportFilter FilterFromSettings(const Settings& settings);
void FilterToSettings(const ReportFilter& filter, Settings& settings);

// A copy of the process-wide filter, taken under the settings lock.
ReportFilter CopyReportFilter();
// Replaces the process-wide filter under the settings lock.
void StoreReportFilter(const ReportFilter& filter);

// The first moment of the period named (local time): the start of the year, month,
// week (Monday) or day that holds now minus 365, 30, 7 or 1 days. Nothing for a name
// that is none of the eight.
std::optional<std::tm> PeriodStart(std::string_view period, std::time_t now);
// "yyyy-mm-dd hh:mm:ss"
std::string FormatPeriodStart(const std::tm& start);

// The text with every ' and every " removed (lists typed into the filter dialog).
std::string SanitizeListText(std::string_view text);

// The items of a list text ('a', 'b', 'c') for an IN clause; empty when there is none.
// Items are split at runs of blanks, commas and semicolons; a quote that reached the
// list some other way than the dialog is doubled, so it cannot break the statement.
std::string QuoteList(std::string_view listText);
// The items of a list text, split as QuoteList splits them.
std::vector<std::string_view> ListItems(std::string_view listText);

// Conditions for a query whose FROM list names [Session] a and DNSLookUp b, appended
// after its own WHERE conditions (which end with a blank). Empty when the filter is off.
// A period that is none of the eight names adds no time condition.
std::string BuildSessionConditions(const ReportFilter& filter, std::time_t now);

// The same conditions apart, for reading the sessions they pass into memory: a session
// passes when sessionQuery names its NumId, addressCondition holds for its row of
// DNSLookUp b and each of idQueries names its SessionId (an empty one names every one).
// Nothing when the filter is off.
struct FilterQueries {
  std::string sessionQuery;            // on [Session] a alone: the period
  std::string addressCondition;        // on DNSLookUp b: robots, countries ("1=1 AND ..."), or ""
  std::vector<std::string> idQueries;  // pages (and countries), search words, referrers
  // The place in idQueries of the statement on the requests (pages, countries), or -1;
  // and the pages it asks for, ASCII capitals folded to small (none: any request).
  int requestQuery = -1;
  std::vector<std::string> foldedPages;
};
// byNumber: the statements name each session by its NumId as text, read from the tables
// a file keeps by number (JoinsByNumber), instead of by its SessionId.
FilterQueries BuildFilterQueries(const ReportFilter& filter, std::time_t now, bool byNumber = false);
std::string BuildSessionConditions();  // the process-wide filter, now

// The statistics query: head + where part + tail, and with the filter on the session
// and address tables joined as c and d with the same conditions written against them.
std::string BuildStatisticsQuery(const ReportFilter& filter, std::time_t now, std::string_view head,
                                 std::string_view wherePart, std::string_view tail);
std::string BuildStatisticsQuery(std::string_view head, std::string_view wherePart, std::string_view tail);

}  // namespace weavil
