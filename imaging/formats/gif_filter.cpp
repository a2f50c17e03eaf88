#include "imaging/formats/gif_filter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "imaging/core/ie_bilevel.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_quantizer.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "pictures/gif/gif_blocks.h"
#include "pictures/gif/gif_codec.h"
#include "pictures/gif/gif_extensions.h"
#include "platform/rtl/byte_order.h"
#include "platform/rtl/streams.h"

namespace {

// An LZW code of w bits stands for at most 2^w pixels, so a byte of data
// yields at most 8 * 4096 / 12 of them; a frame that needs more than the
// stream can give is refused before its buffers are allocated.
constexpr int64_t kMaxPixelsPerByte = 2731;

// A reason for Refuse must outlive the load; the codec's texts are few.
const char* KeptReason(const std::string& text) {
  static std::mutex lock;
  static std::set<std::string> kept;
  std::lock_guard<std::mutex> guard(lock);
  return kept.insert(text).first->c_str();
}

// The frame's colour table as the library's palette: the local table, else the
// global one, else (a stream with neither) a grey ramp.
struct TFramePalette {
  std::vector<TRGB> colors;  // 2^bits entries
  int bits = 8;
  int tableCount = 0;        // entries the file gave; indices past them are black
};

TFramePalette FramePalette(TGIFSubImage& frame, TGIFHeader& header) {
  TFramePalette p;
  TGIFColorMap* map = nullptr;
  if (frame.LocalMap().EntryCount() > 0)
    map = &frame.LocalMap();
  else if (header.GlobalMap().EntryCount() > 0)
    map = &header.GlobalMap();
  if (map == nullptr) {
    p.colors.resize(256);
    for (int i = 0; i < 256; ++i) p.colors[size_t(i)] = MakeRGB(uint8_t(i), uint8_t(i), uint8_t(i));
    p.tableCount = 256;
    return p;
  }
  p.bits = std::max(1, map->IndexBits());
  p.colors.assign(size_t(1) << p.bits, TRGB{});
  p.tableCount = std::min(map->EntryCount(), int(p.colors.size()));
  for (int i = 0; i < p.tableCount; ++i) {
    const uint32_t c = map->RawColor(i);
    p.colors[size_t(i)] = MakeRGB(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16));
  }
  return p;
}

TRGB ColorAt(const TFramePalette& p, int index) {
  return index >= 0 && index < p.tableCount ? p.colors[size_t(index)] : TRGB{};
}

void SetParamsPalette(TIOParamsVals& params, const TFramePalette& p) {
  params.FreePalette();
  params.Palette = p.colors;
  params.PaletteCount = int32_t(p.colors.size());
  params.BitsPerSample = p.bits;
}

// The stream's signature: at the position, or after the 4-byte length some
// streams carry in front of the data (as the header reader accepts).
std::string ReadSignature(TStream& stream, int64_t start) {
  char sig[6];
  for (int64_t at : {start, start + 4}) {
    stream.SetPosition(at);
    if (stream.Read(sig, 6) == 6 && std::toupper(sig[0]) == 'G' && std::toupper(sig[1]) == 'I' &&
        std::toupper(sig[2]) == 'F')
      return std::string(sig, 6);
  }
  return "GIF89a";
}

void AppendComments(TGIFSubImage& frame, TStringList& comments) {
  TGIFExtensionList& list = frame.ExtensionBlocks();
  for (int i = 0; i < list.Count(); ++i) {
    auto* comment = dynamic_cast<TGIFCommentExtension*>(list.GetExtensionAt(i));
    if (comment == nullptr) continue;
    for (int k = 0; k < comment->CommentLines.Count(); ++k)
      if (!comment->CommentLines[k].empty()) comments.Add(comment->CommentLines[k]);
  }
}

// The frame's own parameters, from its descriptor and control extension.
void StoreFrameParams(TGIFSubImage& frame, const TFramePalette& palette, TIOParamsVals& params) {
  TGIFGraphicControlExtension* control = frame.ControlExtension();
  const bool transparent = control != nullptr && control->HasTransparency();
  params.GifTransparentColor = ColorAt(palette, transparent ? control->TransparentEntry() : 0);
  params.GifXPos = frame.Left();
  params.GifYPos = frame.Top();
  params.Width = params.StoredWidth = frame.Width();
  params.Height = params.StoredHeight = frame.Height();
  params.GifDelay = control != nullptr ? control->FrameDelay() : 0;
  params.GifTransparent = transparent;
  params.GifInterlaced = frame.IsInterlaced();
  params.GifDisposal = uint8_t(control != nullptr ? control->DisposalMethod() : 0);
}

