#pragma once
// The GIF codec as plain routines over a buffer of palette indices, and a
// reader that walks a GIF stream one frame at a time with the block readers of
// the picture. The picture's frames and the imaging library's GIF filter both
// decode and encode through these, so the two never disagree about a file.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/rtl/streams.h"

class TGIFImage;
class TGIFHeader;
class TGIFSubImage;

// Told of damage the codec reads past (severity 1 for all it reports today).
using TGIFCodecWarning = std::function<void(int severity, const std::string& message)>;

enum TGIFDecodeResult : uint8_t {
  gdDecoded,      // the codes were read (the data may have ended before the frame was full)
  gdNoCodeSize,   // the stream ended before the code size byte
  gdBadCodeSize,  // a minimum code size the table cannot take (above 8): nothing decoded
};

// Decodes the LZW data at the position (code size byte, data sub-blocks,
// terminator) into width x height indices, rows in display order. Pixels the
// codes never reach keep what the buffer held. The stream is left after the
// block terminator, also when nothing could be decoded. Raises GIFException
// on a table that points into itself.
TGIFDecodeResult DecodeGIFIndices(TStream& stream, int width, int height, uint8_t* indices, bool interlaced,
                                  const TGIFCodecWarning& warning);

// Writes the code size byte (bits, at least 2), the LZW data of the indices in
// sub-blocks and the terminator. Every index must be below colorCount; one
// that is not raises "Color not in color table".
void EncodeGIFIndices(TStream& stream, int bits, int colorCount, const uint8_t* indices, int width, int height,
                      bool interlaced);

// Passes over the code size byte and the data sub-blocks up to the terminator
// (or the end of the stream) without decoding them.
void SkipGIFImageData(TStream& stream);

// Reads a GIF stream block by block: the header, then for each frame its
// extensions, image descriptor and local colour table, leaving the frame's
// pixel data at the stream position for the caller to decode or skip. Block
// errors raise GIFException as the picture's reader does; warnings go to
// OnWarning.
class TGIFFrameReader {
public:
  explicit TGIFFrameReader(TStream& stream);
  ~TGIFFrameReader();
  TGIFFrameReader(const TGIFFrameReader&) = delete;
  TGIFFrameReader& operator=(const TGIFFrameReader&) = delete;

  void ReadHeader();
  // Reads the blocks of the next frame up to its pixel data. False at the
  // trailer, at the end of the stream or at a byte that starts no block; the
  // extensions read before that are still in Frame().
  bool NextFrame();
  void SkipPixels() { SkipGIFImageData(FStream); }

  TGIFHeader& Header();
  // The frame NextFrame read last; its pixels are not allocated.
  TGIFSubImage& Frame() { return *FFrame; }
  TGIFImage& Image() { return *FImage; }
  TGIFCodecWarning OnWarning;

private:
  TStream& FStream;
  std::unique_ptr<TGIFImage> FImage;
  std::unique_ptr<TGIFSubImage> FFrame;
};
