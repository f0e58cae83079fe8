// weavil report, details and visitor run in process against a database filled by the
// test: output forms, filter flags, counts consistent with the stored sessions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/cli.h"
#include "store/database.h"
#include "store/result.h"
#include "store/trace.h"
#include "tests/reports/report_fixture.h"
#include "tests/support/cli_harness.h"

namespace weavil {
namespace {

struct Line {
  int depth;
  std::string text, count;
};

std::vector<Line> ParseLines(const std::string& out) {
  std::vector<Line> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    size_t spaces = line.find_first_not_of(' ');
    size_t tab = line.rfind('\t');
    EXPECT_NE(tab, std::string::npos) << line;
    lines.push_back({static_cast<int>(spaces / 2), line.substr(spaces, tab - spaces), line.substr(tab + 1)});
  }
  return lines;
}

// Rows with deeper rows after them are groups; their count is the number of leaves below.
void ExpectGroupCountsSum(const std::vector<Line>& lines) {
  for (size_t i = 0; i < lines.size(); ++i) {
    int leaves = 0;
    size_t j = i + 1;
    for (; j < lines.size() && lines[j].depth > lines[i].depth; ++j)
      if (j + 1 >= lines.size() || lines[j + 1].depth <= lines[j].depth) ++leaves;
    if (j > i + 1) {
      EXPECT_EQ(lines[i].count, std::to_string(leaves)) << lines[i].text;
    }
  }
}


// RFC 4180 records: quoted fields may hold the separator, doubled quotes and line breaks.
std::vector<std::vector<std::string>> ParseDelimited(const std::string& text, char separator) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') records.back().back() += '"', ++i;
      else if (c == '"') quoted = false;
      else records.back().back() += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == separator) {
      records.back().emplace_back();
    } else if (c == '\n') {
      records.emplace_back(1);
    } else {
      records.back().back() += c;
    }
  }
  if (records.back().size() == 1 && records.back()[0].empty()) records.pop_back();
  return records;
}

// The JSON rows in display order, as the text form's lines.
void FlattenJson(const QJsonArray& rows, int depth, std::vector<Line>& lines) {
  for (const QJsonValue& value : rows) {
    QJsonObject row = value.toObject();
    std::string count = " ";
    if (row["count"].isDouble()) {
      double number = row["count"].toDouble();
      std::ostringstream text;
      text << number;
      count = text.str();
    }
    // The text form's indent swallows a text's own leading blanks (" 200"); so here.
    std::string label = row["text"].toString().toStdString();
    lines.push_back({depth, label.substr(std::min(label.find_first_not_of(' '), label.size())), count});
    FlattenJson(row["children"].toArray(), depth + 1, lines);
  }
}

// "12,5" -> "12.5", "3,0" -> "3", as a number prints.
std::string TextCountAsNumber(std::string count) {
  if (count == " ") return count;
  if (size_t comma = count.find(','); comma != std::string::npos) count[comma] = '.';
  std::ostringstream text;
  text << std::stod(count);
  return text.str();
}

class ReportCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.AddVisitor("10.0.0.1", "host.example.com", "com.example.host", 0, "DE");
    db_.AddVisitor("10.0.0.2", "", "", 1, "FR");
    db_.AddVisitor("10.0.0.3");
    const char* times[] = {"2003-12-31 23:00:00", "2004-01-01 08:00:00", "2004-03-05 10:00:00",
                           "2004-03-06 10:00:00", "2004-03-06 12:30:00", "2004-03-08 09:00:00"};
    const char* ips[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.1", "10.0.0.2", "10.0.0.3"};
    for (int i = 0; i < 6; ++i) {
      int32_t id = db_.AddSession(ips[i], times[i], i % 3 + 1, "", i % 2 ? "http://www.google.com/search?q=web%20log" : "-");
      db_.AddResource(id, times[i], i % 2 ? "/index.htm" : "/docs/a.htm");
      db_.AddBrowserOs(id, i % 2 ? "Robot/Google" : "MSIE 6.0", "Windows XP");
      db_.AddReferer(id, i % 2 ? "www.google.com" : "www.friend.org", i % 2 ? "Search Engine/Google" : "Unclassified");
      db_.AddKeywords(id, i % 2 ? "web%20log" : "log", i % 2 ? std::vector<std::string>{"web", "log"}
                                                             : std::vector<std::string>{"log"});
    }
    db_.Session().Close();
  }
  int Run(std::vector<std::string> words) {
    words.insert(words.begin(), {"--db", db_.Path()});
    return cli_.Run(std::move(words));
  }

  test::ScopedTimeZone zone_{"UTC0"};
  test::CliHarness cli_;
  test::ReportDb db_;
};

