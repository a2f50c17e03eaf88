#include "imaging/special/wic/wic_codec.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/tiff/tiff_reader.h"
#include "imaging/io/data_bound.h"
#include "imaging/io/io_params.h"
#include "imaging/io/tiff_ifd.h"
#include "imaging/special/wic/jxr_glue.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/win/ole.h"

namespace {

constexpr int kHDPhotoType = 29;

// Tags of the HD Photo container's directory.
constexpr int kTagPixelFormat = 0xBC01;
constexpr int kTagOrientation = 0xBC02;
constexpr int kTagWidth = 0xBC80;
constexpr int kTagHeight = 0xBC81;
constexpr int kTagResolutionX = 0xBC82;
constexpr int kTagResolutionY = 0xBC83;
constexpr int kTagImageOffset = 0xBCC0;
constexpr int kTagImageBytes = 0xBCC1;
constexpr int kTagAlphaOffset = 0xBCC2;
constexpr int kTagAlphaBytes = 0xBCC3;

// The largest picture we decode, and the most pixels a byte of coded data can
// stand for (a macroblock of a flat picture at the coarsest step still costs
// a few bits of each band).
constexpr int64_t kHDPhotoPixelLimit = int64_t(1) << 28;
constexpr TDataRatio kRatioHDPhoto{4096, 1};

// Where the parts of one HD Photo file lie, relative to its start.
struct THDPhotoLayout {
  int64_t Width = 0, Height = 0;
  std::vector<uint8_t> PixelFormat;  // 16 bytes
  float ResolutionX = 0, ResolutionY = 0;  // 0: not given
  int64_t Orientation = -1;            // -1: not given
  int64_t ImageOffset = 0, ImageBytes = 0;
  int64_t AlphaOffset = 0, AlphaBytes = 0;
};

bool LiesInside(int64_t offset, int64_t count, int64_t size) {
  return offset >= 0 && count >= 0 && offset <= size && count <= size - offset;
}

uint32_t Bits(const uint8_t* p, int bit, int count) {
  uint32_t v = 0;
  for (int i = 0; i < count; ++i, ++bit) v = (v << 1) | ((p[bit >> 3] >> (7 - (bit & 7))) & 1u);
  return v;
}

// The codec's own image header at the start of the image data: its signature,
// the size it codes (which must be the directory's), a colour format and bit
// depth the format defines, and tiles and margins that fit the macroblocks.
// The codec divides by tile sizes and trusts these fields.
bool CheckImageHeader(const uint8_t* p, int64_t n, const THDPhotoLayout& l, const char*& why) {
  if (n < 16 || std::memcmp(p, "WMPHOTO\0", 8) != 0) {
    why = "no HD Photo image header";
    return false;
  }
  const uint8_t* h = p + 8;
  const int64_t bits = (n - 8) * 8;
  const bool tiling = Bits(h, 8, 1) != 0;
  const bool shortHeader = Bits(h, 16, 1) != 0;
  const bool windowing = Bits(h, 18, 1) != 0;
  const uint32_t colour = Bits(h, 24, 4), depth = Bits(h, 28, 4);
  if (colour > 8 || depth == 5 || (depth >= 11 && depth <= 14)) {
    why = "a colour format or bit depth the format does not define";
    return false;
  }
  // The layouts we know must be coded as their pixel format says; the codec
  // asserts when they are not.
  static const uint8_t kPrefix[15] = {0x24, 0xC3, 0xDD, 0x6F, 0x03, 0x4E, 0xFE, 0x4B,
                                      0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9};
  struct TCoding {
    uint8_t Last;
    uint32_t Colour, Depth, OtherDepth;
  };
  static const TCoding kCodings[] = {{0x05, 0, 0, 15}, {0x08, 0, 1, 1}, {0x0B, 0, 2, 2}, {0x0C, 7, 1, 1},
                                     {0x0D, 7, 1, 1},  {0x15, 7, 2, 2}, {0x1C, 4, 1, 1}};
  if (l.PixelFormat.size() == 16 && std::memcmp(l.PixelFormat.data(), kPrefix, 15) == 0)
    for (const TCoding& c : kCodings)
      if (c.Last == l.PixelFormat[15] && (colour != c.Colour || (depth != c.Depth && depth != c.OtherDepth))) {
        why = "image data coded otherwise than its pixel format";
        return false;
      }
  const int sizeBits = shortHeader ? 16 : 32;
  int at = 32 + 2 * sizeBits;
  auto fits = [&](int more) { return int64_t(at) + more <= bits; };
  if (!fits(0)) {
    why = "a cut image header";
    return false;
  }
  const int64_t w = int64_t(Bits(h, 32, sizeBits)) + 1, ht = int64_t(Bits(h, 32 + sizeBits, sizeBits)) + 1;
  if (w != l.Width || ht != l.Height) {
    why = "the image header and the directory give different sizes";
    return false;
  }
  const int64_t mbColumns = (w + 15) / 16, mbRows = (ht + 15) / 16;
  if (tiling) {
    if (!fits(24)) {
      why = "a cut image header";
      return false;
    }
    const int64_t columns = int64_t(Bits(h, at, 12)) + 1, rows = int64_t(Bits(h, at + 12, 12)) + 1;
    at += 24;
    if (columns > mbColumns || rows > mbRows) {
      why = "more tiles than macroblocks";
      return false;
    }
    const int sizeOfTile = shortHeader ? 8 : 16;
    for (const auto& [count, limit] : {std::pair{columns, mbColumns}, std::pair{rows, mbRows}}) {
      int64_t sum = 0;
      for (int64_t i = 0; i + 1 < count; ++i) {
        if (!fits(sizeOfTile)) {
          why = "a cut image header";
          return false;
        }
        const int64_t t = Bits(h, at, sizeOfTile);
        at += sizeOfTile;
        sum += t;
        if (t == 0 || sum >= limit) {
          why = "tiles that do not fit the macroblocks";
          return false;
        }
      }
    }
  }
  if (windowing) {
    if (!fits(24)) {
      why = "a cut image header";
      return false;
    }
    const int64_t top = Bits(h, at, 6), left = Bits(h, at + 6, 6), bottom = Bits(h, at + 12, 6),
                  right = Bits(h, at + 18, 6);
    if (top + bottom >= 16 * mbRows || left + right >= 16 * mbColumns) {
      why = "margins larger than the picture";
      return false;
    }
  }
  return true;
}

// Checks the container before the codec sees a byte of it: header, directory
// inside the data, a size within bounds and image and alpha data inside the
// file. The stream is at the container's start; size is what it holds from
// there.
bool ParseHDPhotoContainer(TStream& s, int64_t size, THDPhotoLayout& l, const char*& why) {
  const int64_t start = s.Position();
  uint8_t head[8];
  TIFFHeader header;
  if (size < 8 || s.Read(head, 8) != 8 || !ParseTIFFHeader(head, header) || !header.LittleEndian || head[2] != 0xBC) {
    why = "no HD Photo signature";
    return false;
  }
  TIFFDirectoryContext dir;
  dir.Stream = &s;
  dir.Base = start;
  dir.LittleEndian = true;
  uint32_t next = 0;
  if (header.FirstOffset < 8 || !ReadTIFFEntries(s, start, header.FirstOffset, true, dir.Entries, next)) {
    why = "the directory lies past the end";
    return false;
  }
  l.Width = GetTIFFTagInteger(dir, kTagWidth, 0);
  l.Height = GetTIFFTagInteger(dir, kTagHeight, 0);
  l.ImageOffset = GetTIFFTagInteger(dir, kTagImageOffset, -1);
  l.ImageBytes = GetTIFFTagInteger(dir, kTagImageBytes, -1);
  l.AlphaOffset = GetTIFFTagInteger(dir, kTagAlphaOffset, 0);
  l.AlphaBytes = GetTIFFTagInteger(dir, kTagAlphaBytes, 0);
  l.PixelFormat = ReadTIFFTagBlock(dir, kTagPixelFormat);
  if (l.PixelFormat.size() != 16) {
    why = "no pixel format";
    return false;
  }
  for (const auto& [tag, res] : {std::pair{kTagResolutionX, &l.ResolutionX}, std::pair{kTagResolutionY, &l.ResolutionY}}) {
    const std::vector<uint8_t> v = ReadTIFFTagBlock(dir, tag);
    if (v.size() == 4) {
      float f;
      std::memcpy(&f, v.data(), 4);
      if (std::isfinite(f) && f > 0 && f < 1e6f) *res = f;
    }
  }
  if (FindTIFFTag(kTagOrientation, dir) >= 0) {
    l.Orientation = GetTIFFTagInteger(dir, kTagOrientation, -1);
    if (l.Orientation < 0 || l.Orientation > 7) {
      why = "an orientation outside the eight";
      return false;
    }
  }
  if (l.Width <= 0 || l.Height <= 0) {
    why = "no picture size";
    return false;
  }
  if (l.Width * l.Height > kHDPhotoPixelLimit) {
    why = "a picture too large to decode";
    return false;
  }
  if (l.ImageOffset < 8 || l.ImageBytes <= 0 || !LiesInside(l.ImageOffset, l.ImageBytes, size)) {
    why = "the image data lies past the end";
    return false;
  }
  const bool alpha = l.AlphaOffset != 0 || l.AlphaBytes != 0;
  if (alpha && !LiesInside(l.AlphaOffset, l.AlphaBytes, size)) {
    why = "the alpha data lies past the end";
    return false;
  }
  if (!DataCanDecodeTo(l.Width * l.Height, l.ImageBytes, kRatioHDPhoto)) {
    why = kRefusedUnfilled;
    return false;
  }
  // The header with its tile table: at most 4,096 tiles a way at 16 bits.
  std::vector<uint8_t> imageHead(size_t(std::min<int64_t>(l.ImageBytes, 16 + 2 * 4096 * 2 + 16)));
  s.SetPosition(start + l.ImageOffset);
  if (s.Read(imageHead.data(), int64_t(imageHead.size())) != int64_t(imageHead.size())) {
    why = "the image data lies past the end";
    return false;
  }
  return CheckImageHeader(imageHead.data(), int64_t(imageHead.size()), l, why);
}

TIEWICPixelFormat WICFormatOf(jxr::TJxrPixel p) {
  switch (p) {
    case jxr::jpBlackWhite: return iewpfBlackWhite;
    case jxr::jpGray8: return iewpf8bppGray;
    case jxr::jpGray16: return iewpf16bppGray;
    case jxr::jpBGR24:
    case jxr::jpRGB24: return iewpf24bppBGR;
    case jxr::jpRGB48: return iewpf48bppRGB;
    case jxr::jpCMYK32: return iewpf32bppCMYK;
    default: return iewpfOther;
  }
}

int BitsOf(TIEWICPixelFormat f) {
  switch (f) {
    case iewpf1bppIndexed:
    case iewpfBlackWhite: return 1;
    case iewpf8bppIndexed:
    case iewpf8bppGray: return 8;
    case iewpf16bppGray: return 16;
    case iewpf48bppRGB: return 48;
    case iewpf32bppCMYK: return 32;
    default: return 24;
  }
}

}  // namespace

