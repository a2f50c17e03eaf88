#include "imaging/formats/tiff/tiff_writer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <set>

#include "imaging/core/ie_bilevel.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_icc.h"
#include "imaging/core/ie_quantizer.h"
#include "imaging/core/ie_streams.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/formats/psd_filter.h"
#include "imaging/formats/tiff/tiff_ccitt.h"
#include "imaging/io/ie_filters.h"
#include "imaging/io/io_params.h"
#include "imaging/io/zlib_streams.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace {

struct TStop {
  const char* reason;
};

// The stored layouts and their Photometric values.
enum TTIFFKind : uint8_t { tkWhiteIsZero = 0, tkGrey = 1, tkRGB = 2, tkPalette = 3, tkCMYK = 5, tkYCbCr = 6, tkLab = 7 };

struct TIFFWriterContext {
  TIFFLZWEncoderProc LZWEncoder;
  int Compression = 1;
  bool TwoD = false;
  int FillOrder = 1;
  uint8_t Kind = tkRGB;
  int Predictor = 1;
  TIEQuantizer* Quantizer = nullptr;
  int BitsPerSample = 8;
  int JpegQuality = 80;
  int JpegColorSpace = 2;
  TIOParamsVals* Params = nullptr;
  bool WritesAlpha = false;
  bool Invert = false;
  TRGB Palette[256] = {};
  int PaletteCount = 0;
};

int KindPhotometric(uint8_t kind) {
  switch (kind) {
    case tkWhiteIsZero: return 0;
    case tkGrey: return 1;
    case tkPalette: return 3;
    case tkCMYK: return 5;
    case tkYCbCr: return 6;
    case tkLab: return 8;
    default: return 2;
  }
}

// Packs the low bits of each byte, most significant bit first, without gaps.
void PackBits(const uint8_t* values, int count, int bits, uint8_t* out, int64_t outBytes) {
  std::memset(out, 0, size_t(outBytes));
  int64_t bit = 0;
  const unsigned mask = (1u << bits) - 1;
  for (int i = 0; i < count; ++i) {
    const unsigned v = values[i] & mask;
    for (int b = bits - 1; b >= 0; --b, ++bit)
      if (v >> b & 1) out[bit >> 3] |= uint8_t(0x80 >> (bit & 7));
  }
}

struct TTIFFWrite {
  TStream& stream;
  TProgressRecord& progress;
  TIOParamsVals& params;
  TFilterWriter w;
  TIFFWriterContext c;
  TIEBitmap* B = nullptr;
  std::unique_ptr<TIEBitmap> owned;  // a converted or inverted copy of the caller's bitmap
  std::unique_ptr<TIEQuantizer> quantizer;
  TTIFFTagList tags;

  TTIFFWrite(TStream& s, TProgressRecord& p, TIOParamsVals& pa) : stream(s), progress(p), params(pa), w{s, p} {}

  TIEBitmap& Own(TIEBitmapFormat format) {
    auto copy = std::make_unique<TIEBitmap>();
    copy->Assign(B);
    if (copy->PixelFormat() != format && !copy->ConvertToPixelFormat(format)) throw TStop{"no memory for the picture"};
    owned = std::move(copy);
    B = owned.get();
    return *B;
  }
  void ChooseLayout();
  void ChooseCompression();
  void WriteImage();
  void WriteJpegStrip();
  void WriteJpegImage();
  int64_t FileRowBytes() const;
  void MakeRow(int y, std::vector<uint8_t>& row);
};

