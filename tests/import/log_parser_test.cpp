// The log line parser: line rules, the common/combined rewrite, Fields directives,
// broken W3C lines, defaults, rejected lines and request times.
#include <gtest/gtest.h>

#include <filesystem>

#include "import/log_parser.h"
#include "store/trace.h"
#include "tests/import/import_test_support.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

class ParserTest : public ::testing::Test {
 protected:
  std::string Trace() { return dir_.Trace(); }
  ParseOutcome Parse(std::string_view line, LineSource* more = nullptr) {
    return ParseLogLine(state_, CutLine(line), more, record_);
  }
  // The record's texts in one line, "|" between them: client, date, time, path,
  // status, query, sc-bytes, cs-bytes, time-taken, host, referrer, user agent; "~"
  // for a text the log has no column for.
  std::string Record() const {
    auto shown = [](const std::optional<std::string_view>& text) { return text ? std::string(*text) : "~"; };
    std::string line;
    for (const std::optional<std::string_view>& text :
         {std::optional(record_.clientIp), std::optional(record_.date), std::optional(record_.time),
          std::optional(record_.path), std::optional(record_.status), record_.query, record_.scBytes,
          record_.csBytes, record_.timeTaken, std::optional(record_.host), std::optional(record_.referrer),
          std::optional(record_.userAgent)})
      line += (line.empty() ? "" : "|") + shown(text);
    return line;
  }

  test::WorkFolder dir_;
  ParserState state_{"www.site.test"};
  RequestRecord record_;
};

TEST_F(ParserTest, LineRulesCutStripAndStopAtNul) {
  EXPECT_EQ(CutLine("abc\r\n"), "abc");
  EXPECT_EQ(CutLine("abc\n"), "abc");
  EXPECT_EQ(CutLine("abc \n"), "abc ");  // a trailing blank is kept
  EXPECT_EQ(CutLine("abc\r\r\n"), "abc\r");  // at most two characters stripped
  EXPECT_EQ(CutLine(std::string_view("ab\0cd\n", 6)), "ab");
  std::string longLine(10000, 'x');
  EXPECT_EQ(CutLine(longLine).size(), 7999u);
}

TEST_F(ParserTest, CombinedLineBecomesThirteenTokens) {
  std::string line =
      "10.0.0.1 - frank [07/Mar/2003:10:00:00 +0100] \"GET /index.html HTTP/1.0\" 200 2326 "
      "\"http://www.example.com/start.html\" \"Mozilla/4.08 [en] (Win98; I ;Nav)\"";
  ASSERT_EQ(Parse(line), ParseOutcome::kRecord);
  EXPECT_EQ(Record(), "10.0.0.1|2003-03-07|10:00:00|/index.html|200|~|2326|~|~|www.site.test|"
                      "http://www.example.com/start.html|Mozilla/4.08+[en]+(Win98;+I+;Nav)");
  // The switch to columns 11 and 12 stays for the rest of the import.
  EXPECT_EQ(state_.columns[kFieldUserAgent], 12);
  EXPECT_EQ(state_.columns[kFieldReferer], 11);
  EXPECT_EQ(Trace(), "");
}

TEST_F(ParserTest, CommonLineUsesDefaultsAndShortLinesAreTracedButKept) {
  ASSERT_EQ(Parse("1.2.3.4 - - [01/Jan/2004:00:00:01 +0000] \"GET / HTTP/1.0\" 304 -"), ParseOutcome::kRecord);
  EXPECT_EQ(record_.userAgent, "-");
  EXPECT_EQ(record_.referrer, "-");
  EXPECT_EQ(record_.scBytes, "-");
  ASSERT_EQ(Parse("1.2.3.4 - - [01/Jan/2004:00:00:02 +0000] \"GET /a HTTP/1.0\" 200"), ParseOutcome::kRecord);
  EXPECT_FALSE(record_.scBytes);
  EXPECT_EQ(Trace(), "Incorrect number of fields:\n1.2.3.4 - - [01/Jan/2004:00:00:02 +0000] \"GET /a HTTP/1.0\" 200\n");
}

