#pragma once
// The compressors of frame pixels: LZW, and a run-length scheme that sends only
// codes a standard LZW decoder understands. Output goes through TGIFWriter,
// which cuts it into data sub-blocks of at most 255 bytes.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/rtl/streams.h"

// A stream adapter over a target stream; the bare adapter reads, writes and
// seeks nothing.
class TGIFStream : public TStream {
public:
  explicit TGIFStream(TStream& target) : FTarget(target) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

protected:
  TStream& FTarget;
  int FCount = 0;
  uint8_t FBuffer[256];
};

class TGIFWriter : public TGIFStream {
public:
  using TGIFStream::TGIFStream;
  // Writes the last partial sub-block, if any.
  ~TGIFWriter() override;
  int64_t Write(const void* buffer, int64_t count) override;
  void PutByte(uint8_t value) {
    FBuffer[++FCount] = value;
    if (FCount == 255) EmitSubBlock();
  }
  void EmitSubBlock();
  void Flush();
};

// key -> code for the LZW encoder: 8009 slots, each key shl 12 or code.
class THashTable {
public:
  THashTable() { Empty(); }
  void Empty();
  void Store(uint32_t key, int code);
  int Find(uint32_t key) const;

private:
  static constexpr int kSize = 8009;
  uint32_t FSlots[kSize];
};

class TGIFEncoder {
public:
  virtual ~TGIFEncoder() = default;
  // Writes the code size byte, the data sub-blocks and the terminator. Raises
  // "Color not in color table" for a pixel not below colorCount.
  void EncodeFrame(TStream& stream, int bitsPerPixel, int colorCount, const uint8_t* pixels, bool interlaced,
                   int height, int width);

protected:
  virtual void EncodeAll() = 0;
  void PutBits(int code) {
    FAccumulator |= static_cast<uint64_t>(code) << FBitCount;
    FBitCount += FWidth;
    while (FBitCount >= 8) {
      FWriter->PutByte(static_cast<uint8_t>(FAccumulator));
      FAccumulator >>= 8;
      FBitCount -= 8;
    }
  }
  void CheckPixel(uint8_t p) const;
  // The pixels in the order they are sent: rows, or the four interlace passes.
  template <class F> void ForEachPixel(F&& f) const;

  std::unique_ptr<TGIFWriter> FWriter;
  const uint8_t* FPixels = nullptr;
  int FImageWidth = 0;
  int FImageHeight = 0;
  bool FInterlaced = false;
  int FColorCount = 0;
  int FBits = 0;
  int FInitWidth = 0;
  int FWidth = 0;
  int FMaxCode = 0;
  int FClearCode = 0;
  int FEndCode = 0;
  int FBaseCode = 0;
  uint64_t FAccumulator = 0;
  int FBitCount = 0;
  bool FClearFlag = false;
};

class TLZWEncoder : public TGIFEncoder {
protected:
  void EncodeAll() override;

private:
  void EmitCode(int code);
  void EmitClear();
  int FNextCode = 0;
  std::unique_ptr<THashTable> FHash;
};

class TRLEEncoder : public TGIFEncoder {
protected:
  void EncodeAll() override;

private:
  void Output(int code);
  void EmitClear();
  void FlushRun(int length, int pixel);
  void FlushFromClear(int length, int pixel);
  void FlushWithTable(int length, int pixel);
  static int64_t Cost(int64_t count, int64_t codes);

  int FBumpCount = 0;
  int FClearCount = 0;
  int FInitBump = 0;
  int FInitClear = 0;
  int FOutCount = 0;
  int FTableMax = 0;
  int FTablePixel = 0;
  int FMaxCodes = 0;
};
