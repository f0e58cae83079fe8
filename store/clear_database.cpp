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

ClearOutcome ClearDatabase(const ClearPrompts& prompts) {
  if (!prompts.confirm ||
      !prompts.confirm("Warning", "All Sessions records will be removed from database!"))
    return ClearOutcome::kCancelled;
  LogDataSource& source = LogDataSource::Obtain();
  if (!source.IsOpen()) return ClearOutcome::kNoDatabase;
  DbSession session;
  if (Failed(session.Open(source))) return ClearOutcome::kNoDatabase;
  return ClearSessionData(session, prompts);
}

ClearOutcome ClearSessionData(DbSession& session, const ClearPrompts& prompts) {
  if (Failed(session.StartTransaction())) {
    if (prompts.showError) prompts.showError("Error", "Error clearing database");
    return ClearOutcome::kFailed;
  }
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
  session.Abort();
  if (prompts.showError) prompts.showError("Error", "Error clearing database");
  return ClearOutcome::kFailed;
}

}  // namespace weavil
