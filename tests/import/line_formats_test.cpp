// Lines of other servers' access logs: vhost_combined, combined with fields after the
// agent, JSON lines (Caddy, Traefik, nginx) and formats given as LogFormat or
// log_format text. The lines are those the servers' documentation shows.
#include <gtest/gtest.h>

#include <memory>

#include "import/custom_format.h"
#include "import/log_parser.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

struct Expected {
  std::string date, time, clientIp, path, status, host, agent, referrer;
  std::string bytes = "?", timeTaken = "?";  // "?": not in the record
};

class LineFormatsTest : public ::testing::Test {
 protected:
  void UseFormat(const std::string& text) {
    FormatCompileResult compiled = CompileLogFormat(text);
    ASSERT_TRUE(compiled.format) << compiled.error;
    state_.customFormat = compiled.format;
  }
  void ExpectRecord(const std::string& line, const Expected& e) {
    ASSERT_EQ(ParseLogLine(state_, line, nullptr, record_), ParseOutcome::kRecord) << line;
    EXPECT_EQ(record_.date, e.date);
    EXPECT_EQ(record_.time, e.time);
    EXPECT_EQ(record_.clientIp, e.clientIp);
    EXPECT_EQ(record_.path, e.path);
    EXPECT_EQ(record_.status, e.status);
    EXPECT_EQ(record_.host, e.host);
    EXPECT_EQ(record_.userAgent, e.agent);
    EXPECT_EQ(record_.referrer, e.referrer);
    EXPECT_EQ(record_.scBytes.value_or("?"), e.bytes);
    EXPECT_EQ(record_.timeTaken.value_or("?"), e.timeTaken);
  }
  ParseOutcome Parse(const std::string& line) { return ParseLogLine(state_, line, nullptr, record_); }

  test::WorkFolder dir_;  // the trace goes here
  ParserState state_{"www.site.test"};
  RequestRecord record_;
};

TEST_F(LineFormatsTest, VhostAndExtendedCombinedLines) {
  ExpectRecord("www.example.com:443 203.0.113.5 - frank [10/Oct/2000:13:55:36 -0700] \"GET /apache_pb.gif HTTP/1.0\" "
               "200 2326 \"http://www.example.com/start.html\" \"Mozilla/4.08 [en] (Win98; I ;Nav)\"",
               {"2000-10-10", "13:55:36", "203.0.113.5", "/apache_pb.gif", "200", "www.example.com",
                "Mozilla/4.08+[en]+(Win98;+I+;Nav)", "http://www.example.com/start.html", "2326"});
  // Traefik's common log: request count, router, service address and duration follow the agent.
  ExpectRecord("192.168.1.10 - - [15/Jan/2024:10:30:00 +0000] \"GET /api HTTP/1.1\" 200 512 \"-\" \"curl/8.5.0\" 42 "
               "\"web@docker\" \"http://172.18.0.3:80\" 3ms",
               {"2024-01-15", "10:30:00", "192.168.1.10", "/api", "200", "www.site.test", "curl/8.5.0", "-", "512"});
  // Neither a site prefix that is no host nor a fifth word is taken as a vhost line.
  EXPECT_EQ(Parse("a b 1.2.3.4 - - [10/Oct/2000:13:55:36 -0700] \"GET / HTTP/1.0\" 200 1"), ParseOutcome::kRejected);
  EXPECT_EQ(Parse("a/b:80 1.2.3.4 - - [10/Oct/2000:13:55:36 -0700] \"GET / HTTP/1.0\" 200 1"), ParseOutcome::kRejected);
}