// ---- the decoder and encoder of the factory ----

namespace {

void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// A minimal container: header, one directory of the checked values, the pixel
// format, then the image (and alpha) data read from the file. Empty when the
// data cannot be read.
std::vector<uint8_t> RebuildContainer(TStream& s, int64_t start, const THDPhotoLayout& l) {
  struct TEntry {
    uint16_t Tag, Type;
    uint32_t Count, Value;
  };
  const bool alpha = l.AlphaBytes > 0;
  const bool resolution = l.ResolutionX > 0 && l.ResolutionY > 0;
  std::vector<TEntry> entries;
  entries.push_back({uint16_t(kTagPixelFormat), ttBYTE, 16, 0});
  if (l.Orientation >= 0) entries.push_back({uint16_t(kTagOrientation), ttLONG, 1, uint32_t(l.Orientation)});
  entries.push_back({uint16_t(kTagWidth), ttLONG, 1, uint32_t(l.Width)});
  entries.push_back({uint16_t(kTagHeight), ttLONG, 1, uint32_t(l.Height)});
  if (resolution) {
    uint32_t x, y;
    std::memcpy(&x, &l.ResolutionX, 4);
    std::memcpy(&y, &l.ResolutionY, 4);
    entries.push_back({uint16_t(kTagResolutionX), ttFLOAT, 1, x});
    entries.push_back({uint16_t(kTagResolutionY), ttFLOAT, 1, y});
  }
  const uint32_t formatAt = 8 + 2 + 12 * uint32_t(entries.size() + (alpha ? 4 : 2)) + 4;
  const uint32_t imageAt = formatAt + 16;
  const uint32_t alphaAt = imageAt + uint32_t(l.ImageBytes);
  entries[0].Value = formatAt;
  entries.push_back({uint16_t(kTagImageOffset), ttLONG, 1, imageAt});
  entries.push_back({uint16_t(kTagImageBytes), ttLONG, 1, uint32_t(l.ImageBytes)});
  if (alpha) {
    entries.push_back({uint16_t(kTagAlphaOffset), ttLONG, 1, alphaAt});
    entries.push_back({uint16_t(kTagAlphaBytes), ttLONG, 1, uint32_t(l.AlphaBytes)});
  }
  std::vector<uint8_t> b = {'I', 'I', 0xBC, 0x01};
  b.reserve(size_t(alphaAt) + size_t(l.AlphaBytes));
  Put32(b, 8);
  Put16(b, uint16_t(entries.size()));
  for (const TEntry& e : entries) {
    Put16(b, e.Tag);
    Put16(b, e.Type);
    Put32(b, e.Count);
    Put32(b, e.Value);
  }
  Put32(b, 0);
  b.insert(b.end(), l.PixelFormat.begin(), l.PixelFormat.end());
  auto append = [&](int64_t offset, int64_t count) {
    const size_t at = b.size();
    b.resize(at + size_t(count));
    s.SetPosition(start + offset);
    return s.Read(b.data() + at, count) == count;
  };
  if (!append(l.ImageOffset, l.ImageBytes) || (alpha && !append(l.AlphaOffset, l.AlphaBytes))) return {};
  return b;
}

}  // namespace

