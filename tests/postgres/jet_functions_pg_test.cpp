// The Jet functions on a PostgreSQL server against the SQLite ones: every call made on
// both sides, with the same values bound, must give the same type and value, or fail on
// both with the same message.
#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "store/jet_functions.h"
#include "tests/support/pg_test_support.h"

namespace weavil {
namespace {

std::string FunctionsSql() {
  std::ifstream in(WEAVIL_SOURCE_DIR "/store/jet_functions_postgresql.sql", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string DoubleText(double d) {
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", d);
  return buffer;
}

// An argument as SQLite and PostgreSQL both take it.
struct Arg {
  enum Kind { kNull, kText, kInt, kReal, kNumeric } kind;
  std::string text;  // text, or the decimal of a numeric
  int64_t i = 0;
  double d = 0;
  const char* pgType = "text";

  std::string PgValue() const {
    switch (kind) {
      case kInt: return std::to_string(i);
      case kReal: return DoubleText(d);
      default: return text;
    }
  }
  std::string Describe() const {
    switch (kind) {
      case kNull: return std::string("NULL::") + pgType;
      case kText: return "'" + text + "'";
      case kInt: return std::to_string(i);
      case kReal: return DoubleText(d) + "::float8";
      case kNumeric: return text + "::numeric";
    }
    return "?";
  }
};

Arg T(std::string s) { return {Arg::kText, std::move(s)}; }
Arg I(int64_t v) { return {Arg::kInt, "", v, 0, "bigint"}; }
Arg R(double v) { return {Arg::kReal, "", 0, v, "float8"}; }
Arg N(std::string decimal) { return {Arg::kNumeric, std::move(decimal), 0, 0, "numeric"}; }
Arg Null(const char* pgType) { return {Arg::kNull, "", 0, 0, pgType}; }

// What a call gave: "null", "int", "real", "text" or "error", and the value or message.
struct Outcome {
  std::string kind, value;
  bool operator==(const Outcome& o) const { return kind == o.kind && value == o.value; }
};
std::ostream& operator<<(std::ostream& out, const Outcome& o) { return out << o.kind << " [" << o.value << "]"; }

// The text SQLite returns when it cuts a UTF-8 sequence, without the broken end: what
// a PostgreSQL text can hold of it.
std::string WithoutBrokenEnd(const std::string& s) {
  size_t end = s.size(), start = end;
  while (start > 0 && (static_cast<unsigned char>(s[start - 1]) & 0xC0) == 0x80) --start;
  if (start == 0) return s;
  unsigned char lead = static_cast<unsigned char>(s[start - 1]);
  size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return end - (start - 1) < need ? s.substr(0, start - 1) : s;
}

class JetFunctionsPgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (database_.Uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
    pg_ = PQconnectdb(database_.Uri().c_str());
    ASSERT_EQ(PQstatus(pg_), CONNECTION_OK) << PQerrorMessage(pg_);
    ASSERT_EQ(PgExec(FunctionsSql()), "");
    ASSERT_EQ(sqlite3_open(":memory:", &sqlite_), SQLITE_OK);
    RegisterJetFunctions(sqlite_);
  }
  void TearDown() override {
    if (pg_) PQfinish(pg_);
    if (sqlite_) sqlite3_close(sqlite_);
  }

  // Empty on success, else the server's message.
  std::string PgExec(const std::string& sql) {
    PGresult* result = PQexec(pg_, sql.c_str());
    ExecStatusType status = PQresultStatus(result);
    std::string error = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK ? "" : PQresultErrorMessage(result);
    PQclear(result);
    return error;
  }

  Outcome RunPg(const std::string& function, const std::vector<Arg>& args) {
    std::string sql = "SELECT " + function + "(";
    std::vector<std::string> values;
    std::vector<const char*> params;
    for (size_t i = 0; i < args.size(); ++i) values.push_back(args[i].PgValue());
    for (size_t i = 0; i < args.size(); ++i) {
      sql += (i ? ", $" : "$") + std::to_string(i + 1) + "::" + args[i].pgType;
      params.push_back(args[i].kind == Arg::kNull ? nullptr : values[i].c_str());
    }
    sql += ")";
    PGresult* result = PQexecParams(pg_, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(),
                                    nullptr, nullptr, 0);
    Outcome out;
    if (PQresultStatus(result) != PGRES_TUPLES_OK) {
      const char* message = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
      out = {"error", message ? message : PQresultErrorMessage(result)};
    } else if (PQgetisnull(result, 0, 0)) {
      out = {"null", ""};
    } else {
      std::string value = PQgetvalue(result, 0, 0);
      switch (PQftype(result, 0)) {
        case 20: case 21: case 23: out = {"int", value}; break;
        case 701: out = {"real", DoubleText(std::strtod(value.c_str(), nullptr))}; break;
        case 25: out = {"text", value}; break;
        default: out = {"type " + std::to_string(PQftype(result, 0)), value};
      }
    }
    PQclear(result);
    return out;
  }

  Outcome RunSqlite(const std::string& function, const std::vector<Arg>& args) {
    std::string sql = "SELECT " + function + "(";
    for (size_t i = 0; i < args.size(); ++i) sql += i ? ", ?" : "?";
    sql += ")";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(sqlite_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
      return {"error", sqlite3_errmsg(sqlite_)};
    for (size_t i = 0; i < args.size(); ++i) {
      int at = static_cast<int>(i + 1);
      const Arg& a = args[i];
      switch (a.kind) {
        case Arg::kNull: sqlite3_bind_null(statement, at); break;
        case Arg::kText: sqlite3_bind_text(statement, at, a.text.data(), static_cast<int>(a.text.size()), SQLITE_TRANSIENT); break;
        case Arg::kInt: sqlite3_bind_int64(statement, at, a.i); break;
        case Arg::kReal: sqlite3_bind_double(statement, at, a.d); break;
        case Arg::kNumeric:
          // a numeric without a point is what sum() gives where SQLite has an integer
          if (a.text.find_first_of(".eE") == std::string::npos)
            sqlite3_bind_int64(statement, at, std::strtoll(a.text.c_str(), nullptr, 10));
          else
            sqlite3_bind_double(statement, at, std::strtod(a.text.c_str(), nullptr));
          break;
      }
    }
    Outcome out;
    if (sqlite3_step(statement) != SQLITE_ROW) {
      out = {"error", sqlite3_errmsg(sqlite_)};
    } else {
      switch (sqlite3_column_type(statement, 0)) {
        case SQLITE_NULL: out = {"null", ""}; break;
        case SQLITE_INTEGER: out = {"int", std::to_string(sqlite3_column_int64(statement, 0))}; break;
        case SQLITE_FLOAT: out = {"real", DoubleText(sqlite3_column_double(statement, 0))}; break;
        default: {
          const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
          out = {"text", std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, 0)))};
        }
      }
    }
    sqlite3_finalize(statement);
    return out;
  }