TEST_F(ReportCommandsTest, EveryViewPrintsCountsThatSumToTheirRows) {
  ASSERT_EQ(Run({"report", "sessions"}), kExitOk) << cli_.Err();
  EXPECT_EQ(cli_.Out().substr(0, 60), "2003\t1\n  December 2003\t1\n    31 December 2003\t1\n      23:00 ");
  ExpectGroupCountsSum(ParseLines(cli_.Out()));
  for (const char* view : {"visitors", "keywords", "referers", "pages"}) {
    ASSERT_EQ(Run({"report", view}), kExitOk) << view << cli_.Err();
    std::vector<Line> lines = ParseLines(cli_.Out());
    EXPECT_FALSE(lines.empty()) << view;
    ExpectGroupCountsSum(lines);
  }
  ASSERT_EQ(Run({"report", "keywords"}), kExitOk);
  EXPECT_NE(cli_.Out().find("\n  web log\t3\n"), std::string::npos) << cli_.Out();
}

TEST_F(ReportCommandsTest, StatisticsSumsMatchTheSessions) {
  ASSERT_EQ(Run({"report", "statistics"}), kExitOk) << cli_.Err();
  std::vector<Line> lines = ParseLines(cli_.Out());
  std::map<std::string, double> topOfSection;
  std::string section;
  for (const Line& line : lines) {
    if (line.count == " ") {
      section = line.text;
      continue;
    }
    if ((line.depth == 1 && (section == "Browsers" || section == "OS" || section == "Status codes")) ||
        (line.depth == 2 && (section == "Sessions" || section == "Entry" || section == "Exit")))
    {
      std::string number = line.count;
      number[number.find(',')] = '.';
      topOfSection[section] += std::stod(number);
    }
  }
  EXPECT_EQ(topOfSection["Browsers"], 6);
  EXPECT_EQ(topOfSection["OS"], 6);
  EXPECT_EQ(topOfSection["Entry"], 6);
  EXPECT_EQ(topOfSection["Exit"], 6);
  EXPECT_EQ(topOfSection["Status codes"], 6);
  EXPECT_EQ(topOfSection["Sessions"], 4);  // addresses without a country are not counted

  ASSERT_EQ(Run({"report", "statistics", "--no-robots"}), kExitOk);
  EXPECT_NE(cli_.Out().find("  Sessions\t \n    DE - Germany\t2,0\nPages\t \n"), std::string::npos) << cli_.Out();
}

TEST_F(ReportCommandsTest, JsonChartAndFilterFlags) {
  ASSERT_EQ(Run({"report", "pages", "--json"}), kExitOk);
  EXPECT_EQ(cli_.Out().rfind("[\n  {\"text\": \"/docs/a.htm\", \"count\": 3, \"state\": 0, \"key\": 0, \"children\": [\n", 0), 0u)
      << cli_.Out();
  EXPECT_NE(cli_.Out().find("{\"text\": \"2004-03-06 12:30\", \"count\": null, \"state\": 0, \"key\": 5, \"session\": "
                            "{\"start\": \"2004-03-06 12:30:00\", \"visitor\": \"10.0.0.2\", \"address\": \"10.0.0.2\", "
                            "\"pages\": 2, \"robot\": true, \"numId\": 5}, \"children\": []}"),
            std::string::npos)
      << cli_.Out();

  ASSERT_EQ(Run({"report", "sessions", "--chart", "2004|March 2004"}), kExitOk);
  EXPECT_NE(cli_.Out().find("' ALT='1'>2</ITM>"), std::string::npos) << cli_.Out();
  ASSERT_EQ(Run({"report", "referers", "--chart", "Search Engine|"}), kExitOk);
  EXPECT_EQ(cli_.Out(), "<VYR_CHART_DATA><ITM LBL='Google'>3</ITM></VYR_CHART_DATA>\n");
  EXPECT_EQ(Run({"report", "referers", "--chart", "Search Engine|Google|www.google.com"}), kExitFailure);
  EXPECT_EQ(Run({"report", "sessions", "--chart", "2004|May 2004"}), kExitFailure);
  EXPECT_NE(cli_.Err().find("no row 2004|May 2004"), std::string::npos);

  ASSERT_EQ(Run({"report", "sessions", "--countries", "FR;'DE'"}), kExitOk);
  EXPECT_EQ(ParseLines(cli_.Out()).size(), 12u);  // 4 sessions with countries
  ASSERT_EQ(Run({"report", "visitors", "--no-robots", "--pages", "/index.htm"}), kExitOk);
  EXPECT_NE(cli_.Out().find("com\t1\n"), std::string::npos) << cli_.Out();
  ASSERT_EQ(Run({"report", "pages", "--period", "Day+"}), kExitOk);
  EXPECT_EQ(cli_.Out(), "");  // every session lies years back

  EXPECT_EQ(Run({"report", "sessions", "--period", "Fortnight"}), kExitUsage);
  EXPECT_EQ(Run({"report", "nonsense"}), kExitUsage);
  EXPECT_EQ(Run({"report"}), kExitUsage);
  EXPECT_EQ(Run({"report", "sessions", "--pages"}), kExitUsage);
  EXPECT_EQ(Run({"report", "--help"}), kExitOk);
  EXPECT_NE(cli_.Out().find("Usage: weavil [--db FILE] report VIEW"), std::string::npos);
}