bool IsBlackWhite(const TFramePalette& p) {
  return p.bits == 1 && p.tableCount == 2 && p.colors[0] == TRGB{} && p.colors[1] == MakeRGB(255, 255, 255);
}

// Fills the bitmap (and the mask) from the index buffer.
bool FillBitmap(TIEBitmap& bitmap, const uint8_t* indices, int width, int height, const TFramePalette& palette,
                bool nativeFormat, int transparentIndex, TIEMaskOut* mask) {
  const bool blackWhite = IsBlackWhite(palette);
  const TIEBitmapFormat format = blackWhite ? ie1g : nativeFormat ? ie8p : ie24RGB;
  if (!bitmap.Allocate(width, height, format)) return false;
  if (format == ie8p) {
    bitmap.SetPaletteColorCount(int(palette.colors.size()));
    for (int i = 0; i < 256; ++i) bitmap.SetPaletteColor(i, ColorAt(palette, i));
  }
  TRGB lookup[256];
  for (int i = 0; i < 256; ++i) lookup[i] = ColorAt(palette, i);
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = indices + int64_t(y) * width;
    uint8_t* out = bitmap.ScanLine(y);
    if (format == ie1g) {
      std::memset(out, 0, size_t(bitmap.RowLen()));
      for (int x = 0; x < width; ++x)
        if (in[x] & 1) out[x >> 3] |= uint8_t(0x80 >> (x & 7));
    } else if (format == ie8p) {
      std::memcpy(out, in, size_t(width));
    } else {
      TRGB* rgb = reinterpret_cast<TRGB*>(out);
      for (int x = 0; x < width; ++x) rgb[x] = lookup[in[x]];
    }
  }
  if (mask == nullptr) return true;
  if (!*mask) *mask = std::make_unique<TIEMask>();
  (*mask)->Allocate(width, height, 8);
  (*mask)->Fill(255);
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = indices + int64_t(y) * width;
    uint8_t* m = (*mask)->ScanLine(y);
    for (int x = 0; x < width; ++x)
      if (in[x] == transparentIndex) m[x] = 0;
  }
  (*mask)->CheckFull();
  if ((*mask)->Full()) mask->reset();
  return true;
}

// Decodes the frame whose blocks the reader has just read, the stream at its
// pixel data.
void ReadFramePixels(TGIFFrameReader& reader, TStream& stream, TIEBitmap& bitmap, bool ignoreTransparency,
                     TIEMaskOut& mask, TProgressRecord& progress, TIOParamsVals& params,
                     const TFramePalette& palette) {
  TGIFSubImage& frame = reader.Frame();
  const int width = frame.Width(), height = frame.Height();
  const int64_t pixels = int64_t(width) * height;
  if (pixels <= 0) return progress.Refuse("the frame has no pixels");
  if (pixels > kGIFMaxFramePixels) return progress.Refuse("a frame of more pixels than the reader holds");
  if (!DataCanFill(pixels, stream.Size() - stream.Position(), kMaxPixelsPerByte))
    return progress.Refuse(kRefusedUnfilled);
  // Pixels the codes never reach show what is behind the frame: the
  // transparent index where there is one, else index 0, as the picture draws them.
  const int transparentIndex = params.GifTransparent ? frame.TransparentIndex() : -1;
  std::vector<uint8_t> indices;
  try {
    indices.assign(size_t(pixels), uint8_t(std::max(transparentIndex, 0)));
  } catch (const std::bad_alloc&) {
    return progress.Refuse(kRefusedNoMemory);
  }
  const GIFLZWDecoderProc& decoder = params.GifLZWDecoder ? params.GifLZWDecoder : IEFilters().GIFLZWDecompress;
  const int64_t before = stream.Position();
  if (decoder) decoder(stream, height, width, indices.data(), frame.IsInterlaced());
  if (stream.Position() == before) return progress.Refuse("the frame's data cannot be decoded");
  progress.Report(70);
  TIEMaskOut* maskOut = params.GifTransparent && !ignoreTransparency ? &mask : nullptr;
  if (!FillBitmap(bitmap, indices.data(), width, height, palette, params.NativePixelFormat, transparentIndex,
                  maskOut))
    return progress.Refuse(kRefusedNoMemory);
}

}  // namespace