  // The same call on both.
  void Same(const char* sqliteName, const char* pgName, const std::vector<Arg>& args) {
    Outcome expected = RunSqlite(sqliteName, args);
    if (expected.kind == "text") expected.value = WithoutBrokenEnd(expected.value);
    Outcome actual = RunPg(pgName, args);
    std::string call = std::string(pgName) + "(";
    for (size_t i = 0; i < args.size(); ++i) call += (i ? ", " : "") + args[i].Describe();
    EXPECT_EQ(actual, expected) << call << ")";
  }

  test::TestPgDatabase database_;
  PGconn* pg_ = nullptr;
  sqlite3* sqlite_ = nullptr;
};

// Date texts of every shape ParseDateTime meets, good and bad.
const std::vector<std::string> kDateTexts = {
    "2004-05-01 07:08:09", "2004-05-02 00:00:00", "1899-12-30 00:00:00", "1899-12-31 23:59:59", "1900-01-01 00:00:00",
    "1900-02-28 12:00:00", "1900-02-29 00:00:00", "1900-03-01", "2000-02-29 23:59:59", "2100-02-29", "2004-02-29 12:00",
    "2004-12-31 23:59:59", "2005-01-01 00:00:00", "2003-12-28", "0099-12-31", "0100-01-01", "9999-12-31 23:59:59",
    "1582-10-10", "2004-5-1 9:05", "2004/05/01 23:59:59", "2004/05-01", "  2004-05-01  ", "2004-05-01T10:11:12",
    "2004-05-01 T 10:11", "2004-05-01T", "2004-05-01 24:00:00", "2004-05-01 23:60", "2004-05-01 23:59:60",
    "2004-05-01 12:00:", "2004-05-01 1:2:3", "2004-05-01 12:00 ", "2004-05-01 12", "2004-05-01 12:00:00.5",
    "2004-13-01", "2004-00-10", "2004-01-00", "2004-04-31", "2004-02-30 07:08:09", "2004-05-01 25:08:09", "20040501",
    "2004-05-011", "02004-05-01", "2004-05-01\t12:00", "2004-05-01 07:08:09x", "\xef\xbc\x92" "004-05-01", "yesterday",
    "", " ", "2004-05-01 007:08", "2004-05-01t10:11",
    // the stored shape with a field out of its range
    "2003-02-29 00:00:00", "2004-04-31 00:00:00", "0099-12-31 00:00:00", "2004-00-01 00:00:00", "2004-01-32 00:00:00",
    "2004-05-01 19:59:59", "2004-05-01 20:00:00", "2004-05-01 00:60:00", "2004-05-01 00:00:60", "2004-05-01 07:08:09 "};

const std::vector<double> kSerials = {0,         0.5,        1,          -1,       -0.5,         -1.25,  1.999999999,
                                      0.99999999999, 38000.5, 38000.123456, 1.0 / 3, 2958465.99999, 2958466, -700000,
                                      -657435,   1e9,        -1e9,       1e-9,     36526.000005787, 60, 61};

const std::vector<std::string> kFormats = {
    "yyyy", "yyy", "yy", "y", "yyyyy", "mmmm", "mmm", "mm", "m", "mmmmm", "dddd", "ddd", "dd", "d", "ddddd", "ww", "w",
    "www", "hh", "h", "hhh", "nn", "n", "ss", "s", "sss", "q", "qq", "hh:mm", "h:m", "hh:mm:ss", "hhmm", "hh mm", "hhqmm",
    "hhnnmm", "hhdmm", "mm/dd/yyyy", "dd.mm.yy", "YYYY-MM-DD HH:NN:SS", "yyyy-mm-dd hh:mm", "yyyy-mm-dd hh:nn",
    "yyyymmddhhnnss", "yyyy-mm-dd", "Dddd", "Hh:Mm", "ddddd mmmmm", "\"at\" h", "abc xyz", "\xc3\xa9-yyyy-\xe2\x82\xac",
    "w - dddd", ""};

TEST_F(JetFunctionsPgTest, DatesParseAndFormatAsInSqlite) {
  for (const std::string& date : kDateTexts) {
    Same("CDate", "jet_cdate", {T(date)});
    Same("CDbl", "jet_cdbl", {T(date)});
    Same("Hour", "jet_hour", {T(date)});
    Same("Minute", "jet_minute", {T(date)});
    Same("Second", "jet_second", {T(date)});
    for (const std::string& format : kFormats) Same("Format", "jet_format", {T(date), T(format)});
    Same("Format", "jet_format", {T(date), Null("text")});
  }
  for (double serial : kSerials) {
    Same("CDate", "jet_cdate", {R(serial)});
    Same("Hour", "jet_hour", {R(serial)});
    Same("Minute", "jet_minute", {R(serial)});
    Same("Second", "jet_second", {R(serial)});
    for (const std::string& format : kFormats) Same("Format", "jet_format", {R(serial), T(format)});
  }
  for (int64_t serial : std::initializer_list<int64_t>{0, 1, 36526, -36522, 2958465, 2958466, 100000000, -100000000}) {
    Same("CDate", "jet_cdate", {I(serial)});
    Same("Hour", "jet_hour", {I(serial)});
    for (const char* format : {"yyyy-mm-dd hh:nn", "dddd w ww y q", ""}) Same("Format", "jet_format", {I(serial), T(format)});
  }
  for (const char* serial : {"38000.5", "0.25", "-1.5", "1.0", "2958465.5"}) {
    Same("CDate", "jet_cdate", {N(serial)});
    Same("Minute", "jet_minute", {N(serial)});
    Same("Format", "jet_format", {N(serial), T("yyyy-mm-dd hh:nn:ss")});
  }
  for (const char* name : {"CDate", "CDbl", "Hour", "Minute", "Second"}) {
    std::string pgName = "jet_" + std::string(name);  // the server folds the case
    for (const char* type : {"text", "float8", "bigint"}) Same(name, pgName.c_str(), {Null(type)});
  }
  Same("Format", "jet_format", {Null("text"), T("yyyy")});
}

// Stored dates a little over half a year apart from 1900 to 2100, each with every token
// and against the one before in every interval.
TEST_F(JetFunctionsPgTest, GeneratedDatesAgree) {
  const int64_t from = -2208988800, to = 4102444800, step = 183 * 86400 + 7 * 3600 + 13 * 60 + 17;
  std::string before = FormatEpochSeconds(from - 86400 * 3 - 1);
  for (int64_t seconds = from; seconds < to; seconds += step) {
    std::string date = FormatEpochSeconds(seconds);
    Same("Format", "jet_format", {T(date), T("yyyy yy y q mmmm mmm mm m dddd ddd dd d ww w hh h nn n ss s hh:mm")});
    Same("Format", "jet_format", {T(date), T("yyyymmddhhnnss")});
    Same("CDbl", "jet_cdbl", {T(date)});
    for (const char* interval : {"yyyy", "q", "m", "d", "w", "ww", "h", "n", "s"}) {
      Same("DateDiff", "jet_datediff", {T(interval), T(before), T(date)});
      Same("DateDiff", "jet_datediff", {T(interval), T(date), T(before)});
    }
    before = date;
  }
  for (int i = -60; i <= 60; ++i) {
    double serial = i * 811.7371 + 0.0001 * i;
    Same("CDate", "jet_cdate", {R(serial)});
    Same("Format", "jet_format", {R(serial), T("yyyy-mm-dd hh:nn:ss dddd ww y")});
  }
}

TEST_F(JetFunctionsPgTest, DateDiffCountsTheSameBoundaries) {
  const std::vector<std::string> dates = {
      "2004-05-01 23:59:59", "2004-05-02 00:00:00", "2004-05-08 12:00", "2004-05-09", "2004-02-28 12:00:00",
      "2004-03-01",          "2003-12-31 23:59:59", "2004-01-01",       "2004-03-31 23:00", "2004-04-01 00:59:59",
      "1899-12-30",          "1900-03-01 00:00:01", "2000-02-29",       "9999-12-31 23:59:59", "0100-01-01"};
  const std::vector<std::string> intervals = {"yyyy", "q", "m", "y", "d", "w", "ww", "h", "n", "s", "YYYY", "M", "Ww",
                                              "x", "", "mm", "dd"};
  for (const std::string& interval : intervals)
    for (const std::string& a : dates)
      for (const std::string& b : dates) Same("DateDiff", "jet_datediff", {T(interval), T(a), T(b)});
  // Which failure wins: a bad date before a bad interval.
  Same("DateDiff", "jet_datediff", {T("x"), T("2004-02-30"), T("2004-01-01")});
  Same("DateDiff", "jet_datediff", {T("d"), T("2004-01-01"), T("tomorrow")});
  Same("DateDiff", "jet_datediff", {Null("text"), T("2004-01-01"), T("2004-01-02")});
  Same("DateDiff", "jet_datediff", {T("d"), Null("text"), T("2004-01-02")});
  Same("DateDiff", "jet_datediff", {T("x"), T("2004-01-01"), Null("text")});
}

TEST_F(JetFunctionsPgTest, NumbersReadAndWriteAsInSqlite) {
  const double inf = std::numeric_limits<double>::infinity();
  for (int64_t v : std::initializer_list<int64_t>{0, 1, -1, 404, 9007199254740993, -9007199254740993, 9000000000000001,
                    std::numeric_limits<int64_t>::min(), 123456789012345678}) {
    Same("Str", "jet_str", {I(v)});
    Same("CDbl", "jet_cdbl", {I(v)});
    Same("Len", "jet_len", {I(v)});
  }
  for (double v : {0.5, -0.25, 12.5, 2.0, 1e20, 1e15, 1e14, 123456789012345.6, 1e-5, 0.0001, 0.00012345, 1.0 / 3,
                   2.0 / 3, -0.0, 0.0, 1e300, -1e-300, 5e-324, inf, -inf, 100.0, 0.1 + 0.2, 999999999999999.9,
                   9.9999999999999999e14, -1234.5678, 1.7976931348623157e308}) {
    Same("Str", "jet_str", {R(v)});
    Same("CDbl", "jet_cdbl", {R(v)});
    Same("Len", "jet_len", {R(v)});
  }
  for (const char* v : {"0.5", "12.50", "-3", "1.0", "0.333333333333333333333", "1e-400", "-2e400", "38000",
                        "1000000000000000", "-9223372036854775808", "12345678901234567"}) {
    Same("Str", "jet_str", {N(v)});
    Same("CDbl", "jet_cdbl", {N(v)});
    Same("Len", "jet_len", {N(v)});
    Same("Format", "jet_format", {N(v), T("")});
  }
  for (const char* v : {"404", " 12", "12 ", "\t-7", "-0", "+3", "1e5", "1.5", "5.", ".5", ".", "1e", "1e+", "0x10",
                        "0x1.8p1", "0x", "inf", "-Infinity", "infinit", "nan", "-nan", "NaN(123)", "abc", "", "1e400",
                        "-1e400", "1e-400", "2.5e-320", "1.7976931348623159e308", "9e15", "8999999999999999",
                        "8999999999999999.5", "1,5", "12abc", "\xd9\xa3",
                        // where strtod turns to infinity or zero, or only just not
                        "1.7976931348623158e308", "1.797693134862315807937289714053e308", "2.4703282292062328e-324",
                        "2.4703282292062327e-324", "0x1p1010", "0x1.fffffffffffff8p1023", "0x1.fffffffffffffp1023",
                        "0x1p-1074", "0x1p-1075", "0x1.8p-1075", "0x1p-1076", "-0x1p2000", "0x00012.8p-2"}) {
    Same("Str", "jet_str", {T(v)});
    Same("CDbl", "jet_cdbl", {T(v)});
  }
  for (const char* name : {"Str", "CDbl", "Len"}) {
    std::string pgName = "jet_" + std::string(name);
    for (const char* type : {"bigint", "float8", "numeric", "text"}) Same(name, pgName.c_str(), {Null(type)});
  }
}

TEST_F(JetFunctionsPgTest, TextsCountBytes) {
  const std::vector<std::string> texts = {"", "abc", "abcdef", "h\xc3\xa9llo", "\xe2\x82\xac" "1", "\xf0\x9f\x98\x80x",
                                          "ip.1.2.3.4", "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"};
  for (const std::string& t : texts) {
    Same("Len", "jet_len", {T(t)});
    for (int64_t n : std::initializer_list<int64_t>{0, 1, 2, 3, 4, 5, 6, 10, -1}) Same("JetLeft", "jet_left", {T(t), I(n)});
    Same("JetLeft", "jet_left", {T(t), Null("bigint")});
  }
  Same("JetLeft", "jet_left", {Null("text"), I(3)});
  Same("JetLeft", "jet_left", {Null("text"), Null("bigint")});
  Same("JetLeft", "jet_left", {Null("text"), I(-1)});
  for (int64_t n : std::initializer_list<int64_t>{0, 1, 5, 256, 257, 1000, 2000000, -1}) Same("Space", "jet_space", {I(n)});
  Same("Space", "jet_space", {Null("bigint")});
  Same("Len", "jet_len", {Null("text")});
}

// Where the C++ has no defined answer, the server gives a sound one.
TEST_F(JetFunctionsPgTest, OutOfRangeSerialsFailRatherThanWrap) {
  EXPECT_EQ(RunPg("jet_cdate", {R(1e12)}), (Outcome{"error", "Data type mismatch in CDate"}));
  EXPECT_EQ(RunPg("jet_hour", {R(-1e300)}), (Outcome{"error", "Data type mismatch in time function"}));
  EXPECT_EQ(RunPg("jet_format", {R(1e12), T("yyyy")}), (Outcome{"text", "1000000000000.0"}));
  EXPECT_EQ(RunPg("jet_str", {I(std::numeric_limits<int64_t>::max())}), (Outcome{"text", " 9223372036854775808"}));
}

TEST_F(JetFunctionsPgTest, RunsAgainAndResolvesTheStatementsArgumentTypes) {
  ASSERT_EQ(PgExec(FunctionsSql()), "");
  // Programs that open the database at the same time run the text at the same time.
  {
    std::vector<PGconn*> others;
    for (int i = 0; i < 3; ++i) {
      others.push_back(PQconnectdb(database_.Uri().c_str()));
      ASSERT_EQ(PQsendQuery(others.back(), FunctionsSql().c_str()), 1) << PQerrorMessage(others.back());
    }
    for (PGconn* other : others) {
      while (PGresult* result = PQgetResult(other)) {
        ExecStatusType status = PQresultStatus(result);
        EXPECT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) << PQresultErrorMessage(result);
        PQclear(result);
      }
      PQfinish(other);
    }
  }
  ASSERT_EQ(PgExec("CREATE EXTENSION IF NOT EXISTS citext;"
                   "CREATE COLLATION IF NOT EXISTS nocase (provider = icu, locale = 'und-u-ks-level2', deterministic = false);"
                   "CREATE TABLE t (n bigint, c citext COLLATE \"C\", d text COLLATE \"C\");"
                   "INSERT INTO t VALUES (38000, 'AbC\xc3\xa9', '2004-05-01 07:08:09')"),
            "");
  struct Case {
    const char* expression;
    const char* expected;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"jet_len('x'::citext)", "1"},
           {"jet_len(c) || jet_left(c, 4) || jet_left(c, 5)", "5AbCAbC\xc3\xa9"},
           {"jet_format('2024-01-02 03:04:05', 'yyyy')", "2024"},
           {"jet_format(d COLLATE nocase, 'YYYY hh:mm')", "2004 07:08"},
           {"jet_cdate(d COLLATE nocase)", "2004-05-01 07:08:09"},
           {"jet_format(n, 'yyyy-mm-dd')", "2004-01-14"},
           {"jet_cdate(n)", "2004-01-14 00:00:00"},
           {"jet_str(n) || jet_str(5) || jet_str(-5) || jet_str('7') || jet_str(2.5)", " 38000 5-5 7 2.5"},
           {"jet_len(5) || '/' || jet_len(n) || '/' || jet_len(2.5)", "1/5/3"},
           {"jet_str(1.0*count(n)/(1+jet_datediff('d', min(d), max(d))))", " 1"},
           {"jet_left(d, 4) || jet_space(2) || jet_len(jet_space(50 - jet_len(jet_left(c, 50))))", "2004  45"},
           {"jet_hour(d)::text || jet_minute(jet_cdate(d)) || jet_second(38000.25) || jet_hour(n)", "7800"},
           {"jet_cdbl('2004-05-01') - jet_cdbl(n)", "108"},
           {"jet_datediff('s', d, jet_cdate(jet_cdbl(d) + 1))", "86400"},
           {"jet_hex('\\x00090aabcdef'::bytea) || jet_hex(''::bytea)", "00090AABCDEF"},
       }) {
    std::string sql = std::string("SELECT (") + c.expression + ")::text FROM t";
    PGresult* result = PQexec(pg_, sql.c_str());
    if (PQresultStatus(result) != PGRES_TUPLES_OK) {
      ADD_FAILURE() << c.expression << ": " << PQresultErrorMessage(result);
    } else {
      EXPECT_EQ(std::string(PQgetvalue(result, 0, 0)), c.expected) << c.expression;
    }
    PQclear(result);
  }
}

}  // namespace
}  // namespace weavil
