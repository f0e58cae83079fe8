#pragma once
// Machine-readable forms of a report tree: JSON (the rows nested, counts as numbers,
// session rows with their stored fields) and delimited text (CSV, TSV: a header and one
// line per row with the texts of its path from the top level down).
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "reports/report_tree.h"

namespace weavil {

class DbSession;

// What is stored about the session of a session row.
struct SessionFields {
  std::string start;    // TimeEnter, "yyyy-mm-dd hh:mm:ss"
  std::string visitor;  // the host name when known, else the address
  std::string address;  // UserIP
  int32_t pages = 0;    // NumVisited
  bool robot = false;   // IsRobot
};
using SessionFieldMap = std::unordered_map<int32_t, SessionFields>;

// The fields of every session row of the tree (rows with a positive key, the session's
// NumId). An unreadable database gives an empty map.
SessionFieldMap LoadSessionFields(DbSession& session, const ReportTree& tree);

// A "Count" text as a number in JSON and CSV form: "12" stays "12", the statistics'
// "12,5" becomes "12.5" (and "3,0" "3.0"). Nothing for a blank or any other text.
std::optional<std::string> CountNumber(std::string_view text);

// The text as a JSON string: valid UTF-8 passes, any other byte is read as Latin-1.
void WriteJsonString(std::ostream& out, std::string_view text);

// The rows as a JSON array of objects {"text", "count" (number or null), "state",
// "key", "session" (session rows only: "start", "visitor", "address", "pages",
// "robot", "numId"), "children"}.
void WriteReportJson(std::ostream& out, const ReportTree& tree, const SessionFieldMap& sessions);

// Header "Level 1".."Level N", "Count", "State", "Key", "Start", "Visitor", "Address",
// "Pages", "Robot", then one line per row in display order (N: the deepest row's
// depth + 1). Fields holding the separator, a quote, a line break or blanks at an end
// are quoted with doubled quotes; a text that starts with = + - or @ is written after an
// apostrophe so that a spreadsheet never reads a log's text as a formula.
void WriteReportDelimited(std::ostream& out, const ReportTree& tree, const SessionFieldMap& sessions,
                          char separator);

}  // namespace weavil
