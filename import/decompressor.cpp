#include "import/decompressor.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <climits>
#include <cstring>

namespace weavil {
namespace {

constexpr std::string_view kGzipMagic("\x1f\x8b", 2);
constexpr std::string_view kBzip2Magic("BZh", 3);
constexpr std::string_view kXzMagic("\xfd" "7zXZ\0", 6);
constexpr std::string_view kZstdMagic("\x28\xb5\x2f\xfd", 4);

// The libraries count in unsigned int; a step never hands them more than this.
constexpr size_t kMaxStep = UINT_MAX / 2;

class GzipDecoder : public Decompressor {
 public:
  GzipDecoder() {
    std::memset(&stream_, 0, sizeof stream_);
    ready_ = inflateInit2(&stream_, 15 + 16) == Z_OK;
  }
  ~GzipDecoder() override {
    if (ready_) inflateEnd(&stream_);
  }
  bool Ready() const { return ready_; }

  DecodeStep Decode(const char* in, size_t size, bool inputEnds, char* out, size_t room) override {
    DecodeStep step;
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
    stream_.avail_in = static_cast<uInt>(std::min(size, kMaxStep));
    stream_.next_out = reinterpret_cast<Bytef*>(out);
    stream_.avail_out = static_cast<uInt>(std::min(room, kMaxStep));
    while (stream_.avail_out > 0) {
      if (betweenMembers_) {
        // Another member follows only when its signature does; anything else (zero
        // padding of a tape or a copy) ends the data, as gzip itself treats it.
        if (stream_.avail_in < kGzipMagic.size() && !inputEnds) break;
        std::string_view next(reinterpret_cast<const char*>(stream_.next_in), stream_.avail_in);
        if (next.substr(0, kGzipMagic.size()) != kGzipMagic) {
          step.ended = true;
          break;
        }
        inflateReset(&stream_);
        betweenMembers_ = false;
      }
      int rc = inflate(&stream_, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        betweenMembers_ = true;
        continue;
      }
      if (rc == Z_BUF_ERROR) {  // no progress: more input is needed
        if (inputEnds) Fail(step, "the gzip data ends early");
        break;
      }
      if (rc != Z_OK) {
        Fail(step, std::string("the gzip data is damaged (") + (stream_.msg ? stream_.msg : "inflate failed") + ")");
        break;
      }
    }
    step.consumed = size - (size > kMaxStep ? size - kMaxStep : 0) - stream_.avail_in;
    step.produced = std::min(room, kMaxStep) - stream_.avail_out;
    return step;
  }

 private:
  z_stream stream_;
  bool ready_ = false;
  bool betweenMembers_ = false;
};

class Bzip2Decoder : public Decompressor {
 public:
  Bzip2Decoder() { ready_ = Start(); }
  ~Bzip2Decoder() override {
    if (ready_) BZ2_bzDecompressEnd(&stream_);
  }
  bool Ready() const { return ready_; }

  DecodeStep Decode(const char* in, size_t size, bool inputEnds, char* out, size_t room) override {
    DecodeStep step;
    size_t inTaken = std::min(size, kMaxStep), outRoom = std::min(room, kMaxStep);
    stream_.next_in = const_cast<char*>(in);
    stream_.avail_in = static_cast<unsigned>(inTaken);
    stream_.next_out = out;
    stream_.avail_out = static_cast<unsigned>(outRoom);
    while (stream_.avail_out > 0) {
      if (betweenStreams_) {
        if (stream_.avail_in < kBzip2Magic.size() && !inputEnds) break;
        std::string_view next(stream_.next_in, stream_.avail_in);
        if (next.substr(0, kBzip2Magic.size()) != kBzip2Magic) {
          step.ended = true;
          break;
        }
        BZ2_bzDecompressEnd(&stream_);
        char* nextIn = stream_.next_in;
        unsigned availIn = stream_.avail_in;
        char* nextOut = stream_.next_out;
        unsigned availOut = stream_.avail_out;
        if (!(ready_ = Start())) {
          Fail(step, "the bzip2 decoder cannot start");
          break;
        }
        stream_.next_in = nextIn;
        stream_.avail_in = availIn;
        stream_.next_out = nextOut;
        stream_.avail_out = availOut;
        betweenStreams_ = false;
      }
      unsigned inBefore = stream_.avail_in, outBefore = stream_.avail_out;
      int rc = BZ2_bzDecompress(&stream_);
      if (rc == BZ_STREAM_END) {
        betweenStreams_ = true;
        continue;
      }
      if (rc != BZ_OK) {
        Fail(step, "the bzip2 data is damaged");
        break;
      }
      if (stream_.avail_in == inBefore && stream_.avail_out == outBefore) {  // more input is needed
        if (inputEnds) Fail(step, "the bzip2 data ends early");
        break;
      }
    }
    step.consumed = inTaken - stream_.avail_in;
    step.produced = outRoom - stream_.avail_out;
    return step;
  }

 private:
  bool Start() {
    std::memset(&stream_, 0, sizeof stream_);
    return BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK;
  }

