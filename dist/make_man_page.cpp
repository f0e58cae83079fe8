// Writes the manual page weavil.1 from the program's own help: `weavil --help` gives
// the synopsis, description, options and files, each command's --help its section.
// Paragraphs of plain lines are filled by the reader; indented lines (option lists)
// keep their layout.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

// Text for roff: backslashes doubled, hyphens as minus signs (so options copy and
// search as typed), a leading dot or apostrophe guarded.
std::string Roff(const std::string& line) {
  std::string out;
  for (char c : line) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::vector<std::vector<std::string>> Paragraphs(const std::string& text) {
  std::vector<std::vector<std::string>> paragraphs(1);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) {
      if (!paragraphs.back().empty()) paragraphs.emplace_back();
      continue;
    }
    paragraphs.back().push_back(line);
  }
  if (paragraphs.back().empty()) paragraphs.pop_back();
  return paragraphs;
}

// A paragraph: a heading line ("Files:") in bold, then filled text, or the lines as they
// stand when any is indented.
void WriteParagraph(std::ostream& out, std::vector<std::string> lines) {
  out << ".PP\n";
  if (lines.size() > 1 && lines[0].back() == ':' && lines[0][0] != ' ') {
    out << ".B " << Roff(lines[0]) << '\n';
    lines.erase(lines.begin());
    out << ".br\n";
  }
  bool indented = false;
  for (const std::string& line : lines) indented = indented || line[0] == ' ';
  if (indented) out << ".nf\n";
  for (const std::string& line : lines) out << Roff(line) << '\n';
  if (indented) out << ".fi\n";
}

std::string ProgramHelp() {
  std::ostringstream text;
  weavil::PrintProgramHelp(text);
  return text.str();
}

std::string CommandHelp(const weavil::CliCommand& command) {
  std::ostringstream text;
  weavil::PrintCommandHelp(text, command);
  return text.str();
}

void WriteManPage(std::ostream& out) {
  out << ".TH WEAVIL 1 \"\" \"Weavil 1.4\" \"User Commands\"\n"
         ".SH NAME\nweavil \\- analyse web-server access logs by visitor session\n";
  std::vector<std::vector<std::string>> main = Paragraphs(ProgramHelp());
  out << ".SH SYNOPSIS\n.nf\n";
  for (const std::string& line : main.front()) out << Roff(line.rfind("Usage: ", 0) == 0 ? line.substr(7) : line) << '\n';
  for (const weavil::CliCommand& command : weavil::CliCommands())
    out << "weavil [\\-\\-db FILE] " << command.name << " ...\n";
  out << ".fi\n.SH DESCRIPTION\n";
  for (size_t i = 1; i < main.size(); ++i) WriteParagraph(out, main[i]);
  out << ".SH COMMANDS\n";
  for (const weavil::CliCommand& command : weavil::CliCommands()) {
    out << ".SS " << command.name << '\n';
    for (const std::vector<std::string>& paragraph : Paragraphs(CommandHelp(command))) WriteParagraph(out, paragraph);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "Usage: make_man_page OUT.1\n";
    return 2;
  }
  std::ofstream out(argv[1], std::ios::trunc);
  WriteManPage(out);
  if (!out.flush()) {
    std::cerr << "make_man_page: cannot write " << argv[1] << '\n';
    return 1;
  }
  return 0;
}
