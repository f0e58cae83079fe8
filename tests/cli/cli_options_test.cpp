// Declared options: how words are read by a table, the usage errors, and the option
// lines of the help; then the same through the program's own commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_options.h"
#include "tests/support/cli_harness.h"

namespace weavil {
namespace {

constexpr CliOption kOptions[] = {
    {.name = "--dir", .value = "DIR", .help = "the folder", .needs = "a folder", .allowEmpty = false},
    {.name = "--yes", .help = "confirm", .shortName = "-y"},
    {.name = "--set", .value = "N=V", .help = "a property"},
};

class ReadWordsTest : public ::testing::Test {
 protected:
  // Reads words by kOptions; the exit code of a usage error, or kExitOk.
  int Read(std::vector<std::string> words, CliArguments arguments = CliArguments::kPlain) {
    args_ = CliArgs();
    err_.str("");
    long at = ReadCliWords(context_, {kOptions}, words, 0, arguments, args_, "demo");
    stoppedAt_ = at;
    return at < 0 ? kExitUsage : kExitOk;
  }

  std::ostringstream out_, err_;
  CliContext context_{"", "", &out_, &err_};
  CliArgs args_;
  long stoppedAt_ = 0;
};

TEST_F(ReadWordsTest, ValuesJoinedOrSeparateFlagsShortNamesAndArguments) {
  ASSERT_EQ(Read({"a", "--dir=/x", "-", "--set", "k=v", "-y", "--set=n=w", "b"}), kExitOk) << err_.str();
  EXPECT_EQ(*args_.Last("--dir"), "/x");
  EXPECT_TRUE(args_.Has("--yes"));
  EXPECT_EQ(*args_.Last("--set"), "n=w");  // the last one counts, the first is kept in order
  EXPECT_EQ(args_.Arguments(), (std::vector<std::string>{"a", "-", "b"}));
  ASSERT_EQ(args_.Words().size(), 7u);
  EXPECT_EQ(args_.Words()[3].value, "k=v");
  EXPECT_EQ(args_.Last("--nothing"), nullptr);
  // A value is the next word whatever it looks like.
  ASSERT_EQ(Read({"--set", "--yes"}), kExitOk);
  EXPECT_EQ(*args_.Last("--set"), "--yes");
  EXPECT_FALSE(args_.Has("--yes"));
}

TEST_F(ReadWordsTest, UsageErrorsNameTheOptionAndTheHelpToTry) {
  const std::pair<std::vector<std::string>, std::string> kCases[] = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"--bogus=1"}, "unknown option --bogus=1"},
      {{"-x"}, "unknown option -x"},
      {{"--dir"}, "--dir needs a folder"},
      {{"--dir="}, "--dir needs a folder"},  // an empty folder is none
      {{"--set"}, "--set needs a value"},
      {{"--yes=1"}, "--yes takes no value"},
  };
  for (const auto& [words, message] : kCases) {
    EXPECT_EQ(Read(words), kExitUsage) << words[0];
    EXPECT_EQ(err_.str(), "weavil: " + message + "\nTry 'weavil demo --help'.\n") << words[0];
  }
}

TEST_F(ReadWordsTest, AnyWordAndStopAtFirstArgument) {
  ASSERT_EQ(Read({"Port", "-1", "--x", "-y"}, CliArguments::kAnyWord), kExitOk);
  EXPECT_EQ(args_.Arguments(), (std::vector<std::string>{"Port", "-1", "--x"}));
  EXPECT_TRUE(args_.Has("--yes"));

  ASSERT_EQ(Read({"-y", "--dir", "d", "report", "--bogus"}, CliArguments::kStopAtFirst), kExitOk);
  EXPECT_EQ(stoppedAt_, 3);
  EXPECT_TRUE(args_.Arguments().empty());
  ASSERT_EQ(Read({"-y"}, CliArguments::kStopAtFirst), kExitOk);
  EXPECT_EQ(stoppedAt_, 1);
}

