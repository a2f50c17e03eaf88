#include "imaging/special/jpeg2000/j2000_filter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_startup.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "pictures/jpeg2000/jpeg2000_opj.h"
#include "platform/rtl/byte_order.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"

namespace {

// Chroma contributions of a Cr or Cb byte, from the grey weights 0.299,
// 0.587 and 0.114 held in single precision.
struct TYccTables {
  std::array<int, 256> crToRed{}, cbToBlue{}, crToGreen{}, cbToGreen{};
};

const TYccTables& YccTables() {
  static const TYccTables tables = [] {
    TYccTables t;
    const float wr = 0.299f, wg = 0.587f, wb = 0.114f;
    const float e = 2.0f - 2.0f * wr, l = 2.0f - 2.0f * wb;
    const float g = wr * e / wg, m = wb * l / wg;
    for (int c = 0; c < 256; ++c) {
      const float o = static_cast<float>(c - 128);
      t.crToRed[c] = static_cast<int>(Round(e * o));
      t.cbToBlue[c] = static_cast<int>(Round(l * o));
      t.crToGreen[c] = -static_cast<int>(Round(g * o));
      t.cbToGreen[c] = -static_cast<int>(Round(m * o));
    }
    return t;
  }();
  return tables;
}

bool ReadWordsAt(TStream& stream, uint8_t* buffer, int count) {
  const int64_t start = stream.Position();
  const bool ok = stream.Remaining() >= count && stream.Read(buffer, count) == count;
  stream.SetPosition(start);
  return ok;
}

enum TJ2Space : uint8_t { j2Grey, j2RGB, j2YCC, j2None };

// Unspecified colour spaces (bare code streams) go by the component count.
TJ2Space SpaceOf(const opj_image_t& image) {
  switch (image.color_space) {
    case OPJ_CLRSPC_GRAY: return j2Grey;
    case OPJ_CLRSPC_SRGB: return j2RGB;
    case OPJ_CLRSPC_SYCC: return j2YCC;
    case OPJ_CLRSPC_UNSPECIFIED:
    case OPJ_CLRSPC_UNKNOWN: return image.numcomps >= 3 ? j2RGB : j2Grey;
    default: return j2None;
  }
}

// One component's samples at the picture's pixels, reduced to 8 bits: a
// signed sample is moved up by half its range first (so it does not wrap),
// then its top eight bits are kept (a 1-bit sample of 1 becomes 128). The
// component's grid maps a pixel column x to sample floor((x + X0) / dx) -
// ceil(X0 / dx), held inside the component; rows alike.
struct TPlane8 {
  std::vector<uint8_t> values;
  int width = 0;
};

bool ReducePlane(const opj_image_t& image, const opj_image_comp_t& c, TPlane8& plane) {
  if (!c.data || c.w == 0 || c.h == 0 || c.dx == 0 || c.dy == 0 || c.prec < 1 || c.prec > 31) return false;
  const uint32_t width = image.x1 - image.x0, height = image.y1 - image.y0;
  auto indexes = [](uint32_t origin, uint32_t count, uint32_t step, uint32_t first, uint32_t samples) {
    std::vector<uint32_t> index(count);
    for (uint32_t p = 0; p < count; ++p) {
      const int64_t i = static_cast<int64_t>((uint64_t(origin) + p) / step) - first;
      index[p] = static_cast<uint32_t>(std::clamp<int64_t>(i, 0, int64_t(samples) - 1));
    }
    return index;
  };
  const std::vector<uint32_t> columns = indexes(image.x0, width, c.dx, c.x0, c.w);
  const std::vector<uint32_t> rows = indexes(image.y0, height, c.dy, c.y0, c.h);
  const uint32_t offset = c.sgnd ? uint32_t(1) << (c.prec - 1) : 0;
  const uint32_t mask = c.prec >= 32 ? ~0u : (uint32_t(1) << c.prec) - 1;
  const int shift = (32 - static_cast<int>(c.prec)) % 32;
  plane.width = static_cast<int>(width);
  plane.values.resize(size_t(width) * height);
  uint8_t* out = plane.values.data();
  for (uint32_t y = 0; y < height; ++y) {
    const OPJ_INT32* source = c.data + size_t(rows[y]) * c.w;
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t v = (static_cast<uint32_t>(source[columns[x]]) + offset) & mask;
      *out++ = static_cast<uint8_t>((v << shift) >> 24);
    }
  }
  return true;
}