class TIEWICDecoder {
public:
  bool Open(TStream& stream, const char*& why) {
    const int64_t start = stream.Position();
    if (!ParseHDPhotoContainer(stream, stream.Remaining(), FLayout, why)) return false;
    // The codec gets a container of our making around the checked parts, so
    // no tag of the file reaches its own container parser.
    try {
      FBytes = RebuildContainer(stream, start, FLayout);
    } catch (const std::bad_alloc&) {
      why = "no memory for the file";
      return false;
    }
    if (FBytes.empty()) {
      why = "the file ends early";
      return false;
    }
    if (!FCodec.Open(FBytes.data(), FBytes.size(), why)) return false;
    if (int64_t(FCodec.Width()) != FLayout.Width || int64_t(FCodec.Height()) != FLayout.Height) {
      why = "the codec reads a different size";
      return false;
    }
    return true;
  }
  uint32_t FrameCount() const { return FCodec.FrameCount(); }
  bool SelectFrame(uint32_t index) { return FCodec.SelectFrame(index); }
  int Width() const { return FCodec.Width(); }
  int Height() const { return FCodec.Height(); }
  double ResolutionX() const { return FCodec.ResolutionX(); }
  double ResolutionY() const { return FCodec.ResolutionY(); }
  TIEWICPixelFormat PixelFormat() const { return WICFormatOf(FCodec.Pixel()); }