TEST_F(ParserTest, UnusableLinesAreTracedWithTheLineAsRead) {
  EXPECT_EQ(Parse("no bracket here at all 200 1\r\n"), ParseOutcome::kRejected);
  EXPECT_EQ(Parse("1.2.3.4 - - [07/Mrz/2003:10:00:00 +0100] \"GET / HTTP/1.0\" 200 1"), ParseOutcome::kRejected);
  EXPECT_EQ(Parse("1.2.3.4 - - [30/Feb/2003:10:00:00 +0100] \"GET / HTTP/1.0\" 200 1"), ParseOutcome::kRejected);
  EXPECT_EQ(Parse("1.2.3.4 - - [07/Mar/2003:25:00:00 +0100] \"GET / HTTP/1.0\" 200 1"), ParseOutcome::kRejected);
  EXPECT_EQ(Parse("[07/Mar/20"), ParseOutcome::kRejected);
  std::string trace = Trace();
  EXPECT_EQ(trace.find("Line parsing error:\nno bracket here at all 200 1\n"), 0u);
  EXPECT_NE(trace.find("[07/Mrz/2003"), std::string::npos);
  EXPECT_NE(trace.find("[30/Feb/2003"), std::string::npos);
}

TEST_F(ParserTest, DirectivesAndFieldsMapping) {
  EXPECT_EQ(Parse(""), ParseOutcome::kDirective);
  EXPECT_EQ(Parse(" 1.2.3.4 - - [07/Mar/2003:10:00:00 +0100] \"GET / HTTP/1.0\" 200 1"), ParseOutcome::kDirective);
  EXPECT_EQ(Parse("#Software: Microsoft Internet Information Services 5.0"), ParseOutcome::kDirective);
  EXPECT_EQ(state_.mode, LogMode::kCommon);

  EXPECT_EQ(Parse("#Fields: date time c-ip cs-uri-stem sc-status cs(user-agent) time-taken time-taken"),
            ParseOutcome::kDirective);
  EXPECT_EQ(state_.mode, LogMode::kW3c);
  EXPECT_EQ(state_.declaredFieldCount, 8);
  EXPECT_EQ(state_.columns[kFieldDate], 0);
  EXPECT_EQ(state_.columns[kFieldTime], 1);
  EXPECT_EQ(state_.columns[kFieldClientIp], 2);
  EXPECT_EQ(state_.columns[kFieldUriStem], 3);
  EXPECT_EQ(state_.columns[kFieldStatus], 4);
  EXPECT_EQ(state_.columns[kFieldUserAgent], -1);  // names are case-sensitive
  EXPECT_EQ(state_.columns[kFieldTimeTaken], 7);   // a repeated name keeps its last position

  ASSERT_EQ(Parse("2003-03-07 10:00:00.123 1.2.3.4 /a.htm 200 Agent 5 7"), ParseOutcome::kRecord);
  EXPECT_EQ(Record(), "1.2.3.4|2003-03-07|10:00:00.123|/a.htm|200|~|~|~|7|www.site.test|-|-");
  // W3C mode never rewrites a line: a bracket is just text.
  EXPECT_EQ(Parse("2003-03-07 10:00:01 1.2.3.4 /[x] 200 Agent 5 7"), ParseOutcome::kRecord);
  EXPECT_EQ(record_.path, "/[x]");
}

TEST_F(ParserTest, FieldsWithoutDateRejectsEveryDataLine) {
  Parse("#Fields: time c-ip cs-uri-stem sc-status");
  EXPECT_EQ(Parse("10:00:00 1.2.3.4 / 200"), ParseOutcome::kRejected);
  EXPECT_NE(Trace().find("Line parsing error:\n10:00:00 1.2.3.4 / 200\n"), std::string::npos);
}