void TTIFFWrite::ChooseLayout() {
  int bits = params.BitsPerSample, spp = params.SamplesPerPixel, photo = params.TiffPhotometric;
  // Formats without a row path of their own are written as colour, alpha kept.
  TIEBitmapFormat f = B->PixelFormat();
  if (f == ie32f || f == ieCIELab || f == ie32RGB || f == ieNoFormat) f = Own(ie24RGB).PixelFormat();
  // Grey deeper than a byte is stored in words; palette and grey bytes have no words.
  if (spp == 1 && bits > 8 && bits < 16) bits = 16;
  if ((f == ie8g || f == ie8p) && bits == 16) bits = 8;
  if (f == ie16g && spp == 1 && bits > 1) bits = 16;
  if (bits < 1 || bits > 16) bits = 8;
  if (spp < 1) spp = 1;
  const int compression = params.TiffCompression;
  // JPEG data comes from colour rows.
  if ((compression == 6 || compression == 7) && f != ie1g && f != ie24RGB) f = Own(ie24RGB).PixelFormat();

  // JPEG takes no bilevel rows: a bilevel bitmap is stored bilevel, uncompressed.
  if (f == ie1g && (compression == 6 || compression == 7)) bits = 1, spp = 1, photo = photo == 0 ? 0 : 1;
  if (f == ie1g && photo == 2 && spp == 1 && bits == 1) photo = 1;
  // One bit, one sample: bilevel, whatever the bitmap holds.
  if (f != ie1g && spp == 1 && bits == 1) photo = 1;
  if (bits == 1 && spp == 1 && (photo == 0 || photo == 1)) {
    if (f != ie1g) {
      TRGB c1{}, c2{};
      std::unique_ptr<TIEBitmap> two = ConvertTwoColorTo1Bit(*B, c1, c2);
      if (!two) {
        two = std::make_unique<TIEBitmap>(B->Width(), B->Height(), ie1g);
        two->ConvertFrom(*B);
      }
      owned = std::move(two);
      B = owned.get();
      f = ie1g;
    }
  } else if (f == ie1g) {
    f = Own(ie24RGB).PixelFormat();
  }
  if ((f == ie8g || f == ie16g) && spp == 1 && bits > 1) photo = 1;
  if (spp == 1 && (bits < 9 || bits == 16) && (bits > 1 || photo == 3) && (f == ie24RGB || f == ie8p)) {
    c.PaletteCount = std::min(1 << std::min(bits, 8), 256);
    quantizer = std::make_unique<TIEQuantizer>(*B, c.PaletteCount, c.Palette);
    c.Quantizer = quantizer.get();
    if (quantizer->IsGray()) {
      photo = 1;
    } else {
      if (params.TiffCompression != 5 && params.TiffCompression != 8 && params.TiffCompression != 9)
        params.TiffCompression = 0;
      photo = 3;
      if (bits == 16) bits = 8;
    }
  }
  if (photo == 3 && spp > 1) photo = 2;
  if (f == ieRGB48) spp = 3, bits = 16, photo = 2;
  if (bits > 8 && spp != 1) spp = 3, bits = 8, photo = 2;
  if ((photo == 0 || photo == 1) && bits == 8 && spp == 3) photo = 2;
  if (photo == 2 && spp == 1 && bits == 1) photo = 1;
  if (photo == 6 && params.TiffCompression != 7) photo = 2;
  if (photo == 2 && spp > 3) spp = 3;
  if (f == ieRGB48) spp = 3, bits = 16, photo = 2;
  if (f == ieCMYK) spp = 4, bits = 8, photo = 5;
  uint8_t kind = tkRGB;
  switch (photo) {
    case 0:
    case 1: kind = tkGrey; break;
    case 3: kind = tkPalette; break;
    case 5: kind = tkCMYK, spp = 4; break;
    case 7: kind = tkLab; break;
    default: kind = tkRGB; break;
  }
  // Colour rows are bytes (words for 48-bit colour); grey and palette rows
  // hold one sample.
  if (kind == tkGrey || kind == tkPalette) {
    spp = 1;
    if (kind == tkPalette && c.Quantizer == nullptr) kind = tkGrey;
  } else if (f != ieRGB48) {
    bits = 8;
    if (kind != tkCMYK) spp = 3;
  }
  // Rows of one layout come from bitmaps of that layout.
  if ((kind == tkRGB || kind == tkLab || kind == tkCMYK) && f != ie24RGB && f != ieRGB48 && f != ieCMYK)
    f = Own(ie24RGB).PixelFormat();
  if ((kind == tkLab || (kind == tkCMYK && f != ieCMYK)) && f != ie24RGB) f = Own(ie24RGB).PixelFormat();
  if (kind == tkGrey && bits > 1 && f == ie1g) bits = 1;
  c.Kind = kind;
  c.BitsPerSample = bits;
  params.BitsPerSample = bits;
  params.SamplesPerPixel = spp;
  params.TiffPhotometric = uint8_t(photo == 8 ? 7 : std::min(photo, 7));
}