void FillRows(TIEBitmap& bitmap, TJ2Space space, const std::vector<TPlane8>& planes, TProgressRecord& progress) {
  const int width = bitmap.Width(), height = bitmap.Height();
  const double step = height > 0 ? 100.0 / height : 0;
  const TYccTables& ycc = YccTables();
  const bool oneBit = bitmap.PixelFormat() == ie1g;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    const size_t at = size_t(y) * width;
    if (oneBit) {
      std::memset(row, 0, (width + 7) / 8);
      for (int x = 0; x < width; ++x)
        if (planes[0].values[at + x]) row[x >> 3] |= kIEBitMask[x & 7];
    } else if (planes.size() == 1) {
      for (int x = 0; x < width; ++x, row += 3) row[0] = row[1] = row[2] = planes[0].values[at + x];
    } else if (space == j2YCC) {
      for (int x = 0; x < width; ++x, row += 3) {
        const int yy = planes[0].values[at + x], cb = planes[1].values[at + x], cr = planes[2].values[at + x];
        row[2] = static_cast<uint8_t>(std::clamp(yy + ycc.crToRed[cr], 0, 255));
        row[1] = static_cast<uint8_t>(std::clamp(yy + ycc.cbToGreen[cb] + ycc.crToGreen[cr], 0, 255));
        row[0] = static_cast<uint8_t>(std::clamp(yy + ycc.cbToBlue[cb], 0, 255));
      }
    } else {
      for (int x = 0; x < width; ++x, row += 3) {
        row[2] = planes[0].values[at + x];
        row[1] = planes[1].values[at + x];
        row[0] = planes[2].values[at + x];
      }
    }
    progress.Report(static_cast<int>(y * step));
    if (progress.Aborted()) return;
  }
}

}  // namespace

void InitJ2000Codec() { YccTables(); }

void DoneJ2000Codec() {}

bool IsJP2Stream(TStream& stream) {
  uint8_t h[12];
  return ReadWordsAt(stream, h, 12) && ReadBE32(h) == 12 && ReadBE32(h + 4) == 0x6A502020 &&
         ReadBE32(h + 8) == 0x0D0A870A;
}

bool IsJ2KStream(TStream& stream) {
  uint8_t h[4];
  return ReadWordsAt(stream, h, 4) && h[0] == 0xFF && h[1] == 0x4F && h[2] == 0xFF && h[3] == 0x51;
}

