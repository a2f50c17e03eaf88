// Reading a GIF stream into the block model, and the LZW decoder of a frame.
#include <algorithm>
#include <cstring>

#include "pictures/gif/gif_blocks.h"
#include "pictures/gif/gif_codec.h"
#include "pictures/gif/gif_encoders.h"
#include "pictures/gif/gif_extensions.h"
#include "pictures/gif/gif_image.h"
#include "platform/rtl/byte_order.h"

namespace {

// Reads bytes until one is not zero; false when the stream ends first.
bool SkipZeroBytes(TStream& stream, uint8_t& b) {
  while (ReadByteValue(stream, b))
    if (b != 0) return true;
  return false;
}


// Where decoded pixels go: rows in order, or the four passes of an interlaced frame.
class TPixelCursor {
public:
  TPixelCursor(uint8_t* pixels, int width, int height, bool interlaced)
      : FPixels(pixels), FWidth(width), FHeight(height), FInterlaced(interlaced), FLeft(int64_t{width} * height) {
    FRowPtr = FPixels;
  }
  bool Done() const { return FLeft == 0; }

  // Writes the values of a decoded string, kept reversed on the stack.
  void PutReversed(const uint8_t* stack, int count) {
    while (count > 0 && FLeft > 0) {
      const int n = static_cast<int>(std::min<int64_t>({count, FWidth - FX, FLeft}));
      uint8_t* out = FRowPtr + FX;
      for (int i = 0; i < n; ++i) out[i] = stack[count - 1 - i];
      count -= n;
      FX += n;
      FLeft -= n;
      if (FX == FWidth) NextRow();
    }
  }

private:
  void NextRow() {
    FX = 0;
    if (FLeft == 0) return;
    if (!FInterlaced) {
      FRowPtr += FWidth;
      return;
    }
    static const int kStep[4] = {8, 8, 4, 2};
    static const int kStart[4] = {0, 4, 2, 1};
    FRow += kStep[FPass];
    while (FRow >= FHeight && FPass < 3) {
      ++FPass;
      FRow = kStart[FPass];
    }
    if (FRow >= FHeight) {
      FLeft = 0;
      return;
    }
    FRowPtr = FPixels + static_cast<size_t>(FRow) * FWidth;
  }

  uint8_t* FPixels;
  int FWidth;
  int FHeight;
  bool FInterlaced;
  int64_t FLeft;
  uint8_t* FRowPtr;
  int FX = 0;
  int FRow = 0;
  int FPass = 0;
};

// The LZW decoder of one frame: codes are read from the data sub-blocks least
// significant bit first; the table has 4096 entries of prefix and suffix.
class TLZWDecoder {
public:
  TLZWDecoder(TStream& stream, const TGIFCodecWarning& warning, int minimum)
      : FStream(stream), FWarning(warning), FMinimum(minimum) {
    FPosition = stream.Position();
    FEnd = stream.Size();
  }

  void Decode(TPixelCursor& out) {
    const int clear = 1 << FMinimum;
    const int end = clear + 1;
    int width = FMinimum + 1;
    int next = clear + 2;
    int limit = 2 * clear;
    int first = 0;
    int prev = 0;
    bool started = false;
    while (!out.Done()) {
      int code = started ? ReadCode(width) : clear;  // decoding always begins with a table reset
      started = true;
      if (code < 0) return;
      if (code == clear) {
        std::memset(FPrefix, 0, sizeof FPrefix);
        std::memset(FSuffix, 0, sizeof FSuffix);
        for (int i = 0; i < clear; ++i) FSuffix[i] = static_cast<uint8_t>(i);
        width = FMinimum + 1;
        limit = 2 * clear;
        next = clear + 2;
        do code = ReadCode(width);
        while (code == clear);
        if (code < 0) return;
        if (code == end) {
          FEndSeen = true;
          return;
        }
        // After a reset only the roots are defined; anything else is corrupt data.
        if (code > end) return;
        first = prev = code;
        FStack[0] = static_cast<uint8_t>(code);
        out.PutReversed(FStack, 1);
        continue;
      }
      if (code == end) {
        FEndSeen = true;
        return;
      }
      const int incoming = code;
      int sp = 0;
      if (code >= next) {
        FStack[sp++] = static_cast<uint8_t>(first);
        code = prev;
      }
      int steps = 0;
      while (code >= clear) {
        FStack[sp++] = FSuffix[code];
        const int p = FPrefix[code];
        if (p == code || ++steps > 4096) throw GIFException(gifmsg::kCircularTable);
        code = p;
      }
      first = FSuffix[code];
      FStack[sp++] = static_cast<uint8_t>(first);
      if (next <= 4095) {
        FPrefix[next] = static_cast<uint16_t>(prev);
        FSuffix[next] = static_cast<uint8_t>(first);
        ++next;
        if (next >= limit && limit <= 4095) {
          limit *= 2;
          if (width < 12) ++width;
        }
      }
      prev = incoming;
      out.PutReversed(FStack, sp);
    }
  }

