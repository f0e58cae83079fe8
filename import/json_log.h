#pragma once
// Access logs written as one JSON object a line: Caddy's default access log, Traefik's
// JSON access log and nginx's log_format with escape=json. The usual field names of
// those servers are mapped to the request record, so a request reads as it would from
// a combined line: the path with its query, the user agent with "+" for blanks, the
// time as the server wrote it (an epoch time as UTC), time taken in milliseconds.
#include <string_view>

#include "import/log_parser.h"

namespace weavil {

// False when the line is not a JSON object (it is then read as any other line);
// otherwise outcome tells whether it gave a record.
bool ParseJsonLine(ParserState& state, std::string_view line, RequestRecord& record, ParseOutcome& outcome);

}  // namespace weavil
