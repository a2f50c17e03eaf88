#include "imaging/formats/png_filter.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_bilevel.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_quantizer.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/io/data_bound.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"

namespace {

// ---- reading ----

struct TPngReadState {
  TStream* stream = nullptr;
  TIEBitmap* bitmap = nullptr;
  TIOParamsVals* params = nullptr;
  TProgressRecord* progress = nullptr;
  bool paramsOnly = false;
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<uint8_t> buffer;  // RGBA rows, or the packed 1-bit palette row
  std::vector<std::string> keys, values;
  int64_t allocLimit = 0;  // the largest block libpng may ask for
};

// libpng sizes an ancillary chunk's buffer by the length the chunk claims
// before reading a byte of it (the user chunk limit covers only inflated
// text), so a 350-byte file claiming a 1.9 GB iTXt chunk asked for 1.9 GB.
// No chunk is longer than what is left of the stream; row buffers of the
// widest image libpng accepts fit in the floor. A refused block makes libpng
// skip an ancillary chunk or fail the read.
png_voidp PngMalloc(png_structp png, png_alloc_size_t size) {
  const auto* st = static_cast<const TPngReadState*>(png_get_mem_ptr(png));
  if (st && int64_t(size) > st->allocLimit) return nullptr;
  return std::malloc(size);
}

void PngFree(png_structp, png_voidp block) { std::free(block); }

void PngReadError(png_structp png, png_const_charp) {
  auto* st = static_cast<TPngReadState*>(png_get_error_ptr(png));
  st->progress->Refuse(kRefusedByCodec);
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// No C++ exception may cross libpng: a failing stream becomes a libpng error.
void PngReadData(png_structp png, png_bytep data, png_size_t length) {
  auto* s = static_cast<TStream*>(png_get_io_ptr(png));
  bool ok = false;
  try {
    ok = s->Read(data, static_cast<int64_t>(length)) == static_cast<int64_t>(length);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "short read");
}

int DpiOf(png_uint_32 ppm, int fallback) {
  const int64_t dpi = Round(ppm / 100.0 * 2.54);
  return dpi == 0 ? fallback : static_cast<int>(std::min<int64_t>(dpi, INT32_MAX));
}

uint8_t To8Bits(unsigned v, int depth) {
  if (depth == 16) return uint8_t(v >> 8);
  if (depth >= 8) return uint8_t(v);
  return uint8_t(v * 255 / ((1u << depth) - 1));
}

// Everything that a longjmp may leave lives in the state, built by the caller:
// this frame holds only plain values.
bool ReadPngBody(TPngReadState& st) {
  png_structp png = st.png;
  png_infop info = st.info;
  TIOParamsVals& params = *st.params;
  TProgressRecord& progress = *st.progress;
  if (setjmp(png_jmpbuf(png))) return false;

  png_set_read_fn(png, st.stream, PngReadData);
  // Inflated text is bounded by the same rule as any single allocation
  // (PngMalloc), with less room: text is metadata.
  png_set_chunk_malloc_max(png, png_alloc_size_t(std::max<int64_t>(st.stream->Remaining() + 1, 8 << 20)));
  png_read_info(png, info);
  png_uint_32 w = 0, h = 0;
  int bd = 0, ct = 0, interlace = 0;
  png_get_IHDR(png, info, &w, &h, &bd, &ct, &interlace, nullptr, nullptr);

  png_textp text = nullptr;
  int textCount = 0;
  png_get_text(png, info, &text, &textCount);
  st.keys.clear();
  st.values.clear();
  for (int i = 0; i < textCount; ++i) {
    st.keys.emplace_back(text[i].key ? text[i].key : "");
    st.values.emplace_back(text[i].text ? std::string(text[i].text, text[i].text_length ? text[i].text_length
                                                                                         : text[i].itxt_length)
                                        : std::string());
  }

  png_color_16p bkgd = nullptr;
  if (png_get_bKGD(png, info, &bkgd) && bkgd) {
    if (ct == PNG_COLOR_TYPE_GRAY || ct == PNG_COLOR_TYPE_GRAY_ALPHA) {
      const uint8_t g = To8Bits(bkgd->gray, bd);
      params.PngBackground = MakeRGB(g, g, g);
    } else {
      const int depth = ct == PNG_COLOR_TYPE_PALETTE ? 8 : bd;
      params.PngBackground = MakeRGB(To8Bits(bkgd->red, depth), To8Bits(bkgd->green, depth), To8Bits(bkgd->blue, depth));
    }
  }

  const bool native = params.NativePixelFormat && (bd == 8 || bd == 16) && (ct == 0 || ct == 3);
  // A 1-bit picture with a transparent entry is read as colour with alpha, as
  // any deeper one; without tRNS it stays two-colour.
  const bool expand1 = bd == 1 && png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  const bool deep = bd > 1 || expand1;
  if (native) {
    if (bd == 16) png_set_swap(png);
  } else {
    if (ct == PNG_COLOR_TYPE_PALETTE && deep && bd <= 8) png_set_expand(png);
    if (ct == PNG_COLOR_TYPE_GRAY && deep && bd < 8) png_set_expand(png);
    if (bd == 16) png_set_strip_16(png);
    if (bd > 1 && bd < 8) png_set_packing(png);
    if ((ct == PNG_COLOR_TYPE_GRAY || ct == PNG_COLOR_TYPE_GRAY_ALPHA) && deep) png_set_gray_to_rgb(png);
    if (deep) png_set_bgr(png);
    if (deep) png_set_tRNS_to_alpha(png);
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  params.SetImageCount(1);
  params.Width = params.StoredWidth = static_cast<int32_t>(w);
  params.Height = params.StoredHeight = static_cast<int32_t>(h);
  params.BitsPerSample = bd;
  params.SamplesPerPixel = ct == 2 ? 3 : ct == 4 ? 2 : ct == 6 ? 4 : 1;
  params.SetDpiX(DpiOf(png_get_x_pixels_per_meter(png, info), gDefaultDPIX));
  params.SetDpiY(DpiOf(png_get_y_pixels_per_meter(png, info), gDefaultDPIY));
  params.FreePalette();
  png_colorp plte = nullptr;
  int plteCount = 0;
  if (ct == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(png, info, &plte, &plteCount)) {
    params.Palette.resize(size_t(plteCount));
    for (int i = 0; i < plteCount; ++i) params.Palette[size_t(i)] = MakeRGB(plte[i].red, plte[i].green, plte[i].blue);
    params.PaletteCount = plteCount;
  }
  params.PngInterlaced = interlace != PNG_INTERLACE_NONE;
  if (st.paramsOnly) return true;

  // The coded rows (a filter byte each) come out of the deflate data left.
  const int samples = ct == 2 ? 3 : ct == 4 ? 2 : ct == 6 ? 4 : 1;
  const int64_t codedRow = (int64_t(w) * bd * samples + 7) / 8 + 1;
  if (!DataCanDecodeTo(codedRow * h, st.stream->Remaining(), kRatioDeflate)) {
    progress.Refuse(kRefusedUnfilled);
    return false;
  }
  TIEBitmap& bitmap = *st.bitmap;
  TIEBitmapFormat format = ie24RGB;
  if (bd == 1 && ct != PNG_COLOR_TYPE_PALETTE && !expand1) format = ie1g;
  else if (native && ct == PNG_COLOR_TYPE_PALETTE) format = ie8p;
  else if (native && bd == 8) format = ie8g;
  else if (native && bd == 16) format = ie16g;
  if (!bitmap.Allocate(int(w), int(h), format)) {
    progress.Refuse(kRefusedNoMemory);
    return false;
  }
  if (format == ie8p) {
    bitmap.SetPaletteColorCount(1 << bd);
    for (int i = 0; i < plteCount && i < 256; ++i) bitmap.SetPaletteColor(i, params.Palette[size_t(i)]);
  }
  const int channels = png_get_channels(png, info);
  TIEBitmap* alpha = nullptr;
  const bool palette1 = bd == 1 && ct == PNG_COLOR_TYPE_PALETTE && !expand1;
  // Interlaced rows are built up over the passes: each row keeps its own buffer.
  const size_t packedRow = size_t(w) / 8 + 1;
  if (channels == 4) {
    const size_t rows = passes > 1 ? size_t(h) : 1;
    // The whole-image buffer of an interlaced picture is sized in 64 bits.
    try {
      st.buffer.assign(size_t(w) * 4 * rows, 0);
    } catch (...) {
      progress.Refuse(kRefusedNoMemory);
      return false;
    }
    alpha = bitmap.AlphaChannel();
    alpha->SetFull(false);
  } else if (palette1) {
    try {
      st.buffer.assign(packedRow * (passes > 1 ? size_t(h) : 1), 0);
    } catch (...) {
      progress.Refuse(kRefusedNoMemory);
      return false;
    }
  }

  TRGB pal2[2] = {};
  for (int i = 0; i < 2 && i < plteCount; ++i) pal2[i] = params.Palette[size_t(i)];
  const int64_t total = int64_t(h) * passes;
  for (int pass = 0; pass < passes && !progress.Aborted(); ++pass) {
    int last = -1;
    for (png_uint_32 y = 0; y < h && !progress.Aborted(); ++y) {
      uint8_t* dest = bitmap.ScanLine(int(y));
      if (channels == 4) {
        uint8_t* src = st.buffer.data() + (passes > 1 ? size_t(y) * w * 4 : 0);
        png_read_rows(png, &src, nullptr, 1);
        uint8_t* a = alpha->ScanLine(int(y));
        for (png_uint_32 x = 0; x < w; ++x) {
          std::memcpy(dest + 3 * size_t(x), src + 4 * size_t(x), 3);
          a[x] = src[4 * size_t(x) + 3];
        }
      } else if (palette1) {
        uint8_t* src = st.buffer.data() + (passes > 1 ? size_t(y) * packedRow : 0);
        png_read_rows(png, &src, nullptr, 1);
        for (png_uint_32 x = 0; x < w; ++x) {
          const TRGB c = pal2[(src[x >> 3] >> (7 - (x & 7))) & 1];
          std::memcpy(dest + 3 * size_t(x), &c, 3);
        }
      } else {
        png_read_rows(png, &dest, nullptr, 1);
      }
      ++progress.Counter;
      if (progress.ProgressEvent) {
        const int per = static_cast<int>(int64_t(progress.Counter) * 100 / total);
        if (per != last) {
          last = per;
          progress.Report(per);
        }
      }
    }
  }
  if (!progress.Aborted()) png_read_end(png, nullptr);

  png_bytep trns = nullptr;
  int trnsCount = 0;
  if (format == ie8p && png_get_tRNS(png, info, &trns, &trnsCount, nullptr) && trns) {
    TIEBitmap* a = bitmap.AlphaChannel();
    a->SetFull(false);
    for (png_uint_32 y = 0; y < h; ++y) {
      const uint8_t* s = bitmap.ScanLine(int(y));
      uint8_t* d = a->ScanLine(int(y));
      for (png_uint_32 x = 0; x < w; ++x) d[x] = s[x] < trnsCount ? trns[s[x]] : 255;
    }
  }
  return true;
}

// ---- writing ----

struct TPngWriteState {
  TStream* stream = nullptr;
  TProgressRecord* progress = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  bool failed = false;  // libpng refused the image
};

void PngWriteError(png_structp png, png_const_charp) {
  auto* st = static_cast<TPngWriteState*>(png_get_error_ptr(png));
  st->failed = true;
  png_longjmp(png, 1);
}

void PngWriteData(png_structp png, png_bytep data, png_size_t length) {
  auto* st = static_cast<TPngWriteState*>(png_get_io_ptr(png));
  int64_t written = 0;
  try {
    written = st->stream->Write(data, static_cast<int64_t>(length));
  } catch (...) {
    written = -1;
  }
  if (written != static_cast<int64_t>(length)) st->progress->Abort();
}

void PngFlush(png_structp) {}

uint8_t GreyLevel(TRGB c) { return uint8_t(Round((21.0 * c.r + 71.0 * c.g + 8.0 * c.b) / 100.0)); }

// What the rows are made of, decided before libpng is called.
struct TPngPlan {
  TIEBitmap* source = nullptr;
  std::unique_ptr<TIEBitmap> copy;
  std::unique_ptr<TIEQuantizer> quantizer;
  std::vector<png_color> palette;
  png_byte trns0 = 0;
  bool transparent = false;
  int colorType = 0, depth = 8;
  png_color_16 background{};
  std::vector<png_text> texts;
  std::vector<std::string> textStore;
  std::vector<uint8_t> row;
};

// Rows must come from ie1g, ie8g, ie16g, ie8p or ie24RGB in the combination
// the chosen colour type can read; anything else is written from a converted copy.
TIEBitmap* Converted(TPngPlan& plan, TIEBitmap& from, TIEBitmapFormat format) {
  if (from.PixelFormat() == format) return &from;
  auto c = TIEBitmap::CreateCopy(from);
  c->SetPixelFormat(format);
  plan.copy = std::move(c);
  return plan.copy.get();
}

void PlanPng(TPngPlan& plan, TIEBitmap& bitmap, TIOParamsVals& params, TIEMask* mask) {
  if (params.SamplesPerPixel == 1 && params.BitsPerSample != 1 && params.BitsPerSample != 8 &&
      params.BitsPerSample != 16)
    params.BitsPerSample = 8;
  const int bps = params.BitsPerSample;
  const bool grey1 = params.SamplesPerPixel == 1;
  plan.transparent = mask != nullptr && !mask->Full() && mask->HasBits();
  const TRGB bg = params.PngBackground;
  if (grey1 && bps == 1) {
    plan.colorType = PNG_COLOR_TYPE_GRAY;
    plan.depth = 1;
    plan.transparent = false;
    if (bitmap.PixelFormat() == ie1g) {
      plan.source = &bitmap;
    } else {
      TRGB c1, c2;
      plan.copy = ConvertTwoColorTo1Bit(bitmap, c1, c2);
      if (!plan.copy) {
        plan.copy = TIEBitmap::CreateCopy(bitmap);
        plan.copy->SetPixelFormat(ie1g);
      }
      plan.source = plan.copy.get();
    }
    plan.background.gray = GreyLevel(bg) >= 128 ? 1 : 0;
    return;
  }
  if (!grey1) {
    plan.source = Converted(plan, bitmap, ie24RGB);
    plan.colorType = plan.transparent ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    plan.depth = 8;
    plan.background.red = bg.r, plan.background.green = bg.g, plan.background.blue = bg.b;
    return;
  }
  if (plan.transparent) {
    // Index 0 is the transparent background; the colours follow it.
    plan.source = Converted(plan, bitmap, ie24RGB);
    plan.colorType = PNG_COLOR_TYPE_PALETTE;
    plan.depth = 8;
    const int n = 1 << std::min(bps, 8);
    const int colours = std::min(n, 255);
    std::vector<TRGB> pal(static_cast<size_t>(colours));
    plan.quantizer = std::make_unique<TIEQuantizer>(*plan.source, colours, pal.data());
    plan.palette.push_back(png_color{bg.r, bg.g, bg.b});
    for (const TRGB& c : pal) plan.palette.push_back(png_color{c.r, c.g, c.b});
    plan.palette.resize(size_t(std::min(n + 1, 256)), png_color{0, 0, 0});
    plan.trns0 = 0;
    plan.background.index = 0;
    return;
  }
  TIEBitmapFormat f = bitmap.PixelFormat();
  TIEBitmap* src = &bitmap;
  if (f == ie16g && bps != 16) src = Converted(plan, bitmap, ie8g);
  else if (f != ie8p && f != ie8g && f != ie16g && f != ie24RGB) src = Converted(plan, bitmap, ie24RGB);
  std::vector<TRGB> pal(256);
  plan.quantizer = std::make_unique<TIEQuantizer>(*src, 256, pal.data());
  if (plan.quantizer->IsGray() || src->PixelFormat() == ie8g || src->PixelFormat() == ie16g) {
    plan.colorType = PNG_COLOR_TYPE_GRAY;
    plan.depth = bps == 16 ? 16 : 8;
    // A grey palette bitmap gives its grey levels, not its indices.
    if (src->PixelFormat() == ie8p) src = Converted(plan, *src, ie8g);
    const uint8_t g = GreyLevel(bg);
    plan.background.gray = plan.depth == 16 ? uint16_t(g * 257) : g;
  } else {
    plan.colorType = PNG_COLOR_TYPE_PALETTE;
    plan.depth = bps;  // 16 here is refused by libpng, as it must be
    for (const TRGB& c : pal) plan.palette.push_back(png_color{c.r, c.g, c.b});
    plan.background.index = png_byte(plan.quantizer->GetIndex(bg));
  }
  plan.source = src;
}

void FillRow(TPngPlan& plan, TIEMask* mask, int y, int width) {
  TIEBitmap& src = *plan.source;
  const uint8_t* s = src.ScanLine(y);
  uint8_t* d = plan.row.data();
  const TIEBitmapFormat f = src.PixelFormat();
  if (plan.colorType == PNG_COLOR_TYPE_PALETTE) {
    if (plan.transparent) {
      for (int x = 0; x < width; ++x)
        d[x] = mask->GetPixel(x, y) == 255
                   ? uint8_t(plan.quantizer->GetIndex(*reinterpret_cast<const TRGB*>(s + 3 * size_t(x))) + 1)
                   : 0;
    } else if (f == ie8p) {
      std::memcpy(d, s, size_t(width));
    } else {
      for (int x = 0; x < width; ++x)
        d[x] = uint8_t(plan.quantizer->GetIndex(*reinterpret_cast<const TRGB*>(s + 3 * size_t(x))));
    }
  } else if (plan.colorType == PNG_COLOR_TYPE_RGB_ALPHA) {
    for (int x = 0; x < width; ++x) {
      std::memcpy(d + 4 * size_t(x), s + 3 * size_t(x), 3);
      d[4 * size_t(x) + 3] = uint8_t(mask->GetPixel(x, y));
    }
  } else if (plan.colorType == PNG_COLOR_TYPE_GRAY && plan.depth == 16) {
    for (int x = 0; x < width; ++x) {
      uint16_t v;
      if (f == ie16g) std::memcpy(&v, s + 2 * size_t(x), 2);
      else if (f == ie8g) v = uint16_t(s[x] * 257);
      else v = uint16_t(plan.quantizer->GetIndex(*reinterpret_cast<const TRGB*>(s + 3 * size_t(x))) * 257);
      d[2 * size_t(x)] = uint8_t(v >> 8);
      d[2 * size_t(x) + 1] = uint8_t(v);
    }
  } else if (plan.colorType == PNG_COLOR_TYPE_GRAY && plan.depth == 8) {
    if (f == ie8g) {
      std::memcpy(d, s, size_t(width));
    } else {
      for (int x = 0; x < width; ++x)
        d[x] = uint8_t(plan.quantizer->GetIndex(*reinterpret_cast<const TRGB*>(s + 3 * size_t(x))));
    }
  }
}

bool WritePngBody(TPngWriteState& st, TPngPlan& plan, TIEBitmap& bitmap, TIOParamsVals& params, TIEMask* mask) {
  png_structp png = st.png;
  png_infop info = st.info;
  TProgressRecord& progress = *st.progress;
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &st, PngWriteData, PngFlush);
  const int width = plan.source->Width(), height = plan.source->Height();
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), plan.depth, plan.colorType,
               params.PngInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!plan.palette.empty()) png_set_PLTE(png, info, plan.palette.data(), int(plan.palette.size()));
  if (plan.transparent && plan.colorType == PNG_COLOR_TYPE_PALETTE) png_set_tRNS(png, info, &plan.trns0, 1, nullptr);
  png_set_pHYs(png, info, png_uint_32(Round(params.DpiX * 100 / 2.54)), png_uint_32(Round(params.DpiY * 100 / 2.54)),
               PNG_RESOLUTION_METER);
  static const int kFilters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_PAETH,
                                 PNG_FILTER_UP,   PNG_FILTER_AVG,   PNG_ALL_FILTERS};
  if (params.PngFilter <= 5) png_set_filter(png, 0, kFilters[params.PngFilter]);
  png_set_bKGD(png, info, &plan.background);
  png_set_compression_level(png, params.PngCompression);
  png_set_bgr(png);
  if (!plan.texts.empty()) png_set_text(png, info, plan.texts.data(), int(plan.texts.size()));
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  const bool direct = plan.colorType == PNG_COLOR_TYPE_RGB || plan.depth == 1;
  const int64_t total = int64_t(height) * passes;
  for (int pass = 0; pass < passes && !progress.Aborted(); ++pass) {
    for (int y = 0; y < height && !progress.Aborted(); ++y) {
      png_bytep row = direct ? plan.source->ScanLine(y) : plan.row.data();
      if (!direct) FillRow(plan, mask, y, width);
      png_write_rows(png, &row, 1);
      ++progress.Counter;
      if (progress.ProgressEvent) progress.Report(static_cast<int>(int64_t(progress.Counter) * 100 / total));
    }
  }
  if (!progress.Aborted()) png_write_end(png, info);
  (void)bitmap;
  return true;
}

}  // namespace

void ReadPNGStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                   TProgressRecord& progress) {
  TPngReadState st;
  st.stream = &stream;
  st.bitmap = &bitmap;
  st.params = &params;
  st.progress = &progress;
  st.paramsOnly = paramsOnly;
  try {
    constexpr int64_t kMinAllocRoom = 64 << 20;
    st.allocLimit = std::max<int64_t>(stream.Remaining() + 1, kMinAllocRoom);
    st.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &st, PngReadError, PngWarning, &st, PngMalloc, PngFree);
    if (st.png) st.info = png_create_info_struct(st.png);
    bool ok = false;
    if (st.png && st.info) {
      st.keys.reserve(8);
      ok = ReadPngBody(st);
    }
    png_destroy_read_struct(st.png ? &st.png : nullptr, st.info ? &st.info : nullptr, nullptr);
    if (!ok) {
      progress.Abort();
      return;
    }
    params.PngTextKeys.Clear();
    params.PngTextValues.Clear();
    for (size_t i = 0; i < st.keys.size(); ++i) {
      params.PngTextKeys.Add(st.keys[i]);
      params.PngTextValues.Add(st.values[i]);
    }
  } catch (...) {
    progress.Abort();
  }
}

bool IsPNGStream(TStream& stream) {
  const int64_t pos = stream.Position();
  uint8_t sig[8] = {};
  const int64_t got = stream.Read(sig, 8);
  stream.SetPosition(pos);
  return got == 8 && sig[0] == 0x89 && sig[1] == 'P' && sig[2] == 'N' && sig[3] == 'G';
}

void WritePNGStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TIEMask* mask,
                    TProgressRecord& progress) {
  TPngPlan plan;
  TPngWriteState st;
  st.stream = &stream;
  st.progress = &progress;
  bool ok = false;
  {
    PlanPng(plan, bitmap, params, mask);
    const int n = std::min(params.PngTextKeys.Count(), params.PngTextValues.Count());
    plan.textStore.reserve(size_t(2 * n));
    for (int i = 0; i < n; ++i) {
      const std::string key = params.PngTextKeys[i];
      if (key.empty() || key.size() > 79) continue;  // libpng takes keywords of 1 to 79 bytes
      plan.textStore.push_back(key);
      plan.textStore.push_back(params.PngTextValues[i]);
    }
    for (size_t i = 0; i + 1 < plan.textStore.size(); i += 2) {
      png_text t{};
      t.compression = PNG_TEXT_COMPRESSION_NONE;
      t.key = plan.textStore[i].data();
      t.text = plan.textStore[i + 1].data();
      t.text_length = plan.textStore[i + 1].size();
      plan.texts.push_back(t);
    }
    const int w = plan.source->Width();
    if (plan.source->IsEmpty() || w <= 0) throw EInvalidGraphic("Error on creating PNG");
    plan.row.assign(size_t(w) * 4 + 16, 0);
    st.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &st, PngWriteError, PngWarning);
    if (st.png) st.info = png_create_info_struct(st.png);
    if (st.png && st.info) ok = WritePngBody(st, plan, bitmap, params, mask);
    png_destroy_write_struct(st.png ? &st.png : nullptr, st.info ? &st.info : nullptr);
  }
  if (!ok) throw EInvalidGraphic("Error on creating PNG");
}

// ---- the format ----

namespace {

void ReadPNGFormat(TIEFormatReadArgs& a) { ReadPNGStream(a.Stream, *a.Bitmap, a.Params, a.ParamsOnly, a.Progress); }

void WritePNGFormat(TIEFormatWriteArgs& a) { WritePNGStream(a.Stream, a.Bitmap, a.Params, a.AlphaMask, a.Progress); }

}  // namespace

TIEFormatDescriptor PNGFormat() {
  return {
      .FileType = ioPNG,
      .FullName = "Portable Network Graphics",
      .Suffixes = "PNG",
      .Access = ieaReadWrite,
      .DialogPage = iedpPNG,
      .Probe = IsPNGStream,
      .ProbeOrder = 30,
      .ProbeMinSize = 8,
      .Read = ReadPNGFormat,
      .ReadParams = ReadPNGFormat,
      .Write = WritePNGFormat,
      .LoadOptions = {ielFixDPI, ielAdjustDPI, ielSyncView, ielResetMetadata, ielTakeBackground},
      .SaveOptions = {iesAlphaMask},
      .SaveOrder = 80,
      .SaveSuffixes = "PNG",
  };
}