TEST_F(ReportCommandsTest, EveryViewParsesAsJsonAndAsDelimitedText) {
  // A search phrase a spreadsheet would take apart or run as a formula.
  db_.Session().OpenFile(db_.Path());
  int32_t id = db_.AddSession("10.0.0.1", "2004-03-09 09:00:00", 1, "", "http://www.google.com/search?q=x");
  db_.AddResource(id, "2004-03-09 09:00:00", "/docs/a.htm");
  db_.AddKeywords(id, "=1+2,\"x\"", {"=1+2,\"x\""});
  db_.Session().Close();

  for (const char* view : {"sessions", "visitors", "keywords", "referers", "pages", "statistics"}) {
    ASSERT_EQ(Run({"report", view}), kExitOk) << view << cli_.Err();
    std::vector<Line> text = ParseLines(cli_.Out());
    ASSERT_FALSE(text.empty()) << view;

    ASSERT_EQ(Run({"report", view, "--format", "json"}), kExitOk) << view;
    QJsonParseError error{};
    QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(cli_.Out()), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << view << ": " << error.errorString().toStdString();
    std::vector<Line> fromJson;
    FlattenJson(json.array(), 0, fromJson);
    ASSERT_EQ(fromJson.size(), text.size()) << view;
    for (size_t i = 0; i < text.size(); ++i) {
      EXPECT_EQ(fromJson[i].depth, text[i].depth) << view << " row " << i;
      EXPECT_EQ(fromJson[i].text, text[i].text) << view << " row " << i;
      EXPECT_EQ(fromJson[i].count, TextCountAsNumber(text[i].count)) << view << " row " << i;
    }

    for (const char* form : {"csv", "tsv"}) {
      ASSERT_EQ(Run({"report", view, "--format", form}), kExitOk) << view << form;
      auto records = ParseDelimited(cli_.Out(), form[0] == 'c' ? ',' : '\t');
      ASSERT_EQ(records.size(), text.size() + 1) << view << form << cli_.Out();
      const size_t levels = records[0].size() - 8;
      EXPECT_EQ(records[0][levels], "Count");
      for (size_t i = 0; i < text.size(); ++i) {
        const auto& record = records[i + 1];
        ASSERT_EQ(record.size(), records[0].size()) << view << form << " row " << i;
        std::string shown = record[static_cast<size_t>(text[i].depth)];
        if (!shown.empty() && shown[0] == '\'') shown.erase(0, 1);
        shown.erase(0, std::min(shown.find_first_not_of(' '), shown.size()));
        EXPECT_EQ(shown, text[i].text) << view << form << " row " << i;
        EXPECT_EQ(record[levels].empty() ? " " : TextCountAsNumber(record[levels]), TextCountAsNumber(text[i].count));
      }
    }
  }
  // The phrase stays one field, after an apostrophe.
  ASSERT_EQ(Run({"report", "keywords", "--format", "csv"}), kExitOk);
  EXPECT_NE(cli_.Out().find(",\"'=1+2,\"\"x\"\"\","), std::string::npos) << cli_.Out();
  EXPECT_EQ(Run({"report", "pages", "--format", "xml"}), kExitUsage);
}