  // Leaves the stream after the frame's block terminator.
  void SkipToTerminator() {
    if (!FZeroBlockSeen && !FExhausted) {
      uint8_t n = 0;
      while (ReadSize(n) && n != 0) Skip(n);
    }
    FStream.SetPosition(FPosition);
  }

  bool EndSeen() const { return FEndSeen; }

private:
  void Warn(const char* message) {
    if (FWarning) FWarning(1, message);
  }
  bool ReadSize(uint8_t& n) {
    if (FPosition >= FEnd) return false;
    FStream.SetPosition(FPosition);
    if (FStream.Read(&n, 1) != 1) return false;
    ++FPosition;
    return true;
  }
  void Skip(int n) { FPosition = std::min<int64_t>(FPosition + n, FEnd); }

  // Loads the next sub-block; false when there is none.
  bool Refill() {
    uint8_t size = 0;
    if (!ReadSize(size)) {
      FExhausted = true;
      return false;
    }
    if (size == 0) {
      FZeroBlockSeen = FExhausted = true;
      return false;
    }
    int64_t n = size;
    if (n > FEnd - FPosition) {
      Warn(gifmsg::kPrematureEnd);
      n = FEnd - FPosition;
    }
    FBufferLength = static_cast<int>(FStream.Read(FBuffer, n));
    FPosition += FBufferLength;
    FBufferPos = 0;
    if (FBufferLength == 0) FExhausted = true;
    return FBufferLength > 0;
  }

  int ReadCode(int width) {
    // Sub-blocks may be as short as one byte, so refill until the code is whole.
    while (FBitCount < width) {
      if (FBufferPos < FBufferLength) {
        FBits |= static_cast<uint32_t>(FBuffer[FBufferPos++]) << FBitCount;
        FBitCount += 8;
        continue;
      }
      if (FExhausted || !Refill()) {
        if (FBitCount == 0) Warn(gifmsg::kBitBufferUnderrun);
        FBitCount = 0;
        return -1;
      }
    }
    const int code = static_cast<int>(FBits & ((1u << width) - 1));
    FBits >>= width;
    FBitCount -= width;
    return code;
  }

  TStream& FStream;
  const TGIFCodecWarning& FWarning;
  int FMinimum;
  int64_t FPosition;
  int64_t FEnd;
  uint8_t FBuffer[256];
  int FBufferLength = 0;
  int FBufferPos = 0;
  uint32_t FBits = 0;
  int FBitCount = 0;
  bool FExhausted = false;
  bool FZeroBlockSeen = false;
  bool FEndSeen = false;
  uint16_t FPrefix[4096] = {};
  uint8_t FSuffix[4096] = {};
  uint8_t FStack[8192];
};

}  // namespace

// ---- Header ----

