#pragma once
// Reads a log file in large blocks and hands out its physical lines. A line longer
// than the parser's buffer is given in its first 7999 bytes and the rest of it skipped.
// A regular file is read up to the size it had when it was opened (and to the end of
// the line being written there), so a log that keeps growing cannot hold the import.
// Compressed data (gzip, bzip2, xz, zstd, recognised by its first bytes) is decoded on
// the way in; offsets and positions then count decoded bytes, progress the file's own.
// A UTF-8 byte-order mark at the start of the data is skipped.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"
#include "import/decompressor.h"
#include "import/log_parser.h"

namespace weavil {

// The path that names standard input.
inline constexpr const char* kStandardInputPath = "-";

class LogFileReader : public LineSource {
 public:
  LogFileReader();
  ~LogFileReader() override;
  LogFileReader(const LogFileReader&) = delete;
  LogFileReader& operator=(const LogFileReader&) = delete;

  // Opens path (or standard input for "-") for reading from offset (an offset past the
  // end reads nothing). False when the file cannot be opened or is a folder.
  bool Open(const std::string& path, int64_t offset);
  // After Open on a regular file: read no byte at or past end (the end of the last
  // whole line of a log still being written), even when the file is longer by then.
  void EndAt(int64_t end);
  void Close();

  bool NextPhysicalLine(std::string_view& raw) override;
  // The buffer is not touched until the line is handed out again.
  void UnreadLine() override { held_ = true; }

  int64_t LinesRead() const { return lines_; }
  // Bytes handed out (or skipped) since the offset, and the bytes there were to read
  // (decoded bytes; for compressed data the total is not known and estimated).
  int64_t BytesRead() const { return consumed_; }
  int64_t BytesTotal() const { return total_; }
  // A plain file that had no byte after the offset when opened: it gives no line.
  bool HoldsNothingNew() const { return fd_ && bounded_ && !decoder_ && remaining_ == 0 && end_ == begin_; }
  // What progress counts: bytes of the file itself read so far and its size at open
  // (0 for a pipe). For plain data the same as above.
  int64_t ProgressRead() const { return decoder_ ? rawRead_ : consumed_; }
  int64_t ProgressTotal() const { return decoder_ ? rawTotal_ : total_; }

  Compression DataCompression() const { return compression_; }
  // Why reading stopped before the end of the data (a read failure, damaged or cut-off
  // compressed data); empty when the data was read to its end.
  const std::string& ReadError() const { return error_; }

 private:
  bool Fill();
  bool FillDecoded();
  bool ReadRaw(char* into, size_t room, ssize_t& got);
  bool NextLine(std::string_view& raw);
  void SkipDecoded(int64_t count);
  void SkipByteOrderMark();

  UniqueFd fd_;
  std::vector<char> buffer_;
  size_t begin_ = 0, end_ = 0;
  bool eof_ = false;
  bool skipRest_ = false;     // the rest of an over-long line is still to be skipped
  bool held_ = false;         // last_ is to be handed out again
  std::string_view last_;
  bool bounded_ = false;
  bool exactEnd_ = false;     // EndAt was given: no reading on to the end of a line
  int64_t offset_ = 0;
  int64_t remaining_ = 0;     // bytes left before the size seen at open (when bounded)
  int64_t consumed_ = 0, total_ = 0, lines_ = 0;
  bool atStart_ = false;       // the data starts here: a byte-order mark may come
  std::string error_;

  // Compressed input: raw bytes of the file waiting to be decoded.
  Compression compression_ = Compression::kNone;
  std::unique_ptr<Decompressor> decoder_;
  std::vector<char> raw_;
  size_t rawBegin_ = 0, rawEnd_ = 0;
  bool rawEof_ = false;
  int64_t rawRead_ = 0, rawTotal_ = 0;
};

}  // namespace weavil