TEST_F(ParserTest, BrokenW3cLineIsJoinedWithTheNextOnce) {
  struct Case {
    const char* line;
    std::vector<std::string> following;  // the physical lines after it
    const char* record;                  // as Record() shows it
    const char* left;                    // the next line read after the record
  };
  const Case cases[] = {
      // Joined once: the CR of the joined line stays.
      {"2003-03-07 10:00:00 1.2.3.4 /a.htm 200 ",
       {"Mozilla/4.0 http://x/\r\n", "never read\n"},
       "1.2.3.4|2003-03-07|10:00:00|/a.htm|200|~|~|~|~|www.site.test|http://x/\r|Mozilla/4.0",
       "never read\n"},
      // A join that would not give the declared fields is not made: the short line
      // reads its missing fields as "-", and the next line is read as a line of its own.
      {"2003-03-07 10:00:00 1.2.3.4", {"x\n"}, "1.2.3.4|2003-03-07|10:00:00|-|-|~|~|~|~|www.site.test|-|-", "x\n"},
      // The next line starts a record of its own (a date first): two visitors, not one
      // glued line with the date in the agent.
      {"2003-03-07 10:00:00 1.2.3.4 /a.htm 200 UA1",
       {"2003-03-07 10:00:01 5.6.7.8 /b.htm 200 UA2 -\n"},
       "1.2.3.4|2003-03-07|10:00:00|/a.htm|200|~|~|~|~|www.site.test|-|UA1",
       "2003-03-07 10:00:01 5.6.7.8 /b.htm 200 UA2 -\n"},
  };
  Parse("#Fields: date time c-ip cs-uri-stem sc-status cs(User-Agent) cs(Referer)");
  for (const Case& c : cases) {
    test::FixedLines more(c.following);
    ASSERT_EQ(Parse(c.line, &more), ParseOutcome::kRecord) << c.line;
    EXPECT_EQ(Record(), c.record) << c.line;
    std::string_view next;
    ASSERT_TRUE(more.NextPhysicalLine(next)) << c.line;
    EXPECT_EQ(next, c.left) << c.line;
  }
  EXPECT_EQ(Trace(),
            "Incorrect number of fields:\n2003-03-07 10:00:00 1.2.3.4\n"
            "Incorrect number of fields:\n2003-03-07 10:00:00 1.2.3.4 /a.htm 200 UA1\n");
  ASSERT_EQ(Parse(cases[2].left), ParseOutcome::kRecord);
  EXPECT_EQ(record_.clientIp, "5.6.7.8");
}

TEST_F(ParserTest, CombinedQuotesEscapesAndFieldsAfterTheAgent) {
  // Escaped quotes and backslashes are text; the agent ends at its quote and a field
  // after it is dropped.
  ASSERT_EQ(Parse("1.2.3.4 - - [07/Mar/2003:10:00:00 +0100] \"GET /a\\\"b.html HTTP/1.1\" 200 5 "
                  "\"http://x.test/?q=\\\"hi\\\"\" \"Mozilla/5.0 (\\\\Quoted \\\"UA\\\")\" \"-\""),
            ParseOutcome::kRecord);
  EXPECT_EQ(record_.path, "/a\"b.html");
  EXPECT_EQ(record_.status, "200");
  EXPECT_EQ(record_.referrer, "http://x.test/?q=\"hi\"");
  EXPECT_EQ(record_.userAgent, "Mozilla/5.0+(\\Quoted+\"UA\")");
  // An empty agent reads as "-".
  ASSERT_EQ(Parse("1.2.3.4 - - [07/Mar/2003:10:00:00 +0100] \"GET / HTTP/1.1\" 200 5 \"-\" \"\""),
            ParseOutcome::kRecord);
  EXPECT_EQ(record_.userAgent, "-");
  EXPECT_EQ(record_.referrer, "-");
}

// The rewrite of the quoted fields one character at a time, as it reads: the
// reference the rewrite by runs must agree with.
std::string RewriteByCharacter(const std::string& tail) {
  std::string line = tail;
  int quotes = 0;
  bool inside = false;
  size_t out = 0, fieldStart = 0;
  for (size_t in = 0; in < line.size(); ++in) {
    char c = line[in];
    if (inside && c == '\\' && in + 1 < line.size() && (line[in + 1] == '"' || line[in + 1] == '\\')) {
      line[out++] = line[++in];
      continue;
    }
    if (c == '"') {
      ++quotes;
      inside = !inside;
      if (inside) {
        line[out++] = ' ';
        fieldStart = out;
        continue;
      }
      const bool empty = out == fieldStart;
      line[out++] = empty && (quotes == 4 || quotes == 6) ? '-' : ' ';
      if (quotes == 6) break;
      continue;
    }
    if (inside && quotes == 5 && c == ' ') c = '+';
    line[out++] = c;
  }
  line.resize(out);
  return line;
}

