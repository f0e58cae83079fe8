#include <iostream>

#include "base/text.h"
#include "cli/cli.h"
#include "cli/terminal_text.h"
#include "net/whois_client.h"
#include "settings/settings.h"

namespace weavil {

void PrintWhoisHelp(std::ostream& out) {
  out << "Usage: weavil whois QUERY [--server HOST | --country CC] [--port N] [--timeout SECONDS]\n"
         "\n"
         "Sends QUERY (an address or a host name) to a whois server on TCP port 43 and\n"
         "prints the answer as it comes. Without --server or --country the query goes\n"
         "to " << WhoisServers()[kWhoisArin] << ".\n"
         "When the setting IsProxy is on, the connection goes through the SOCKS 4 proxy\n"
         "of the settings Proxy and ProxyPort.\n"
         "\n"
         "Options:\n"
         "  --server HOST     the whois server to ask\n"
         "  --country CC      choose the regional registry of a two-letter country code\n"
         "  --port N          the server's port (default 43)\n"
         "  --timeout SECONDS give up when connecting or a receive takes longer (default 30)\n"
         "\n"
         "An answer is read for at most " << kWhoisDeadline.count() / 1000 << " seconds and up to "
      << kWhoisMaxAnswer / 1024 << " KB; a longer one is cut there and the command fails.\n"
         "Control characters of the answer are shown as escapes (\\r, \\x1b, ...).\n"
         "\n"
         "Servers: ";
  const auto& servers = WhoisServers();
  for (size_t i = 0; i < servers.size(); ++i) out << (i ? ", " : "") << servers[i];
  out << '\n';
}

int RunWhoisCommand(CliContext& context, const std::vector<std::string>& args) {
  std::string query, server, country;
  bool haveServer = false, haveCountry = false;
  long port = kWhoisPort;
  long timeoutSeconds = kWhoisTimeout.count() / 1000;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    auto number = [&](long low, long high, long& out) {
      std::string text;
      if (!value(text)) return false;
      char* end = nullptr;
      out = std::strtol(text.c_str(), &end, 10);
      return !text.empty() && *end == '\0' && out >= low && out <= high;
    };
    if (arg == "--server") {
      if (!value(server) || server.empty()) return CliUsage(context, "--server needs a host name", "whois");
      haveServer = true;
    } else if (arg == "--country") {
      if (!value(country)) return CliUsage(context, "--country needs a country code", "whois");
      haveCountry = true;
    } else if (arg == "--port") {
      if (!number(1, 65535, port)) return CliUsage(context, "--port needs a number from 1 to 65535", "whois");
    } else if (arg == "--timeout") {
      if (!number(1, 3600, timeoutSeconds))
        return CliUsage(context, "--timeout needs a number of seconds from 1 to 3600", "whois");
    } else if (!arg.empty() && arg[0] == '-') {
      return CliUsage(context, "unknown option " + arg, "whois");
    } else if (query.empty()) {
      query = arg;
    } else {
      return CliUsage(context, "only one QUERY can be given", "whois");
    }
  }
  if (query.empty()) return CliUsage(context, "whois needs a QUERY", "whois");
  if (!IsSendableWhoisQuery(query))
    return CliUsage(context, "the query holds a control character (a line break or the like)", "whois");
  if (haveServer && haveCountry) return CliUsage(context, "give either --server or --country, not both", "whois");

  if (haveCountry) {
    country = ToUpperAscii(country);
    server = ChooseWhoisServer(country);
  } else if (!haveServer) {
    server = WhoisServers()[kWhoisArin];
  }

  WhoisRequest request = MakeWhoisRequest(query, server, CopySettings());
  request.port = static_cast<uint16_t>(port);
  request.timeout = std::chrono::seconds(timeoutSeconds);
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

}  // namespace weavil