void ReadJ2000Stream(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, bool paramsOnly,
                     TProgressRecord& progress) {
  InitJ2000Codec();
  if (!IsJP2Stream(stream) && !IsJ2KStream(stream)) return progress.Refuse("no JP2 or J2K signature");
  const std::vector<uint8_t> bytes = stream.ReadBytes(std::max<int64_t>(stream.Remaining(), 0));
  const char* refusal = nullptr;
  jp2::TImagePtr image = jp2::DecodeImage(bytes, refusal);
  if (!image) return progress.Refuse(refusal);
  const TJ2Space space = SpaceOf(*image);
  if (space == j2None) return progress.Refuse("a colour space other than grey, RGB or YCbCr");
  // Grey (and a grey picture's opacity) uses the first component; colour the
  // first three, whatever follows them.
  const bool colour = space != j2Grey && image->numcomps >= 3;
  const int used = colour ? 3 : 1;
  const int width = static_cast<int>(image->x1 - image->x0), height = static_cast<int>(image->y1 - image->y0);
  params.SetImageCount(1);
  params.BitsPerSample = static_cast<int32_t>(image->comps[0].prec);
  params.SamplesPerPixel = used;
  params.SetDpiX(gDefaultDPIX);
  params.SetDpiY(gDefaultDPIY);
  params.FreePalette();
  params.Width = width;
  params.Height = height;
  params.J2000ColorSpace = space == j2Grey ? 0 : space == j2RGB ? 1 : 2;
  if (paramsOnly || !bitmap) return;

  std::vector<TPlane8> planes(used);
  for (int k = 0; k < used; ++k)
    if (!ReducePlane(*image, image->comps[k], planes[k])) return progress.Refuse("a component without usable samples");
  image.reset();
  const bool oneBit = !colour && params.BitsPerSample == 1;
  TIEBitmap decoded;
  if (!decoded.Allocate(width, height, oneBit ? ie1g : ie24RGB)) return progress.Refuse("no memory for the bitmap");
  FillRows(decoded, colour ? space : j2Grey, planes, progress);
  if (progress.Aborted()) return;
  bitmap->Assign(&decoded);
}

namespace {

// The grey weights of the library, in hundredths.
uint32_t GreyOf(const uint8_t* bgr) {
  return (bgr[2] * IEGrayWeightRed + bgr[1] * IEGrayWeightGreen + bgr[0] * IEGrayWeightBlue) / 100;
}

}  // namespace