void TGIFHeader::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t sig[6];
  ReadExact(stream, sig, 6, "the signature runs past the end");
  auto isGif = [&] { return std::toupper(sig[0]) == 'G' && std::toupper(sig[1]) == 'I' && std::toupper(sig[2]) == 'F'; };
  if (!isGif()) {
    // A stream may carry a 4-byte length in front of the GIF data.
    stream.SetPosition(start + 4);
    if (stream.Read(sig, 6) != 6 || !isGif()) throw GIFException(gifmsg::kInvalidSignature);
  }
  uint8_t screen[7];
  ReadExact(stream, screen, 7, "the screen descriptor runs past the end");
  ScreenBlock.LogicalWidth = ReadLE16(screen);
  ScreenBlock.LogicalHeight = ReadLE16(screen + 2);
  ScreenBlock.Flags = screen[4];
  ScreenBlock.BackgroundEntry = screen[5];
  ScreenBlock.PixelAspect = screen[6];
  if (ScreenBlock.Flags & 0x80) {
    GlobalMap().ReadEntries(stream, 2 << (ScreenBlock.Flags & 7));
    GlobalMap().SetSorted((ScreenBlock.Flags & 0x08) != 0);
  } else {
    GlobalMap().Reset();
  }
}

// ---- Frames ----

void TGIFImageList::LoadFromStream(TStream& stream, TGIFImage* owner) {
  uint8_t b = 0;
  if (!SkipZeroBytes(stream, b)) return;
  while (b != 0x3B) {
    stream.Seek(-1, soCurrent);
    if (b != 0x21 && b != 0x2C) {
      ReportWarning(1, gifmsg::kUnknownBlockType);
      stream.Seek(-1, soCurrent);
      return;
    }
    auto frame = std::make_unique<TGIFSubImage>(owner);
    frame->LoadFromStream(stream);
    AppendItem(std::move(frame));
    const int64_t size = stream.Size();
    owner->ReportProgress(owner, psRunning, size > 0 ? static_cast<int>(stream.Position() * 100 / size) : 0, false,
                          gifmsg::kLoading);
    if (!SkipZeroBytes(stream, b)) return;
  }
  stream.Seek(-1, soCurrent);
}

void TGIFExtensionList::LoadFromStream(TStream& stream, TGIFSubImage* owner) {
  uint8_t b = 0;
  if (!ReadByteValue(stream, b)) return;
  while (b != 0x2C && b != 0x3B) {
    if (b != 0x21) {
      ReportWarning(1, gifmsg::kInvalidIntroducer);
      break;
    }
    const TGIFExtensionKind kind = TGIFExtension::ClassForNextBlock(stream);
    stream.Seek(-1, soCurrent);
    if (kind == TGIFExtensionKind::None) {
      // Skipped with its sub-blocks, so the frames after it still load.
      ReportWarning(1, gifmsg::kUnknownExtension);
      stream.Seek(2, soCurrent);
      uint8_t n = 0;
      while (ReadByteValue(stream, n) && n != 0) stream.Seek(std::min<int64_t>(n, stream.Remaining()), soCurrent);
    } else {
      std::unique_ptr<TGIFExtension> ext = TGIFExtension::Create(kind, owner);
      ext->LoadFromStream(stream);
      AppendItem(std::move(ext));
    }
    if (!ReadByteValue(stream, b)) return;
  }
  stream.Seek(-1, soCurrent);
}

void TGIFSubImage::LoadFromStream(TStream& stream) {
  if (LoadBlocks(stream)) DecodePixels(stream);
}