TEST_F(LineFormatsTest, JsonLinesOfCaddyTraefikAndNginx) {
  ExpectRecord(
      R"j({"level":"info","ts":1646861401.5241024,"logger":"http.log.access.log0","msg":"handled request",)j"
      R"j("request":{"remote_ip":"127.0.0.1","remote_port":"41342","client_ip":"127.0.0.1","proto":"HTTP/2.0",)j"
      R"j("method":"GET","host":"localhost:8443","uri":"/docs/?q=1","headers":{"User-Agent":["curl/7.82.0"],)j"
      R"j("Accept":["*/*"]}},"bytes_read":0,"user_id":"","duration":0.000929675,"size":10900,"status":200,)j"
      R"j("resp_headers":{"Server":["Caddy"]}})j",
      {"2022-03-09", "21:30:01", "127.0.0.1", "/docs/?q=1", "200", "localhost", "curl/7.82.0", "-", "10900", "1"});
  ExpectRecord(
      R"j({"ClientAddr":"[2001:db8::7]:54321","ClientHost":"","DownstreamContentSize":1234,"DownstreamStatus":404,)j"
      R"j("Duration":2345000,"RequestHost":"example.com","RequestMethod":"GET","RequestPath":"/missing.html",)j"
      R"j("StartLocal":"2024-01-15T10:30:00.123456789+01:00","request_User-Agent":"Mozilla/5.0 (X11; Linux)",)j"
      R"j("request_Referer":"https://ref.test/"})j",
      {"2024-01-15", "10:30:00", "2001:db8::7", "/missing.html", "404", "example.com", "Mozilla/5.0+(X11;+Linux)",
       "https://ref.test/", "1234", "2"});
  ExpectRecord(
      R"j({"time_local":"15/Jan/2024:10:30:00 +0100","remote_addr":"198.51.100.4","remote_user":"",)j"
      R"j("request":"GET /index.html HTTP/1.1","status": "200","body_bytes_sent":"615","request_time":"0.012",)j"
      R"j("http_referrer":"","http_user_agent":"Wget/1.21 \"quoted\""})j",
      {"2024-01-15", "10:30:00", "198.51.100.4", "/index.html", "200", "www.site.test", "Wget/1.21+\"quoted\"", "-",
       "615", "12"});
  // A JSON object without a usable time or address is rejected; text after "{" that is
  // no JSON is read as any other line.
  EXPECT_EQ(Parse(R"j({"remote_addr":"1.2.3.4","request":"GET / HTTP/1.1","status":200})j"), ParseOutcome::kRejected);
  EXPECT_EQ(Parse(R"j({"ts":1646861401,"status":200,"request":{"uri":"/"}})j"), ParseOutcome::kRejected);
  EXPECT_EQ(Parse("{not json"), ParseOutcome::kRejected);
}

TEST_F(LineFormatsTest, ApacheAndNginxFormatTexts) {
  UseFormat("%v %h %l %u %t \"%r\" %>s %b \"%{Referer}i\" \"%{User-Agent}i\" %D");
  ExpectRecord("shop.test 10.0.0.9 - - [07/Mar/2003:10:00:00 +0100] \"GET /a b.html?x=\\\"1\\\" HTTP/1.1\" 200 - "
               "\"-\" \"Agent \\\"7\\\"\" 1500",
               {"2003-03-07", "10:00:00", "10.0.0.9", "/a", "200", "shop.test", "Agent+\"7\"", "-", "-", "2"});
  UseFormat("%h %t %U%q %>s %{ms}T");
  ExpectRecord("10.0.0.9 [07/Mar/2003:10:00:00 +0100] /search.html?q=x 200 12",
               {"2003-03-07", "10:00:00", "10.0.0.9", "/search.html", "200", "www.site.test", "-", "-", "?", "12"});
  EXPECT_EQ(record_.query.value_or(""), "q=x");
  UseFormat("$remote_addr - $remote_user [$time_local] \"$request\" $status $body_bytes_sent \"$http_referer\" "
            "\"$http_user_agent\" $request_time $host");
  ExpectRecord("203.0.113.9 - - [07/Mar/2003:10:00:00 +0100] \"GET /x.html HTTP/1.1\" 200 5 \"-\" \"A B\" 0.250 "
               "shop.test:8080",
               {"2003-03-07", "10:00:00", "203.0.113.9", "/x.html", "200", "shop.test", "A+B", "-", "5", "250"});
  // A line the format does not fit, and W3C logs still read by their Fields directive.
  EXPECT_EQ(Parse("203.0.113.9 - - [07/Mar/2003:10:00:00 +0100] \"GET /x.html HTTP/1.1\" 200"), ParseOutcome::kRejected);
  EXPECT_EQ(Parse("#Fields: date time c-ip cs-uri-stem sc-status"), ParseOutcome::kDirective);
  ExpectRecord("2003-03-07 10:00:00 1.2.3.4 /w.html 200",
               {"2003-03-07", "10:00:00", "1.2.3.4", "/w.html", "200", "www.site.test", "-", "-"});

  for (const char* bad : {"%h %t %>s", "%h%t \"%r\" %>s", "%h %{Referer \"%r\"", "$remote_addr $status $request"})
    EXPECT_FALSE(CompileLogFormat(bad).format) << bad;
  EXPECT_TRUE(CompileLogFormat("vhost_combined").format);
}

}  // namespace
}  // namespace weavil
