#pragma once
// zlib behind the stream interface: a stream that deflates what is written to
// it into another stream, one that inflates from another stream when read, and
// the inflation of a whole memory block.
#include <cstdint>
#include <vector>

#include <zlib.h>

#include "imaging/core/ie_streams.h"
#include "platform/rtl/exceptions.h"

QV_DECLARE_EXCEPTION(EZLibError, Exception);
QV_DECLARE_EXCEPTION(EZCompressionError, EZLibError);
QV_DECLARE_EXCEPTION(EZDecompressionError, EZLibError);

// 0 none, 1 fastest, 2 zlib's default, 3 maximum.
enum TZCompressionLevel : uint8_t { zcNone, zcFastest, zcDefault, zcMax };

// zlib's text for a result code ("data error", "buffer error", ...).
const char* ZLibMessage(int code);

class TCustomZStream : public TIEUnsizedStream {
public:
  ~TCustomZStream() override = default;
  TNotifyEvent OnProgress;

protected:
  explicit TCustomZStream(TStream* stream);
  virtual void Progress();
  // Puts the wrapped stream back where this object left it, when someone moved it.
  void RestorePosition();

  static constexpr int kBufferSize = 65536;
  TStream* FStream;
  int64_t FStreamPos;
  z_stream FZRec{};
  std::vector<uint8_t> FBuffer;
};

// Deflates into the destination in the zlib format (header and Adler-32 trailer).
// Seek moves nothing and answers the uncompressed byte count. The data is
// complete once Finish has run (the destructor runs it when nobody did, but
// can then only swallow a failure).
class TZCompressionStream : public TCustomZStream {
public:
  TZCompressionStream(TStream* destination, TZCompressionLevel level = zcDefault);
  ~TZCompressionStream() override;
  int64_t Read(void* buffer, int64_t count) override;  // raises
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Flushes the rest of the compressed data; raises EZCompressionError or the
  // destination's write error.
  void Finish();

private:
  void WriteOut(int64_t n);
  bool FFinished = false;
};

// Inflates from the source. Reading stops at the end of the compressed data and
// leaves the source just after it. Seeking: 0 from the beginning restarts at the
// place the compressed data starts; forward from the current position (or from
// the beginning past what was produced) skips; 0 from the end reads to the end;
// anything else raises. Seek answers the bytes produced so far.
class TZDecompressionStream : public TCustomZStream {
public:
  explicit TZDecompressionStream(TStream* source);
  ~TZDecompressionStream() override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;  // raises
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

private:
  void Skip(int64_t count);
  int64_t FStartPos;
  int FResult = Z_OK;
};

// Inflates a whole zlib block into output. outputEstimate 0 means one step
// (the input size rounded up to 256). Output never grows beyond what deflate
// can produce from the input (1032 to 1) or beyond maxOutput when that is
// smaller. Raises EZDecompressionError with zlib's message on bad data.
void ZDecompressBuffer(const void* input, int64_t inputSize, std::vector<uint8_t>& output,
                       int64_t outputEstimate = 0, int64_t maxOutput = INT64_MAX);