bool TGIFSubImage::LoadBlocks(TStream& stream) {
  Reset();
  FExtensions->LoadFromStream(stream, this);
  uint8_t b = 0;
  if (!ReadByteValue(stream, b)) return false;
  stream.Seek(-1, soCurrent);
  if (b == 0x3B || b == 0) return false;
  uint8_t d[10];
  ReadExact(stream, d, 10, "an image descriptor runs past the end");
  ImageBlock.SeparatorByte = d[0];
  ImageBlock.ImageLeft = ReadLE16(d + 1);
  ImageBlock.ImageTop = ReadLE16(d + 3);
  ImageBlock.ImageWidth = ReadLE16(d + 5);
  ImageBlock.ImageHeight = ReadLE16(d + 7);
  ImageBlock.Flags = d[9];
  if (Width() == 0 || Height() == 0) {
    if (FImage) {
      ImageBlock.ImageWidth = static_cast<uint16_t>(FImage->Width());
      ImageBlock.ImageHeight = static_cast<uint16_t>(FImage->Height());
    }
    ReportWarning(1, gifmsg::kExceedsScreen);
  }
  if (ImageBlock.Flags & 0x80) {
    FLocalMap->ReadEntries(stream, 2 << (ImageBlock.Flags & 7));
    FLocalMap->SetSorted((ImageBlock.Flags & 0x20) != 0);
  }
  return true;
}

void TGIFSubImage::DecodePixels(TStream& stream) {
  AllocatePixels();
  if (FPixels.empty()) return;
  if (FIsTransparent) std::fill(FPixels.begin(), FPixels.end(), static_cast<uint8_t>(TransparentIndex()));
  const TGIFCodecWarning warn = [this](int severity, const std::string& message) { ReportWarning(severity, message); };
  if (DecodeGIFIndices(stream, Width(), Height(), FPixels.data(), IsInterlaced(), warn) == gdBadCodeSize) {
    ReportWarning(1, gifmsg::kBadCodeSize);
  }
}

// ---- The codec over an index buffer ----

TGIFDecodeResult DecodeGIFIndices(TStream& stream, int width, int height, uint8_t* indices, bool interlaced,
                                  const TGIFCodecWarning& warning) {
  uint8_t minimum = 0;
  if (!ReadByteValue(stream, minimum)) return gdNoCodeSize;
  // Sizes up to 11 leave the 4,096-entry table room for its clear and end
  // codes (encoders use them for pictures whose codes never reset); pixels
  // are bytes all the same.
  auto decoder = std::make_unique<TLZWDecoder>(stream, warning, std::min<int>(minimum, 11));
  TGIFDecodeResult result = gdBadCodeSize;
  if (minimum <= 11) {
    TPixelCursor out(indices, width, height, interlaced);
    decoder->Decode(out);
    result = gdDecoded;
  }
  decoder->SkipToTerminator();
  return result;
}

void EncodeGIFIndices(TStream& stream, int bits, int colorCount, const uint8_t* indices, int width, int height,
                      bool interlaced) {
  TLZWEncoder encoder;
  encoder.EncodeFrame(stream, bits, colorCount, indices, interlaced, height, width);
}

void SkipGIFImageData(TStream& stream) {
  uint8_t n = 0;
  if (!ReadByteValue(stream, n)) return;  // the code size
  while (ReadByteValue(stream, n) && n != 0) stream.Seek(std::min<int64_t>(n, stream.Remaining()), soCurrent);
}

// ---- One frame at a time ----

TGIFFrameReader::TGIFFrameReader(TStream& stream) : FStream(stream), FImage(std::make_unique<TGIFImage>()) {
  FImage->OnReportWarning = [this](TObject*, int severity, const std::string& message) {
    if (OnWarning) OnWarning(severity, message);
  };
  FFrame = std::make_unique<TGIFSubImage>(FImage.get());
}

TGIFFrameReader::~TGIFFrameReader() = default;

TGIFHeader& TGIFFrameReader::Header() { return FImage->Header(); }

void TGIFFrameReader::ReadHeader() { FImage->Header().LoadFromStream(FStream); }

bool TGIFFrameReader::NextFrame() {
  // A frame's blocks replace the last one's, so the reader holds one frame at most.
  FFrame = std::make_unique<TGIFSubImage>(FImage.get());
  uint8_t b = 0;
  if (!SkipZeroBytes(FStream, b)) return false;
  FStream.Seek(-1, soCurrent);
  if (b != 0x21 && b != 0x2C) {
    if (b != 0x3B) FFrame->ReportWarning(1, gifmsg::kUnknownBlockType);
    return false;
  }
  return FFrame->LoadBlocks(FStream);
}
