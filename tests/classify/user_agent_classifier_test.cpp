// User-agent rules: first match wins, robots, versions from group 1, blanks as "+", and
// what ClassifyUserAgent writes.
#include "classify/user_agent_classifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classify/classification_store.h"
#include "store/database.h"
#include "tests/classify/agent_cases.h"
#include "tests/classify/classify_test_db.h"

namespace weavil {
namespace {

void ExpectClasses(const std::vector<test::AgentCase>& cases) { test::ExpectAgentClasses(cases, false); }

TEST(UserAgentRulesTest, ListsHaveTheirRowsInOrder) {
  ASSERT_EQ(BrowserRules().size(), 83u);
  ASSERT_EQ(OsRules().size(), 17u);
  EXPECT_EQ(BrowserRules()[36].name, "Robot/SEARCH-UA");
  EXPECT_EQ(BrowserRules()[50].name, "Robot/search-ch");
  EXPECT_EQ(BrowserRules()[82].name, "Netscape/");
  EXPECT_EQ(OsRules()[16].name, "OS/2 ");
}

TEST(UserAgentRulesTest, BrowsersGetTheirVersionFromGroupOne) {
  ExpectClasses({
      {"Mozilla/4.0+(compatible;+MSIE+6.0;+Windows+NT+5.1)", "Microsoft Internet Explorer/6.0", "Windows XP", 0},
      {"Mozilla/4.79+[en]+(X11;+U;+Linux+2.4.20+i686)", "Netscape/4.79", "Linux 2.4.20", 0},
      {"Mozilla/5.0+(Windows;+U;+Windows+NT+5.1;+en-US;+rv:1.7.5)+Gecko/20041107+Firefox/1.0", "Mozilla/1.7.5",
       "Windows XP", 0},
      {"Mozilla/5.0+(Windows;+U;+Windows+NT+5.0;+en-US;+rv:1.0.1)+Gecko/20020823+Netscape/7.0", "Netscape/7.0",
       "Windows 2000", 0},
      {"Mozilla/5.0+(compatible;+Konqueror/3.1;+Linux)", "Konqueror/3.1", "Linux ?.?", 0},
      {"Opera/9.80+(Windows+NT+6.1;+U;+ru)", "Opera/9.80", "Windows NT", 0},
      // MSIE 7 and later fall outside row 6 and end at the last row.
      {"Mozilla/4.0+(compatible;+MSIE+7.0;+Windows+NT+6.0)", "Netscape/4.0", "Windows NT", 0},
  });
}

TEST(UserAgentRulesTest, FirstMatchingRowWins) {
  ExpectClasses({
      // Row 4 (Opera) comes before row 6 (MSIE); OS row 4 captures the version.
      {"Mozilla/4.0+(compatible;+MSIE+6.0;+Windows+98)+Opera+7.11", "Opera/7.11", "Windows 98", 0},
      // A browser row before the robot rows takes a robot that poses as one.
      {"Mozilla/4.0+(compatible;+MSIE+5.0;+Java)", "Microsoft Internet Explorer/5.0", "", 0},
      // Row 83 comes after every robot row.
      {"Mozilla/3.0+(Slurp/si;+slurp@inktomi.com)", "Robot/Inktomi", "", 1},
      // OS rows: fixed names before the general Windows row, Win32 before "Win...".
      {"Mozilla/4.0+(compatible;+MSIE+5.5;+Win+9x+4.90)", "Microsoft Internet Explorer/5.5", "Windows ME", 0},
      {"Something/1.0+(Win32)", "", "Windows 95", 0},
      {"Something/1.0+(WinNT)", "", "Windows NT", 0},
      {"Mozilla/3.01+(Macintosh;+I;+PPC)", "Netscape/3.01", "MAC-OS", 0},
      {"Lynx/2.8+(SunOS+5.8)", "", "SunOS ", 0},
  });
}

TEST(UserAgentRulesTest, RobotsAreFixedNamesWithoutVersion) {
  ExpectClasses({
      {"Googlebot/2.1+(+http://www.googlebot.com/bot.html)", "Robot/Google", "", 1},
      {"Baiduspider+(+http://www.baidu.com/search/spider.htm)", "Robot/BaiDuSpider", "", 1},
      {"msnbot/1.0+(+http://search.msn.com/msnbot.htm)", "Robot/msnbot", "", 1},
      {"Yandex/1.01.001+(compatible;+Win16;+I)", "Robot/Yandex", "Windows 3.11", 1},
      {"Scooter-3.2.EX", "Robot/AltaVista", "", 1},
      {"Java/1.4.1_04", "Robot/Java", "", 1},
      {"Mozilla/4.0+(compatible;+MSIECrawler;+Windows+NT+5.1)", "Robot/MSIECrawler", "Windows XP", 1},
      {"Mozilla/4.0+(META.UA+crawler)", "Robot/SEARCH-UA", "", 1},
      {"search.ch+V1.4", "Robot/search-ch", "", 1},
      {"IPWorks+HTTP/S+Component", "Robot/IPWorks", "", 1},  // "P*" also matches no P
  });
}

TEST(UserAgentRulesTest, PatternsAreCaseSensitiveAndPlusIsARepetition) {
  ExpectClasses({
      // Neither row 25 nor row 26 matches a lower-case name.
      {"baiduspider", "", "", 0},
      // Rows 38 to 40: "+" repeats the letter before it.
      {"searchcrawler", "Robot/?", "", 1},
      {"searchhhcrawler", "Robot/?", "", 1},
      {"search+crawler", "", "", 0},
      {"Fluffythespider", "Robot/Fluffy", "", 1},
      {"Fluffy+the+spider", "", "", 0},
      {"PerMannnSurfer", "Robot/PerMan", "", 1},
      // Rows with a plain blank match only a user agent that kept its blanks.
      {"Mozilla/2.0+(compatible;+Ask+Jeeves/Teoma)", "Robot/Teoma", "", 1},
      {"Mozilla/2.0 (compatible; Ask Jeeves/Teoma)", "Robot/Ask Jeeves", "", 1},
      {"Netcraft+Web+Server+Survey", "", "", 0},
      {"Netcraft Web Server Survey", "Robot/Netcraft", "", 1},
  });
}

TEST(UserAgentRulesTest, UnmatchedTextGivesEmptyNames) {
  ExpectClasses({
      {"Mozilla/5.0+(compatible;+Googlebot/2.1)", "", "", 0},  // row 11 anchors at the start
      {"Mozilla/5.0 (X11; Linux x86_64)", "", "Linux ?.?", 0},
      {"", "", "", 0},
      {"-", "", "", 0},
      // Read as the C string the log field is: nothing after a zero byte counts.
      {std::string("Wget/1.9\0Googlebot/2.1", 22), "", "", 0},
  });
}

class ClassifyUserAgentTest : public test::ClassifyDbTest {};

TEST_F(ClassifyUserAgentTest, StoresBothNamesAndLinksTheSession) {
  EXPECT_EQ(ClassifyUserAgent("Googlebot/2.1", "s1", session_), 1);
  EXPECT_EQ(ClassifyUserAgent("Mozilla/4.0+(compatible;+MSIE+6.0;+Windows+NT+5.1)", "s2", session_), 0);
  EXPECT_EQ(ClassifyUserAgent("Mozilla/4.0+(compatible;+MSIE+6.0;+Windows+NT+5.1)", "s3", session_), 0);
  EXPECT_EQ(ClassifyUserAgent("nothing known", "s4", session_), 0);

  EXPECT_EQ(Rows("Select BrowserId, Browser From Browser Order By BrowserId"),
            (std::vector<std::string>{"1|Robot/Google", "2|Microsoft Internet Explorer/6.0", "3|"}));
  EXPECT_EQ(Rows("Select OSId, OS From OS Order By OSId"), (std::vector<std::string>{"1|", "2|Windows XP"}));
  // Known names are reused; an unmatched agent is linked to the two empty names.
  EXPECT_EQ(RowsOf("SessionBrowserOS"),
            (std::vector<std::string>{"s1|1|1", "s2|2|2", "s3|2|2", "s4|3|1"}));
}

TEST_F(ClassifyUserAgentTest, ExistingNamesAreFoundWhateverTheirCase) {
  Statement statement;
  ASSERT_GE(statement.Execute(session_, "Insert Into OS (OS) Values ('WINDOWS XP');"), 0);
  ClassifyUserAgent("Mozilla/4.0+(compatible;+MSIE+6.0;+Windows+NT+5.1)", "s1", session_);
  EXPECT_EQ(Rows("Select OSId, OS From OS"), std::vector<std::string>{"1|WINDOWS XP"});
  EXPECT_EQ(Rows("Select OSId From SessionBrowserOS"), std::vector<std::string>{"1"});
}

TEST_F(ClassifyUserAgentTest, QuotesInNamesAndSessionIdsAreStored) {
  test::StoreSessions(session_, {"id'1"});
  StoreBrowserOs("O'Browser", "It's OS", "id'1", session_);
  EXPECT_EQ(Rows("Select s.SessionId, b.Browser, o.OS From SessionBrowserOS s Join Browser b On "
                 "b.BrowserId=s.BrowserId Join OS o On o.OSId=s.OSId"),
            std::vector<std::string>{"id'1|O'Browser|It's OS"});
}

TEST_F(ClassifyUserAgentTest, NoLinkWithoutBothIds) {
  Statement statement;
  ASSERT_GE(statement.Execute(session_, "Drop Table OS;"), 0);
  EXPECT_EQ(ClassifyUserAgent("Googlebot/2.1", "s1", session_), 1);
  EXPECT_EQ(Rows("Select Browser From Browser"), std::vector<std::string>{"Robot/Google"});
  EXPECT_TRUE(Rows("Select * From SessionBrowserOS").empty());
}

}  // namespace
}  // namespace weavil
