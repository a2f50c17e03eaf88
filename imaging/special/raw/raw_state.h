#pragma once
// The per-call state of the camera raw decoder and the reading helpers every
// stage shares. One state lives on the heap for one read or one probe; nothing
// survives the call, so two decodes can run at the same time.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "imaging/io/io_types.h"
#include "platform/rtl/exceptions.h"

class TStream;
struct TRawDecoderState;

using TRawLoader = void (*)(TRawDecoderState& s);

// The decoder's two exceptions that reach the reader's caller.
class ERawDecoderError : public Exception {
public:
  using Exception::Exception;
};
[[noreturn]] void RawOutOfMemory(const char* routine);
[[noreturn]] void RawTableOverflow();

// A working buffer of a stage; a failed allocation raises the decoder's
// out-of-memory error naming the routine.
template <class T>
std::vector<T> RawBuffer(size_t n, const char* routine) {
  try {
    return std::vector<T>(n);
  } catch (const std::bad_alloc&) {
    RawOutOfMemory(routine);
  }
}

// A file the decoder cannot go on with; the reader refuses it with the reason
// (never seen by the caller as an exception).
struct ERawRefused {
  const char* Reason;
};
[[noreturn]] inline void RawRefuse(const char* reason) { throw ERawRefused{reason}; }

// Reads through a buffered stream, remembering whether any read ran past the
// data: the loaders' callers refuse a picture whose samples were cut short
// instead of decoding zeros.
class TRawInput {
public:
  explicit TRawInput(TStream& stream);
  ~TRawInput();
  TRawInput(const TRawInput&) = delete;
  TRawInput& operator=(const TRawInput&) = delete;

  int64_t Size() const { return FSize; }
  int64_t Tell() const { return FPos; }
  void Seek(int64_t pos) { FPos = pos < 0 ? 0 : pos; }
  void Skip(int64_t n) { Seek(FPos + n); }
  // The next byte, or -1 past the end (which marks the read short).
  int Get() {
    const int c = GetQuiet();
    if (c < 0) FShort = true;
    return c;
  }
  // The same without marking: the bit reader reads ahead of what it uses.
  int GetQuiet() {
    const int64_t at = FPos - FBufStart;
    if (at >= 0 && at < FBufLength) {
      ++FPos;
      return FBuf[size_t(at)];
    }
    return GetSlow();
  }
  // Reads n bytes; missing ones are zero. Returns how many were there.
  int64_t Read(void* buffer, int64_t n);
  bool Short() const { return FShort; }
  void ClearShort() { FShort = false; }
  void MarkShort() { FShort = true; }

private:
  int GetSlow();
  bool Fill();  // the buffer from FPos; false at the end
  TStream& FSource;
  int64_t FOrigin = 0;  // where the file starts in the source
  int64_t FSize = 0;
  int64_t FPos = 0;
  std::vector<uint8_t> FBuf;
  int64_t FBufStart = 0, FBufLength = 0;
  bool FShort = false;
};

// The cells of the picture: four 16-bit channels each, allocated zeroed by
// the system (large blocks come as fresh zero pages, not cleared again).
class TRawImage {
public:
  void assign(size_t count, uint16_t) {
    clear();
    if (count == 0) return;
    FData = static_cast<uint16_t*>(std::calloc(count, sizeof(uint16_t)));
    if (FData == nullptr) throw std::bad_alloc();
    FCount = count;
  }
  void clear() {
    std::free(FData);
    FData = nullptr;
    FCount = 0;
  }
  void shrink_to_fit() {}
  size_t size() const { return FCount; }
  uint16_t* data() { return FData; }
  uint16_t& operator[](size_t i) { return FData[i]; }
  TRawImage() = default;
  TRawImage(const TRawImage&) = delete;
  TRawImage& operator=(const TRawImage&) = delete;
  ~TRawImage() { clear(); }

private:
  uint16_t* FData = nullptr;
  size_t FCount = 0;
};

struct TRawHuffNode {
  int32_t Branch[2];
  int32_t Leaf;
};

struct TRawDecoderState {
  explicit TRawDecoderState(TStream& stream) : In(stream) {}

