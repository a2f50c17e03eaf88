// Writing the block model as a GIF stream, and the frame encoders.
#include <algorithm>
#include <cstring>

#include "pictures/gif/gif_blocks.h"
#include "pictures/gif/gif_encoders.h"
#include "pictures/gif/gif_extensions.h"
#include "pictures/gif/gif_image.h"
#include "platform/rtl/byte_order.h"

namespace {


}  // namespace

// ---- Sub-block writer ----

int64_t TGIFStream::Read(void*, int64_t) { throw Exception(gifmsg::kInvalidStreamOperation); }
int64_t TGIFStream::Write(const void*, int64_t) { throw Exception(gifmsg::kInvalidStreamOperation); }
int64_t TGIFStream::Seek(int64_t, TSeekOrigin) { throw Exception(gifmsg::kInvalidStreamOperation); }

TGIFWriter::~TGIFWriter() {
  try {
    Flush();
  } catch (...) {
    // A failing target already reported its error to the writer's caller.
  }
}

void TGIFWriter::Flush() {
  if (FCount > 0) EmitSubBlock();
}

int64_t TGIFWriter::Write(const void* buffer, int64_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  for (int64_t i = 0; i < count; ++i) PutByte(p[i]);
  return count;
}

void TGIFWriter::EmitSubBlock() {
  FBuffer[0] = static_cast<uint8_t>(FCount);
  FTarget.WriteBuffer(FBuffer, FCount + 1);
  FCount = 0;
}

// ---- Hash table ----

void THashTable::Empty() { std::memset(FSlots, 0xFF, sizeof FSlots); }

namespace {
constexpr bool SlotEmpty(uint32_t v) { return v >= 0xFFFFF000u; }
inline int HashNext(int h, int size) {
  int n = h == 0 ? -1 : h - (size - h);
  return n < 0 ? n + size : n;
}
}  // namespace

void THashTable::Store(uint32_t key, int code) {
  int h = static_cast<int>((key ^ (key >> 4)) % kSize);
  // The probe sequence visits half the slots; a table that crowds one half
  // (hostile pictures can) goes on slot by slot, which Find follows too.
  for (int probes = 0; !SlotEmpty(FSlots[h]); ++probes) h = probes < kSize ? HashNext(h, kSize) : (h + 1) % kSize;
  FSlots[h] = (key << 12) | static_cast<uint32_t>(code & 0xFFF);
}

int THashTable::Find(uint32_t key) const {
  int h = static_cast<int>((key ^ (key >> 4)) % kSize);
  for (int probes = 0;; ++probes) {
    const uint32_t v = FSlots[h];
    if (SlotEmpty(v)) return -1;
    if ((v >> 12) == key) return static_cast<int>(v & 0xFFF);
    h = probes < kSize ? HashNext(h, kSize) : (h + 1) % kSize;
  }
}

// ---- Encoders ----

void TGIFEncoder::CheckPixel(uint8_t p) const {
  if (p >= FColorCount) throw GIFException(gifmsg::kColorNotInTable);
}

template <class F> void TGIFEncoder::ForEachPixel(F&& f) const {
  auto row = [&](int y) {
    const uint8_t* r = FPixels + static_cast<size_t>(y) * FImageWidth;
    for (int x = 0; x < FImageWidth; ++x) f(r[x]);
  };
  if (!FInterlaced) {
    for (int y = 0; y < FImageHeight; ++y) row(y);
    return;
  }
  static const int kStart[4] = {0, 4, 2, 1};
  static const int kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int y = kStart[pass]; y < FImageHeight; y += kStep[pass]) row(y);
}

void TGIFEncoder::EncodeFrame(TStream& stream, int bitsPerPixel, int colorCount, const uint8_t* pixels,
                              bool interlaced, int height, int width) {
  FBits = std::max(bitsPerPixel, 2);
  FColorCount = colorCount;
  FPixels = pixels;
  FInterlaced = interlaced;
  FImageHeight = height;
  FImageWidth = width;
  WriteByteValue(stream, static_cast<uint8_t>(FBits));
  FInitWidth = FWidth = FBits + 1;
  FMaxCode = (1 << FWidth) - 1;
  FClearCode = 1 << FBits;
  FEndCode = FClearCode + 1;
  FBaseCode = FClearCode + 2;
  FAccumulator = 0;
  FBitCount = 0;
  FWriter = std::make_unique<TGIFWriter>(stream);
  if (pixels && width > 0 && height > 0) EncodeAll();
  PutBits(FEndCode);
  if (FBitCount > 0) FWriter->PutByte(static_cast<uint8_t>(FAccumulator));
  FWriter->Flush();
  FWriter.reset();
  WriteByteValue(stream, 0);
}

