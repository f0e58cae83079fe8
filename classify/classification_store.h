#pragma once
// Classification of a newly stored session: its user agent (browser, operating system,
// robot flag) and its referrer (host, search engine, search phrase and words), written
// with their link rows. The free functions issue one statement at a time; the
// ClassificationStore gives the same rows for a whole import while caching what cannot
// change within it (the class of a user-agent text, ids of known names, prepared
// statements).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace weavil {

class DbSession;

// Returns the robot flag: 1 when a robot rule matched, else 0. Always stores the
// browser and operating-system names (possibly empty) with their link row. modernRules:
// see ClassifyUserAgentText (the setting "IsModernRules").
int32_t ClassifyUserAgent(std::string_view userAgent, std::string_view sessionId, DbSession& session,
                          bool modernRules = false);

// Stores the referrer's host with its group, the search phrase and its words, and the
// session's link rows. Nothing is stored for a referrer without a host ("-", empty).
void AnalyzeReferrer(std::string_view referrer, std::string_view sessionId, DbSession& session);

class ClassificationStore {
 public:
  explicit ClassificationStore(DbSession& session, bool modernRules = false);
  ~ClassificationStore();
  ClassificationStore(const ClassificationStore&) = delete;
  ClassificationStore& operator=(const ClassificationStore&) = delete;

  // Same rows and result as the free functions above, on the session given at
  // construction. numId: the session's NumId, for the links a file keeps by it; 0 asks
  // the database for that of the stored session with the identifier (the writer gives
  // it: its sessions may not be written yet).
  int32_t ClassifyUserAgent(std::string_view userAgent, std::string_view sessionId, int64_t numId = 0);
  void AnalyzeReferrer(std::string_view referrer, std::string_view sessionId, int64_t numId = 0);

  // The sessions' link rows are written many at a time: Flush writes those held back,
  // and must come before the transaction's commit (the import's writer calls it).
  void Flush();

  // Drops the remembered ids (the classification of user-agent texts stays) and the link
  // rows held back. Call it after the import's transaction was rolled back: rows it
  // created are gone. Statements stay prepared; destroy the store before closing its
  // database session.
  void ForgetIds();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace weavil