  // The frame as a bitmap source: its own layout where we know it (red and
  // blue put in our order), else 24-bit colour through the codec's converter.
  bool CopySource(TIEWICBitmapSource& out, const char*& why) {
    const jxr::TJxrPixel pixel = FCodec.Pixel();
    out.PixelFormat = WICFormatOf(pixel);
    out.Width = Width();
    out.Height = Height();
    out.Stride = (size_t(out.Width) * size_t(BitsOf(out.PixelFormat)) + 7) / 8;
    try {
      out.Pixels.resize(out.Stride * size_t(out.Height));
    } catch (const std::bad_alloc&) {
      why = "no memory for the frame";
      return false;
    }
    if (out.PixelFormat == iewpfOther) {
      out.PixelFormat = iewpf24bppBGR;
      return FCodec.CopyBGR24(out.Pixels.data(), out.Stride, why);
    }
    if (!FCodec.CopyNative(out.Pixels.data(), out.Stride, why)) return false;
    if (pixel == jxr::jpRGB24)
      for (int y = 0; y < out.Height; ++y) {
        uint8_t* p = out.Pixels.data() + size_t(y) * out.Stride;
        for (int x = 0; x < out.Width; ++x, p += 3) std::swap(p[0], p[2]);
      }
    return true;
  }

private:
  std::vector<uint8_t> FBytes;
  THDPhotoLayout FLayout;
  jxr::TJxrDecoder FCodec;
};

class TIEWICEncoder {
public:
  std::vector<uint8_t> Coded;
};

std::unique_ptr<TIEWICDecoder> TIEWICImagingFactory::CreateDecoderFromStream(TStream& stream, int fileType,
                                                                            const char*& why) {
  if (fileType != kHDPhotoType) {
    why = "no decoder for the file type";
    return nullptr;
  }
  auto d = std::make_unique<TIEWICDecoder>();
  if (!d->Open(stream, why)) return nullptr;
  return d;
}

std::unique_ptr<TIEWICEncoder> TIEWICImagingFactory::CreateEncoder(int fileType) {
  if (fileType != kHDPhotoType) return nullptr;
  return std::make_unique<TIEWICEncoder>();
}

// ---- availability ----

namespace {
std::once_flag gWICTested;
bool gWICAnswer = false;
std::atomic<int> gWICProbes{0};
}  // namespace

bool IsWICAvailable() {
  std::call_once(gWICTested, [] {
    const bool ownOle = SUCCEEDED(OleInitialize(nullptr));
    ++gWICProbes;
    // The factory exists when the codec library can make its coder objects.
    gWICAnswer = jxr::CodecPresent();
    if (ownOle) OleUninitialize();
  });
  return gWICAnswer;
}

int WICAvailabilityProbes() { return gWICProbes.load(); }

// ---- options ----

