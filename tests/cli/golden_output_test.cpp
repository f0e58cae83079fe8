// `weavil report VIEW --format FORM` over the bundled sample log, compared with the
// files in tests/expected. When a change of a report is meant, scripts/regenerate-expected
// rebuilds those files (with build/bin/weavil, under the same settings and time zone as
// here); read `git diff tests/expected` before committing them.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "tests/support/cli_harness.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

struct GoldenCase {
  const char* view;
  const char* form;
};

// Where the first line of actual differs from expected, with both lines; "" when equal.
std::string FirstDifference(const std::string& expected, const std::string& actual) {
  if (expected == actual) return {};
  std::istringstream want(expected), got(actual);
  std::string wantLine, gotLine;
  for (int line = 1;; ++line) {
    bool haveWant = static_cast<bool>(std::getline(want, wantLine));
    bool haveGot = static_cast<bool>(std::getline(got, gotLine));
    if (!haveWant && !haveGot) return "the same lines, but not the same line ends";
    if (haveWant != haveGot || wantLine != gotLine) {
      return "line " + std::to_string(line) + " differs:\n  expected: " + (haveWant ? wantLine : "(end of file)") +
             "\n  actual:   " + (haveGot ? gotLine : "(end of output)");
    }
  }
}

// One database for every case: the sample log imported once, as the script imports it.
class GoldenOutputTest : public ::testing::TestWithParam<GoldenCase> {
 protected:
  static void SetUpTestSuite() {
    zone_ = std::make_unique<test::ScopedTimeZone>("UTC0");
    cli_ = std::make_unique<test::CliHarness>();
    test::CopyTemplateDatabase(Db());
    ASSERT_EQ(cli_->Run({"settings", "DefaultHost", "www.example.com"}), kExitOk) << cli_->Err();
    ASSERT_EQ(cli_->Run({"--db", Db(), "import", WEAVIL_SOURCE_DIR "/samples/sample-access.log"}), kExitOk)
        << cli_->Err();
  }
  static void TearDownTestSuite() {
    cli_.reset();
    zone_.reset();
  }
  static std::string Db() { return cli_->Dir().File("sample.db"); }

  static std::unique_ptr<test::ScopedTimeZone> zone_;
  static std::unique_ptr<test::CliHarness> cli_;
};

std::unique_ptr<test::ScopedTimeZone> GoldenOutputTest::zone_;
std::unique_ptr<test::CliHarness> GoldenOutputTest::cli_;

TEST_P(GoldenOutputTest, ReportMatchesTheExpectedFile) {
  const GoldenCase& golden = GetParam();
  const std::string file = std::string("report-") + golden.view + "." + golden.form;
  ASSERT_EQ(cli_->Run({"--db", Db(), "report", golden.view, "--format", golden.form}), kExitOk) << cli_->Err();
  const std::string expected = test::ReadFile(WEAVIL_SOURCE_DIR "/tests/expected/" + file);
  ASSERT_FALSE(expected.empty()) << "no tests/expected/" << file << ": run scripts/regenerate-expected";
  std::string difference = FirstDifference(expected, cli_->Out());
  EXPECT_EQ(difference, "") << "tests/expected/" << file << ": " << difference
                            << "\n(scripts/regenerate-expected rebuilds the file when the change is meant)";
}

std::vector<GoldenCase> AllCases() {
  std::vector<GoldenCase> cases;
  for (const char* view : {"sessions", "visitors", "keywords", "referers", "pages", "statistics"})
    for (const char* form : {"text", "json", "csv"}) cases.push_back({view, form});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(SampleLog, GoldenOutputTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) {
                           return std::string(info.param.view) + "_" + info.param.form;
                         });

}  // namespace
}  // namespace weavil
