#include "cli/cli_options.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <sstream>

#include "cli/cli.h"

namespace weavil {

namespace {

constexpr size_t kHelpWidth = 79;

const CliOption* FindOption(const std::vector<CliOptionList>& lists, std::string_view word) {
  for (CliOptionList list : lists)
    for (const CliOption& option : list)
      if (word == option.name || (option.shortName && word == option.shortName)) return &option;
  return nullptr;
}

// "  --name VALUE, -n": what stands left of an option's help.
std::string OptionLabel(const CliOption& option) {
  std::string label = std::string("  ") + option.name;
  if (option.value) label += std::string(" ") + option.value;
  if (option.shortName) label += std::string(", ") + option.shortName;
  return label;
}

// Writes text filled to kHelpWidth, its first line after `lead`, the others indented to
// `column`; a '\n' in text breaks the line there.
void WriteFilled(std::ostream& out, std::string lead, size_t column, std::string_view text) {
  std::string line = std::move(lead);
  line.resize(column, ' ');
  bool lineEmpty = true;
  auto flush = [&] {
    out << line << '\n';
    line.assign(column, ' ');
    lineEmpty = true;
  };
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == '\n') {
      flush();
      ++pos;
      continue;
    }
    if (text[pos] == ' ') {
      ++pos;
      continue;
    }
    size_t end = text.find_first_of(" \n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view word = text.substr(pos, end - pos);
    if (!lineEmpty && line.size() + 1 + word.size() > kHelpWidth) flush();
    if (!lineEmpty) line += ' ';
    line += word;
    lineEmpty = false;
    pos = end;
  }
  out << line << '\n';
}

}  // namespace

std::vector<std::string> CliArgs::Arguments() const {
  std::vector<std::string> arguments;
  for (const CliWord& word : words_)
    if (!word.option) arguments.push_back(word.value);
  return arguments;
}

const CliWord* CliArgs::LastWord(std::string_view name) const {
  for (auto word = words_.rbegin(); word != words_.rend(); ++word)
    if (word->option && name == word->option->name) return &*word;
  return nullptr;
}

bool CliArgs::Has(std::string_view name) const { return LastWord(name) != nullptr; }

const std::string* CliArgs::Last(std::string_view name) const {
  const CliWord* word = LastWord(name);
  return word ? &word->value : nullptr;
}

long ReadCliWords(CliContext& context, const std::vector<CliOptionList>& options,
                  const std::vector<std::string>& words, size_t from, CliArguments arguments, CliArgs& args,
                  const char* command) {
  for (size_t i = from; i < words.size(); ++i) {
    const std::string& word = words[i];
    bool dashed = word.size() > 1 && word[0] == '-';
    size_t equals = word.rfind("--", 0) == 0 ? word.find('=') : std::string::npos;
    const CliOption* option = dashed ? FindOption(options, std::string_view(word).substr(0, equals)) : nullptr;
    if (!option) {
      if (dashed && arguments != CliArguments::kAnyWord) {
        CliUsage(context, "unknown option " + word, command);
        return -1;
      }
      if (arguments == CliArguments::kStopAtFirst) return static_cast<long>(i);
      args.Add(nullptr, word);
      continue;
    }
    if (!option->value) {
      if (equals != std::string::npos) {
        CliUsage(context, std::string(option->name) + " takes no value", command);
        return -1;
      }
      args.Add(option, {});
      continue;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = word.substr(equals + 1);
    } else if (i + 1 < words.size()) {
      value = words[++i];
    } else {
      CliNeeds(context, *option, command);
      return -1;
    }
    if (value.empty() && !option->allowEmpty) {
      CliNeeds(context, *option, command);
      return -1;
    }
    args.Add(option, std::move(value));
  }
  return static_cast<long>(words.size());
}

int CliNeeds(CliContext& context, const CliOption& option, const char* command) {
  return CliUsage(context, std::string(option.name) + " needs " + option.needs, command);
}

int CliNumber(CliContext& context, const CliArgs& args, std::string_view name, long low, long high, long& out,
              const char* command) {
  const CliWord* word = args.LastWord(name);
  if (!word) return kExitOk;
  const std::string& text = word->value;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < low || value > high) return CliNeeds(context, *word->option, command);
  out = value;
  return kExitOk;
}

void PrintOptionGroups(std::ostream& out, const std::vector<CliOptionGroup>& groups) {
  size_t column = 0;
  for (const CliOptionGroup& group : groups)
    for (const CliOption& option : group.options) column = std::max(column, OptionLabel(option).size() + 2);
  for (const CliOptionGroup& group : groups) {
    out << '\n' << group.heading << '\n';
    for (const CliOption& option : group.options) WriteFilled(out, OptionLabel(option), column, option.help);
    if (group.footer) out << group.footer << '\n';
  }
}

}  // namespace weavil