  bz_stream stream_;
  bool ready_ = false;
  bool betweenStreams_ = false;
};

class XzDecoder : public Decompressor {
 public:
  XzDecoder() { ready_ = lzma_stream_decoder(&stream_, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK; }
  ~XzDecoder() override { lzma_end(&stream_); }
  bool Ready() const { return ready_; }

  DecodeStep Decode(const char* in, size_t size, bool inputEnds, char* out, size_t room) override {
    DecodeStep step;
    stream_.next_in = reinterpret_cast<const uint8_t*>(in);
    stream_.avail_in = size;
    stream_.next_out = reinterpret_cast<uint8_t*>(out);
    stream_.avail_out = room;
    while (stream_.avail_out > 0) {
      size_t inBefore = stream_.avail_in, outBefore = stream_.avail_out;
      lzma_ret rc = lzma_code(&stream_, inputEnds ? LZMA_FINISH : LZMA_RUN);
      if (rc == LZMA_STREAM_END) {
        step.ended = true;
        break;
      }
      bool stalled = rc == LZMA_BUF_ERROR || (rc == LZMA_OK && stream_.avail_in == inBefore && stream_.avail_out == outBefore);
      if (stalled) {  // more input is needed
        if (inputEnds) Fail(step, "the xz data ends early");
        break;
      }
      if (rc != LZMA_OK) {
        Fail(step, rc == LZMA_MEM_ERROR ? "the xz decoder ran out of memory" : "the xz data is damaged");
        break;
      }
    }
    step.consumed = size - stream_.avail_in;
    step.produced = room - stream_.avail_out;
    return step;
  }

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
  bool ready_ = false;
};

class ZstdDecoder : public Decompressor {
 public:
  ZstdDecoder() : context_(ZSTD_createDCtx()) {}
  ~ZstdDecoder() override { ZSTD_freeDCtx(context_); }
  bool Ready() const { return context_ != nullptr; }

  DecodeStep Decode(const char* in, size_t size, bool inputEnds, char* out, size_t room) override {
    DecodeStep step;
    ZSTD_inBuffer input{in, size, 0};
    ZSTD_outBuffer output{out, room, 0};
    while (output.pos < output.size) {
      if (frameDone_) {
        // Frames follow one another; a skippable frame decodes to nothing.
        std::string_view next(in + input.pos, input.size - input.pos);
        if (next.empty()) {
          step.ended = inputEnds;
          break;
        }
        if (next.size() < 4 && !inputEnds) break;
        bool skippable = next.size() >= 4 && (static_cast<unsigned char>(next[0]) & 0xf0) == 0x50 &&
                         next.substr(1, 3) == std::string_view("\x2a\x4d\x18", 3);
        if (next.substr(0, 4) != kZstdMagic && !skippable) {
          step.ended = true;
          break;
        }
      }
      size_t inBefore = input.pos, outBefore = output.pos;
      size_t rc = ZSTD_decompressStream(context_, &output, &input);
      if (ZSTD_isError(rc)) {
        Fail(step, std::string("the zstd data is damaged (") + ZSTD_getErrorName(rc) + ")");
        break;
      }
      frameDone_ = rc == 0;
      if (!frameDone_ && input.pos == inBefore && output.pos == outBefore) {  // more input is needed
        if (inputEnds) Fail(step, "the zstd data ends early");
        break;
      }
    }
    step.consumed = input.pos;
    step.produced = output.pos;
    return step;
  }

 private:
  ZSTD_DCtx* context_;
  bool frameDone_ = true;
};

template <typename T>
std::unique_ptr<Decompressor> Made() {
  auto decoder = std::make_unique<T>();
  if (!decoder->Ready()) return nullptr;
  return decoder;
}

}  // namespace

Compression DetectCompression(std::string_view head) {
  if (head.substr(0, kGzipMagic.size()) == kGzipMagic) return Compression::kGzip;
  // "BZh" and the block size digit.
  if (head.size() >= 4 && head.substr(0, 3) == kBzip2Magic && head[3] >= '1' && head[3] <= '9')
    return Compression::kBzip2;
  if (head.substr(0, kXzMagic.size()) == kXzMagic) return Compression::kXz;
  if (head.substr(0, kZstdMagic.size()) == kZstdMagic) return Compression::kZstd;
  return Compression::kNone;
}

const char* CompressionName(Compression compression) {
  switch (compression) {
    case Compression::kGzip: return "gzip";
    case Compression::kBzip2: return "bzip2";
    case Compression::kXz: return "xz";
    case Compression::kZstd: return "zstd";
    case Compression::kNone: break;
  }
  return "none";
}

std::unique_ptr<Decompressor> MakeDecompressor(Compression compression) {
  switch (compression) {
    case Compression::kGzip: return Made<GzipDecoder>();
    case Compression::kBzip2: return Made<Bzip2Decoder>();
    case Compression::kXz: return Made<XzDecoder>();
    case Compression::kZstd: return Made<ZstdDecoder>();
    case Compression::kNone: break;
  }
  return nullptr;
}

}  // namespace weavil
