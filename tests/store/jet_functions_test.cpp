// The Jet functions as the report statements use them, run through real SQL.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include "store/database.h"
#include "store/result.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

class JetFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("log.db");
    test::CopyTemplateDatabase(path_);
    ASSERT_GE(session_.OpenFile(path_), 0);
  }

  // The single value of a SELECT; "<null>" for null, "<fail>" when the statement fails.
  std::string Eval(const std::string& expression) {
    Statement statement;
    if (Failed(statement.Execute(session_, "SELECT " + expression))) {
      lastError_ = sqlite3_errmsg(session_.Handle());
      return "<fail>";
    }
    if (statement.MoveNext() != kResultOk) return "<no row>";
    std::string value;
    return statement.GetText(1, value) ? value : "<null>";
  }

  test::TempDir dir_;
  std::string path_;
  DbSession session_;
  std::string lastError_;
};

TEST_F(JetFunctionsTest, CDateNormalisesDateTexts) {
  EXPECT_EQ(Eval("CDate('2004-05-01 10:00:00')"), "2004-05-01 10:00:00");
  EXPECT_EQ(Eval("CDate('2004-5-1 9:05')"), "2004-05-01 09:05:00");
  EXPECT_EQ(Eval("CDate('2004-05-01')"), "2004-05-01 00:00:00");
  EXPECT_EQ(Eval("CDate('2004/05/01 23:59:59')"), "2004-05-01 23:59:59");
  EXPECT_EQ(Eval("CDate(NULL)"), "<null>");
  // Jet fails the statement on a text that is no date.
  EXPECT_EQ(Eval("CDate('yesterday')"), "<fail>");
  EXPECT_EQ(Eval("CDate('2004-02-30 00:00:00')"), "<fail>");
  EXPECT_EQ(Eval("CDate('2004-05-01 24:00:00')"), "<fail>");
}

TEST_F(JetFunctionsTest, CDateComparesWithStoredTexts) {
  Statement statement;
  ASSERT_GE(statement.Execute(session_, "INSERT INTO [Session] (SessionId, TimeEnter, UserIP) VALUES "
                                        "('a', '2004-05-01 09:05:00', '1.2.3.4')"),
            0);
  ASSERT_GE(statement.Execute(session_, "Select SessionId FROM [Session] WHERE TimeEnter=CDate('2004-05-01 9:05:00') "
                                        "AND UserIP='1.2.3.4';"),
            0);
  EXPECT_EQ(statement.MoveNext(), kResultOk);
}

TEST_F(JetFunctionsTest, FormatPatterns) {
  // 2004-05-01 was a Saturday; 2004-05-02 a Sunday.
  EXPECT_EQ(Eval("Format('2004-05-01 07:08:09','yyyy-mm-dd hh:mm')"), "2004-05-01 07:08");
  EXPECT_EQ(Eval("Format('2004-05-01 07:08:09','yyyymmddhhnnss')"), "20040501070809");
  EXPECT_EQ(Eval("Format('2004-05-01 07:08:09','dd')"), "01");
  EXPECT_EQ(Eval("Format('2004-05-01 07:08:09','hh')"), "07");
  EXPECT_EQ(Eval("Format('2004-05-01 07:08:09','w')"), "7");
  EXPECT_EQ(Eval("Format('2004-05-02 00:00:00','w')"), "1");
  EXPECT_EQ(Eval("Format('2004-05-01 07:08:09','dddd')"), "Saturday");
  EXPECT_EQ(Eval("Format('2004-05-03 07:08:09','dddd')"), "Monday");
  EXPECT_EQ(Eval("Format('2004-05-01 23:00:00','w') || ' - ' || Format('2004-05-01 23:00:00','dddd')"),
            "7 - Saturday");
  EXPECT_EQ(Eval("Format(NULL,'dd')"), "<null>");
  // Stored texts take a quicker road; both roads must agree, also on impossible dates.
  EXPECT_EQ(Eval("Format('2004-05-01 7:08:09','yyyymmddhhnnss')"), "20040501070809");
  EXPECT_EQ(Eval("Format('2004-05-01 07:08','hh')"), "07");
  EXPECT_EQ(Eval("Format('2004-02-30 07:08:09','dd')"), "2004-02-30 07:08:09");
  EXPECT_EQ(Eval("Format('2004-05-01 25:08:09','hh')"), "2004-05-01 25:08:09");
}

