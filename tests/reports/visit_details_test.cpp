// Visit details: the five queries, durations, the resource table, the filled page,
// the visitor record update, and finding the visit in the Visitors tree.
#include <gtest/gtest.h>

#include "classify/country_lookup.h"
#include "reports/country_names.h"
#include "reports/embedded_pages.h"
#include "reports/html_page.h"
#include "reports/session_views.h"
#include "reports/visit_details.h"
#include "tests/reports/report_fixture.h"

namespace weavil {
namespace {

using test::ReportDb;
using test::ScopedTimeZone;

TEST(VisitDetailsTest, SpentShowsHoursMinutesSeconds) {
  EXPECT_EQ(FormatSpent(3725), "1h 2' 5\"");
  EXPECT_EQ(FormatSpent(5), "5\"");
  EXPECT_EQ(FormatSpent(7207), "2h 0' 7\"");  // minutes shown because hours are
  EXPECT_EQ(FormatSpent(65), "1' 5\"");
  EXPECT_EQ(FormatSpent(90000), "25h 0' 0\"");  // a visit longer than a day keeps its day
  EXPECT_EQ(FormatSpent(-3), "0\"");
}

TEST(VisitDetailsTest, ResourceTableColoursTimesAndEscaping) {
  std::vector<PageRequest> requests = {
      {"/a.htm", 59 * 60 + 50, 200}, {"/b.htm", 10, 404}, {"/c.htm", 40, 302}, {"/d<x>.htm", 40, 400}};
  std::string html = BuildPagesHtml(requests);
  EXPECT_EQ(html,
            "<table border=0 cellspacing=0 cellpadding=0><tr><th>Resource</th><th>&nbsp;</th><th>Time</th></tr><tr>"
            "<td>/a.htm</td><td>&nbsp;&nbsp;&nbsp;&nbsp;</td><td align='right'>20</td></tr>"
            "<td><font color='red'>/b.htm</font></td><td>&nbsp;&nbsp;&nbsp;&nbsp;</td><td align='right'>30</td></tr>"
            "<td><font color='green'>/c.htm</font></td><td>&nbsp;&nbsp;&nbsp;&nbsp;</td><td align='right'>0</td></tr>"
            "<td><font color='green'>/d&lt;x&gt;.htm</font></td><td>&nbsp;&nbsp;&nbsp;&nbsp;</td>"
            "<td align='right'>?</td></tr></table>");
  EXPECT_EQ(PageTimes(requests), (std::vector<std::string>{"20", "30", "0", "?"}));
  EXPECT_EQ(BuildPagesHtml({}),
            "<table border=0 cellspacing=0 cellpadding=0><tr><th>Resource</th><th>&nbsp;</th><th>Time</th></tr><tr>"
            "<td align='right'>?</td></tr></table>");
}

TEST(HtmlPageTest, SetsTextInnerHtmlAndAttributesById) {
  HtmlPage page("<p id='x' class=a>old <b>bold</b></p><a id=\"link\" href=\"\">-</a><div id=\"d\"><div>in</div></div>"
                "<br id=\"e\">");
  EXPECT_TRUE(page.SetText("x", "a < b & c"));
  EXPECT_EQ(page.InnerHtml("x"), "a &lt; b &amp; c");
  EXPECT_TRUE(page.SetInnerHtml("d", "<i>new</i>"));
  EXPECT_EQ(page.InnerHtml("d"), "<i>new</i>");
  EXPECT_TRUE(page.SetAttribute("link", "href", "http://h/?q=\"x\""));
  EXPECT_TRUE(page.SetAttribute("link", "title", "T"));
  EXPECT_EQ(page.Attribute("link", "href"), "http://h/?q=&quot;x&quot;");
  EXPECT_EQ(page.Attribute("link", "title"), "T");
  EXPECT_EQ(page.InnerHtml("link"), "-");
  EXPECT_FALSE(page.SetText("missing", "x"));
  EXPECT_FALSE(page.HasElement("X"));  // identifiers match exactly
}

TEST(VisitDetailsTest, TheEmbeddedPagesCarryTheirElements) {
  HtmlPage details{std::string(DetailsPageHtml())};
  for (const char* id : {"enter", "time", "IP", "country", "URL", "comments", "exbrowser", "os", "browser", "referer",
                         "pages"})
    EXPECT_TRUE(details.HasElement(id)) << id;
  EXPECT_NE(details.Html().find("<title>Weavil Info Page</title>"), std::string::npos);
  EXPECT_NE(details.Html().find("#008080"), std::string::npos);
  EXPECT_NE(std::string(StartPageHtml()).find("Weavil v.1.4"), std::string::npos);
  EXPECT_EQ(EmbeddedFile(kBackgroundFile).substr(1, 3), "PNG");
}

class LoadedVisitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.AddVisitor("10.0.0.1", "host.example.com", "com.example.host", 0, "DE");
    db_.Exec("UPDATE DNSLookUp SET Description='regular' WHERE UserIP='10.0.0.1'");
    numId_ = db_.AddSession("10.0.0.1", "2004-03-05 23:59:50", 3, "2004-03-07 00:00:57",
                            "http://www.google.com/search?q=%D0%BF", "Mozilla/4.0+(compatible)");
    db_.AddResource(numId_, "2004-03-05 23:59:50", "/index.htm");
    db_.AddResource(numId_, "2004-03-06 00:00:10", "/gone.htm", 404);
    db_.AddReferer(numId_, "www.google.com", "Search Engine/Google");
    db_.AddKeywords(numId_, "%D0%BF", {"\xD0\xBF"});
    db_.AddBrowserOs(numId_, "MSIE 6.0", "Windows XP");
    names_.Add("DE", "Germany");
  }