void TTIFFWrite::ChooseCompression() {
  const bool bilevel = B->PixelFormat() == ie1g;
  uint8_t layoutKind = c.Kind;
  c.FillOrder = params.TiffFillOrder == 2 ? 2 : 1;
  int code = 1;
  switch (params.TiffCompression) {
    case 1: code = 2; break;
    case 2: code = 3; break;
    case 3: code = 3, c.TwoD = true; break;
    case 4: code = 4; break;
    case 5:
      code = 5;
      c.Predictor = 2;
      c.LZWEncoder = params.TiffLZWEncoder ? params.TiffLZWEncoder : IEFilters().TIFFLZWCompress;
      if (!c.LZWEncoder) code = 1, c.Predictor = 1;
      break;
    case 6:
    case 7: {
      code = params.TiffCompression;
      layoutKind = c.Kind;
      c.JpegQuality = params.TiffJpegQuality;
      c.JpegColorSpace = params.TiffJpegColorSpace;
      switch (c.JpegColorSpace) {
        case 0: c.Kind = tkRGB; break;
        case 1: c.Kind = tkGrey; break;
        case 2: c.Kind = tkYCbCr; break;
        case 3: c.Kind = tkCMYK; break;
        case 4: c.Kind = tkRGB, c.JpegColorSpace = 0; break;
        default: break;
      }
      break;
    }
    case 8: code = 32773; break;
    case 9:
    case 10: code = 32946; break;
    default: code = 1; break;
  }
  if (code >= 2 && code <= 4) {
    // Fax codings take bilevel rows; anything else is stored as it stands.
    if (bilevel) c.Kind = tkWhiteIsZero, c.Invert = true;
    else code = 1, c.TwoD = false;
  }
  if ((code == 6 || code == 7) && (bilevel || layoutKind == tkPalette)) {
    // JPEG takes no bilevel or palette rows: stored as they stand.
    code = 1;
    c.Kind = layoutKind;
  }
  if (code == 6 || code == 7) {
    params.SamplesPerPixel = c.Kind == tkGrey ? 1 : c.Kind == tkCMYK ? 4 : 3;
    params.BitsPerSample = 8;
    c.BitsPerSample = 8;
  }
  c.Compression = code;
  params.TiffPhotometric = uint8_t(std::min(KindPhotometric(c.Kind), 7));
  if (c.Kind == tkLab) params.TiffPhotometric = 7;
  // The predictor serves byte colour rows without alpha only.
  const bool alpha = B->HasAlphaChannel() && !B->AlphaChannel()->Full();
  if (c.Kind != tkRGB || c.BitsPerSample != 8 || B->PixelFormat() != ie24RGB || alpha) c.Predictor = 1;
  c.WritesAlpha = B->PixelFormat() == ie24RGB && c.Kind == tkRGB && alpha &&
                  (code == 1 || code == 5 || code == 32773 || code == 32946);
  if (c.WritesAlpha) params.SamplesPerPixel = 4;
  if (c.Invert) {
    if (owned.get() != B) Own(ie1g);
    InvertBitmap(*B);
  }
}