void GIFLZWDecompress(TStream& stream, int height, int width, uint8_t* indices, bool interlaced) {
  const int64_t start = stream.Position();
  if (DecodeGIFIndices(stream, width, height, indices, interlaced, nullptr) != gdDecoded) stream.SetPosition(start);
}

void GIFLZWCompress(TStream& stream, int height, int width, int bitsPerPixel, const uint8_t* indices,
                    bool interlaced) {
  const int bits = std::clamp(bitsPerPixel, 1, 8);
  EncodeGIFIndices(stream, bits, 1 << bits, indices, width, height, interlaced);
}

void ReadGIFStream(TStream& stream, TIEBitmap& bitmap, int& frameCount, bool ignoreTransparency, TIEMaskOut& mask,
                   bool paramsOnly, TProgressRecord& progress, TIOParamsVals& params) {
  progress.Report(0);
  frameCount = 0;
  mask.reset();
  if (progress.Aborted()) return;
  const int index = params.GifImageIndex;
  bool found = false;
  int counter = 0;
  try {
    const int64_t start = stream.Position();
    TGIFFrameReader reader(stream);
    reader.ReadHeader();
    const int64_t afterHeader = stream.Position();
    params.GifVersion = ReadSignature(stream, start);
    stream.SetPosition(afterHeader);
    TGIFHeader& header = reader.Header();
    params.GifWinWidth = header.ScreenBlock.LogicalWidth;
    params.GifWinHeight = header.ScreenBlock.LogicalHeight;
    params.GifAspectRatio = header.ScreenBlock.PixelAspect;
    params.SetDpiX(gDefaultDPIX);
    params.SetDpiY(gDefaultDPIY);
    params.SamplesPerPixel = 1;
    if (header.GlobalMap().EntryCount() > 0) {
      const int bg = header.ScreenBlock.BackgroundEntry;
      const uint32_t c = bg < header.GlobalMap().EntryCount() ? header.GlobalMap().RawColor(bg) : 0;
      params.GifBackground = MakeRGB(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16));
    }
    if (stream.Position() >= stream.Size()) return progress.Refuse("the stream ends after the header");
    params.GifComments.Clear();
    while (!progress.Aborted()) {
      // Once the frame is read, damage further on only ends the count.
      bool more = false;
      try {
        more = reader.NextFrame();
      } catch (const Exception&) {
        if (!found) throw;
      }
      AppendComments(reader.Frame(), params.GifComments);
      if (!more) break;
      if (counter == index) {
        found = true;
        progress.Report(30);
        TGIFSubImage& frame = reader.Frame();
        const TFramePalette palette = FramePalette(frame, header);
        StoreFrameParams(frame, palette, params);
        if (paramsOnly)
          reader.SkipPixels();
        else
          ReadFramePixels(reader, stream, bitmap, ignoreTransparency, mask, progress, params, palette);
        SetParamsPalette(params, palette);
      } else {
        reader.SkipPixels();
      }
      ++counter;
    }
  } catch (const std::bad_alloc&) {
    progress.Refuse(kRefusedNoMemory);
  } catch (const Exception& e) {
    progress.Refuse(KeptReason(RefusalOf(e)));
  } catch (const std::exception&) {
    progress.Refuse(kRefusedStreamFailed);
  }
  params.SetImageCount(counter);
  frameCount = counter;
  if (!found && !paramsOnly && !progress.Aborted()) progress.Refuse("no frame of that index");
  if (progress.Aborted()) mask.reset();
  if (!progress.Aborted()) progress.Report(100);
}

