// The Jet functions as the report statements use them, run through real SQL.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <initializer_list>
#include <string>

#include "store/database.h"
#include "store/result.h"
#include "tests/store/template_db_test.h"

namespace weavil {
namespace {

// An expression and the text its value reads as.
struct EvalCase {
  const char* expression;
  const char* expected;
};

class JetFunctionsTest : public test::TemplateDbTest {
 protected:
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

  void ExpectValues(std::initializer_list<EvalCase> cases) {
    for (const EvalCase& c : cases) {
      lastError_.clear();
      EXPECT_EQ(Eval(c.expression), c.expected) << c.expression << " " << lastError_;
    }
  }

  std::string lastError_;
};

TEST_F(JetFunctionsTest, CDateNormalisesDateTexts) {
  ExpectValues({
      {"CDate('2004-05-01 10:00:00')", "2004-05-01 10:00:00"},
      {"CDate('2004-5-1 9:05')", "2004-05-01 09:05:00"},
      {"CDate('2004-05-01')", "2004-05-01 00:00:00"},
      {"CDate('2004/05/01 23:59:59')", "2004-05-01 23:59:59"},
      {"CDate(NULL)", "<null>"},
      // Jet fails the statement on a text that is no date.
      {"CDate('yesterday')", "<fail>"},
      {"CDate('2004-02-30 00:00:00')", "<fail>"},
      {"CDate('2004-05-01 24:00:00')", "<fail>"},
  });
}

TEST_F(JetFunctionsTest, CDateComparesWithStoredTexts) {
  Exec("INSERT INTO [Session] (SessionId, TimeEnter, UserIP) VALUES ('a', '2004-05-01 09:05:00', '1.2.3.4')");
  Statement statement;
  ASSERT_GE(statement.Execute(session_, "Select SessionId FROM [Session] WHERE TimeEnter=CDate('2004-05-01 9:05:00') "
                                        "AND UserIP='1.2.3.4';"),
            0);
  EXPECT_EQ(statement.MoveNext(), kResultOk);
}

TEST_F(JetFunctionsTest, FormatPatterns) {
  // 2004-05-01 was a Saturday; 2004-05-02 a Sunday.
  ExpectValues({
      {"Format('2004-05-01 07:08:09','yyyy-mm-dd hh:mm')", "2004-05-01 07:08"},
      {"Format('2004-05-01 07:08:09','yyyymmddhhnnss')", "20040501070809"},
      {"Format('2004-05-01 07:08:09','dd')", "01"},
      {"Format('2004-05-01 07:08:09','hh')", "07"},
      {"Format('2004-05-01 07:08:09','w')", "7"},
      {"Format('2004-05-02 00:00:00','w')", "1"},
      {"Format('2004-05-01 07:08:09','dddd')", "Saturday"},
      {"Format('2004-05-03 07:08:09','dddd')", "Monday"},
      {"Format('2004-05-01 23:00:00','w') || ' - ' || Format('2004-05-01 23:00:00','dddd')", "7 - Saturday"},
      {"Format(NULL,'dd')", "<null>"},
      // Stored texts take a quicker road; both roads must agree, also on impossible dates.
      {"Format('2004-05-01 7:08:09','yyyymmddhhnnss')", "20040501070809"},
      {"Format('2004-05-01 07:08','hh')", "07"},
      {"Format('2004-02-30 07:08:09','dd')", "2004-02-30 07:08:09"},
      {"Format('2004-05-01 25:08:09','hh')", "2004-05-01 25:08:09"},
  });
}

TEST_F(JetFunctionsTest, DateDiffCountsBoundariesCrossed) {
  // Days: one second across midnight is one day.
  ExpectValues({
      {"DateDiff('d','2004-05-01 23:59:59','2004-05-02 00:00:00')", "1"},
      {"DateDiff('d','2004-05-01 00:00:00','2004-05-01 23:59:59')", "0"},
      {"DateDiff('d','2004-02-28 12:00:00','2004-03-01 00:00:00')", "2"},
      {"DateDiff('d','2004-05-02','2004-05-01')", "-1"},
      // Months: the last day of one month to the first of the next is one month.
      {"DateDiff('m','2004-01-31 23:00:00','2004-02-01 00:00:00')", "1"},
      {"DateDiff('m','2004-01-01','2004-01-31')", "0"},
      {"DateDiff('m','2003-11-15','2004-02-15')", "3"},
      // Weeks: Sundays crossed. Saturday to Sunday is one week, Sunday to Saturday none.
      {"DateDiff('ww','2004-05-01','2004-05-02')", "1"},
      {"DateDiff('ww','2004-05-02','2004-05-08')", "0"},
      {"DateDiff('ww','2004-05-02','2004-05-09')", "1"},
      {"DateDiff('ww','2004-04-30','2004-05-16')", "3"},
      {"DateDiff('x','2004-04-30','2004-05-16')", "<fail>"},
  });
}

TEST_F(JetFunctionsTest, DateDiffInAggregates) {
  Exec("INSERT INTO [Session] (SessionId, TimeEnter) VALUES "
       "('a','2004-05-01 10:00:00'),('b','2004-05-03 09:00:00'),('c','2004-05-03 11:00:00')");
  Statement statement;
  ASSERT_GE(statement.Execute(session_, "SELECT Count(a.SessionId)/(1.0+DateDiff('d', Min(a.TimeEnter), "
                                        "Max(a.TimeEnter))) FROM [Session] a"),
            0);
  ASSERT_EQ(statement.MoveNext(), kResultOk);
  double value = 0;
  ASSERT_TRUE(statement.GetDouble(1, value));
  EXPECT_DOUBLE_EQ(value, 1.0);
}

TEST_F(JetFunctionsTest, StrPutsBlankBeforeNonNegativeNumbers) {
  ExpectValues({
      {"Str(200)", " 200"},
      {"Str(0)", " 0"},
      {"Str(-5)", "-5"},
      {"Str(12.5)", " 12.5"},
      {"Str(0.5)", " .5"},
      {"Str(-0.25)", "-.25"},
      {"Str('404')", " 404"},
      {"Str(NULL)", "<null>"},
      {"Str(404)||'+'||'/index.html'", " 404+/index.html"},
  });
}

TEST_F(JetFunctionsTest, TextFunctions) {
  ExpectValues({
      {"Len('abc')", "3"},
      {"Len('')", "0"},
      {"Len(NULL)", "<null>"},
      {"Left('abcdef',3)", "abc"},
      {"left('ab',100)", "ab"},
      {"Left(NULL,3)", "<null>"},
      {"Left('abc',-1)", "<fail>"},
      {"'[' || Space(3) || ']'", "[   ]"},
      {"Space(0)", ""},
      // The sort keys of the report views pad a cut text to a fixed width.
      {"left('ip.1.2.3.4',5) || Space(5-Len(left('ip.1.2.3.4',5))) || 'x'", "ip.1.x"},
      {"left('ab',5) || Space(5-Len(left('ab',5))) || 'x'", "ab   x"},
  });
}

TEST_F(JetFunctionsTest, TimePartsOfDatesAndDifferences) {
  ExpectValues({
      {"Hour('2004-05-01 07:08:09')", "7"},
      {"Minute('2004-05-01 07:08:09')", "8"},
      {"Second('2004-05-01 07:08:09')", "9"},
      {"Minute(CDate('2004-05-01 07:08:09'))", "8"},
      // A difference of serial dates is a fraction of a day: 1 h 2 min 3 s.
      {"Hour(CDbl(CDate('2004-05-01 08:10:12'))-CDbl(CDate('2004-05-01 07:08:09')))", "1"},
      {"Minute(CDbl(CDate('2004-05-01 08:10:12'))-CDbl(CDate('2004-05-01 07:08:09')))", "2"},
      {"Second(CDbl(CDate('2004-05-01 08:10:12'))-CDbl(CDate('2004-05-01 07:08:09')))", "3"},
      {"CDate(CDbl(CDate('1999-12-31 23:59:59')))", "1999-12-31 23:59:59"},
      {"CDbl(CDate('1899-12-31 00:00:00'))", "1.0"},
      {"Hour(NULL)", "<null>"},
  });
}

}  // namespace
}  // namespace weavil