  TRawImage Image;  // IHeight x IWidth cells of four channels
  TRawInput In;
  uint16_t Order = 0x4949;
  char Make[64] = {};
  char Model[64] = {};
  char Model2[64] = {};
  int64_t DataOffset = 0;
  int64_t CurveOffset = 0;
  int32_t CurveLength = 0;
  uint32_t Compression = 0;
  int32_t KodakCompression = 0;
  int64_t RawHeight = 0, RawWidth = 0;
  int64_t TopMargin = 0, LeftMargin = 0;
  int64_t Height = 0, Width = 0;
  int32_t Colors = 3;
  int32_t Black = 0;
  int32_t Maximum = 0x4000;
  int64_t IHeight = 0, IWidth = 0;
  int32_t Shrink = 0;
  bool IsCanon = false;
  bool UseCMY = false;
  bool IsFoveon = false;
  bool UseColourMatrix = false;
  int32_t Trim = 0;
  int32_t YMag = 1;
  bool ZeroAfterFF = false;
  uint32_t Filters = 0;
  uint16_t WhiteSample[8][8] = {};
  TRawLoader Loader = nullptr;
  float Gamma = 0.6f, Bright = 1.0f, RedScale = 1.0f, BlueScale = 1.0f;
  bool FourColour = false;
  int32_t DocumentMode = 0;
  bool QuickInterpolate = false;
  bool UseAutoWB = false, UseCameraWB = false;
  int32_t UseSecondary = 0;
  float CameraRed = 0, CameraBlue = 0;
  float PreMul[4] = {1, 1, 1, 1};
  float Coeff[3][4] = {};
  uint32_t Histogram[8192] = {};
  uint32_t BitBuf = 0;
  int32_t VBits = 0;
  int32_t PadBits = 0;  // zero bits the bit reader added past the end of the data
  TRawHuffNode Huff[2048] = {};
  int32_t FreeNode = 0, LeafCount = 0, SecondTree = 0;
  bool Straighten = false;
  TProgressRecord* Progress = nullptr;
  double ProgressStep = 0;
  // The file's head as identification read it (offsets 0 to 31).
  uint8_t Head[32] = {};
  // Hostile structures: directories seen by the TIFF walk, CIFF nesting.
  std::vector<int64_t> VisitedIFDs;
  int CiffDepth = 0;
  // Tables a test installs to exercise the loaders whose constants are not
  // built in; empty otherwise.
  const uint8_t* CrwSources[2] = {nullptr, nullptr};

  // ---- cell access ----
  uint16_t* Cell(int64_t row, int64_t col) { return &Image[size_t((row * IWidth + col) * 4)]; }
  int FC(int64_t row, int64_t col) const { return int(Filters >> ((((row << 1) & 14) + (col & 1)) << 1) & 3); }
  // Stores a sample of photosite (row, col) where the pattern puts it.
  void Bayer(int64_t row, int64_t col, uint16_t v) {
    Cell(row >> Shrink, col >> Shrink)[FC(row, col)] = v;
  }
  void ReportRow(int64_t row) {
    if (Progress != nullptr) Progress->Report(int(row * ProgressStep + 0.5));
  }
};

// ---- byte-order reads of the state's stream ----
uint16_t RawGet2(TRawDecoderState& s);
uint32_t RawGet4(TRawDecoderState& s);
uint16_t RawSGet2(const TRawDecoderState& s, const uint8_t* p);
uint32_t RawSGet4(const TRawDecoderState& s, const uint8_t* p);
// Reads n bytes as a text of a 64-byte field, always terminated.
void RawReadText(TRawDecoderState& s, char* field, int n);
bool RawStartsWith(const char* text, const char* prefix);
bool RawSameNoCase(const char* a, const char* b);

// ---- bit reader and Huffman trees ----
uint32_t ReadBits(TRawDecoderState& s, int n);
void ResetHuffmanTable(TRawDecoderState& s);
// Builds a tree from 16 counts and the symbols that follow (at most
// sourceSize bytes); returns the number of bytes consumed.
int BuildHuffmanTree(TRawDecoderState& s, const uint8_t* source, int sourceSize, int depth);
int DecodeHuffman(TRawDecoderState& s, int start);
// A field of n bits by the difference sign rule.
int32_t SignedDiff(uint32_t d, int n);