TEST(OptionHelpTest, LinesAreAlignedAndFilledToTheWidth) {
  constexpr CliOption kLong[] = {
      {.name = "--a", .help = "short"},
      {.name = "--long-name", .value = "VALUE",
       .help = "a text long enough to need a second line when it is filled to seventy-nine characters in all"},
      {.name = "--b", .help = "first line\nsecond line"},
  };
  std::ostringstream out;
  PrintOptionGroups(out, {{"Options:", kLong, "A line after them."}});
  EXPECT_EQ(out.str(),
            "\n"
            "Options:\n"
            "  --a                short\n"
            "  --long-name VALUE  a text long enough to need a second line when it is filled\n"
            "                     to seventy-nine characters in all\n"
            "  --b                first line\n"
            "                     second line\n"
            "A line after them.\n");
}

// The program's commands read their words by their tables.
class CommandOptionsTest : public ::testing::Test {
 protected:
  test::CliHarness cli_;
};

TEST_F(CommandOptionsTest, EveryCommandsHelpShowsItsOptionsWithinTheWidth) {
  for (const CliCommand& command : CliCommands()) {
    ASSERT_EQ(cli_.Run({command.name, "--help"}), kExitOk) << command.name;
    const std::string help = cli_.Out();
    for (const CliOption& option : command.options)
      EXPECT_NE(help.find(std::string("\n  ") + option.name), std::string::npos) << command.name << option.name;
    // Every option line (and its continuation lines) fits in 79 columns.
    size_t at = help.find("\nOptions:\n");
    if (at == std::string::npos) continue;
    std::istringstream lines(help.substr(at + 10));
    for (std::string line; std::getline(lines, line) && !line.empty();)
      EXPECT_LE(line.size(), 79u) << command.name << ": " << line;
  }
}

TEST_F(CommandOptionsTest, GlobalOptionsAfterTheCommandAndJoinedValues) {
  const std::string db = cli_.Dir().File("log.db");
  test::CopyTemplateDatabase(db);
  // --db after the command name, --period with its value joined: both were refused once.
  EXPECT_EQ(cli_.Run({"report", "sessions", "--db", db, "--period=Year+"}), kExitOk) << cli_.Err();
  EXPECT_EQ(cli_.Run({"report", "--db=" + db, "pages", "--format=csv"}), kExitOk) << cli_.Err();
  EXPECT_EQ(cli_.Out().rfind("Level 1,", 0), 0u) << cli_.Out();
  EXPECT_EQ(cli_.Run({"report", "sessions", "--db"}), kExitUsage);
  EXPECT_NE(cli_.Err().find("--db needs a file name"), std::string::npos) << cli_.Err();
  // A mistyped --db after the command is refused as one before it is.
  const std::string missing = cli_.Dir().File("typo.db");
  EXPECT_EQ(cli_.Run({"details", "1", "--db", missing}), kExitFailure);
  EXPECT_NE(cli_.Err().find("no database " + missing), std::string::npos) << cli_.Err();

  EXPECT_EQ(cli_.Run({"--db", db, "clear", "-y"}), kExitOk) << cli_.Err();
  EXPECT_EQ(cli_.Run({"--db", db, "resolve", "--frobnicate"}), kExitUsage);
  EXPECT_EQ(cli_.Err(), "weavil: unknown option --frobnicate\nTry 'weavil resolve --help'.\n");
  EXPECT_EQ(cli_.Run({"--db", db, "report", "sessions", "--no-robots=1"}), kExitUsage);
  EXPECT_NE(cli_.Err().find("--no-robots takes no value"), std::string::npos) << cli_.Err();
  // Nothing of a command that is not there is prepared: no database file appears.
  const std::string unused = cli_.Dir().File("unused.db");
  EXPECT_EQ(cli_.Run({"--db", unused, "frobnicate"}), kExitUsage);
  EXPECT_FALSE(std::filesystem::exists(unused));
}

}  // namespace
}  // namespace weavil