void SetWICEncoderOption(TIEWICPropertyBag& bag, const std::string& name, double value, uint16_t variantType) {
  double v = value;
  switch (variantType) {
    case VT_R4: v = double(float(value)); break;
    case VT_BOOL: v = value != 0 ? -1.0 : 0.0; break;
    case VT_UI1: v = double(uint8_t(int64_t(value))); break;
    case VT_UI2: v = double(uint16_t(int64_t(value))); break;
    default: break;
  }
  for (TIEWICOption& o : bag)
    if (o.Name == name) {
      o.Value = v;
      o.VariantType = variantType;
      return;
    }
  bag.push_back({name, v, variantType});
}

// ---- the reader ----

TIEWICReader::TIEWICReader() : FDpiX(gDefaultDPIX), FDpiY(gDefaultDPIY) {
  FOleInitialized = SUCCEEDED(OleInitialize(nullptr));
  FFactory = std::make_unique<TIEWICImagingFactory>();
}

TIEWICReader::~TIEWICReader() {
  Close();
  FFactory.reset();
  if (FOleInitialized) OleUninitialize();
}

bool TIEWICReader::IsAvailable() const { return FFactory != nullptr && IsWICAvailable(); }

void TIEWICReader::Close() {
  FHasFrame = false;
  FDecoder.reset();
}

bool TIEWICReader::Open(TStream& stream, int fileType) {
  if (!IsAvailable()) return false;
  FStream = &stream;
  FStreamPos = stream.Position();
  Close();
  const char* why = nullptr;
  FDecoder = FFactory->CreateDecoderFromStream(stream, fileType, why);
  if (!FDecoder) FRefusal = why;
  return FDecoder != nullptr;
}

int TIEWICReader::GetFrameWidth() const { return FHasFrame ? FDecoder->Width() : 0; }
int TIEWICReader::GetFrameHeight() const { return FHasFrame ? FDecoder->Height() : 0; }

namespace {

void SetAbort(bool* aborting) {
  if (aborting) *aborting = true;
}

// Bits per sample and samples per pixel a frame of this layout arrives with.
void LayoutOfResult(TIEWICPixelFormat f, bool keepNative, int& bits, int& samples) {
  if (!keepNative && f != iewpfBlackWhite && f != iewpf24bppBGR) f = iewpf24bppBGR;
  switch (f) {
    case iewpf1bppIndexed: bits = 8, samples = 1; return;  // arrives as ie8p
    case iewpfBlackWhite: bits = 1, samples = 1; return;
    case iewpf8bppGray: bits = 8, samples = 1; return;
    case iewpf16bppGray: bits = 16, samples = 1; return;
    case iewpf48bppRGB: bits = 16, samples = 3; return;
    case iewpf32bppCMYK: bits = 8, samples = 4; return;
    default: bits = 8, samples = 3; return;
  }
}

}  // namespace

void TIEWICReader::ReadFrame(int index, TIEBitmap* bitmap, bool* aborting, TIOParamsVals* params) {
  if (!IsAvailable() || !FDecoder) return SetAbort(aborting);
  FHasFrame = false;
  if (index < 0 || uint32_t(index) >= FDecoder->FrameCount() || !FDecoder->SelectFrame(uint32_t(index))) {
    FRefusal = "no frame of that index";
    return SetAbort(aborting);
  }
  FHasFrame = true;
  FDpiX = FDecoder->ResolutionX();
  FDpiY = FDecoder->ResolutionY();
  const bool keepNative = params == nullptr || params->NativePixelFormat;

  if (bitmap != nullptr) {
    // HD Photo frames carry no thumbnail, so a thumbnail request reads the frame.
    TIEWICBitmapSource source;
    const char* why = nullptr;
    TIEBitmap decoded;
    if (!FDecoder->CopySource(source, why) || !CopyFrame(source, decoded, keepNative)) {
      FRefusal = why ? why : "the frame cannot be converted";
      return SetAbort(aborting);
    }
    decoded.MoveStorageTo(*bitmap);
  }

  if (params != nullptr) {
    const THDPhotoTagHooks& hooks = HDPhotoTagHooks();
    if (hooks.ReadTags && FStream) {
      const int64_t keep = FStream->Position();
      FStream->SetPosition(FStreamPos);
      hooks.ReadTags(*FStream, *params);
      FStream->SetPosition(keep);
    }
    if (bitmap != nullptr) {
      const int channels = std::max(1, bitmap->ChannelCount());
      params->BitsPerSample = bitmap->BitCount() / channels;
      params->SamplesPerPixel = channels;
      params->Width = bitmap->Width();
      params->Height = bitmap->Height();
    } else {
      // A parameters-only read: size, layout and resolution from the headers.
      int bits = 8, samples = 3;
      LayoutOfResult(FDecoder->PixelFormat(), keepNative, bits, samples);
      params->BitsPerSample = bits;
      params->SamplesPerPixel = samples;
      params->Width = FDecoder->Width();
      params->Height = FDecoder->Height();
    }
    params->StoredWidth = FDecoder->Width();
    params->StoredHeight = FDecoder->Height();
    params->SetDpiX(int32_t(FDpiX));
    params->SetDpiY(int32_t(FDpiY));
  }
}