// Quotes, escapes, lone and doubled backslashes, blanks and empty fields in any mix,
// from a fixed seed.
TEST(NcsaRewriteTest, QuotedFieldsAsReadOneCharacterAtATime) {
  const std::string head = "1.2.3.4 - - [07/Mar/2003:10:00:00 +0100]";
  std::string converted = head;
  ASSERT_TRUE(ConvertNcsaLine(converted));
  uint32_t seed = 20031207;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
  const char alphabet[] = {'a', ' ', '"', '\\', '-', 'x', '"', ' '};
  for (int round = 0; round < 20000; ++round) {
    std::string tail;
    for (uint32_t n = next() % 48; n > 0; --n) tail.push_back(alphabet[next() % sizeof alphabet]);
    std::string line = head + tail;
    ASSERT_TRUE(ConvertNcsaLine(line));
    ASSERT_EQ(line, converted + RewriteByCharacter(tail)) << "tail: " << tail;
  }
}

TEST_F(ParserTest, Ipv6ClientsAreKeptCanonical) {
  auto client = [&](const std::string& ip) {
    EXPECT_EQ(Parse(ip + " - - [07/Mar/2003:10:00:00 +0100] \"GET / HTTP/1.1\" 200 5"), ParseOutcome::kRecord);
    return std::string(record_.clientIp);
  };
  EXPECT_EQ(client("2001:db8::1"), "2001:db8::1");
  EXPECT_EQ(client("2001:0DB8:0000:0000:0000:0000:0000:0001"), "2001:db8::1");
  EXPECT_EQ(client("::ffff:192.0.2.7"), "192.0.2.7");
  EXPECT_EQ(client("fe80::1%eth0"), "fe80::1%eth0");  // a zone index is no client address: kept as text
  EXPECT_EQ(client("10.0.0.1"), "10.0.0.1");
  Parse("#Fields: date time c-ip cs-uri-stem sc-status");
  ASSERT_EQ(Parse("2003-03-07 10:00:00 2001:DB8:0:0:8:800:200C:417A / 200"), ParseOutcome::kRecord);
  EXPECT_EQ(record_.clientIp, "2001:db8::8:800:200c:417a");
}

TEST_F(ParserTest, WideW3cLinesKeepDefaultsAndLateColumns) {
  // 23 columns without cs-host: the default host is still filled in, and a column past
  // the 21st token is read.
  std::string fields = "#Fields:";
  std::string line;
  for (int i = 0; i < 20; ++i) {
    fields += " x" + std::to_string(i);
    line += "v" + std::to_string(i) + " ";
  }
  fields += " date time c-ip cs-uri-stem sc-status";
  line += "2003-03-07 10:00:00 1.2.3.4 /p 200";
  Parse(fields);
  ASSERT_EQ(Parse(line), ParseOutcome::kRecord);
  EXPECT_EQ(record_.host, "www.site.test");
  EXPECT_EQ(record_.status, "200");
}

TEST_F(ParserTest, RequestTimeIsContinuousAndRaisesOnBadValues) {
  EXPECT_EQ(RequestTime("2003-03-01", "00:05:00") - RequestTime("2003-02-28", "23:50:00"), 900);
  EXPECT_EQ(RequestTime("2004-03-01", "00:05:00") - RequestTime("2004-02-28", "23:50:00"), 86400 + 900);
  EXPECT_EQ(RequestTime("2003-3-7", "1:2:3"), RequestTime("2003-03-07", "01:02:03"));
  EXPECT_EQ(RequestTime("2003-03-07extra", "10:00:00.250"), RequestTime("2003-03-07", "10:00:00"));
  for (auto [date, time] : std::vector<std::pair<const char*, const char*>>{
           {"2003-02-29", "00:00:00"}, {"2003-13-01", "00:00:00"}, {"2003-00-10", "00:00:00"},
           {"2003-03-07", "24:00:00"}, {"2003-03-07", "10:60:00"}, {"2003-03-07", "10:00"},
           {"20x3-03-07", "10:00:00"}, {"-", "-"}, {"", ""}}) {
    EXPECT_THROW(RequestTime(date, time), CTest) << date << " " << time;
  }
}

TEST_F(ParserTest, DecimalValues) {
  EXPECT_EQ(ParseDecimal("123"), 123);
  EXPECT_EQ(ParseDecimal("-5"), -5);
  EXPECT_EQ(ParseDecimal("5000000000"), 5000000000LL);
  EXPECT_FALSE(ParseDecimal("-"));
  EXPECT_FALSE(ParseDecimal("12a"));
  EXPECT_FALSE(ParseDecimal(""));
  EXPECT_FALSE(ParseDecimal("99999999999999999999"));
}

}  // namespace
}  // namespace weavil