TEST_F(JetFunctionsTest, DateDiffCountsBoundariesCrossed) {
  // Days: one second across midnight is one day.
  EXPECT_EQ(Eval("DateDiff('d','2004-05-01 23:59:59','2004-05-02 00:00:00')"), "1");
  EXPECT_EQ(Eval("DateDiff('d','2004-05-01 00:00:00','2004-05-01 23:59:59')"), "0");
  EXPECT_EQ(Eval("DateDiff('d','2004-02-28 12:00:00','2004-03-01 00:00:00')"), "2");
  EXPECT_EQ(Eval("DateDiff('d','2004-05-02','2004-05-01')"), "-1");
  // Months: the last day of one month to the first of the next is one month.
  EXPECT_EQ(Eval("DateDiff('m','2004-01-31 23:00:00','2004-02-01 00:00:00')"), "1");
  EXPECT_EQ(Eval("DateDiff('m','2004-01-01','2004-01-31')"), "0");
  EXPECT_EQ(Eval("DateDiff('m','2003-11-15','2004-02-15')"), "3");
  // Weeks: Sundays crossed. Saturday to Sunday is one week, Sunday to Saturday none.
  EXPECT_EQ(Eval("DateDiff('ww','2004-05-01','2004-05-02')"), "1");
  EXPECT_EQ(Eval("DateDiff('ww','2004-05-02','2004-05-08')"), "0");
  EXPECT_EQ(Eval("DateDiff('ww','2004-05-02','2004-05-09')"), "1");
  EXPECT_EQ(Eval("DateDiff('ww','2004-04-30','2004-05-16')"), "3");
  EXPECT_EQ(Eval("DateDiff('x','2004-04-30','2004-05-16')"), "<fail>");
}

TEST_F(JetFunctionsTest, DateDiffInAggregates) {
  Statement statement;
  ASSERT_GE(statement.Execute(session_, "INSERT INTO [Session] (SessionId, TimeEnter) VALUES "
                                        "('a','2004-05-01 10:00:00'),('b','2004-05-03 09:00:00'),"
                                        "('c','2004-05-03 11:00:00')"),
            0);
  ASSERT_GE(statement.Execute(session_, "SELECT Count(a.SessionId)/(1.0+DateDiff('d', Min(a.TimeEnter), "
                                        "Max(a.TimeEnter))) FROM [Session] a"),
            0);
  ASSERT_EQ(statement.MoveNext(), kResultOk);
  double value = 0;
  ASSERT_TRUE(statement.GetDouble(1, value));
  EXPECT_DOUBLE_EQ(value, 1.0);
}

TEST_F(JetFunctionsTest, StrPutsBlankBeforeNonNegativeNumbers) {
  EXPECT_EQ(Eval("Str(200)"), " 200");
  EXPECT_EQ(Eval("Str(0)"), " 0");
  EXPECT_EQ(Eval("Str(-5)"), "-5");
  EXPECT_EQ(Eval("Str(12.5)"), " 12.5");
  EXPECT_EQ(Eval("Str(0.5)"), " .5");
  EXPECT_EQ(Eval("Str(-0.25)"), "-.25");
  EXPECT_EQ(Eval("Str('404')"), " 404");
  EXPECT_EQ(Eval("Str(NULL)"), "<null>");
  EXPECT_EQ(Eval("Str(404)||'+'||'/index.html'"), " 404+/index.html");
}

TEST_F(JetFunctionsTest, TextFunctions) {
  EXPECT_EQ(Eval("Len('abc')"), "3");
  EXPECT_EQ(Eval("Len('')"), "0");
  EXPECT_EQ(Eval("Len(NULL)"), "<null>");
  EXPECT_EQ(Eval("Left('abcdef',3)"), "abc");
  EXPECT_EQ(Eval("left('ab',100)"), "ab");
  EXPECT_EQ(Eval("Left(NULL,3)"), "<null>");
  EXPECT_EQ(Eval("Left('abc',-1)"), "<fail>");
  EXPECT_EQ(Eval("'[' || Space(3) || ']'"), "[   ]") << lastError_;
  EXPECT_EQ(Eval("Space(0)"), "");
  // The sort keys of the report views pad a cut text to a fixed width.
  EXPECT_EQ(Eval("left('ip.1.2.3.4',5) || Space(5-Len(left('ip.1.2.3.4',5))) || 'x'"), "ip.1.x");
  EXPECT_EQ(Eval("left('ab',5) || Space(5-Len(left('ab',5))) || 'x'"), "ab   x");
}

TEST_F(JetFunctionsTest, TimePartsOfDatesAndDifferences) {
  EXPECT_EQ(Eval("Hour('2004-05-01 07:08:09')"), "7");
  EXPECT_EQ(Eval("Minute('2004-05-01 07:08:09')"), "8");
  EXPECT_EQ(Eval("Second('2004-05-01 07:08:09')"), "9");
  EXPECT_EQ(Eval("Minute(CDate('2004-05-01 07:08:09'))"), "8");
  // A difference of serial dates is a fraction of a day: 1 h 2 min 3 s.
  EXPECT_EQ(Eval("Hour(CDbl(CDate('2004-05-01 08:10:12'))-CDbl(CDate('2004-05-01 07:08:09')))"), "1");
  EXPECT_EQ(Eval("Minute(CDbl(CDate('2004-05-01 08:10:12'))-CDbl(CDate('2004-05-01 07:08:09')))"), "2");
  EXPECT_EQ(Eval("Second(CDbl(CDate('2004-05-01 08:10:12'))-CDbl(CDate('2004-05-01 07:08:09')))"), "3");
  EXPECT_EQ(Eval("CDate(CDbl(CDate('1999-12-31 23:59:59')))"), "1999-12-31 23:59:59");
  EXPECT_EQ(Eval("CDbl(CDate('1899-12-31 00:00:00'))"), "1.0");
  EXPECT_EQ(Eval("Hour(NULL)"), "<null>");
}

}  // namespace
}  // namespace weavil
