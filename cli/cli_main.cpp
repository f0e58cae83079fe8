#include "cli/cli.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "settings/settings.h"
#include "settings/settings_store.h"
#include "store/data_source_registry.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {

// Commands live in files of their own.
int RunSettingsCommand(CliContext& context, const std::vector<std::string>& args);
void PrintSettingsHelp(std::ostream& out);
int RunClearCommand(CliContext& context, const std::vector<std::string>& args);
void PrintClearHelp(std::ostream& out);
int RunChartCommand(CliContext& context, const std::vector<std::string>& args);
void PrintChartHelp(std::ostream& out);
int RunImportCommand(CliContext& context, const std::vector<std::string>& args);
void PrintImportHelp(std::ostream& out);
int RunDownloadCommand(CliContext& context, const std::vector<std::string>& args);
void PrintDownloadHelp(std::ostream& out);
int RunResolveCommand(CliContext& context, const std::vector<std::string>& args);
void PrintResolveHelp(std::ostream& out);
int RunWhoisCommand(CliContext& context, const std::vector<std::string>& args);
void PrintWhoisHelp(std::ostream& out);
int RunReportCommand(CliContext& context, const std::vector<std::string>& args);
void PrintReportHelp(std::ostream& out);
int RunDetailsCommand(CliContext& context, const std::vector<std::string>& args);
void PrintDetailsHelp(std::ostream& out);
int RunVisitorCommand(CliContext& context, const std::vector<std::string>& args);
void PrintVisitorHelp(std::ostream& out);
int RunExportCommand(CliContext& context, const std::vector<std::string>& args);
void PrintExportHelp(std::ostream& out);

const std::vector<CliCommand>& CliCommands() {
  static const std::vector<CliCommand> commands = {
      {"settings", "show or change the settings", RunSettingsCommand, PrintSettingsHelp},
      {"clear", "remove all sessions from the database", RunClearCommand, PrintClearHelp},
      {"import", "import log files (or standard input) into the database", RunImportCommand, PrintImportHelp},
      {"download", "download a log over HTTP or FTP and import it", RunDownloadCommand, PrintDownloadHelp},
      {"resolve", "look up the host names of client addresses", RunResolveCommand, PrintResolveHelp},
      {"whois", "ask a whois server about an address or host", RunWhoisCommand, PrintWhoisHelp},
      {"report", "print a report view (sessions, visitors, keywords, ...)", RunReportCommand, PrintReportHelp},
      {"export", "write every report with its charts into one HTML page", RunExportCommand, PrintExportHelp},
      {"details", "show everything known about one visit", RunDetailsCommand, PrintDetailsHelp},
      {"visitor", "correct a visitor's host name, country, robot flag, comments", RunVisitorCommand,
       PrintVisitorHelp},
      {"chart", "draw a chart data document into a PNG with the chart control", RunChartCommand,
       PrintChartHelp},
  };
  return commands;
}

void PrintProgramHelp(std::ostream& out) {
  out << "Usage: weavil [--db FILE] [COMMAND [ARGS...]]\n"
         "\n"
         "Weavil analyses web-server access logs: it imports W3C extended and\n"
         "common/combined logs into a database of visitor sessions and reports on them.\n"
         "Started without a command it opens its window.\n"
         "\n"
         "Global options:\n"
         "  --db FILE     use this database file instead of the data source \"Log\"\n"
         "                (created from the program's template when missing; report,\n"
         "                details and export refuse a file that does not exist)\n"
         "  --connect     (window) load the reports at once, as Connect does\n"
         "  --help        show this help\n"
         "  --version     show the version\n"
         "\n"
         "Commands:\n";
  for (const CliCommand& command : CliCommands()) {
    std::string name = command.name;
    name.resize(std::max<size_t>(name.size() + 2, 12), ' ');
    out << "  " << name << command.summary << '\n';
  }
  out << "\n'weavil COMMAND --help' tells more about a command.\n"
         "\n"
         "Files:\n"
         "  ~/.config/Vyr/Weavil/1.4/Weavil.ini       the settings ($XDG_CONFIG_HOME)\n"
         "  ~/.config/Vyr/Weavil/1.4/datasources.ini  the data source \"Log\": its database\n"
         "  db/log.db beside the program              that database, run from a build folder\n"
         "  ~/.local/share/Vyr/Weavil/log.db          that database, installed ($XDG_DATA_HOME)\n"
         "  ~/.local/share/Vyr/Weavil/log/            downloaded logs, installed\n"
         "  ~/.local/share/Vyr/components.ini         the chart component registry\n"
         "  RovanTrace.txt                            the trace, in the current folder\n";
}

