#include "store/clear_database.h"

#include <exception>
#include <string>

#include "store/database.h"
#include "store/result.h"
#include "store/view_requests.h"

namespace weavil {
namespace {

// "Delete * from" the table. One that a file keeps by number is a view of as many rows
// as the table it reads, each standing for one of them: its rows go from that table at
// once, where the view's trigger took one statement per row (seconds for a large log).
bool DeleteAll(DbSession& session, const char* table) {
  Statement statement;
  return Succeeded(statement.Execute(session, "Delete * from " + session.StoredTable(table)));
}

}  // namespace

ClearOutcome ClearDatabase(const ClearPrompts& prompts, std::string* reason) {
  if (!prompts.confirm ||
      !prompts.confirm("Warning", "All Sessions records will be removed from database!"))
    return ClearOutcome::kCancelled;
  DbSession session;
  if (Failed(OpenSourceSession(session, reason))) return ClearOutcome::kNoDatabase;
  return ClearSessionData(session, prompts, reason);
}

ClearOutcome ClearSessionData(DbSession& session, const ClearPrompts& prompts, std::string* reason) {
  auto failed = [&] {
    if (reason) *reason = session.ShownPath() + ": " + session.LastError().message;
    if (prompts.showError) prompts.showError("Error", "Error clearing database");
    return ClearOutcome::kFailed;
  };
  if (Failed(session.StartTransaction())) return failed();
  bool lastSucceeded = false;
  try {
    bool ok = DeleteAll(session, "SessionBrowserOS") && DeleteAll(session, "SessionKeyphrase") &&
              DeleteAll(session, "SessionKeywords") && DeleteAll(session, "SessionReferer");
    if (ok) {
      DeleteAll(session, "SessionBytes");  // its failure does not stop the sequence
      lastSucceeded = DeleteAll(session, "Resource") && DeleteAll(session, "Session");
    }
  } catch (const std::exception&) {
    lastSucceeded = false;
  }
  if (lastSucceeded && Succeeded(session.Commit())) {
    RaiseResetViews();
    RaiseReloadViews();
    return ClearOutcome::kCleared;
  }
  ClearOutcome outcome = failed();
  session.Abort();
  return outcome;
}

}  // namespace weavil
