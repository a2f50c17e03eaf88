#include "imaging/special/wic/jxr_glue.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <JXRGlue.h>

namespace jxr {

namespace {

// A libjxr stream over our memory: reads from the caller's bytes, writes to a
// growing vector. The decoder and encoder call Close on it; the object itself
// belongs to us, so Close only lets go of the pointer.
struct TMemStream {
  WMPStream Base;  // first: libjxr's pointer is ours
  const uint8_t* In = nullptr;
  size_t Size = 0;
  std::vector<uint8_t>* Out = nullptr;
  size_t Pos = 0;
};

TMemStream* Self(WMPStream* s) { return reinterpret_cast<TMemStream*>(s); }

ERR MemClose(WMPStream** pme) {
  if (pme) *pme = nullptr;
  return WMP_errSuccess;
}

Bool MemEOS(WMPStream* me) {
  TMemStream* s = Self(me);
  return s->Out ? FALSE : (s->Pos >= s->Size ? TRUE : FALSE);
}

// The codec reads ahead of its data in whole blocks, past the end of the
// file too: what lies beyond reads as zeros.
ERR MemRead(WMPStream* me, void* pv, size_t cb) {
  TMemStream* s = Self(me);
  const size_t have = s->Out ? s->Out->size() : s->Size;
  const uint8_t* base = s->Out ? s->Out->data() : s->In;
  if (s->Pos > have) return WMP_errFileIO;
  const size_t n = cb < have - s->Pos ? cb : have - s->Pos;
  if (n) std::memcpy(pv, base + s->Pos, n);
  if (cb > n) std::memset(static_cast<uint8_t*>(pv) + n, 0, cb - n);
  s->Pos += n;
  return WMP_errSuccess;
}

ERR MemWrite(WMPStream* me, const void* pv, size_t cb) {
  TMemStream* s = Self(me);
  if (!s->Out) return WMP_errFileIO;
  try {
    if (s->Out->size() < s->Pos + cb) s->Out->resize(s->Pos + cb);
  } catch (const std::bad_alloc&) {
    return WMP_errOutOfMemory;
  }
  if (cb) std::memcpy(s->Out->data() + s->Pos, pv, cb);
  s->Pos += cb;
  return WMP_errSuccess;
}

ERR MemSetPos(WMPStream* me, size_t pos) {
  TMemStream* s = Self(me);
  if (!s->Out && pos > s->Size) return WMP_errFileIO;
  s->Pos = pos;
  return WMP_errSuccess;
}

ERR MemGetPos(WMPStream* me, size_t* pos) {
  *pos = Self(me)->Pos;
  return WMP_errSuccess;
}

void InitStream(TMemStream& s) {
  std::memset(&s.Base, 0, sizeof s.Base);
  s.Base.fMem = TRUE;
  s.Base.Close = MemClose;
  s.Base.EOS = MemEOS;
  s.Base.Read = MemRead;
  s.Base.Write = MemWrite;
  s.Base.SetPos = MemSetPos;
  s.Base.GetPos = MemGetPos;
}

struct TPixelRow {
  const GUID* Guid;
  TJxrPixel Pixel;
};
const TPixelRow kPixels[] = {
    {&GUID_PKPixelFormatBlackWhite, jpBlackWhite}, {&GUID_PKPixelFormat8bppGray, jpGray8},
    {&GUID_PKPixelFormat16bppGray, jpGray16},      {&GUID_PKPixelFormat24bppBGR, jpBGR24},
    {&GUID_PKPixelFormat24bppRGB, jpRGB24},        {&GUID_PKPixelFormat48bppRGB, jpRGB48},
    {&GUID_PKPixelFormat32bppCMYK, jpCMYK32},
};

TJxrPixel PixelOf(const GUID& g) {
  for (const TPixelRow& r : kPixels)
    if (IsEqualGUID(g, *r.Guid)) return r.Pixel;
  return jpOther;
}

const GUID* GuidOf(TJxrPixel p) {
  for (const TPixelRow& r : kPixels)
    if (r.Pixel == p) return r.Guid;
  return nullptr;
}

// The codec decodes whole macroblock rows of 16 lines; it gets a buffer of
// that many rows and we keep the ones the picture has.
constexpr int kBlockRows = 16;

int PaddedRows(int height) { return (height + kBlockRows - 1) / kBlockRows * kBlockRows; }

}  // namespace

bool CodecPresent() {
  PKImageDecode* d = nullptr;
  const bool ok = PKImageDecode_Create_WMP(&d) >= 0 && d;
  if (d) PKImageDecode_Release(&d);
  return ok;
}

int PixelBits(TJxrPixel pixel) {
  switch (pixel) {
    case jpBlackWhite: return 1;
    case jpGray8: return 8;
    case jpGray16: return 16;
    case jpBGR24:
    case jpRGB24: return 24;
    case jpRGB48: return 48;
    case jpCMYK32: return 32;
    default: return 0;
  }
}

int PixelChannels(TJxrPixel pixel) {
  switch (pixel) {
    case jpBlackWhite:
    case jpGray8:
    case jpGray16: return 1;
    case jpBGR24:
    case jpRGB24:
    case jpRGB48: return 3;
    case jpCMYK32: return 4;
    default: return 0;
  }
}

struct TJxrDecoder::TState {
  TMemStream Stream;
  PKImageDecode* Decoder = nullptr;
  ~TState() {
    if (Decoder) PKImageDecode_Release(&Decoder);
  }
};

TJxrDecoder::TJxrDecoder() : F(std::make_unique<TState>()) {}
TJxrDecoder::~TJxrDecoder() = default;

bool TJxrDecoder::Open(const uint8_t* data, size_t size, const char*& why) {
  F = std::make_unique<TState>();
  InitStream(F->Stream);
  F->Stream.In = data;
  F->Stream.Size = size;
  PKImageDecode* decoder = nullptr;
  if (PKImageDecode_Create_WMP(&decoder) < 0 || !decoder) {
    why = "no HD Photo decoder";
    return false;
  }
  F->Decoder = decoder;
  if (decoder->Initialize(decoder, &F->Stream.Base) < 0) {
    why = "the codec refused the image header";
    return false;
  }
  return true;
}

uint32_t TJxrDecoder::FrameCount() const {
  U32 n = 0;
  if (!F->Decoder || F->Decoder->GetFrameCount(F->Decoder, &n) < 0) return 0;
  return n;
}

bool TJxrDecoder::SelectFrame(uint32_t index) {
  return F->Decoder && index < FrameCount() && (index == 0 || F->Decoder->SelectFrame(F->Decoder, index) >= 0);
}

int TJxrDecoder::Width() const {
  I32 w = 0, h = 0;
  if (F->Decoder) F->Decoder->GetSize(F->Decoder, &w, &h);
  return w;
}

int TJxrDecoder::Height() const {
  I32 w = 0, h = 0;
  if (F->Decoder) F->Decoder->GetSize(F->Decoder, &w, &h);
  return h;
}

float TJxrDecoder::ResolutionX() const {
  Float x = 0, y = 0;
  if (F->Decoder) F->Decoder->GetResolution(F->Decoder, &x, &y);
  return x;
}

float TJxrDecoder::ResolutionY() const {
  Float x = 0, y = 0;
  if (F->Decoder) F->Decoder->GetResolution(F->Decoder, &x, &y);
  return y;
}

TJxrPixel TJxrDecoder::Pixel() const {
  PKPixelFormatGUID g;
  if (!F->Decoder || F->Decoder->GetPixelFormat(F->Decoder, &g) < 0) return jpOther;
  return PixelOf(g);
}

namespace {

// Runs a copy into a buffer padded to whole macroblock rows, then keeps the
// picture's rows.
template <typename TCopy>
bool CopyPadded(int width, int height, int bits, uint8_t* rows, size_t stride, TCopy copy, const char*& why) {
  if (width <= 0 || height <= 0) {
    why = "an empty frame";
    return false;
  }
  const size_t padStride = (size_t(width) * size_t(bits) + 7) / 8 + 16;
  std::vector<uint8_t> buf;
  try {
    buf.resize(padStride * size_t(PaddedRows(height)));
  } catch (const std::bad_alloc&) {
    why = "no memory for the frame";
    return false;
  }
  PKRect rect{0, 0, width, height};
  if (copy(rect, buf.data(), U32(padStride)) < 0) {
    why = "the codec failed in the image data";
    return false;
  }
  const size_t rowBytes = (size_t(width) * size_t(bits) + 7) / 8;
  for (int y = 0; y < height; ++y) std::memcpy(rows + size_t(y) * stride, buf.data() + size_t(y) * padStride, rowBytes);
  return true;
}

}  // namespace

bool TJxrDecoder::CopyNative(uint8_t* rows, size_t stride, const char*& why) {
  const int bits = PixelBits(Pixel());
  if (!F->Decoder || bits == 0) {
    why = "no native layout";
    return false;
  }
  PKImageDecode* d = F->Decoder;
  return CopyPadded(Width(), Height(), bits, rows, stride,
                    [d](PKRect& r, U8* p, U32 s) { return d->Copy(d, &r, p, s); }, why);
}

bool TJxrDecoder::CopyBGR24(uint8_t* rows, size_t stride, const char*& why) {
  if (!F->Decoder) {
    why = "no decoder";
    return false;
  }
  PKFormatConverter* conv = nullptr;
  if (PKCodecFactory_CreateFormatConverter(&conv) < 0 || !conv) {
    why = "no format converter";
    return false;
  }
  bool ok = false;
  if (conv->Initialize(conv, F->Decoder, nullptr, GUID_PKPixelFormat24bppBGR) < 0) {
    why = "no conversion of the pixel format to 24-bit colour";
  } else {
    ok = CopyPadded(Width(), Height(), 24, rows, stride,
                    [conv](PKRect& r, U8* p, U32 s) { return conv->Copy(conv, &r, p, s); }, why);
  }
  conv->Release(&conv);
  return ok;
}

bool EncodeJxr(TJxrPixel pixel, int width, int height, float resX, float resY, const uint8_t* rows, size_t stride,
               const TJxrEncodeOptions& options, std::vector<uint8_t>& out, const char*& why) {
  const GUID* guid = GuidOf(pixel);
  if (!guid || width <= 0 || height <= 0) {
    why = "a pixel format the encoder does not take";
    return false;
  }
  std::vector<uint8_t> coded;
  TMemStream stream;
  InitStream(stream);
  stream.Out = &coded;

  PKImageEncode* enc = nullptr;
  if (PKImageEncode_Create_WMP(&enc) < 0 || !enc) {
    why = "no HD Photo encoder";
    return false;
  }
  CWMIStrCodecParam scp;
  std::memset(&scp, 0, sizeof scp);
  scp.bVerbose = FALSE;
  const int channels = PixelChannels(pixel);
  if (channels == 1)
    scp.cfColorFormat = Y_ONLY;
  else if (pixel == jpCMYK32)
    scp.cfColorFormat = CMYK;
  else
    scp.cfColorFormat = options.Subsampling == 0   ? Y_ONLY
                        : options.Subsampling == 1 ? YUV_420
                        : options.Subsampling == 2 ? YUV_422
                                                   : YUV_444;
  scp.bdBitDepth = BD_LONG;
  scp.bfBitstreamFormat = options.FrequencyOrder ? FREQUENCY : SPATIAL;
  scp.bProgressiveMode = TRUE;
  scp.olOverlap = options.Overlap <= 0 ? OL_NONE : options.Overlap == 1 ? OL_ONE : OL_TWO;
  scp.cNumOfSliceMinus1H = U32(options.HorizontalTiles > 0 ? options.HorizontalTiles : 0);
  scp.cNumOfSliceMinus1V = U32(options.VerticalTiles > 0 ? options.VerticalTiles : 0);
  scp.sbSubband = SB_ALL;
  scp.uAlphaMode = 0;
  scp.uiDefaultQPIndex = U8(options.QuantIndex < 1 ? 1 : options.QuantIndex > 255 ? 255 : options.QuantIndex);
  scp.bBlackWhite = FALSE;

  bool ok = enc->Initialize(enc, &stream.Base, &scp, sizeof scp) >= 0 && enc->SetPixelFormat(enc, *guid) >= 0 &&
            enc->SetSize(enc, width, height) >= 0 && enc->SetResolution(enc, resX, resY) >= 0;
  if (ok) {
    // The codec reads whole macroblock rows; give it a padded copy so it never
    // reads past the caller's last row.
    const size_t rowBytes = (size_t(width) * size_t(PixelBits(pixel)) + 7) / 8;
    std::vector<uint8_t> padded;
    try {
      padded.assign(rowBytes * size_t(PaddedRows(height)), 0);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
    if (ok) {
      for (int y = 0; y < height; ++y) std::memcpy(padded.data() + size_t(y) * rowBytes, rows + size_t(y) * stride, rowBytes);
      ok = enc->WritePixels(enc, U32(height), padded.data(), U32(rowBytes)) >= 0;
    }
  }
  enc->Release(&enc);
  if (!ok || coded.empty()) {
    why = "the encoder failed";
    return false;
  }
  out.insert(out.end(), coded.begin(), coded.end());
  return true;
}

}  // namespace jxr
