#include "imaging/io/zlib_streams.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kInvalidOperation = "Invalid ZStream operation!";
constexpr int kLevels[4] = {0, 1, -1, 9};
// One inflate or deflate call takes at most this many bytes (zlib counts in uInt).
constexpr int64_t kMaxChunk = int64_t(1) << 30;
// Deflate cannot compress better than about 1032 to 1.
constexpr int64_t kMaxRatio = 1032;

template <class E> [[noreturn]] void Raise(int code) { throw E(ZLibMessage(code)); }

}  // namespace

const char* ZLibMessage(int code) {
  static constexpr const char* kTable[] = {"need dictionary",     "stream end",   "",
                                           "file error",          "stream error", "data error",
                                           "insufficient memory", "buffer error", "incompatible version"};
  const int index = 2 - code;
  return index >= 0 && index < 9 ? kTable[index] : "";
}

// ---- TCustomZStream ----

TCustomZStream::TCustomZStream(TStream* stream)
    : FStream(stream), FStreamPos(stream->Position()), FBuffer(kBufferSize) {}

void TCustomZStream::Progress() {
  if (OnProgress) OnProgress(this);
}

void TCustomZStream::RestorePosition() {
  if (FStream->Position() != FStreamPos) FStream->Seek(FStreamPos, soBeginning);
}

// ---- TZCompressionStream ----

TZCompressionStream::TZCompressionStream(TStream* destination, TZCompressionLevel level)
    : TCustomZStream(destination) {
  FZRec.next_out = FBuffer.data();
  FZRec.avail_out = kBufferSize;
  const int rc = deflateInit2(&FZRec, kLevels[level <= zcMax ? level : zcDefault], Z_DEFLATED, 15, 8,
                              Z_DEFAULT_STRATEGY);
  if (rc != Z_OK) Raise<EZCompressionError>(rc);
}

TZCompressionStream::~TZCompressionStream() {
  if (!FFinished) {
    try {
      Finish();
    } catch (const std::exception&) {
      // Nothing can be reported from here; callers that must know call Finish.
    }
  }
  deflateEnd(&FZRec);
}

void TZCompressionStream::WriteOut(int64_t n) {
  if (n > 0) FStream->WriteBuffer(FBuffer.data(), n);
  FZRec.next_out = FBuffer.data();
  FZRec.avail_out = kBufferSize;
  FStreamPos = FStream->Position();
}

int64_t TZCompressionStream::Read(void*, int64_t) { throw EZCompressionError(kInvalidOperation); }

int64_t TZCompressionStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (FFinished) throw EZCompressionError(kInvalidOperation);
  RestorePosition();
  auto* in = static_cast<const uint8_t*>(buffer);
  int64_t left = count;
  while (left > 0) {
    const int64_t n = std::min(left, kMaxChunk);
    FZRec.next_in = const_cast<Bytef*>(in);
    FZRec.avail_in = static_cast<uInt>(n);
    while (FZRec.avail_in > 0) {
      const int rc = deflate(&FZRec, Z_NO_FLUSH);
      if (rc < 0 && rc != Z_BUF_ERROR) Raise<EZCompressionError>(rc);
      if (FZRec.avail_out == 0) {
        WriteOut(kBufferSize);
        Progress();
      }
    }
    in += n;
    left -= n;
  }
  return count;
}

int64_t TZCompressionStream::Seek(int64_t, TSeekOrigin) { return static_cast<int64_t>(FZRec.total_in); }

void TZCompressionStream::Finish() {
  if (FFinished) return;
  RestorePosition();
  FZRec.next_in = nullptr;
  FZRec.avail_in = 0;
  for (;;) {
    const int rc = deflate(&FZRec, Z_FINISH);
    if (rc < 0 && rc != Z_BUF_ERROR) Raise<EZCompressionError>(rc);
    if (rc == Z_STREAM_END) break;
    WriteOut(kBufferSize - FZRec.avail_out);
  }
  WriteOut(kBufferSize - FZRec.avail_out);
  FFinished = true;
}

// ---- TZDecompressionStream ----

TZDecompressionStream::TZDecompressionStream(TStream* source)
    : TCustomZStream(source), FStartPos(FStreamPos) {
  FZRec.next_in = FBuffer.data();
  FZRec.avail_in = 0;
  const int rc = inflateInit(&FZRec);
  if (rc != Z_OK) Raise<EZDecompressionError>(rc);
}

TZDecompressionStream::~TZDecompressionStream() { inflateEnd(&FZRec); }

