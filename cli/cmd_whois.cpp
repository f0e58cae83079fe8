#include <iostream>

#include "base/text.h"
#include "cli/cli.h"
#include "cli/terminal_text.h"
#include "net/whois_client.h"
#include "settings/settings.h"

namespace weavil {

namespace {

void PrintWhoisUsage(std::ostream& out) {
  out << "Usage: weavil whois QUERY [--server HOST | --country CC] [--port N] [--timeout SECONDS]\n"
         "\n"
         "Sends QUERY (an address or a host name) to a whois server on TCP port 43 and\n"
         "prints the answer as it comes. Without --server or --country the query goes\n"
         "to " << WhoisServers()[kWhoisArin] << ".\n"
         "When the setting IsProxy is on, the connection goes through the SOCKS 4 proxy\n"
         "of the settings Proxy and ProxyPort.\n";
}

void PrintWhoisLimits(std::ostream& out) {
  out << "An answer is read for at most " << kWhoisDeadline.count() / 1000 << " seconds and up to "
      << kWhoisMaxAnswer / 1024 << " KB; a longer one is cut there and the command fails.\n"
         "Control characters of the answer are shown as escapes (\\r, \\x1b, ...).\n"
         "\n"
         "Servers: ";
  const auto& servers = WhoisServers();
  for (size_t i = 0; i < servers.size(); ++i) out << (i ? ", " : "") << servers[i];
  out << '\n';
}

constexpr CliOption kWhoisOptions[] = {
    {.name = "--server", .value = "HOST", .help = "the whois server to ask", .needs = "a host name",
     .allowEmpty = false},
    {.name = "--country", .value = "CC", .help = "choose the regional registry of a two-letter country code",
     .needs = "a country code"},
    {.name = "--port", .value = "N", .help = "the server's port (default 43)", .needs = "a number from 1 to 65535"},
    {.name = "--timeout",
     .value = "SECONDS",
     .help = "how long connecting or a receive may take (default 30)",
     .needs = "a number of seconds from 1 to 3600"},
};

// The request the words ask for. kExitOk, or the exit code after the usage error.
int ReadWhoisRequest(CliContext& context, const CliArgs& args, WhoisRequest& request) {
  std::vector<std::string> words = args.Arguments();
  long port = kWhoisPort;
  long timeoutSeconds = kWhoisTimeout.count() / 1000;
  if (int code = CliNumber(context, args, "--port", 1, 65535, port, "whois"); code != kExitOk) return code;
  if (int code = CliNumber(context, args, "--timeout", 1, 3600, timeoutSeconds, "whois"); code != kExitOk)
    return code;
  if (words.empty()) return CliUsage(context, "whois needs a QUERY", "whois");
  if (words.size() > 1) return CliUsage(context, "only one QUERY can be given", "whois");
  const std::string& query = words[0];
  if (!IsSendableWhoisQuery(query))
    return CliUsage(context, "the query holds a control character (a line break or the like)", "whois");
  const std::string* server = args.Last("--server");
  const std::string* country = args.Last("--country");
  if (server && country) return CliUsage(context, "give either --server or --country, not both", "whois");

  std::string host = server    ? *server
                     : country ? ChooseWhoisServer(ToUpperAscii(*country))
                               : WhoisServers()[kWhoisArin];
  request = MakeWhoisRequest(query, host, CopySettings());
  request.port = static_cast<uint16_t>(port);
  request.timeout = std::chrono::seconds(timeoutSeconds);
  return kExitOk;
}

}  // namespace

int RunWhoisCommand(CliContext& context, const CliArgs& args) {
  WhoisRequest request;
  if (int code = ReadWhoisRequest(context, args, request); code != kExitOk) return code;
  const std::string server = request.server;
  if (request.useProxy && (request.proxyHost.empty() || request.proxyPort == 0))
    return CliFail(context, "IsProxy is on but the SOCKS proxy (Proxy, ProxyPort) is not set");

  // Printed as it arrives, a line at a time (a line holds whole characters).
  std::string pending;
  auto printLines = [&](bool all) {
    size_t end = all ? pending.size() : pending.rfind('\n');
    if (end == std::string::npos) return;
    if (!all) ++end;
    if (end == 0) return;
    *context.out << TerminalSafe(std::string_view(pending).substr(0, end), TerminalText::kLines);
    context.out->flush();
    pending.erase(0, end);
  };
  bool printed = false, endsWithBreak = true;
  request.onPiece = [&](std::string_view piece) {
    pending.append(piece);
    printed = true;
    endsWithBreak = piece.back() == '\n';
    printLines(false);
  };

  WhoisExchange exchange;
  WhoisResult result = exchange.Run(request);
  printLines(true);
  if (printed && !endsWithBreak) *context.out << '\n';
  context.out->flush();

  if (result.status != WhoisStatus::kOk) {
    std::string message = result.error.empty() ? std::string("whois query failed") : result.error;
    if (result.status == WhoisStatus::kSocketError) message = "Create Socet Error: " + message;
    return CliFail(context, "whois " + server + ": " + message);
  }
  return kExitOk;
}

const CliCommand kWhoisCommand = {.name = "whois", .summary = "ask a whois server about an address or host",
                                  .helpBefore = PrintWhoisUsage, .options = kWhoisOptions,
                                  .helpAfter = PrintWhoisLimits, .run = RunWhoisCommand};

}  // namespace weavil
