#pragma once
// Declared command-line options. A command lists its options once, in groups as its
// --help shows them; the parser, the option lines of the help and the usage errors
// ("unknown option --x", "--dir needs a folder") are all made from that list.
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace weavil {

struct CliOption {
  const char* name;               // "--format"
  const char* value = nullptr;    // the value's name in the help ("FORM"); nullptr: a flag
  const char* help = "";          // filled to the width of the help; "\n" breaks the line
  const char* shortName = nullptr;  // "-y": the same option in one word
  // What the usage error says the option needs ("a folder": "--dir needs a folder")
  // when its value is missing, or empty and allowEmpty is false.
  const char* needs = "a value";
  bool allowEmpty = true;
};

// Options shown together under a heading ("Options:", or a sentence ending in ':'),
// with an optional line after them.
struct CliOptionGroup {
  const char* heading;
  std::span<const CliOption> options;
  const char* footer = nullptr;
};

using CliOptionList = std::span<const CliOption>;
using CliOptionGroups = std::span<const CliOptionGroup>;

// One word of a command line as read: an option with its value, or an argument.
struct CliWord {
  const CliOption* option;  // nullptr for an argument
  std::string value;        // the option's value ("" for a flag), or the argument
};

// The words of a command, options and arguments in the order given.
class CliArgs {
 public:
  void Add(const CliOption* option, std::string value) { words_.push_back({option, std::move(value)}); }
  const std::vector<CliWord>& Words() const { return words_; }
  std::vector<std::string> Arguments() const;
  bool Has(std::string_view name) const;
  // The value of the option's last occurrence; nullptr when it was not given.
  const std::string* Last(std::string_view name) const;
  // The option's last occurrence; nullptr when it was not given.
  const CliWord* LastWord(std::string_view name) const;

 private:
  std::vector<CliWord> words_;
};

struct CliContext;

// How ReadCliWords treats the words that are not options.
enum class CliArguments {
  kPlain,       // arguments; a word starting with '-' (other than "-") is an unknown option
  kAnyWord,     // every word that names no declared option is an argument ("-1", "--x")
  kStopAtFirst  // the first argument ends the reading (the global options before a command)
};

// Reads words from `from` by the options of the lists: "--name VALUE", "--name=VALUE", a
// short name, flags; "-" is an argument. Returns the index where the reading stopped
// (words.size() unless kStopAtFirst met an argument), or -1 after printing the usage
// error (command names the help to try; nullptr for the global options).
long ReadCliWords(CliContext& context, const std::vector<CliOptionList>& options,
                  const std::vector<std::string>& words, size_t from, CliArguments arguments, CliArgs& args,
                  const char* command);

// The usage error of an option whose value is missing or not usable: "NAME needs ...".
int CliNeeds(CliContext& context, const CliOption& option, const char* command);

// The value of option `name` as a whole number from low to high into out (which keeps its
// default when the option was not given). kExitOk, or kExitUsage after the option's
// usage error when the value is no such number.
int CliNumber(CliContext& context, const CliArgs& args, std::string_view name, long low, long high, long& out,
              const char* command);

// The option lines of the groups, each group after an empty line under its heading; the
// texts start at one column for all groups and are filled to 79 characters.
void PrintOptionGroups(std::ostream& out, const std::vector<CliOptionGroup>& groups);

}  // namespace weavil