int64_t TZDecompressionStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  RestorePosition();
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t produced = 0;
  while (produced < count && FResult != Z_STREAM_END) {
    if (FZRec.avail_in == 0) {
      const int64_t n = FStream->Read(FBuffer.data(), kBufferSize);
      if (n <= 0) break;  // truncated data: what was produced is all there is
      FZRec.next_in = FBuffer.data();
      FZRec.avail_in = static_cast<uInt>(n);
      FStreamPos = FStream->Position();
      Progress();
    }
    const int64_t room = std::min(count - produced, kMaxChunk);
    FZRec.next_out = out + produced;
    FZRec.avail_out = static_cast<uInt>(room);
    const int rc = inflate(&FZRec, Z_NO_FLUSH);
    produced += room - FZRec.avail_out;
    // A stream that needs a preset dictionary cannot go on: without this check
    // it would ask for one forever.
    if (rc < 0 || rc == Z_NEED_DICT) {
      FResult = rc;
      Raise<EZDecompressionError>(rc);
    }
    FResult = rc;
    if (rc == Z_STREAM_END && FZRec.avail_in > 0) {
      // Give back what follows the compressed data.
      FStream->Seek(-static_cast<int64_t>(FZRec.avail_in), soCurrent);
      FStreamPos = FStream->Position();
      FZRec.avail_in = 0;
    }
  }
  return produced;
}

int64_t TZDecompressionStream::Write(const void*, int64_t) { throw EZDecompressionError(kInvalidOperation); }

void TZDecompressionStream::Skip(int64_t count) {
  uint8_t scratch[8192];
  while (count > 0) {
    const int64_t n = std::min<int64_t>(count, sizeof scratch);
    ReadBuffer(scratch, n);
    count -= n;
  }
}

int64_t TZDecompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  const auto produced = static_cast<int64_t>(FZRec.total_out);
  if (origin == soBeginning && offset == 0) {
    // Restart where the compressed data starts, which need not be offset 0.
    const int rc = inflateReset(&FZRec);
    if (rc != Z_OK) Raise<EZDecompressionError>(rc);
    FZRec.next_in = FBuffer.data();
    FZRec.avail_in = 0;
    FResult = Z_OK;
    FStream->Seek(FStartPos, soBeginning);
    FStreamPos = FStartPos;
  } else if ((origin == soCurrent && offset >= 0) || (origin == soBeginning && offset > produced)) {
    Skip(origin == soBeginning ? offset - produced : offset);
  } else if (origin == soEnd && offset == 0) {
    uint8_t scratch[8192];
    while (Read(scratch, sizeof scratch) > 0) {
    }
  } else {
    throw EZDecompressionError(kInvalidOperation);
  }
  return static_cast<int64_t>(FZRec.total_out);
}

// ---- ZDecompressBuffer ----

void ZDecompressBuffer(const void* input, int64_t inputSize, std::vector<uint8_t>& output,
                       int64_t outputEstimate, int64_t maxOutput) {
  output.clear();
  if (inputSize < 0 || inputSize > kMaxChunk) Raise<EZDecompressionError>(Z_BUF_ERROR);
  const int64_t step = std::max<int64_t>((inputSize + 255) / 256 * 256, 256);
  const int64_t bound = std::min(maxOutput, std::max<int64_t>(inputSize, 1) * kMaxRatio);
  if (outputEstimate <= 0) outputEstimate = step;
  z_stream z{};
  int rc = inflateInit(&z);
  if (rc != Z_OK) Raise<EZDecompressionError>(rc);
  try {
    output.resize(static_cast<size_t>(std::min(outputEstimate, std::max<int64_t>(bound, 1))));
    z.next_in = static_cast<Bytef*>(const_cast<void*>(input));
    z.avail_in = static_cast<uInt>(inputSize);
    for (;;) {
      z.next_out = output.data() + z.total_out;
      z.avail_out = static_cast<uInt>(std::min<int64_t>(int64_t(output.size()) - int64_t(z.total_out), kMaxChunk));
      rc = inflate(&z, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) break;
      if (rc < 0 && !(rc == Z_BUF_ERROR && z.avail_out == 0)) Raise<EZDecompressionError>(rc);
      if (rc == Z_NEED_DICT) Raise<EZDecompressionError>(rc);
      if (z.avail_out == 0) {
        if (static_cast<int64_t>(output.size()) >= bound) Raise<EZDecompressionError>(Z_BUF_ERROR);
        output.resize(static_cast<size_t>(std::min<int64_t>(int64_t(output.size()) + step, bound)));
      } else if (z.avail_in == 0) {
        Raise<EZDecompressionError>(Z_BUF_ERROR);  // the input ended before the data did
      }
    }
    output.resize(static_cast<size_t>(z.total_out));
  } catch (...) {
    inflateEnd(&z);
    output.clear();
    throw;
  }
  inflateEnd(&z);
}