namespace {

void PutLE16(uint8_t* p, int v) { WriteLE16(p, uint16_t(v)); }

uint32_t PackColor(TRGB c) { return uint32_t(c.r) | uint32_t(c.g) << 8 | uint32_t(c.b) << 16; }

// What the writer codes: the bitmap itself or a converted copy.
struct TGIFSource {
  TIEBitmap* bitmap = nullptr;
  std::unique_ptr<TIEBitmap> owned;
  bool twoColors = false;  // a 1-bit copy of a two-colour picture; its colours follow
  TRGB c1, c2;
};

TGIFSource SourceFor(TIEBitmap& bitmap, int bits) {
  TGIFSource s;
  const TIEBitmapFormat format = bitmap.PixelFormat();
  if (bits == 1) {
    if (format == ie1g) {
      s.bitmap = &bitmap;
      return s;
    }
    s.owned = ConvertTwoColorTo1Bit(bitmap, s.c1, s.c2);
    if (s.owned) {
      s.twoColors = true;
    } else {
      s.owned = std::make_unique<TIEBitmap>(bitmap.Width(), bitmap.Height(), ie1g);
      s.owned->ConvertFrom(bitmap);
    }
  } else if (format == ie8p || format == ie24RGB) {
    s.bitmap = &bitmap;
    return s;
  } else {
    // Every other format is coded from its colours, never from its raw bytes.
    s.owned = std::make_unique<TIEBitmap>(bitmap.Width(), bitmap.Height(), ie24RGB);
    s.owned->ConvertFrom(bitmap);
  }
  s.bitmap = s.owned.get();
  return s;
}

}  // namespace

void WriteGIFStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  progress.Report(0);
  if (progress.Aborted()) return;
  const int width = bitmap.Width(), height = bitmap.Height();
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
    return progress.Refuse("the picture does not fit a GIF screen");
  try {
    const bool alpha = bitmap.HasAlphaChannel();
    int bits = std::clamp<int>(params.BitsPerSample, 1, 8);
    // One bit leaves no entry for the transparent pixels.
    if (bits == 1 && alpha) bits = 2;
    TGIFSource source = SourceFor(bitmap, bits);
    TIEBitmap& src = *source.bitmap;
    int colors = 1 << bits;
    if (alpha) {
      colors -= 1;
      params.GifTransparent = true;
    }

    std::vector<uint8_t> indices(size_t(width) * size_t(height));
    std::vector<TRGB> palette(size_t(1) << bits);
    std::unique_ptr<TIEQuantizer> quantizer;
    if (bits == 1) {
      palette[0] = source.twoColors ? source.c1 : TRGB{};
      palette[1] = source.twoColors ? source.c2 : MakeRGB(255, 255, 255);
      for (int y = 0; y < height; ++y) {
        const uint8_t* row = src.ScanLine(y);
        uint8_t* out = indices.data() + size_t(y) * width;
        for (int x = 0; x < width; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
      }
    } else {
      // A picture of few colours keeps them exactly; the quantiser would give a
      // grey one an even ramp.
      std::vector<TRGB> exact;
      if (src.PixelFormat() == ie24RGB) exact = GetExactPalette(src, colors, palette.data());
      if (exact.empty()) quantizer = std::make_unique<TIEQuantizer>(src, colors, palette.data());
      std::unordered_map<uint32_t, int> exactIndex;
      for (size_t i = 0; i < exact.size(); ++i) exactIndex.emplace(PackColor(exact[i]), int(i));
      auto lookup = [&](TRGB c) {
        if (quantizer) return quantizer->GetIndex(c);
        const auto it = exactIndex.find(PackColor(c));
        return it != exactIndex.end() ? it->second : FindNearestPaletteEntry(exact.data(), int(exact.size()), c);
      };
      uint8_t map8[256] = {};
      if (src.PixelFormat() == ie8p) {
        TRGB c;
        for (int i = 0; i < 256; ++i) {
          src.GetPaletteColor(i, c);
          map8[i] = uint8_t(lookup(c));
        }
      }
      for (int y = 0; y < height; ++y) {
        const uint8_t* row = src.ScanLine(y);
        uint8_t* out = indices.data() + size_t(y) * width;
        if (src.PixelFormat() == ie8p) {
          for (int x = 0; x < width; ++x) out[x] = map8[row[x]];
        } else {
          const TRGB* rgb = reinterpret_cast<const TRGB*>(row);
          for (int x = 0; x < width; ++x) out[x] = uint8_t(lookup(rgb[x]));
        }
      }
    }
    if (alpha) {
      for (int y = 0; y < height; ++y) {
        const uint8_t* a = bitmap.AlphaChannel()->ScanLine(y);
        uint8_t* out = indices.data() + size_t(y) * width;
        for (int x = 0; x < width; ++x)
          if (a[x] != 255) out[x] = uint8_t(colors);
      }
      palette[size_t(colors)] = params.GifTransparentColor;
    }
    auto indexOf = [&](TRGB c) { return FindNearestPaletteEntry(palette.data(), colors, c); };
    progress.Report(30);

    TFilterWriter w{stream, progress};
    std::string version = params.GifVersion.substr(0, 6);
    if (version.size() != 6 || version.compare(0, 3, "GIF") != 0) version = "GIF89a";
    uint8_t screen[13];
    std::memcpy(screen, version.data(), 6);
    PutLE16(screen + 6, width);
    PutLE16(screen + 8, height);
    screen[10] = uint8_t(0x80 | (bits - 1) << 4 | (bits - 1));
    screen[11] = uint8_t(indexOf(params.GifBackground));
    screen[12] = 0;
    w.Put(screen, 13);
    std::vector<uint8_t> table(palette.size() * 3);
    for (size_t i = 0; i < palette.size(); ++i) {
      table[3 * i] = palette[i].r;
      table[3 * i + 1] = palette[i].g;
      table[3 * i + 2] = palette[i].b;
    }
    w.Put(table.data(), int64_t(table.size()));

    const int transparentIndex = alpha ? colors : indexOf(params.GifTransparentColor);
    uint8_t control[8] = {0x21, 0xF9, 4, uint8_t((params.GifDisposal & 7) << 2 | (params.GifTransparent ? 1 : 0)),
                          0, 0, uint8_t(transparentIndex), 0};
    PutLE16(control + 4, params.GifDelay);
    w.Put(control, 8);
    uint8_t descriptor[10] = {0x2C};
    PutLE16(descriptor + 1, params.GifXPos);
    PutLE16(descriptor + 3, params.GifYPos);
    PutLE16(descriptor + 5, width);
    PutLE16(descriptor + 7, height);
    descriptor[9] = params.GifInterlaced ? 0x40 : 0;
    w.Put(descriptor, 10);
    if (w.Failed()) return;
    progress.Report(70);

    const GIFLZWEncoderProc& encoder = params.GifLZWEncoder ? params.GifLZWEncoder : IEFilters().GIFLZWCompress;
    if (!encoder) return progress.Refuse("no LZW encoder");
    encoder(stream, height, width, bits, indices.data(), params.GifInterlaced);

    // Comments longer than a sub-block go on in the next one.
    TGIFCommentExtension comment(nullptr);
    comment.CommentLines.Assign(&params.GifComments);
    comment.SaveToStream(stream);
    const uint8_t trailer = 0x3B;
    w.Put(&trailer, 1);
  } catch (const std::bad_alloc&) {
    return progress.Refuse(kRefusedNoMemory);
  } catch (const Exception& e) {
    return progress.Refuse(KeptReason(RefusalOf(e)));
  } catch (const std::exception&) {
    return progress.Refuse(kRefusedStreamFailed);
  }
  if (!progress.Aborted()) progress.Report(100);
}

TIEFormatDescriptor GIFFormat() {
  return {
      .FileType = ioGIF,
      .FullName = "CompuServe Bitmap",
      .Suffixes = "GIF",
      .Access = ieaReadWrite,
      .DialogPage = iedpGIF,
      .Read =
          [](TIEFormatReadArgs& a) {
            int frames = 0;
            ReadGIFStream(a.Stream, *a.Bitmap, frames, false, a.AlphaMask, a.ParamsOnly, a.Progress, a.Params);
          },
      .ReadParams =
          [](TIEFormatReadArgs& a) {
            int frames = 0;
            ReadGIFStream(a.Stream, *a.Bitmap, frames, false, a.AlphaMask, a.ParamsOnly, a.Progress, a.Params);
          },
      .Write = [](TIEFormatWriteArgs& a) { WriteGIFStream(a.Stream, a.Bitmap, a.Params, a.Progress); },
      .LoadOptions = {ielAlphaFromMask, ielFixDPI, ielAdjustDPI, ielResetMetadata},
      .LoadOpenFailure = ieofKeepFlag,
      .SaveOrder = 60,
      .SaveSuffixes = "GIF",
  };
}