// ---- identification (raw_identify.cpp) ----
// 0 accepted (the stream stands at the data offset), 1 refused.
int IdentifyCamera(TRawDecoderState& s);

// ---- container parsers (raw_parsers.cpp) ----
void ReadTIFFHeader(TRawDecoderState& s, int64_t base);
void ReadCIFFHeap(TRawDecoderState& s, int64_t offset, int64_t length);
void ReadRolleiHeader(TRawDecoderState& s);
void ParseFoveon(TRawDecoderState& s);
void ReadCRWWhiteSample(TRawDecoderState& s);

// ---- loaders and their tests (raw_loaders.cpp) ----
const char* RawLoaderName(TRawLoader loader);
// Least bytes of data a loader needs per picture photosite, times 16.
int RawLoaderBytesPer16(TRawLoader loader);
bool CrwHasLowBits(TRawDecoderState& s);
bool NikonDataIsCompressed(TRawDecoderState& s);
bool E990HistogramTest(TRawDecoderState& s);
bool E2100PatternTest(TRawDecoderState& s);
bool DimageZ2TailTest(TRawDecoderState& s);
void InitCRWHuffmanTrees(TRawDecoderState& s, uint32_t table);

void canon_compressed_load_raw(TRawDecoderState& s);
void jpeg_lossless_load_raw(TRawDecoderState& s);
void nikon_compressed_load_raw(TRawDecoderState& s);
void nikon_packed_load_raw(TRawDecoderState& s);
void kodak_dcr_compressed_load_raw(TRawDecoderState& s);
void kodak_dcr_yuv_load_raw(TRawDecoderState& s);
void kodak_easy_load_raw(TRawDecoderState& s);
void dc40_dc50_load_raw(TRawDecoderState& s);
void dc120_load_raw(TRawDecoderState& s);
void foveon_x3_load_raw(TRawDecoderState& s);
void sony_f828_load_raw(TRawDecoderState& s);
void phase_one_load_raw(TRawDecoderState& s);
void finepix_s5000_load_raw(TRawDecoderState& s);
void finepix_s7000_load_raw(TRawDecoderState& s);
void finepix_s2pro_load_raw(TRawDecoderState& s);
void finepix_f700_load_raw(TRawDecoderState& s);
void powershot_600_load_raw(TRawDecoderState& s);
void powershot_a5_load_raw(TRawDecoderState& s);
void coolpix_e2100_load_raw(TRawDecoderState& s);
void coolpix_e950_load_raw(TRawDecoderState& s);
void rollei_d530_load_raw(TRawDecoderState& s);
void ixpress_load_raw(TRawDecoderState& s);
void packed_12bit_load_raw(TRawDecoderState& s);
void unpacked_be_load_raw(TRawDecoderState& s);
void unpacked_be_shr2_load_raw(TRawDecoderState& s);
void unpacked_be_shl2_load_raw(TRawDecoderState& s);
void unpacked_be_shl4_load_raw(TRawDecoderState& s);
void unpacked_le_shr2_load_raw(TRawDecoderState& s);
void olympus_c_series_load_raw(TRawDecoderState& s);
void eight_bit_load_raw(TRawDecoderState& s);
void qv5700_load_raw(TRawDecoderState& s);
void nucore_load_raw(TRawDecoderState& s);

// The descrambler of the F828 (exposed for its table test).
struct TSonyPad {
  uint32_t Pad[128];
  unsigned Cursor;
};
void SonyDescramble(TSonyPad& pad, uint32_t* data, int count, uint32_t key, bool start);

// ---- colour (raw_colour.cpp) ----
void e950_colour_matrix(TRawDecoderState& s);
void sony_f828_colour_matrix(TRawDecoderState& s);
void dc20_colour_matrix(TRawDecoderState& s, float weight);
void foveon_colour_matrix(TRawDecoderState& s);
void cmyg_colour_matrix(TRawDecoderState& s);
void white_balance_scale(TRawDecoderState& s);
void vng_interpolate(TRawDecoderState& s);
void foveon_interpolate(TRawDecoderState& s);
void convert_to_output_rgb(TRawDecoderState& s);