int64_t TTIFFWrite::FileRowBytes() const {
  int samples = 3;
  switch (c.Kind) {
    case tkWhiteIsZero:
    case tkGrey:
    case tkPalette: samples = 1; break;
    case tkCMYK: samples = 4; break;
    default: samples = 3; break;
  }
  if (c.WritesAlpha) ++samples;
  const int bits = B->PixelFormat() == ie1g ? 1 : c.BitsPerSample;
  return (int64_t(B->Width()) * bits * samples + 7) / 8;
}

void TTIFFWrite::MakeRow(int y, std::vector<uint8_t>& row) {
  const int width = B->Width();
  const uint8_t* src = B->ScanLine(y);
  uint8_t* out = row.data();
  const int64_t R = int64_t(row.size());
  const int bits = c.BitsPerSample;
  switch (B->PixelFormat()) {
    case ie1g: std::memcpy(out, src, size_t(R)); return;
    case ie8p:
    case ie8g:
    case ie16g: {
      const bool words = B->PixelFormat() == ie16g;
      if (words && bits == 16) {
        std::memcpy(out, src, size_t(width) * 2);
        return;
      }
      std::vector<uint8_t> v(static_cast<size_t>(width));
      for (int x = 0; x < width; ++x) {
        uint8_t s = words ? uint8_t(reinterpret_cast<const uint16_t*>(src)[x] >> 8) : src[x];
        // A palette bitmap stored as grey: each index through its colour.
        if (B->PixelFormat() == ie8p && c.Kind == tkGrey && c.Quantizer) {
          TRGB col;
          B->GetPaletteColor(s, col);
          s = uint8_t(c.Quantizer->GetIndex(col));
        } else if (c.Kind == tkGrey && bits < 8 && B->PixelFormat() != ie8p) {
          s = uint8_t(s >> (8 - bits));
        }
        v[size_t(x)] = s;
      }
      if (bits == 8) std::memcpy(out, v.data(), size_t(width));
      else if (bits == 16)
        for (int x = 0; x < width; ++x) reinterpret_cast<uint16_t*>(out)[x] = uint16_t(v[size_t(x)] * 257);
      else PackBits(v.data(), width, bits, out, R);
      return;
    }
    case ie24RGB: {
      const TRGB* px = reinterpret_cast<const TRGB*>(src);
      if (c.Kind == tkCMYK) {
        ConvertRowColorSpace(src, kIccBGR, out, nullptr, width, kIccInvCMYK);
        for (int64_t i = 0; i < int64_t(width) * 4; ++i) out[i] = uint8_t(255 - out[i]);
      } else if (c.Kind == tkLab) {
        ConvertRowColorSpace(src, kIccBGR, out, nullptr, width, kIccLab);
      } else if (c.Kind == tkGrey || c.Kind == tkPalette) {
        std::vector<uint8_t> v(static_cast<size_t>(width));
        for (int x = 0; x < width; ++x) v[size_t(x)] = uint8_t(c.Quantizer ? c.Quantizer->GetIndex(px[x]) : px[x].g);
        if (bits == 8) std::memcpy(out, v.data(), size_t(width));
        else if (bits == 16)
          for (int x = 0; x < width; ++x) reinterpret_cast<uint16_t*>(out)[x] = uint16_t(v[size_t(x)] * 257);
        else PackBits(v.data(), width, bits, out, R);
      } else if (c.WritesAlpha) {
        const uint8_t* a = B->AlphaChannel()->ScanLine(y);
        for (int x = 0; x < width; ++x) {
          out[4 * x] = px[x].r, out[4 * x + 1] = px[x].g, out[4 * x + 2] = px[x].b, out[4 * x + 3] = a[x];
        }
      } else {
        for (int x = 0; x < width; ++x) out[3 * x] = px[x].r, out[3 * x + 1] = px[x].g, out[3 * x + 2] = px[x].b;
        if (c.Predictor == 2)
          for (int64_t i = int64_t(width) * 3 - 1; i >= 3; --i) out[i] = uint8_t(out[i] - out[i - 3]);
      }
      return;
    }
    case ieCMYK:
      for (int64_t i = 0; i < int64_t(width) * 4; ++i) out[i] = uint8_t(255 - src[i]);
      return;
    case ieRGB48: std::memcpy(out, src, size_t(width) * 6); return;
    default: std::memset(out, 0, size_t(R)); return;
  }
}

