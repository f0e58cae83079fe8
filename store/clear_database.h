#pragma once
// Removes all session data (sessions, page requests, byte sums and the session link
// rows) in one transaction. Addresses with their names, the classification tables and
// the reference data stay.
#include <functional>
#include <string>
#include <string_view>

namespace weavil {

class DbSession;

enum class ClearOutcome {
  kCancelled,     // the user did not confirm
  kNoDatabase,    // data source or session did not open; ends silently
  kCleared,       // committed; the view requests were raised
  kFailed,        // rolled back; "Error clearing database" was shown
};

struct ClearPrompts {
  // The warning box: title, text; true only for OK.
  std::function<bool(std::string_view title, std::string_view text)> confirm;
  // The error box: title, text.
  std::function<void(std::string_view title, std::string_view text)> showError;
};

// Asks, then clears the database of the data source "Log". reason, when given, gets
// SQLite's message (or why the database did not open) when it did not clear.
ClearOutcome ClearDatabase(const ClearPrompts& prompts, std::string* reason = nullptr);

// The statements on an open session, inside a transaction of their own.
ClearOutcome ClearSessionData(DbSession& session, const ClearPrompts& prompts, std::string* reason = nullptr);

}  // namespace weavil
