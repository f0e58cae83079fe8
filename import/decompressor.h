#pragma once
// Streaming decompression under the log reader: gzip, bzip2, xz and zstd, recognised by
// their first bytes rather than by the file name. Concatenated members (what `cat
// a.gz b.gz` or a parallel compressor writes) read as one stream.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace weavil {

enum class Compression { kNone, kGzip, kBzip2, kXz, kZstd };

// The longest signature looked at.
inline constexpr size_t kCompressionMagicSize = 6;

// The compression whose signature head starts with (kNone when none matches or head is
// shorter than the signature).
Compression DetectCompression(std::string_view head);
const char* CompressionName(Compression compression);

struct DecodeStep {
  size_t consumed = 0;  // input bytes taken
  size_t produced = 0;  // output bytes written
  bool ended = false;   // the last stream ended; input after it is not log data
  bool failed = false;  // damaged or cut-off data; error says how
};

class Decompressor {
 public:
  virtual ~Decompressor() = default;
  // Decodes from in into out. inputEnds: in holds the last bytes there are. Call again
  // with the bytes not consumed (and more) while neither ended nor failed.
  virtual DecodeStep Decode(const char* in, size_t size, bool inputEnds, char* out, size_t room) = 0;
  const std::string& Error() const { return error_; }

 protected:
  // The step failed for the reason given.
  void Fail(DecodeStep& step, std::string reason) {
    step.failed = true;
    error_ = std::move(reason);
  }

 private:
  std::string error_;
};

// Null for kNone, or when the decoder cannot be set up (out of memory).
std::unique_ptr<Decompressor> MakeDecompressor(Compression compression);

}  // namespace weavil
