#pragma once
// Palettes for library bitmaps: the bitmap's own palette, a grey ramp, the
// exact colours of a picture that has few enough, or a reduced palette from
// variance-based box splitting or a self-organising network (NeuQuant).
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_types.h"

class TBitmap;

// The palette quantiser's library-wide settings; the input and output
// framework's start-up sets both to -1 again.
// QuantizerMethod: -1 automatic (box splitting below 128 colours, else the
// network), 0 the network, 1 box splitting; any other value means the network.
extern int32_t QuantizerMethod;
// QuantizerQuality: -1 automatic (the network's sampling factor follows the
// pixel count), else 0..100.
extern int32_t QuantizerQuality;

// ---- the exact palette ----
// The colours of an ie24RGB bitmap in order of first appearance (rows from the
// top, left to right) when there are at most n, also copied into palette;
// empty (and palette untouched) when there are more or the format differs.
std::vector<TRGB> GetExactPalette(TIEBitmap& bitmap, int n, TRGB* palette);
// Index of the colour among the first n entries, -1 when absent.
int FindColorInPalette(const TRGB* palette, int n, TRGB color);

// ---- box splitting on a 5-bit-per-channel histogram ----
struct TIEBoxQuantizer;
struct TIEBoxQuantizerDeleter {
  void operator()(TIEBoxQuantizer* state) const;
};
using TIEBoxQuantizerPtr = std::unique_ptr<TIEBoxQuantizer, TIEBoxQuantizerDeleter>;
// At most min(n, 256) boxes; palette gets one entry per box made (multiples
// of 8), the rest of its n entries are left alone. A framework bitmap that is
// not 24-bit is seen as an empty picture (one box, every index 0).
TIEBoxQuantizerPtr CreateBoxQuantizer(TIEBitmap& bitmap, TRGB* palette, int n);
TIEBoxQuantizerPtr CreateBoxQuantizer(TBitmap& bitmap, TRGB* palette, int n);
int BoxQuantizerIndex(const TIEBoxQuantizer& state, TRGB color);
int BoxQuantizerColorCount(const TIEBoxQuantizer& state);

// ---- the network (NeuQuant) ----
struct TIENeuralQuantizer;
struct TIENeuralQuantizerDeleter {
  void operator()(TIENeuralQuantizer* state) const;
};
using TIENeuralQuantizerPtr = std::unique_ptr<TIENeuralQuantizer, TIENeuralQuantizerDeleter>;
// Trains n neurons on an ie24RGB bitmap and writes them to palette[0..n-1].
// quality -1 picks the sampling factor from the pixel count.
TIENeuralQuantizerPtr CreateNeuralQuantizer(TIEBitmap& bitmap, TRGB* palette, int quality, int n);
int NeuralQuantizerIndex(const TIENeuralQuantizer& state, TRGB color);
// Sampling factor 1..30 for a picture of that many pixels.
int AutoSamplingFactor(int64_t pixels);

// Builds a palette of at most n colours for a bitmap and maps colours to it.
// palette receives n entries (those no colour was found for are black). The
// bitmap must outlive the quantiser.
class TIEQuantizer : public TObject {
public:
  TIEQuantizer(TIEBitmap& bitmap, int n, TRGB* palette);
  // The form whose third argument some callers pass and nothing reads.
  TIEQuantizer(TIEBitmap& bitmap, int n, int /*unused*/, TRGB* palette) : TIEQuantizer(bitmap, n, palette) {}
  ~TIEQuantizer() override;
  // The palette index of a colour; a colour the palette lacks gets its nearest entry.
  int GetIndex(TRGB color);
  // The bitmap counted as grey (every pixel or palette entry, or a grey format).
  bool IsGray() const { return FGray; }
  // 0 network, 1 box splitting, -1 neither was needed.
  int Method() const { return FMethod; }

private:
  int CachedNetworkIndex(TRGB color);

  TIEBitmap& FBitmap;
  int FColorCount = 0;
  int FMethod = -1;
  bool FGray = false;
  bool FOwnPalette = false;  // an ie8p bitmap handed out its own palette
  std::vector<TRGB> FExact;
  std::unordered_map<uint32_t, int> FExactIndex;
  TIEBoxQuantizerPtr FBox;
  TIENeuralQuantizerPtr FNetwork;
  std::vector<TRGB> FPalette;  // what was handed out, for nearest answers
  std::vector<uint64_t> FMemo;  // colour + 1 << 32 | index, direct-mapped
  int FMemoShift = 0;
};

// One row between bit depths for a writer: 24 -> 4 and 24 -> 8 through the
// quantiser, 32 -> 24, 8 -> 1, 1 -> 4, 1 -> 8, 4 -> 8, and 1, 4, 8 -> 24
// through the palette, a depth to itself copied. Returns the destination row's
// length in bytes (0 for a pair it does not convert, which writes nothing).
int ConvertRowBitDepth(const uint8_t* source, uint8_t* destination, int sourceBits, TIEQuantizer* quantizer,
                       const TRGB* palette, int width, int destinationBits);