namespace {

void GreyToBGR(const uint8_t* s, uint8_t* d, int w) {
  for (int x = 0; x < w; ++x, d += 3) d[0] = d[1] = d[2] = s[x];
}

void Grey16ToBGR(const uint8_t* s, uint8_t* d, int w) {
  const uint16_t* p = reinterpret_cast<const uint16_t*>(s);
  for (int x = 0; x < w; ++x, d += 3) d[0] = d[1] = d[2] = uint8_t(p[x] >> 8);
}

void RGB48ToBGR(const uint8_t* s, uint8_t* d, int w) {
  const uint16_t* p = reinterpret_cast<const uint16_t*>(s);
  for (int x = 0; x < w; ++x, d += 3, p += 3) {
    d[0] = uint8_t(p[2] >> 8);
    d[1] = uint8_t(p[1] >> 8);
    d[2] = uint8_t(p[0] >> 8);
  }
}

// The codec's CMYK counts ink; the library's CMYK bitmaps store its inverse.
void InvertInk(const uint8_t* s, uint8_t* d, int w) {
  for (int i = 0; i < 4 * w; ++i) d[i] = uint8_t(~s[i]);
}

void CMYKToBGR(const uint8_t* s, uint8_t* d, int w) {
  std::vector<TCMYK> inverted(static_cast<size_t>(w));
  InvertInk(s, reinterpret_cast<uint8_t*>(inverted.data()), w);
  IECMYKToRGBRow(inverted.data(), reinterpret_cast<TRGB*>(d), w);
}

void IndexedToBGR(const uint8_t* s, uint8_t* d, int w, int bits, const std::vector<TRGB>& pal) {
  for (int x = 0; x < w; ++x, d += 3) {
    const size_t i = bits == 1 ? size_t((s[x >> 3] >> (7 - (x & 7))) & 1) : s[x];
    const TRGB c = i < pal.size() ? pal[i] : TRGB{};
    std::memcpy(d, &c, 3);
  }
}

void BitsToIndices(const uint8_t* s, uint8_t* d, int w) {
  for (int x = 0; x < w; ++x) d[x] = uint8_t((s[x >> 3] >> (7 - (x & 7))) & 1);
}

}  // namespace

bool TIEWICReader::CopyFrame(const TIEWICBitmapSource& source, TIEBitmap& bitmap, bool keepNative) {
  const int w = source.Width, h = source.Height;
  if (w <= 0 || h <= 0 || source.Pixels.size() < source.Stride * size_t(h)) return false;
  const TIEWICPixelFormat f = source.PixelFormat;
  TIEBitmapFormat target = ie24RGB;
  if (f == iewpfBlackWhite)
    target = ie1g;
  else if (keepNative)
    switch (f) {
      case iewpf1bppIndexed: target = ie8p; break;
      case iewpf8bppGray: target = ie8g; break;
      case iewpf16bppGray: target = ie16g; break;
      case iewpf48bppRGB: target = ieRGB48; break;
      case iewpf32bppCMYK: target = ieCMYK; break;
      default: break;
    }
  if (!bitmap.Allocate(w, h, target)) return false;
  const size_t native = (size_t(w) * size_t(BitsOf(f)) + 7) / 8;
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = source.Pixels.data() + size_t(y) * source.Stride;
    uint8_t* d = bitmap.ScanLine(y);
    if (target == ie24RGB) {
      switch (f) {
        case iewpf1bppIndexed: IndexedToBGR(s, d, w, 1, source.Palette); break;
        case iewpf8bppIndexed: IndexedToBGR(s, d, w, 8, source.Palette); break;
        case iewpf8bppGray: GreyToBGR(s, d, w); break;
        case iewpf16bppGray: Grey16ToBGR(s, d, w); break;
        case iewpf48bppRGB: RGB48ToBGR(s, d, w); break;
        case iewpf32bppCMYK: CMYKToBGR(s, d, w); break;
        default: std::memcpy(d, s, size_t(w) * 3); break;
      }
    } else if (target == ie8p) {
      BitsToIndices(s, d, w);
    } else if (target == ieCMYK) {
      InvertInk(s, d, w);
    } else {
      std::memcpy(d, s, native);
    }
  }
  if (target == ie8p)
    for (size_t i = 0; i < source.Palette.size() && i < 256; ++i) bitmap.SetPaletteColor(int(i), source.Palette[i]);
  return true;
}

// ---- the writer ----

