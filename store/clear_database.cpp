#include "store/clear_database.h"

#include <exception>

#include "store/database.h"
#include "store/result.h"
#include "store/view_requests.h"

namespace weavil {
namespace {

bool Run(DbSession& session, const char* sql) {
  Statement statement;
  return Succeeded(statement.Execute(session, sql));
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
    bool ok = Run(session, "Delete * from SessionBrowserOS") && Run(session, "Delete * from SessionKeyphrase") &&
              Run(session, "Delete * from SessionKeywords") && Run(session, "Delete * from SessionReferer");
    if (ok) {
      Run(session, "Delete * from SessionBytes");  // its failure does not stop the sequence
      lastSucceeded = Run(session, "Delete * from Resource") && Run(session, "Delete * from Session");
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