void WriteJ2000Stream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, int codeStream,
                      TProgressRecord& progress) {
  InitJ2000Codec();
  const int width = bitmap.Width(), height = bitmap.Height();
  const bool oneBit = bitmap.PixelFormat() == ie1g;
  if (oneBit) {
    params.BitsPerSample = 1;
    params.J2000ColorSpace = 0;
  }
  if (width <= 0 || height <= 0) return progress.Refuse("an empty bitmap");
  if (!oneBit && bitmap.PixelFormat() != ie24RGB) return progress.Refuse("a pixel format the writer does not take");
  if (params.J2000ColorSpace > 2) return progress.Refuse("a colour space other than grey, RGB or YCbCr");
  const int bits = std::clamp<int>(params.BitsPerSample, 1, 16);
  const double maximum = double((1 << bits) - 1);
  const bool grey = params.J2000ColorSpace == 0;
  TIEBitmap* alpha = !grey && bitmap.HasAlphaChannel() && !bitmap.AlphaChannel()->Full() ? bitmap.AlphaChannel() : nullptr;
  const int components = grey ? 1 : alpha ? 4 : 3;

  opj_image_cmptparm_t parameters[4];
  std::memset(parameters, 0, sizeof(parameters));
  for (int c = 0; c < components; ++c) {
    parameters[c].dx = parameters[c].dy = 1;
    parameters[c].w = static_cast<OPJ_UINT32>(width);
    parameters[c].h = static_cast<OPJ_UINT32>(height);
    parameters[c].prec = static_cast<OPJ_UINT32>(bits);
  }
  jp2::TImagePtr image(opj_image_create(components, parameters, grey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
  if (!image) return progress.Refuse("OpenJPEG could not create the image");
  image->x1 = static_cast<OPJ_UINT32>(width);
  image->y1 = static_cast<OPJ_UINT32>(height);
  if (alpha) image->comps[3].alpha = 1;

  const double scale = maximum / 255.0;
  const double step = 100.0 / height;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = bitmap.ScanLine(y);
    const size_t at = size_t(y) * width;
    if (oneBit) {
      for (int x = 0; x < width; ++x) image->comps[0].data[at + x] = (row[x >> 3] & kIEBitMask[x & 7]) ? 1 : 0;
    } else if (grey) {
      for (int x = 0; x < width; ++x)
        image->comps[0].data[at + x] = static_cast<OPJ_INT32>(GreyOf(row + 3 * x) / 255.0 * maximum);
    } else {
      for (int x = 0; x < width; ++x) {
        image->comps[0].data[at + x] = static_cast<OPJ_INT32>(scale * row[3 * x + 2]);
        image->comps[1].data[at + x] = static_cast<OPJ_INT32>(scale * row[3 * x + 1]);
        image->comps[2].data[at + x] = static_cast<OPJ_INT32>(scale * row[3 * x]);
      }
      if (alpha) {
        const uint8_t* a = alpha->ScanLine(y);
        for (int x = 0; x < width; ++x) image->comps[3].data[at + x] = static_cast<OPJ_INT32>(scale * a[x]);
      }
    }
    progress.Report(static_cast<int>(y * step));
    if (progress.Aborted()) return;
  }

  opj_cparameters_t settings;
  opj_set_default_encoder_parameters(&settings);
  int levels = 6;
  while (levels > 1 && (std::min(width, height) >> (levels - 1)) == 0) --levels;
  settings.numresolution = levels;
  settings.tcp_numlayers = 1;
  settings.cp_disto_alloc = 1;
  // A rate is the share of the uncompressed size kept; 1 or more is lossless.
  const double rate = params.J2000Rate;
  settings.tcp_rates[0] = rate > 0 && rate < 1 ? static_cast<float>(1.0 / rate) : 0.0f;
  if (params.J2000Progression == 1) settings.prog_order = OPJ_RLCP;
  else settings.prog_order = OPJ_LRCP;

  jp2::TCodecPtr codec = jp2::CreateQuietCompressor(codeStream == 1 ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
  if (!codec || !opj_setup_encoder(codec.get(), &settings, image.get()))
    return progress.Refuse("OpenJPEG refused the encoder settings");
  jp2::TMemorySink sink;
  jp2::TStreamPtr output = jp2::CreateWriteStream(sink);
  if (!output || !opj_start_compress(codec.get(), image.get(), output.get()) ||
      !opj_encode(codec.get(), output.get()) || !opj_end_compress(codec.get(), output.get()))
    return progress.Refuse("OpenJPEG could not encode the picture");
  output.reset();
  stream.WriteBuffer(sink.bytes.data(), static_cast<int64_t>(sink.bytes.size()));
}

namespace {

void ReadJ2000Format(TIEFormatReadArgs& a) {
  ReadJ2000Stream(a.Stream, a.ParamsOnly ? nullptr : a.Bitmap, a.Params, a.ParamsOnly, a.Progress);
}

template <int CodeStream>
void WriteJ2000Format(TIEFormatWriteArgs& a) {
  WriteJ2000Stream(a.Stream, a.Bitmap, a.Params, CodeStream, a.Progress);
}

}  // namespace

TIEFormatDescriptor JP2Format() {
  return {
      .FileType = ioJP2,
      .FullName = "JPEG2000",
      .Suffixes = "JP2",
      .Access = ieaReadWrite,
      .DialogPage = iedpJ2000,
      .Probe = IsJP2Stream,
      .ProbeOrder = 90,
      .Read = ReadJ2000Format,
      .ReadParams = ReadJ2000Format,
      .Write = WriteJ2000Format<0>,
      .SaveOptions = {iesConvert24},
      .SaveOrder = 20,
      .SaveSuffixes = "JP2",
  };
}

TIEFormatDescriptor J2KFormat() {
  return {
      .FileType = ioJ2K,
      .FullName = "JPEG2000 Code Stream",
      .Suffixes = "J2K;JPC;J2C",
      .Access = ieaReadWrite,
      .DialogPage = iedpJ2000,
      .Probe = IsJ2KStream,
      .ProbeOrder = 100,
      .Read = ReadJ2000Format,
      .ReadParams = ReadJ2000Format,
      .Write = WriteJ2000Format<1>,
      .SaveOptions = {iesConvert24},
      .SaveOrder = 30,
      .SaveSuffixes = "J2K;JPC;J2C",
  };
}
