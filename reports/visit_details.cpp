#include "reports/visit_details.h"

#include <tuple>

#include "base/text.h"
#include "classify/country_lookup.h"
#include "classify/ip_address.h"
#include "classify/url_unescape.h"
#include "net/host_resolver.h"
#include "reports/country_names.h"
#include "reports/html_page.h"
#include "reports/session_views.h"
#include "store/database.h"
#include "store/result.h"
#include "store/sql_text.h"

namespace weavil {

namespace {

constexpr size_t kMaxComments = 499;

}  // namespace

std::vector<std::string> VisitDetailsQueries(int32_t numId) {
  std::string n = std::to_string(numId);
  return {
      // The duration is the full difference in seconds, not its time of day.
      "Select DateDiff('s', a.TimeEnter, a.TimeExit), a.UserIP, b.URL, b.rURL, a.UserAgent, a.Referer, "
      "b.IsRobot, b.CountryCode, b.Description, Format(a.TimeEnter,'yyyy-mm-dd hh:mm') FROM [Session] a, "
      "DNSLookUp b WHERE a.NumId=" + n + " AND b.UserIP=a.UserIP ORDER BY a.TimeEnter ASC;",
      "Select a.Url FROM Referer a, [Session] b, SessionReferer c WHERE b.SessionId=c.SessionId and "
      "c.RefererId=a.RefererId and b.NumId=" + n + ";",
      "Select Keyphrase FROM Keyphrase a, [Session] b, SessionKeyphrase c WHERE b.SessionId=c.SessionId and "
      "c.KeyphraseId=a.KeyphraseId and b.NumId=" + n + ";",
      "Select a.OS, b.Browser FROM OS a, Browser b, [Session] c, SessionBrowserOS d WHERE "
      "c.SessionId=d.SessionId and d.OSId=a.OSId and d.BrowserId=b.BrowserId and c.NumId=" + n + ";",
      "Select UriStem, 60*Minute(CDate(Resource.TimeEnter))+Second(CDate(Resource.TimeEnter)), StatusCode FROM "
      "Resource Inner join [Session] on [Session].SessionId = Resource.SessionId WHERE NumId=" + n +
          " ORDER BY Resource.TimeEnter ASC;",
  };
}

std::string FormatSpent(int64_t seconds) {
  if (seconds < 0) seconds = 0;  // an exit before the entry is no duration
  int64_t hours = seconds / 3600;
  int64_t minutes = (seconds % 3600) / 60;
  std::string out;
  if (hours > 0) out += std::to_string(hours) + "h ";
  if (minutes > 0 || hours > 0) out += std::to_string(minutes) + "' ";
  out += std::to_string(seconds % 60) + "\"";
  return out;
}

std::string BuildPagesHtml(const std::vector<PageRequest>& requests) {
  std::string out = "<table border=0 cellspacing=0 cellpadding=0><tr><th>Resource</th><th>&nbsp;</th><th>Time</th></tr><tr>";
  bool first = true;
  int32_t previous = 0;
  for (const PageRequest& request : requests) {
    if (!first) {
      int32_t d = request.secondsInHour - previous;
      if (d < 0) d += 3600;
      out += "<td align='right'>" + std::to_string(d) + "</td></tr>";
    }
    const char* open = "";
    const char* close = "";
    if (request.status > 400) open = "<font color='red'>", close = "</font>";
    else if (request.status >= 301) open = "<font color='green'>", close = "</font>";
    // Paths come from the log: written as text so that no request can add markup.
    out += "<td>";
    out += open;
    out += EscapeHtml(request.stem);
    out += close;
    out += "</td><td>&nbsp;&nbsp;&nbsp;&nbsp;</td>";
    previous = request.secondsInHour;
    first = false;
  }
  out += "<td align='right'>?</td></tr></table>";
  return out;
}

std::vector<std::string> PageTimes(const std::vector<PageRequest>& requests) {
  std::vector<std::string> times;
  for (size_t i = 0; i < requests.size(); ++i) {
    if (i + 1 == requests.size()) {
      times.push_back("?");
    } else {
      int32_t d = requests[i + 1].secondsInHour - requests[i].secondsInHour;
      times.push_back(std::to_string(d < 0 ? d + 3600 : d));
    }
  }
  return times;
}

int32_t LoadVisitDetails(DbSession& session, int32_t numId, VisitDetails& details) {
  details = VisitDetails();
  std::vector<std::string> queries = VisitDetailsQueries(numId);
  bool found = false;
  Statement statement;
  if (!Failed(statement.Execute(session, queries[0])) && statement.MoveNext() == kResultOk) {
    found = true;
    int64_t seconds = 0;
    std::tie(seconds, details.address, details.url, details.reversedUrl, details.userAgent, details.referer,
             details.robot, details.countryCode, details.description, details.enteredAt) =
        statement.Row<int64_t, std::string, std::string, std::string, std::string, std::string, bool, std::string,
                      std::string, std::string>();
    details.spent = FormatSpent(seconds);
  }

  if (Failed(statement.Execute(session, queries[1]))) {
    details.refererQueryFailed = true;
  } else if (statement.MoveNext() == kResultOk) {
    details.refererInfo = statement.Get<std::string>(1);
  }

  std::string phrase;
  if (!Failed(statement.Execute(session, queries[2])) && statement.MoveNext() == kResultOk &&
      statement.Read(1, phrase))
    details.refererInfo += " : " + phrase;

  if (!Failed(statement.Execute(session, queries[3])) && statement.MoveNext() == kResultOk) {
    std::tie(details.osName, details.browserName) = statement.Row<std::string, std::string>();
  }

  std::vector<PageRequest> requests;
  if (!Failed(statement.Execute(session, queries[4]))) {
    while (statement.MoveNext() == kResultOk) {
      auto [stem, secondsInHour, status] = statement.Row<std::string, int32_t, int32_t>();
      requests.push_back(PageRequest{std::move(stem), secondsInHour, status});
    }
  }
  details.pages = BuildPagesHtml(requests);
  details.requests = std::move(requests);
  return found ? kResultOk : kResultFalse;
}

std::string CountryText(std::string_view code, const CountryNames& countries) {
  std::string name = code.empty() ? std::string() : countries.NameOf(code);
  return name + " (" + std::string(code) + ")";
}

bool IsLinkUrl(std::string_view url) {
  size_t colon = url.find("://");
  if (colon == std::string_view::npos) return false;
  std::string_view scheme = url.substr(0, colon);
  return EqualsNoCase(scheme, "http") || EqualsNoCase(scheme, "https") || EqualsNoCase(scheme, "ftp");
}

void FillDetailsPage(HtmlPage& page, const VisitDetails& details, const CountryNames& countries) {
  page.SetText("enter", details.enteredAt);
  page.SetText("time", details.spent);
  page.SetText("IP", details.address);
  page.SetText("URL", details.url);
  std::string agent = details.userAgent;
  for (char& c : agent)
    if (c == '+') c = ' ';
  page.SetText("browser", agent);
  page.SetText("exbrowser", details.browserName);
  page.SetText("os", details.osName);
  if (IsLinkUrl(details.referer)) {
    page.SetAttribute("referer", "href", details.referer);
    page.SetAttribute("referer", "title", details.referer);
    page.SetText("referer", UrlUnescape(details.refererInfo));  // the phrase is stored encoded
  } else {
    page.SetAttribute("referer", "href", "");
    page.SetAttribute("referer", "title", "");
    bool none = details.referer == "-" || details.referer.empty();
    page.SetText("referer", none ? std::string_view("-") : std::string_view(details.referer));
  }
  page.SetInnerHtml("pages", details.pages);
  page.SetText("country", CountryText(details.countryCode, countries));
  page.SetText("comments", details.description);
}

// ------------------------------------------------------------------ visitor record

int32_t LoadVisitorRecord(DbSession& session, std::string_view address, VisitorUpdate& record) {
  record = VisitorUpdate();
  record.address.assign(address);
  Statement statement;
  std::string query = "Select URL, IsRobot, CountryCode, Description FROM DNSLookUp WHERE UserIP=" +
                      QuoteSql(address) + ";";
  if (Failed(statement.Execute(session, query))) return kResultFail;
  if (statement.MoveNext() != kResultOk) return kResultFalse;
  std::tie(record.url, record.robot, record.countryCode, record.comments) =
      statement.Row<std::string, bool, std::string, std::string>();
  return kResultOk;
}

std::string LookupVisitorCountryCode(DbSession& session, std::string_view address) {
  Statement statement;
  std::string code;
  if (!Failed(statement.Execute(session, CountryQuery(address))) && statement.MoveNext() == kResultOk)
    statement.Read(1, code);
  return code;
}

VisitorUpdate VisitorDialogResult(std::string_view address, std::string_view urlField, bool robot,
                                  std::string_view codeField, std::string_view comments) {
  VisitorUpdate update;
  update.address.assign(address);
  update.url = Trim(urlField);
  update.robot = robot;
  update.countryCode = ToUpperAscii(codeField.substr(0, 2));
  update.comments.assign(comments.substr(0, kMaxComments));
  return update;
}

std::string VisitorReversedUrl(std::string_view address, std::string_view url) {
  std::string reversed = ToLowerAscii(ReverseHostName(url));
  if (reversed.empty() || reversed == "-") reversed = UnresolvedReverseName(address);
  return reversed;
}

std::string UpdateVisitorStatement(const VisitorUpdate& u) {
  std::string sql = "Update DNSLookUp SET URL='";
  AppendEscapedSql(sql, u.url);
  sql += "', FullName='";
  AppendEscapedSql(sql, u.url);
  sql += "', rURL='";
  AppendEscapedSql(sql, VisitorReversedUrl(u.address, u.url));
  sql += "', IsRobot=";
  sql += u.robot ? "1" : "0";
  sql += ", CountryCode='";
  AppendEscapedSql(sql, u.countryCode);
  sql += "', Description='";
  AppendEscapedSql(sql, u.comments);
  sql += "' WHERE UserIP='";
  AppendEscapedSql(sql, u.address);
  sql += "';";
  return sql;
}

int32_t UpdateVisitor(DbSession& session, const VisitorUpdate& update) {
  Statement statement;
  return statement.Execute(session, UpdateVisitorStatement(update));
}

void ShowVisitorOnPage(HtmlPage& page, const VisitorUpdate& update, const CountryNames& countries) {
  page.SetText("URL", update.url);
  page.SetText("country", CountryText(update.countryCode, countries));
  page.SetText("comments", update.comments);
}

std::string RelabelSessionRow(std::string_view label, std::string_view url) {
  return std::string(label.substr(0, 6)) + std::string(url);
}

// ------------------------------------------------------------------ Visitors tree

RowId FindVisitorRow(const ReportTree& tree, std::string_view reversedUrl, int32_t numId) {
  RowId group = kNoRow;
  RowId level = tree.FirstChild(kRootRow);
  for (const std::string& label : DomainLabels(reversedUrl)) {
    RowId match = kNoRow;
    for (RowId c = level; c != kNoRow; c = tree.NextSibling(c))
      if (tree.Text(c, 0) == label) {
        match = c;
        break;
      }
    if (match == kNoRow) break;
    group = match;
    level = tree.FirstChild(match);
  }
  if (group == kNoRow) return kNoRow;
  RowId last = kNoRow;
  for (RowId c = tree.FirstChild(group); c != kNoRow; c = tree.NextSibling(c)) {
    if (tree.Key(c) == numId) return c;
    last = c;
  }
  return last != kNoRow ? last : group;
}

RowId SyncVisitorsView(const ReportTree& visitsTree, RowId selected, const ReportTree& domainTree,
                       DbSession& session) {
  if (!visitsTree.IsRow(selected)) return kNoRow;
  int32_t key = visitsTree.Key(selected);
  if (key <= 0) return kNoRow;
  VisitDetails details;
  LoadVisitDetails(session, key, details);
  return FindVisitorRow(domainTree, details.reversedUrl, key);
}

}  // namespace weavil
