// The views' own statements (the path a narrow period takes, and the form every view
// checks that its statement prepares in) run on the server and give the trees that the
// rows read into memory give.
#include <gtest/gtest.h>

#include <ctime>

#include "cli/cli.h"
#include "reports/report_filter.h"
#include "store/database.h"
#include "store/result.h"
#include "tests/support/cli_harness.h"
#include "tests/support/pg_test_support.h"
#include "tests/support/tree_difference.h"

namespace weavil {
namespace {

TEST(ServerViewStatements, GiveTheTreesOfTheRowsReadIntoMemory) {
  test::TestPgDatabase server;
  if (server.Uri().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
  test::ScopedTimeZone zone("UTC0");
  test::CliHarness cli;
  ASSERT_EQ(cli.Run({"--db", server.Uri(), "import", WEAVIL_SOURCE_DIR "/samples/sample-access.log"}), kExitOk)
      << cli.Err();
  DbSession session;
  ASSERT_EQ(session.OpenFile(server.Uri()), kResultOk);

  ReportFilter off;
  ReportFilter robots;
  robots.applyFilter = robots.noRobots = 1;
  ReportFilter lists = robots;
  lists.isPages = lists.isKeywords = lists.isReferers = lists.isCountries = 1;
  lists.pages = "/ /index.html /products.html /download/weavil-setup.exe";
  lists.keywords = "statistics filter";
  lists.referers = "www.google.com";
  lists.countries = "us de tw";
  ReportFilter pagesOnly;
  pagesOnly.applyFilter = pagesOnly.isPages = 1;
  pagesOnly.pages = lists.pages;
  const std::time_t now = 1300000000;  // 2011: the sample's 2008 lies in no period
  const std::pair<const char*, ReportFilter> filters[] = {
      {"off", off}, {"no robots", robots}, {"lists", lists}, {"pages", pagesOnly}};
  for (const auto& [what, filter] : filters) test::ExpectSameTrees(session, filter, now, what, true);
}

}  // namespace
}  // namespace weavil