void TLZWEncoder::EmitCode(int code) {
  PutBits(code);
  if (FNextCode > FMaxCode || FClearFlag) {
    if (FClearFlag) {
      FWidth = FInitWidth;
      FMaxCode = (1 << FWidth) - 1;
      FClearFlag = false;
    } else {
      ++FWidth;
      FMaxCode = FWidth == 12 ? 4096 : (1 << FWidth) - 1;
    }
  }
}

void TLZWEncoder::EmitClear() {
  FClearFlag = true;
  EmitCode(FClearCode);
  FHash->Empty();
  FNextCode = FClearCode + 2;
}

void TLZWEncoder::EncodeAll() {
  FHash = std::make_unique<THashTable>();
  FNextCode = FClearCode + 2;
  EmitClear();
  int prefix = -1;
  ForEachPixel([&](uint8_t c) {
    CheckPixel(c);
    if (prefix < 0) {
      prefix = c;
      return;
    }
    const uint32_t key = (static_cast<uint32_t>(prefix) << 8) | c;
    const int code = FHash->Find(key);
    if (code >= 0) {
      prefix = code;
      return;
    }
    EmitCode(prefix);
    prefix = c;
    if (FNextCode < 4095) {
      FHash->Store(key, FNextCode++);
    } else {
      EmitClear();
    }
  });
  if (prefix >= 0) EmitCode(prefix);
  FHash.reset();
}

// Run-length coding: after a clear code a standard decoder's table fills with
// runs of 2, 3, 4... of one pixel, so a run is sent as the codes of those runs.

int64_t TRLEEncoder::Cost(int64_t count, int64_t codes) {
  const int64_t per = codes * (codes + 1) / 2;
  int64_t cost = codes * (count / per);
  const int64_t r = count % per;
  if (r > 0) {
    int64_t k = 0;
    while (k * (k + 1) / 2 < r) ++k;
    cost += k;
  }
  return cost;
}

void TRLEEncoder::Output(int code) {
  FClearFlag = false;
  PutBits(code);
  ++FOutCount;
  if (FOutCount == FBumpCount) {
    FBumpCount += 1 << FWidth;
    ++FWidth;
  }
  if (FOutCount == FClearCount) EmitClear();
}

void TRLEEncoder::EmitClear() {
  FBumpCount = FInitBump;
  FClearCount = FInitClear;
  FOutCount = 0;
  FTableMax = 0;
  FClearFlag = true;
  PutBits(FClearCode);
  FWidth = FInitWidth;
}

void TRLEEncoder::FlushFromClear(int length, int pixel) {
  FClearCount = FMaxCodes;
  FTablePixel = pixel;
  int k = 1;
  while (length > 0) {
    if (k == 1) {
      Output(pixel);
      FTableMax = 1;
      length -= 1;
    } else if (length >= k) {
      Output(FBaseCode + k - 2);
      FTableMax = k;
      length -= k;
    } else {
      ++FTableMax;
      Output(length == 1 ? pixel : FBaseCode + length - 2);
      length = 0;
    }
    k = FOutCount == 0 ? 1 : k + 1;
  }
  FClearCount = FInitClear;
  if (FOutCount >= FClearCount) EmitClear();
}

void TRLEEncoder::FlushWithTable(int length, int pixel) {
  int64_t reps = length / FTableMax;
  int64_t left = length % FTableMax;
  int64_t extra = left > 0 ? 1 : 0;
  if (FOutCount + reps + extra > FMaxCodes) {
    reps = FMaxCodes - FOutCount;
    left = length - reps * FTableMax;
    extra = 1 + Cost(left, FMaxCodes);
  }
  if (Cost(length, FMaxCodes) + 1 < reps + extra) {
    EmitClear();
    FlushFromClear(length, pixel);
    return;
  }
  FClearCount = FMaxCodes;
  const int code = FBaseCode + FTableMax - 2;
  for (int64_t i = 0; i < reps; ++i) Output(code);
  if (left > 0) {
    if (FOutCount == 0) {
      FlushFromClear(static_cast<int>(left), pixel);
    } else {
      Output(left == 1 ? pixel : FBaseCode + static_cast<int>(left) - 2);
    }
  }
  FClearCount = FInitClear;
  if (FOutCount >= FClearCount) EmitClear();
}

void TRLEEncoder::FlushRun(int length, int pixel) {
  if (length == 1) {
    Output(pixel);
  } else if (FOutCount == 0) {
    FlushFromClear(length, pixel);
  } else if (FTableMax > 1 && FTablePixel == pixel) {
    FlushWithTable(length, pixel);
  } else if (Cost(length, FMaxCodes) + 1 < length) {
    EmitClear();
    FlushFromClear(length, pixel);
  } else {
    for (int i = 0; i < length; ++i) Output(pixel);
  }
}