  ScopedTimeZone zone_{"UTC0"};
  ReportDb db_;
  int32_t numId_ = 0;
  CountryNames names_;
};

TEST_F(LoadedVisitTest, FiveQueriesFillTheDetails) {
  VisitDetails d;
  ASSERT_EQ(LoadVisitDetails(db_.Session(), numId_, d), kResultOk);
  EXPECT_EQ(d.spent, "24h 1' 7\"");
  EXPECT_EQ(d.address, "10.0.0.1");
  EXPECT_EQ(d.url, "host.example.com");
  EXPECT_EQ(d.reversedUrl, "com.example.host");
  EXPECT_EQ(d.enteredAt, "2004-03-05 23:59");
  EXPECT_EQ(d.countryCode, "DE");
  EXPECT_EQ(d.description, "regular");
  EXPECT_EQ(d.refererInfo, "www.google.com : %D0%BF");
  EXPECT_EQ(d.browserName, "MSIE 6.0");
  EXPECT_EQ(d.osName, "Windows XP");
  EXPECT_FALSE(d.robot);
  EXPECT_FALSE(d.refererQueryFailed);
  ASSERT_EQ(d.requests.size(), 2u);
  EXPECT_EQ(PageTimes(d.requests)[0], "20");

  HtmlPage page{std::string(DetailsPageHtml())};
  FillDetailsPage(page, d, names_);
  EXPECT_EQ(page.InnerHtml("time"), "24h 1' 7&quot;");
  EXPECT_EQ(page.InnerHtml("browser"), "Mozilla/4.0 (compatible)");
  EXPECT_EQ(page.InnerHtml("country"), "Germany (DE)");
  EXPECT_EQ(page.InnerHtml("referer"), "www.google.com : \xD0\xBF");
  EXPECT_EQ(page.Attribute("referer", "href"), "http://www.google.com/search?q=%D0%BF");
  EXPECT_NE(page.InnerHtml("pages").find("<font color='red'>/gone.htm</font>"), std::string::npos);

  VisitDetails none;
  EXPECT_EQ(LoadVisitDetails(db_.Session(), 999, none), kResultFalse);
  EXPECT_TRUE(none.address.empty());
}

TEST_F(LoadedVisitTest, NoReferrerUnknownCountryAndAFailedReferrerQuery) {
  int32_t plain = db_.AddSession("10.0.0.1", "2004-03-08 10:00:00");
  VisitDetails d;
  ASSERT_EQ(LoadVisitDetails(db_.Session(), plain, d), kResultOk);
  d.countryCode = "XX";
  HtmlPage page{std::string(DetailsPageHtml())};
  FillDetailsPage(page, d, names_);
  EXPECT_EQ(page.InnerHtml("referer"), "-");
  EXPECT_EQ(page.Attribute("referer", "href"), "");
  EXPECT_EQ(page.Attribute("referer", "title"), "");
  EXPECT_EQ(page.InnerHtml("country"), " (XX)");
  EXPECT_EQ(CountryText("", names_), " ()");

  db_.Exec("DROP VIEW SessionReferer");  // the view statements read
  ASSERT_EQ(LoadVisitDetails(db_.Session(), numId_, d), kResultOk);
  EXPECT_TRUE(d.refererQueryFailed);
  EXPECT_EQ(d.refererInfo, " : %D0%BF");
  EXPECT_EQ(d.osName, "Windows XP");  // the other steps still run
}