void TTIFFWrite::WriteImage() {
  const int height = B->Height();
  const int64_t R = FileRowBytes();
  int rowsPerStrip = height;
  const int code = c.Compression;
  if (code != 7 && code != 8 && code != 32946) {
    int64_t strips = params.TiffStripCount > 0 ? params.TiffStripCount
                                               : std::max<int64_t>(int64_t(height) * B->RowLen() / 524288, 1);
    // More strips than rows: one strip of every row.
    rowsPerStrip = strips > height ? height : int(std::max<int64_t>(height / strips, 1));
  }
  std::vector<uint32_t> offsets, counts;
  std::vector<uint8_t> row(static_cast<size_t>(R)), packed;
  TCCITTEncoderState fax;
  void* lzw = nullptr;
  std::unique_ptr<TZCompressionStream> zip;
  int64_t stripStart = stream.Position();
  int inStrip = 0;
  progress.Step = height > 0 ? 100.0 / height : 0;
  const auto finishStrip = [&] {
    // FinishTIFFStrip: ends the coder of the strip, which restarts with the next one.
    if (code == 3 && c.TwoD) CCITTEncodeG3_2D(nullptr, B->Width(), stream, c.FillOrder, fax);
    else if (code == 3) CCITTEncodeG3(nullptr, B->Width(), stream, c.FillOrder, fax);
    else if (code == 4) CCITTEncodeG4(nullptr, B->Width(), stream, c.FillOrder, fax);
    else if (code == 5) c.LZWEncoder(nullptr, 0, &stream, lzw);
    if (zip) {
      zip->Finish();
      zip.reset();
    }
    fax = TCCITTEncoderState{};
    lzw = nullptr;
    const int64_t end = stream.Position();
    offsets.push_back(uint32_t(stripStart));
    counts.push_back(uint32_t(end - stripStart));
    stripStart = end;
    inStrip = 0;
  };
  try {
    for (int y = 0; y < height; ++y) {
      if (progress.ProgressEvent) progress.Report(int(y * progress.Step));
      if (code == 32946 && !zip) {
        const int level = params.TiffZipLevel >= 0 && params.TiffZipLevel <= 2 ? params.TiffZipLevel : 1;
        zip = std::make_unique<TZCompressionStream>(&stream, TZCompressionLevel(level + 1));
      }
      MakeRow(y, row);
      switch (code) {
        case 2: CCITTEncodeHuffman(row.data(), B->Width(), stream, c.FillOrder); break;
        case 3:
          if (c.TwoD) CCITTEncodeG3_2D(row.data(), B->Width(), stream, c.FillOrder, fax);
          else CCITTEncodeG3(row.data(), B->Width(), stream, c.FillOrder, fax);
          break;
        case 4: CCITTEncodeG4(row.data(), B->Width(), stream, c.FillOrder, fax); break;
        case 5: c.LZWEncoder(row.data(), R, &stream, lzw); break;
        case 32773: TIFFPackBitsEncode(row.data(), int(R), w); break;
        case 32946: zip->WriteBuffer(row.data(), R); break;
        default: w.Put(row.data(), R); break;
      }
      if (progress.Aborted()) break;
      if (++inStrip == rowsPerStrip || y == height - 1) finishStrip();
    }
  } catch (const Exception&) {
    // The coders write through the stream's raising write.
    if (lzw) {
      try {
        c.LZWEncoder(nullptr, 0, nullptr, lzw);
      } catch (...) {
      }
    }
    progress.Refuse("the stream failed");
    return;
  }
  if (progress.Aborted()) return;
  AddTIFFLongTag(tags, 278, uint32_t(rowsPerStrip));
  if (offsets.size() == 1) {
    AddTIFFLongTag(tags, 273, offsets[0]);
    AddTIFFLongTag(tags, 279, counts[0]);
  } else {
    AddTIFFLongArrayTag(tags, w, 273, offsets.data(), int(offsets.size()));
    AddTIFFLongArrayTag(tags, w, 279, counts.data(), int(counts.size()));
  }
}