TEST_F(ReportCommandsTest, DetailsAndVisitor) {
  ASSERT_EQ(Run({"details", "4"}), kExitOk) << cli_.Err();
  EXPECT_NE(cli_.Out().find("Enter       2004-03-06 10:00\n"), std::string::npos) << cli_.Out();
  EXPECT_NE(cli_.Out().find("IP          10.0.0.1  Germany (DE)\n"), std::string::npos);
  EXPECT_NE(cli_.Out().find("Referer     www.google.com : web log\n"), std::string::npos);
  EXPECT_NE(cli_.Out().find("  200\t?\t/index.htm\n"), std::string::npos);
  ASSERT_EQ(Run({"details", "4", "--html"}), kExitOk);
  EXPECT_NE(cli_.Out().find("<span id=\"IP\">10.0.0.1</span>"), std::string::npos);
  EXPECT_EQ(Run({"details", "99"}), kExitFailure);
  EXPECT_EQ(Run({"details", "x1"}), kExitUsage);
  EXPECT_EQ(Run({"details"}), kExitUsage);

  ASSERT_EQ(Run({"visitor", "10.0.0.3", "--url", "proxy.example.org", "--robot", "1", "--comments", "it's ours"}),
            kExitOk)
      << cli_.Err();
  ASSERT_EQ(Run({"report", "visitors"}), kExitOk);
  EXPECT_NE(cli_.Out().find("org\t2\n  example.org\t2\n    proxy.example.org\t2\n"), std::string::npos) << cli_.Out();
  ASSERT_EQ(Run({"details", "3"}), kExitOk);
  EXPECT_NE(cli_.Out().find("Comments    it's ours\n"), std::string::npos);
  EXPECT_NE(cli_.Out().find("Robot       yes\n"), std::string::npos);
  EXPECT_EQ(Run({"visitor", "10.9.9.9", "--url", "x"}), kExitFailure);
  EXPECT_EQ(Run({"visitor", "10.0.0.3", "--robot", "2"}), kExitUsage);

  // Only codes of the Countries table, in any letter case.
  EXPECT_EQ(Run({"visitor", "10.0.0.3", "--country", "ZZ"}), kExitUsage);
  EXPECT_NE(cli_.Err().find("unknown country code ZZ"), std::string::npos) << cli_.Err();
  EXPECT_EQ(Run({"visitor", "10.0.0.3", "--country", "FRA"}), kExitUsage);
  ASSERT_EQ(Run({"visitor", "10.0.0.3", "--country", "fr"}), kExitOk) << cli_.Err();
  ASSERT_EQ(Run({"details", "3"}), kExitOk);
  EXPECT_NE(cli_.Out().find("(FR)"), std::string::npos) << cli_.Out();
  ASSERT_EQ(Run({"visitor", "--countries"}), kExitOk);
  EXPECT_NE(cli_.Out().find("DE\tGermany\n"), std::string::npos);

  // Reading commands refuse a database that is not there rather than make an empty one.
  const std::string missing = cli_.Dir().File("typo.db");
  EXPECT_EQ(cli_.Run({"--db", missing, "report", "sessions"}), kExitFailure);
  EXPECT_NE(cli_.Err().find("no database " + missing), std::string::npos) << cli_.Err();
  EXPECT_EQ(cli_.Run({"--db", missing, "export", "html", cli_.Dir().File("r.html")}), kExitFailure);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

// Terminal control sequences in log fields (a window title, a colour change, a bare
// CR that hides what came before it) are printed as visible escapes.
TEST_F(ReportCommandsTest, ControlCharactersInFieldsArePrintedAsEscapes) {
  ASSERT_TRUE(test::ExecuteSql(db_.Path(), "UPDATE Resource SET UriStem='/a' || char(27) || '[0m.htm' || "
                                           "char(13) || 'hidden' WHERE UriStem='/index.htm'"));
  ASSERT_TRUE(test::ExecuteSql(db_.Path(), "UPDATE Session SET UserAgent='Mozilla' || char(27) || ']0;owned' || "
                                           "char(7) WHERE NumId=4"));
  for (std::vector<std::string> command : {std::vector<std::string>{"details", "4"}, {"report", "pages"}}) {
    ASSERT_EQ(Run(command), kExitOk) << cli_.Err();
    const std::string out = cli_.Out();
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    EXPECT_EQ(out.find('\r'), std::string::npos) << out;
    EXPECT_NE(out.find("/a\\x1b[0m.htm\\rhidden"), std::string::npos) << out;
  }
  EXPECT_NE(cli_.Out().find("\t"), std::string::npos) << "the column separator stays";
  ASSERT_EQ(Run({"details", "4"}), kExitOk);
  EXPECT_NE(cli_.Out().find("User agent  Mozilla\\x1b]0;owned\\x07\n"), std::string::npos) << cli_.Out();
}

}  // namespace
}  // namespace weavil
