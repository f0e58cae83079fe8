#pragma once
// Everything known about one visit, read with five queries, and the details page filled
// from it; the visitor record the user corrects (host name, country, robot flag,
// comments); and the selection of the same visit in the Visitors tree.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reports/report_tree.h"

namespace weavil {

class CountryNames;
class DbSession;
class HtmlPage;

struct PageRequest {
  std::string stem;
  int32_t secondsInHour = 0;  // 60 * minute + second of the request
  int32_t status = 0;
};

struct VisitDetails {
  std::string spent;        // 1h 2' 5"
  std::string address;      // UserIP
  std::string url;          // DNSLookUp.URL
  std::string reversedUrl;  // rURL
  std::string userAgent;
  std::string referer;      // the session's raw referrer
  std::string enteredAt;    // yyyy-mm-dd hh:mm
  std::string refererInfo;  // referring host, then " : " and the search phrase
  std::string pages;        // HTML table of the requested resources
  bool robot = false;
  std::string countryCode;
  std::string description;
  std::string browserName;
  std::string osName;
  // The referrer query failed; the window shows an error box, the other fields are filled.
  bool refererQueryFailed = false;
  // The rows Pages was built from, for a plain-text listing.
  std::vector<PageRequest> requests;
};

// The five statements for a session number, in the order they run.
std::vector<std::string> VisitDetailsQueries(int32_t numId);

// Fills details from the database. kResultOk when the session was found, kResultFalse
// when no session has that number (details stay empty); failing queries leave their
// fields empty.
int32_t LoadVisitDetails(DbSession& session, int32_t numId, VisitDetails& details);

// The duration: hours with "h " when there are any, minutes with "' " when there are
// any or hours, then seconds and a double quote. The full difference, also beyond a day.
std::string FormatSpent(int64_t seconds);

// The resource table of the details page: red above status 400, green from 301 to 400,
// each resource with the seconds until the next one ("?" for the last).
std::string BuildPagesHtml(const std::vector<PageRequest>& requests);
// The seconds spent on each request as the table shows them ("?" for the last).
std::vector<std::string> PageTimes(const std::vector<PageRequest>& requests);

// "Name (CC)"; the name is left out when the code is empty or unknown.
std::string CountryText(std::string_view code, const CountryNames& countries);

// True for an http, https or ftp address (the scheme in any case, then "://"). Only
// those become links or are opened: a referrer is whatever the client chose to send.
bool IsLinkUrl(std::string_view url);

// Fills the details page (its elements enter, time, IP, country, URL, comments,
// exbrowser, os, browser, referer and pages) from details. A referrer of another scheme
// is shown as its plain text, no link and no search.
void FillDetailsPage(HtmlPage& page, const VisitDetails& details, const CountryNames& countries);

// ------------------------------------------------------------------ visitor record

struct VisitorUpdate {
  std::string address;
  std::string url;
  bool robot = false;
  std::string countryCode;
  std::string comments;
};

// The values the Visitor information dialog starts with, read by address.
int32_t LoadVisitorRecord(DbSession& session, std::string_view address, VisitorUpdate& record);

// The country code for an address from IPRanges, the whole Code of the best range
// (the dialog's lookup when the visitor has none); empty when no range holds it.
std::string LookupVisitorCountryCode(DbSession& session, std::string_view address);

// OK of the dialog: the URL without surrounding blanks, the code's first two characters
// in upper case, the comments cut to 499 characters.
VisitorUpdate VisitorDialogResult(std::string_view address, std::string_view urlField, bool robot,
                                  std::string_view codeField, std::string_view comments);

// rURL for a visitor's URL: the reversed host name in lower case, or "ip." and the
// address when the URL is empty or "-".
std::string VisitorReversedUrl(std::string_view address, std::string_view url);
std::string UpdateVisitorStatement(const VisitorUpdate& update);
// Writes the visitor's DNSLookUp row. Quotes in the values are doubled, so a comment
// such as "it's" is stored rather than failing the statement.
int32_t UpdateVisitor(DbSession& session, const VisitorUpdate& update);
// Shows the new values on the details page (URL, country, comments).
void ShowVisitorOnPage(HtmlPage& page, const VisitorUpdate& update, const CountryNames& countries);
// The Sessions row label after a change of URL: its time of day and blank, then url.
std::string RelabelSessionRow(std::string_view label, std::string_view url);

// ------------------------------------------------------------------ Visitors tree

// The row of the Visitors tree to select for a visit: down the group rows whose texts are
// the domain labels of reversedUrl, as far as they are found, then the child whose key is
// numId, else the last child, else that group row. kNoRow when not even the top label is
// found.
RowId FindVisitorRow(const ReportTree& domainTree, std::string_view reversedUrl, int32_t numId);

// The same for the row selected in the Sessions tree (nothing unless it is a session row).
RowId SyncVisitorsView(const ReportTree& visitsTree, RowId selected, const ReportTree& domainTree,
                       DbSession& session);

}  // namespace weavil