void TTIFFWrite::WriteJpegStrip() {
  TIOParamsVals scratch(nullptr);
  scratch.JpegQuality = c.JpegQuality;
  scratch.JpegColorSpace = TIOJpegColorSpace(c.JpegColorSpace);
  scratch.JpegChromaSubsampling = 1;  // 2 x 2, the TIFF default the tags say
  TMemoryStream jpeg;
  WriteJpegStream(jpeg, *B, scratch, progress);
  if (progress.Aborted()) return;
  const int64_t J = stream.Position();
  jpeg.SetPosition(0);
  if (CopyStream(stream, jpeg, jpeg.Size()) != jpeg.Size()) throw TStop{"the stream failed"};
  const uint8_t* p = static_cast<const uint8_t*>(jpeg.Memory());
  int64_t k = 0;
  while (k + 1 < jpeg.Size() && !(p[k] == 0xFF && p[k + 1] == 0xDA)) ++k;
  AddTIFFLongTag(tags, 514, uint32_t(jpeg.Size()));
  AddTIFFLongTag(tags, 513, uint32_t(J));
  AddTIFFLongTag(tags, 278, uint32_t(B->Height()));
  AddTIFFLongTag(tags, 279, uint32_t(jpeg.Size() - k));
  AddTIFFLongTag(tags, 273, uint32_t(J + k));
  AddTIFFShortTag(tags, 512, 1);
  const uint16_t sub[2] = {2, 2};
  if (c.Kind == tkYCbCr) AddTIFFShortArrayTag(tags, w, 530, sub, 2);
}

void TTIFFWrite::WriteJpegImage() {
  TIOParamsVals scratch(nullptr);
  scratch.JpegQuality = c.JpegQuality;
  scratch.JpegColorSpace = TIOJpegColorSpace(c.JpegColorSpace);
  scratch.JpegChromaSubsampling = 1;
  const int64_t start = stream.Position();
  WriteJpegStream(stream, *B, scratch, progress);
  if (progress.Aborted()) return;
  AddTIFFLongTag(tags, 278, uint32_t(B->Height()));
  AddTIFFLongTag(tags, 273, uint32_t(start));
  AddTIFFLongTag(tags, 279, uint32_t(stream.Position() - start));
  const uint16_t sub[2] = {2, 2};
  if (c.Kind == tkYCbCr) AddTIFFShortArrayTag(tags, w, 530, sub, 2);
}

// Walks the chain of an existing TIFF from the header at start: the offset
// field where the new directory goes (P) and what it held (O). Returns the
// page count after the insertion; 0 for a chain that loops or leaves the stream.
int FindInsertionPoint(TStream& s, int64_t start, int index, int64_t& P, uint32_t& O) {
  const int64_t size = s.Size();
  if (index < 0) index = INT_MAX;
  int64_t at = start + 4;
  bool found = false;
  std::set<uint32_t> seen;
  for (int i = 0;; ++i) {
    uint8_t b[4];
    s.Seek(at, soBeginning);
    if (s.Read(b, 4) != 4) return 0;
    const uint32_t next = TIFFGet32(b, true);
    if (!found && (index == i || (next == 0 && i < index))) {
      P = at, O = next;
      found = true;
    }
    if (next == 0) return i + 1;
    if (!seen.insert(next).second || int64_t(next) + 2 > size || next < 8) return 0;
    s.Seek(next, soBeginning);
    if (s.Read(b, 2) != 2) return 0;
    at = int64_t(next) + 2 + 12 * int64_t(TIFFGet16(b, true));
  }
}

}  // namespace