void TRLEEncoder::EncodeAll() {
  FInitBump = FClearCode - 1;
  FInitClear = FBits > 3 ? FClearCode - 2 : 9;
  FMaxCodes = 4095 - FBaseCode;
  EmitClear();
  int runPixel = -1;
  int runLength = 0;
  ForEachPixel([&](uint8_t c) {
    CheckPixel(c);
    if (runLength > 0 && c != runPixel) {
      FlushRun(runLength, runPixel);
      runLength = 0;
    }
    if (c == runPixel && runLength > 0) {
      ++runLength;
    } else {
      runPixel = c;
      runLength = 1;
    }
  });
  if (runLength > 0) FlushRun(runLength, runPixel);
}

// ---- Blocks ----

void TGIFHeader::SaveToStream(TStream& stream) {
  const int version = FImage ? FImage->NeededVersion() : 0;
  if (version == 0) throw GIFException(gifmsg::kUnsupportedVersion);
  stream.WriteBuffer(version >= 2 ? "GIF89a" : "GIF87a", 6);
  TGIFColorMap& global = GlobalMap();
  int resolution = global.IndexBits() - 1;
  int localBits = 0;
  if (FImage)
    for (int i = 0; i < FImage->Frames().Count(); ++i) {
      TGIFSubImage* f = FImage->Frames()[i];
      resolution = std::max(resolution, f->ResolutionBits());
      localBits = std::max(localBits, f->IndexBits());
    }
  uint8_t flags = 0;
  if (global.EntryCount() > 0) {
    flags |= 0x80;
    if (global.Sorted()) flags |= 0x08;
    flags |= (global.IndexBits() - 1) & 7;
  } else {
    flags |= std::max(localBits - 1, 0) & 7;
  }
  flags |= (std::max(resolution, 0) & 7) << 4;
  ScreenBlock.Flags = flags;
  uint8_t b[7];
  WriteLE16(b, ScreenBlock.LogicalWidth);
  WriteLE16(b + 2, ScreenBlock.LogicalHeight);
  b[4] = ScreenBlock.Flags;
  b[5] = ScreenBlock.BackgroundEntry;
  b[6] = ScreenBlock.PixelAspect;
  stream.WriteBuffer(b, 7);
  if (flags & 0x80) global.WriteEntries(stream);
}

void TGIFSubImage::UpdateImageFlags() {
  if (FLocalMap->EntryCount() > 0) {
    uint8_t f = 0x80 | (ImageBlock.Flags & 0x40);
    if (FLocalMap->Sorted()) f |= 0x20;
    f |= (FLocalMap->IndexBits() - 1) & 7;
    ImageBlock.Flags = f;
  } else {
    ImageBlock.Flags &= 0x58;
  }
}

void TGIFSubImage::SaveToStream(TStream& stream) {
  FExtensions->SaveToStream(stream);
  if (IsEmpty()) return;
  UpdateImageFlags();
  uint8_t d[10];
  d[0] = 0x2C;
  WriteLE16(d + 1, ImageBlock.ImageLeft);
  WriteLE16(d + 3, ImageBlock.ImageTop);
  WriteLE16(d + 5, ImageBlock.ImageWidth);
  WriteLE16(d + 7, ImageBlock.ImageHeight);
  d[9] = ImageBlock.Flags;
  stream.WriteBuffer(d, 10);
  FLocalMap->WriteEntries(stream);
  EncodePixels(stream);
}

void TGIFSubImage::EncodePixels(TStream& stream) {
  int bits = 0;
  int colors = 0;
  if (FLocalMap->EntryCount() > 0) {
    bits = FLocalMap->IndexBits();
    colors = FLocalMap->EntryCount();
  } else {
    if (FImage) {
      bits = FImage->GlobalColorMap().IndexBits();
      for (int i = 0; i < FImage->Frames().Count(); ++i) bits = std::max(bits, FImage->Frames()[i]->IndexBits());
    }
    if (bits == 0) {
      // No table anywhere: the pixels themselves say how many bits they need.
      int highest = 0;
      for (uint8_t p : FPixels) highest = std::max<int>(highest, p);
      bits = BitsForColors(highest + 1);
    }
    colors = 1 << bits;
  }
  std::unique_ptr<TGIFEncoder> encoder;
  if (FImage && FImage->CompressionKind() == ckRunLength) {
    encoder = std::make_unique<TRLEEncoder>();
  } else {
    encoder = std::make_unique<TLZWEncoder>();
  }
  encoder->EncodeFrame(stream, bits, colors, Pixels(), IsInterlaced(), Height(), Width());
}
