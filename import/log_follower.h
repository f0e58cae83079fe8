#pragma once
// Following a log that a web server keeps writing: every few seconds the whole lines
// added since the last round are imported, each round in its own transaction, with the
// sessions still open at the end of the stored data taking the new requests. A log
// truncated in place (logrotate's copytruncate) or replaced by a new file (logrotate's
// create: the old file renamed away) is read again from the start of what now holds
// the log; the old file of a replacement is read to its end first.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/unique_fd.h"
#include "import/import_driver.h"
#include "import/import_mark.h"
#include "settings/settings.h"

namespace weavil {

// What imports read and stored.
struct FollowCounts {
  int64_t linesRead = 0;
  int64_t linesRejected = 0;
  int64_t sessionsStored = 0;
  int64_t sessionsCompleted = 0;

  void Add(const FollowCounts& more);
};

// What one round read and stored (the sums of its imports: the rest of a replaced file
// and the start of its successor are two imports).
struct FollowRound : FollowCounts {
  int64_t bytesRead = 0;
  // The file was truncated or replaced: reading started again at its start.
  bool truncated = false;
  bool replaced = false;
  // The file could not be read again or the database refused the round's sessions:
  // nothing of them was stored, and the follower's position stays before them.
  bool failed = false;
  std::string error;
};

struct FollowTotals : FollowCounts {
  int64_t rounds = 0;
  int64_t restarts = 0;  // truncations and replacements seen
  bool failed = false;
  std::string error;  // with failed: what went wrong, naming the file or the database
};

class LogFollower {
 public:
  // stop is polled between rounds and while waiting; the round under way is finished.
  LogFollower(std::string path, ImportCopies copies, const std::atomic<bool>& stop);
  ~LogFollower();
  LogFollower(const LogFollower&) = delete;
  LogFollower& operator=(const LogFollower&) = delete;

  // Where the first round starts, and whether those lines continue the stored data
  // (else the first round reads the file as a grown log imported again: lines stored
  // before are not stored twice). Later rounds always continue the stored data.
  // fieldsDirective: the W3C Fields directive in force at offset (ImportMark's).
  void StartAt(int64_t offset, bool continueStored, std::string fieldsDirective = {});
  // Where the rounds have read the log to, as the mark an import of it leaves
  // (ImportMark): a later import of the log reads on from there. None before a round
  // read anything, for a compressed file, or once the path names another file.
  std::optional<ImportMark> Mark() const;
  // The pause between the end of one round and the start of the next.
  void SetSeconds(int seconds) { seconds_ = seconds < 1 ? 1 : seconds; }

  // One round: the whole lines added since the last one. A missing file reads nothing
  // (it may be created later). A line still being written waits for the next round.
  FollowRound Poll();

  // Rounds until stop is set (then one last round, so what was written by then is
  // stored) or until the database refuses a round. onRound sees every round.
  FollowTotals Run(const std::function<void(const FollowRound&)>& onRound = {});

  const std::string& Path() const { return path_; }
  // The byte of the followed file up to which everything is imported.
  int64_t Offset() const { return offset_; }

 private:
  bool OpenPath();
  void CloseFile();
  bool ReadAt(int64_t offset, size_t count, std::string& bytes) const;
  int64_t LastLineEnd(int64_t from, int64_t size) const;
  bool TailStillThere() const;
  // Reading starts again at the start of the file (truncated or replaced).
  void Restart();
  bool ImportTo(int64_t end, FollowRound& round);
  void WaitForNextRound() const;

  std::string path_;
  ImportCopies copies_;
  const std::atomic<bool>& stop_;
  int seconds_ = kDefaultFollowSeconds;
  UniqueFd fd_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  int64_t offset_ = 0;
  bool continueStored_ = false;
  // The address ranges, read by the first round that meets a new address.
  std::shared_ptr<CountryRanges> countries_;
  // The last bytes imported, read again each round: different bytes at the same place
  // mean the file was truncated and written again past the old position.
  std::string tail_;
  // The Fields directive in force at offset_ (a W3C log writes it once, at its start).
  std::string fieldsDirective_;
};

}  // namespace weavil