void TIFFPackBitsEncode(const uint8_t* data, int length, TFilterWriter& w) {
  std::vector<uint8_t> out(size_t(length) + size_t(length) / 128 + 2);
  const int n = PackBitsEncodeRow(data, length, out.data());
  w.Put(out.data(), n);
}

int WriteTIFFStream(TStream& stream, bool insert, TIEBitmap* bitmap, TProgressRecord& progress,
                    TIOParamsVals& params, const TEXIFCarried* carried) {
  TTIFFWrite t(stream, progress, params);
  int pages = 1;
  try {
    const int64_t start = stream.Position();
    int64_t P = start + 4;
    uint32_t O = 0;
    if (bitmap != nullptr && bitmap->IsEmpty()) throw TStop{"the picture is empty"};
    if (insert) {
      uint8_t h[4] = {};
      if (stream.Read(h, 4) != 4 || h[0] != 'I' || h[1] != 'I' || TIFFGet16(h + 2, true) != 42)
        throw TStop{"the stream to insert into is no little-endian TIFF"};
      pages = FindInsertionPoint(stream, start, params.TiffImageIndex, P, O);
      if (pages == 0) throw TStop{"the chain of directories loops or leaves the stream"};
      stream.Seek(0, soEnd);
    } else {
      const uint8_t placeholder[8] = {'I', 'I', 42, 0, 0, 0, 0, 0};
      t.w.Put(placeholder, 8);
    }
    if (bitmap != nullptr) {
      t.B = bitmap;
      t.ChooseLayout();
      t.ChooseCompression();
    }
    if (params.HasExifData) {
      WriteTIFFMetadataTags(t.tags, t.w, params, carried);
    } else {
      AddTIFFASCIITag(t.tags, t.w, 270, params.TiffImageDescription);
      AddTIFFRationalTag(t.tags, t.w, 282, params.DpiX);
      AddTIFFRationalTag(t.tags, t.w, 283, params.DpiY);
      AddTIFFShortTag(t.tags, 296, 2);
    }
    if (bitmap != nullptr) {
      TIEBitmap& B = *t.B;
      TIFFWriterContext& c = t.c;
      AddTIFFLongTag(t.tags, 256, uint32_t(B.Width()));
      AddTIFFLongTag(t.tags, 257, uint32_t(B.Height()));
      const int spp = params.SamplesPerPixel;
      if (B.PixelFormat() == ie1g) {
        AddTIFFShortTag(t.tags, 258, 1);
      } else if (spp == 1) {
        AddTIFFShortTag(t.tags, 258, uint16_t(c.BitsPerSample));
      } else {
        const uint16_t bps[4] = {uint16_t(c.BitsPerSample), uint16_t(c.BitsPerSample), uint16_t(c.BitsPerSample),
                                 uint16_t(c.BitsPerSample)};
        AddTIFFShortArrayTag(t.tags, t.w, 258, bps, spp);
      }
      AddTIFFShortTag(t.tags, 259, uint16_t(c.Compression));
      AddTIFFShortTag(t.tags, 262, uint16_t(KindPhotometric(c.Kind)));
      AddTIFFASCIITag(t.tags, t.w, 269, params.TiffDocumentName);
      if (c.Compression >= 2 && c.Compression <= 4) {
        AddTIFFShortTag(t.tags, 266, uint16_t(c.FillOrder));
        AddTIFFShortTag(t.tags, 284, 1);
        AddTIFFShortTag(t.tags, 327, 0);
      }
      {
        TIEAccessScope access(B, 1);
        if (c.Compression == 6) t.WriteJpegStrip();
        else if (c.Compression == 7) t.WriteJpegImage();
        else t.WriteImage();
      }
      if (progress.Aborted()) throw TStop{progress.Refusal ? progress.Refusal : "the write was stopped"};
      AddTIFFShortTag(t.tags, 277, uint16_t(spp));
      if (c.WritesAlpha) AddTIFFShortTag(t.tags, 338, 2);
      if (c.Predictor == 2) AddTIFFShortTag(t.tags, 317, 2);
      AddTIFFASCIITag(t.tags, t.w, 285, params.TiffPageName);
      if (params.TiffXPos != 0) AddTIFFRationalTag(t.tags, t.w, 286, params.TiffXPos);
      if (params.TiffYPos != 0) AddTIFFRationalTag(t.tags, t.w, 287, params.TiffYPos);
      if (c.Compression == 3) AddTIFFLongTag(t.tags, 292, c.TwoD ? 1 : 0);
      if (c.Compression == 4) AddTIFFLongTag(t.tags, 293, 0);
      if (c.Compression == 3) AddTIFFLongTag(t.tags, 293, 0);
      AddTIFFLongTag(t.tags, 254, uint32_t(params.TiffNewSubfileType));
      if (params.TiffPageNumber > -1 || params.TiffPageCount > -1) {
        const uint16_t pn[2] = {uint16_t(std::max(params.TiffPageNumber, 0)), uint16_t(std::max(params.TiffPageCount, 0))};
        AddTIFFShortArrayTag(t.tags, t.w, 297, pn, 2);
      }
      AddTIFFIPTCTag(t.tags, t.w, params);
      AddTIFFXMPTag(t.tags, t.w, params);
      AddTIFFAnnotationTag(t.tags, t.w, params);
      AddTIFFICCTag(t.tags, t.w, params);
      if (c.Kind == tkPalette) {
        const int n = 1 << c.BitsPerSample;
        std::vector<uint16_t> map(size_t(3 * n), 0);
        for (int i = 0; i < n && i < c.PaletteCount; ++i) {
          map[size_t(i)] = uint16_t(c.Palette[i].r * 257);
          map[size_t(n + i)] = uint16_t(c.Palette[i].g * 257);
          map[size_t(2 * n + i)] = uint16_t(c.Palette[i].b * 257);
        }
        AddTIFFShortArrayTag(t.tags, t.w, 320, map.data(), 3 * n);
      }
      params.TiffCompression = [&] {
        switch (c.Compression) {
          case 2: return uint8_t(1);
          case 3: return uint8_t(c.TwoD ? 3 : 2);
          case 4: return uint8_t(4);
          case 5: return uint8_t(5);
          case 6: return uint8_t(6);
          case 7: return uint8_t(7);
          case 32773: return uint8_t(8);
          case 32946: return uint8_t(params.TiffCompression == 10 ? 10 : 9);
          default: return uint8_t(0);
        }
      }();
    }
    if (progress.Aborted() || t.w.Failed()) throw TStop{progress.Refusal ? progress.Refusal : "the stream failed"};
    // The directory first, then the one offset that makes it part of the file.
    const int64_t D = AlignTIFFStream(t.w);
    WriteTIFFDirectory(t.w, t.tags, insert ? O : 0);
    if (t.w.Failed()) throw TStop{"the stream failed"};
    const int64_t end = stream.Position();
    uint8_t b[4];
    TIFFPut32(b, uint32_t(D), true);
    stream.Seek(insert ? P : start + 4, soBeginning);
    t.w.Put(b, 4);
    stream.Seek(end, soBeginning);
    if (t.w.Failed()) throw TStop{"the stream failed"};
  } catch (const TStop& stop) {
    progress.Refuse(stop.reason);
    return 0;
  } catch (const std::bad_alloc&) {
    progress.Refuse("no memory for the picture");
    return 0;
  } catch (const Exception&) {
    progress.Refuse("the stream failed");
    return 0;
  }
  return pages;
}