TEST_F(LoadedVisitTest, UpdateVisitorWritesTheRowAndThePage) {
  VisitorUpdate update = VisitorDialogResult("10.0.0.1", "  ", true, "fr-x", "it's a \"bot\"");
  EXPECT_EQ(update.url, "");
  EXPECT_EQ(update.countryCode, "FR");
  ASSERT_FALSE(Failed(UpdateVisitor(db_.Session(), update)));
  VisitorUpdate stored;
  ASSERT_EQ(LoadVisitorRecord(db_.Session(), "10.0.0.1", stored), kResultOk);
  EXPECT_TRUE(stored.robot);
  EXPECT_EQ(stored.countryCode, "FR");
  EXPECT_EQ(stored.comments, "it's a \"bot\"");  // the quote is kept, not a failed statement
  EXPECT_EQ(db_.Scalar("SELECT count(*) FROM DNSLookUp WHERE rURL='ip.10.0.0.1' AND FullName=''"), 1);

  update = VisitorDialogResult("10.0.0.1", " Proxy.Example.ORG ", false, "de", std::string(600, 'c'));
  EXPECT_EQ(update.comments.size(), 499u);
  ASSERT_FALSE(Failed(UpdateVisitor(db_.Session(), update)));
  EXPECT_EQ(db_.Scalar("SELECT count(*) FROM DNSLookUp WHERE rURL='org.example.proxy' AND URL='Proxy.Example.ORG'"), 1);

  HtmlPage page{std::string(DetailsPageHtml())};
  ShowVisitorOnPage(page, update, names_);
  EXPECT_EQ(page.InnerHtml("URL"), "Proxy.Example.ORG");
  EXPECT_EQ(page.InnerHtml("country"), "Germany (DE)");
  EXPECT_EQ(RelabelSessionRow("10:00 10.0.0.1", "proxy.example.org"), "10:00 proxy.example.org");
  EXPECT_EQ(LoadVisitorRecord(db_.Session(), "10.9.9.9", stored), kResultFalse);
  // The dialog's own lookup takes the code of the best range, as the import's lookup does.
  std::string country;
  LookupCountry("193.99.144.80", country, db_.Session());
  EXPECT_FALSE(country.empty());
  EXPECT_EQ(LookupVisitorCountryCode(db_.Session(), "193.99.144.80").substr(0, 2), country);
}

TEST_F(LoadedVisitTest, SyncFindsTheVisitInTheVisitorsTree) {
  db_.AddVisitor("192.168.0.1");
  int32_t second = db_.AddSession("10.0.0.1", "2004-03-09 10:00:00");
  int32_t other = db_.AddSession("192.168.0.1", "2004-03-09 11:00:00");
  ReportTree visits = BuildSessionReport(SessionViewKind::kVisits, db_.Session(), ReportFilter(), 0);
  ReportTree domains = BuildSessionReport(SessionViewKind::kDomain, db_.Session(), ReportFilter(), 0);

  RowId selected = visits.FindPath("2004|March 2004|09 March 2004|10:00 host.example.com|");
  ASSERT_NE(selected, kNoRow);
  RowId found = SyncVisitorsView(visits, selected, domains, db_.Session());
  ASSERT_NE(found, kNoRow);
  EXPECT_EQ(domains.Key(found), second);
  EXPECT_EQ(domains.PathOf(domains.Parent(found)), "com|example.com|host.example.com|");
  RowId ip = SyncVisitorsView(visits, visits.FindPath("2004|March 2004|09 March 2004|11:00 192.168.0.1|"), domains,
                              db_.Session());
  EXPECT_EQ(domains.Key(ip), other);
  // A group row selected: nothing to do.
  EXPECT_EQ(SyncVisitorsView(visits, visits.FindPath("2004|"), domains, db_.Session()), kNoRow);
  // A visit missing from the tree: the last child of the deepest group found.
  RowId fallback = FindVisitorRow(domains, "com.example.host", 12345);
  EXPECT_EQ(fallback, domains.LastChild(domains.FindPath("com|example.com|host.example.com|")));
  EXPECT_EQ(FindVisitorRow(domains, "net.nowhere", 1), kNoRow);
}

}  // namespace
}  // namespace weavil