namespace {

// Commands that only read: a --db file that does not exist is a mistyped name, not a
// new database to create.
bool ReadsOnly(const std::string& command) {
  return command == "report" || command == "details" || command == "export";
}

}  // namespace

int CliFail(CliContext& context, const std::string& message) {
  *context.err << "weavil: " << message << '\n';
  return kExitFailure;
}

int CliUsage(CliContext& context, const std::string& message, const char* command) {
  *context.err << "weavil: " << message << '\n';
  if (command) *context.err << "Try 'weavil " << command << " --help'.\n";
  return kExitUsage;
}

bool WantsHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

bool OpenCliDatabase(CliContext& context, DbSession& session) {
  LogDataSource& source = LogDataSource::Obtain();
  if (!source.IsOpen()) {
    CliFail(context, "cannot open " + source.Describe());
    return false;
  }
  if (Failed(session.Open(source))) {
    CliFail(context, "cannot open the database " + source.Path() + ": " + session.LastError().message);
    return false;
  }
  return true;
}

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err) {
  CliContext context{ProgramDir(), {}, &out, &err};
  std::vector<std::string> words(argv + 1, argv + argc);
  size_t i = 0;
  for (; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--help" || word == "-h") {
      PrintProgramHelp(out);
      return kExitOk;
    }
    if (word == "--version") {
      out << "Weavil 1.4\n";
      return kExitOk;
    }
    if (word == "--db") {
      if (i + 1 >= words.size()) return CliUsage(context, "--db needs a file name", nullptr);
      context.dbPath = words[++i];
      continue;
    }
    if (word.rfind("--db=", 0) == 0) {
      context.dbPath = word.substr(5);
      continue;
    }
    if (!word.empty() && word[0] == '-') return CliUsage(context, "unknown option " + word, nullptr);
    break;
  }

  // Settings come before anything else.
  LoadAppSettings(context.programDir);
  SetDatabaseBusySeconds(CopySettings().busySeconds);

  if (!context.dbPath.empty()) {
    std::error_code ec;
    if (i < words.size() && ReadsOnly(words[i]) && !WantsHelp({words.begin() + static_cast<long>(i), words.end()}) &&
        !std::filesystem::exists(context.dbPath, ec))
      return CliFail(context, "no database " + context.dbPath + " (give an existing file, or import a log into it)");
    std::string error;
    if (!CreateDatabaseFromTemplate(TemplateDatabasePath(context.programDir), context.dbPath, error))
      return CliFail(context, error);
    LogDataSource::UseDatabaseFile(context.dbPath);
  } else {
    EnsureDataSource(context.programDir);
  }

  if (i >= words.size()) return kExitOpenWindow;

  const std::string& name = words[i];
  auto found = std::find_if(CliCommands().begin(), CliCommands().end(),
                            [&](const CliCommand& command) { return name == command.name; });
  if (found == CliCommands().end()) {
    *context.err << "weavil: unknown command " << name << '\n';
    *context.err << "Try 'weavil --help'.\n";
    return kExitUsage;
  }
  std::vector<std::string> args(words.begin() + static_cast<long>(i) + 1, words.end());
  if (WantsHelp(args)) {
    found->help(out);
    return kExitOk;
  }
  TakeDatabaseDamage();  // only what the command itself meets counts
  int code = found->run(context, args);
  // What a command read from a damaged database is not to be trusted, whatever it printed.
  std::string damage = TakeDatabaseDamage();
  if (!damage.empty()) code = CliFail(context, "the database is damaged: " + damage);
  if (code == kExitOk && context.saveSettings && !SaveAppSettings())
    return CliFail(context, "cannot write the settings to " + DefaultSettingsFile());
  return code;
}

}  // namespace weavil