TIEWICWriter::TIEWICWriter() : FDpiX(gDefaultDPIX), FDpiY(gDefaultDPIY) {
  FOleInitialized = SUCCEEDED(OleInitialize(nullptr));
  if (IsWICAvailable()) FFactory = std::make_unique<TIEWICImagingFactory>();
}

TIEWICWriter::~TIEWICWriter() {
  FEncoder.reset();
  FFactory.reset();
  if (FOleInitialized) OleUninitialize();
}

bool TIEWICWriter::Open(TStream& stream, int fileType) {
  if (!FFactory) return false;
  FStream = &stream;
  FStreamPos = stream.Position();
  FEncoder = FFactory->CreateEncoder(fileType);
  return FEncoder != nullptr;
}

namespace {

// The codec's quantiser for an image quality of 0..1: 1 and above is
// lossless; below it the step grows as the quality falls.
int QuantIndexOf(double quality) {
  if (quality >= 1.0) return 1;
  const double q = std::max(0.0, quality);
  return std::clamp(int(std::lround(1.0 + (1.0 - q) * 90.0)), 2, 255);
}

double OptionOf(const TIEWICPropertyBag& bag, const char* name, double def) {
  for (const TIEWICOption& o : bag)
    if (o.Name == name) return o.Value;
  return def;
}

}  // namespace

bool TIEWICWriter::WriteFrame(TIEBitmap& bitmap, TIOParamsVals* params) {
  if (!FEncoder) {
    FRefusal = "no encoder";
    return false;
  }
  if (bitmap.Width() <= 0 || bitmap.Height() <= 0) {
    FRefusal = "an empty picture";
    return false;
  }
  if (params != nullptr) {
    FDpiX = params->DpiX;
    FDpiY = params->DpiY;
    ImageQuality = params->HdpQuality;
    Lossless = params->HdpLossless;
  }
  FOptions.clear();
  if (ImageQuality >= 0) SetWICEncoderOption(FOptions, "ImageQuality", ImageQuality, VT_R4);
  if (CompressionQuality >= 0) SetWICEncoderOption(FOptions, "CompressionQuality", CompressionQuality, VT_R4);
  SetWICEncoderOption(FOptions, "Lossless", Lossless, VT_BOOL);
  if (UseCodecOptions) {
    SetWICEncoderOption(FOptions, "UseCodecOptions", 1, VT_BOOL);
    SetWICEncoderOption(FOptions, "Quality", Quality, VT_UI1);
    SetWICEncoderOption(FOptions, "Overlap", Overlap, VT_UI1);
    SetWICEncoderOption(FOptions, "Subsampling", Subsampling, VT_UI1);
  }
  SetWICEncoderOption(FOptions, "HorizontalTileSlices", HorizontalTileSlices, VT_UI2);
  SetWICEncoderOption(FOptions, "VerticalTileSlices", VerticalTileSlices, VT_UI2);
  SetWICEncoderOption(FOptions, "FrequencyOrder", FrequencyOrder, VT_BOOL);
  static const uint8_t kTiffCompression[7] = {0, 1, 2, 3, 4, 5, 6};
  SetWICEncoderOption(FOptions, "TiffCompressionMethod", kTiffCompression[std::min<int>(TiffCompressionIndex, 6)],
                      VT_UI1);

  // The codec's settings from the bag.
  jxr::TJxrEncodeOptions o;
  const bool lossless = OptionOf(FOptions, "Lossless", 0) != 0;
  const double quality = OptionOf(FOptions, "ImageQuality", 1.0);
  o.QuantIndex = lossless ? 1 : QuantIndexOf(quality);
  if (OptionOf(FOptions, "UseCodecOptions", 0) != 0) {
    o.QuantIndex = std::max(1, int(OptionOf(FOptions, "Quality", 1)));
    o.Overlap = int(OptionOf(FOptions, "Overlap", 1));
    o.Subsampling = int(OptionOf(FOptions, "Subsampling", 3));
  }
  o.HorizontalTiles = int(OptionOf(FOptions, "HorizontalTileSlices", 0));
  o.VerticalTiles = int(OptionOf(FOptions, "VerticalTileSlices", 0));
  o.FrequencyOrder = OptionOf(FOptions, "FrequencyOrder", -1) != 0;

  // Formats the codec has no layout for go as 24-bit colour.
  TIEBitmap* source = &bitmap;
  std::unique_ptr<TIEBitmap> converted;
  jxr::TJxrPixel pixel = jxr::jpOther;
  switch (bitmap.PixelFormat()) {
    case ie1g: pixel = jxr::jpBlackWhite; break;
    case ie8g: pixel = jxr::jpGray8; break;
    case ie16g: pixel = jxr::jpGray16; break;
    case ie24RGB: pixel = jxr::jpBGR24; break;
    case ieCMYK: pixel = jxr::jpCMYK32; break;
    case ieRGB48: pixel = jxr::jpRGB48; break;
    default:
      converted = TIEBitmap::CreateCopy(bitmap);
      if (!converted || !converted->ConvertToPixelFormat(ie24RGB)) {
        FRefusal = "the picture cannot be converted to 24-bit colour";
        return false;
      }
      source = converted.get();
      pixel = jxr::jpBGR24;
      break;
  }
  const int w = source->Width(), h = source->Height();
  const size_t rowBytes = (size_t(w) * size_t(jxr::PixelBits(pixel)) + 7) / 8;
  std::vector<uint8_t> rows;
  try {
    rows.resize(rowBytes * size_t(h));
  } catch (const std::bad_alloc&) {
    FRefusal = "no memory for the rows";
    return false;
  }
  for (int y = 0; y < h; ++y) {
    uint8_t* d = rows.data() + size_t(y) * rowBytes;
    const uint8_t* s = source->ScanLine(y);
    // Our CMYK stores the inverse of the ink; the file stores ink.
    if (pixel == jxr::jpCMYK32)
      InvertInk(s, d, w);
    else
      std::memcpy(d, s, rowBytes);
  }
  const char* why = nullptr;
  std::vector<uint8_t> coded;
  if (!jxr::EncodeJxr(pixel, w, h, float(FDpiX), float(FDpiY), rows.data(), rowBytes, o, coded, why)) {
    FRefusal = why;
    return false;
  }
  FEncoder->Coded = std::move(coded);
  return true;
}

bool TIEWICWriter::Close() {
  if (!FEncoder) return false;
  const bool ok = !FEncoder->Coded.empty() && FStream != nullptr;
  if (ok) {
    FStream->SetPosition(FStreamPos);
    FStream->WriteBuffer(FEncoder->Coded.data(), int64_t(FEncoder->Coded.size()));
  }
  FEncoder.reset();
  return ok;
}

// ---- the entry points ----

THDPhotoTagHooks& HDPhotoTagHooks() {
  static THDPhotoTagHooks hooks;
  return hooks;
}

void ReadHDPhotoStream(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, bool paramsOnly,
                       TProgressRecord& progress) {
  progress.Report(0);
  {
    TIEWICReader reader;
    bool aborting = false;
    if (!reader.Open(stream, kHDPhotoType)) {
      progress.Refuse(reader.Refusal() ? reader.Refusal() : "no HD Photo decoder");
    } else {
      reader.ReadFrame(params.ImageIndex, paramsOnly ? nullptr : bitmap, &aborting, &params);
      if (aborting) progress.Refuse(reader.Refusal() ? reader.Refusal() : "the frame cannot be read");
      else params.SetImageCount(1);
    }
  }
  progress.Report(0);
}

void WriteHDPhotoStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  if (!IsWICAvailable()) return progress.Refuse("no imaging component");
  progress.Report(0);
  const int64_t start = stream.Position();
  bool written = false;
  {
    TIEWICWriter writer;
    if (!writer.Open(stream, kHDPhotoType))
      progress.Refuse("no HD Photo encoder");
    else if (!writer.WriteFrame(bitmap, &params))
      progress.Refuse(writer.Refusal() ? writer.Refusal() : "the encoder failed");
    else
      written = writer.Close();
    if (!written && progress.Refusal == nullptr) progress.Refuse("nothing was written");
  }
  // Tags enter only a file that was written.
  if (written && HDPhotoTagHooks().WriteTags) {
    stream.SetPosition(start);
    HDPhotoTagHooks().WriteTags(stream, params);
  }
  progress.Report(0);
}

namespace {

void ReadHDPhotoFormat(TIEFormatReadArgs& a) {
  ReadHDPhotoStream(a.Stream, a.Bitmap, a.Params, a.ParamsOnly, a.Progress);
}

void WriteHDPhotoFormat(TIEFormatWriteArgs& a) { WriteHDPhotoStream(a.Stream, a.Bitmap, a.Params, a.Progress); }

}  // namespace

TIEFormatDescriptor HDPhotoFormat() {
  return {
      .FileType = ioHDP,
      .FullName = "Microsoft HD Photo",
      .Suffixes = "WDP;HDP",
      .Access = ieaReadWrite,
      .Available = [] { return IsWICAvailable(); },
      .Probe = IsHDPhotoStream,
      .ProbeOrder = 10,
      .Read = ReadHDPhotoFormat,
      .ReadParams = ReadHDPhotoFormat,
      .Write = WriteHDPhotoFormat,
      .LoadOpenFailure = ieofKeepFlag,
      .SaveOpenFailure = ieofAbortQuietly,
      .SaveOrder = 170,
      .SaveSuffixes = "HDP;WDP",
  };
}
