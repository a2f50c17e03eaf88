#include "pictures/jpeg2000/jpeg2000_bitmap.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/toolbox/palettes.h"
#include "pictures/jpeg2000/jpeg2000_opj.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/byte_order.h"

namespace {

using TPlane = std::vector<uint8_t>;

// How the decoded components fill the bitmap's pixels.
enum TJp2Layout : uint8_t { lyGrey, lyGreyAlpha, lyRGB, lyRGBA, lyCMYK };

TJp2Layout LayoutOf(const opj_image_t& image) {
  switch (image.numcomps) {
    case 2: return lyGreyAlpha;
    case 3: return lyRGB;
    // Four components are colour and alpha, unless the file says they are inks.
    case 4: return image.color_space == OPJ_CLRSPC_CMYK ? lyCMYK : lyRGBA;
    // One component, and counts the picture has no use for: the first one as grey.
    default: return lyGrey;
  }
}

int UsedComponents(TJp2Layout layout) {
  switch (layout) {
    case lyGrey: return 1;
    case lyGreyAlpha: return 2;
    case lyRGB: return 3;
    default: return 4;
  }
}

// The samples of a picture of width x height whose components step over its
// grid by (dx, dy); 0 when the sizes are beyond the budgets: a side above
// 65535, more samples than kMaxJpeg2000Samples, or more than the free
// samples with less code stream than they need.
struct TGridStep {
  uint64_t dx, dy;
};
uint64_t BudgetedSamples(uint64_t width, uint64_t height, const std::vector<TGridStep>& steps, size_t bytes) {
  if (width == 0 || height == 0 || width > 65535 || height > 65535 || steps.empty()) return 0;
  if (width * height > kMaxJpeg2000Samples) return 0;
  uint64_t samples = 0;
  for (const TGridStep& step : steps) {
    if (step.dx == 0 || step.dy == 0) return 0;
    samples += (width + step.dx - 1) / step.dx * ((height + step.dy - 1) / step.dy);
    if (samples > kMaxJpeg2000Samples) return 0;
  }
  if (samples > kJpeg2000FreeSamples && samples / kJpeg2000SamplesPerByte > bytes) return 0;
  return samples;
}

// The header as OpenJPEG read it, within the budgets.
bool HeaderIsUsable(const opj_image_t& image, size_t bytes) {
  if (image.x1 <= image.x0 || image.y1 <= image.y0 || !image.comps) return false;
  std::vector<TGridStep> steps;
  for (OPJ_UINT32 i = 0; i < image.numcomps; ++i) steps.push_back({image.comps[i].dx, image.comps[i].dy});
  return BudgetedSamples(image.x1 - image.x0, image.y1 - image.y0, steps, bytes) != 0;
}

bool ComponentIsUsable(const opj_image_comp_t& c) {
  return c.data && c.w > 0 && c.h > 0 && c.dx > 0 && c.dy > 0 && c.prec >= 1 && c.prec <= 31;
}

// Column (or row) index into a component for each pixel of the picture. A
// subsampled sample covers the grid positions from its own up to the next
// sample's; positions before the component's first sample (an origin that is
// not a multiple of the step) take that first sample.
std::vector<uint32_t> SampleIndexes(uint32_t origin, uint32_t count, uint32_t step, uint32_t first, uint32_t samples) {
  std::vector<uint32_t> index(count);
  for (uint32_t p = 0; p < count; ++p) {
    const int64_t i = static_cast<int64_t>((static_cast<uint64_t>(origin) + p) / step) - first;
    index[p] = static_cast<uint32_t>(std::clamp<int64_t>(i, 0, samples - 1));
  }
  return index;
}

// A component as one byte per picture pixel. Signed samples are moved up by
// half their range; 8-bit samples are taken as they are, others scaled by
// 255 / (2^precision - 1) in 64 bits, since a 24-bit or deeper sample times
// 255 does not fit in 32.
TPlane ComponentPlane(const opj_image_t& image, const opj_image_comp_t& c) {
  const uint32_t width = image.x1 - image.x0, height = image.y1 - image.y0;
  const int64_t offset = c.sgnd ? int64_t(1) << (c.prec - 1) : 0;
  const int64_t maximum = (int64_t(1) << c.prec) - 1;
  const std::vector<uint32_t> columns = SampleIndexes(image.x0, width, c.dx, c.x0, c.w);
  const std::vector<uint32_t> rows = SampleIndexes(image.y0, height, c.dy, c.y0, c.h);
  TPlane plane(static_cast<size_t>(width) * height);
  uint8_t* out = plane.data();
  for (uint32_t y = 0; y < height; ++y) {
    const OPJ_INT32* source = c.data + static_cast<size_t>(rows[y]) * c.w;
    for (uint32_t x = 0; x < width; ++x) {
      const int64_t value = std::clamp<int64_t>(int64_t(source[columns[x]]) + offset, 0, maximum);
      *out++ = static_cast<uint8_t>(c.prec == 8 ? value : value * 255 / maximum);
    }
  }
  return plane;
}

void ConvertYccPlanes(TPlane& y, TPlane& cb, TPlane& cr) {
  for (size_t i = 0; i < y.size(); ++i) {
    uint8_t r, g, b;
    YccToRgbPixel(y[i], cb[i], cr[i], r, g, b);
    y[i] = r;
    cb[i] = g;
    cr[i] = b;
  }
}

// Cyan, magenta and yellow inks over the black ink, as red, green and blue.
void ConvertCmykPlanes(std::vector<TPlane>& planes) {
  for (size_t i = 0; i < planes[0].size(); ++i) {
    const int k = 255 - planes[3][i];
    for (int ch = 0; ch < 3; ++ch)
      planes[ch][i] = static_cast<uint8_t>(Round((255 - planes[ch][i]) * k / 255.0));
  }
}

// Writes the planes into the bitmap's rows: grey alone, grey and alpha, or
// red, green, blue (and alpha) into bytes 2, 1, 0 (and 3).
void FillBitmap(TBitmap& bitmap, TJp2Layout layout, const std::vector<TPlane>& planes, int width, int height) {
  const TPixelFormat format = layout == lyGrey ? pf8bit : (layout == lyRGB || layout == lyCMYK) ? pf24bit : pf32bit;
  bitmap.SetSize(0, 0);
  bitmap.SetPixelFormat(format);
  bitmap.SetSize(width, height);
  if (format == pf8bit) SetGrayPalette(&bitmap);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = static_cast<uint8_t*>(bitmap.ScanLine(y));
    const size_t at = static_cast<size_t>(y) * width;
    if (layout == lyGrey) {
      std::memcpy(row, planes[0].data() + at, width);
      continue;
    }
    const int bytes = format == pf24bit ? 3 : 4;
    for (int x = 0; x < width; ++x, row += bytes) {
      if (layout == lyGreyAlpha) {
        row[0] = row[1] = row[2] = planes[0][at + x];
        row[3] = planes[1][at + x];
        continue;
      }
      row[2] = planes[0][at + x];
      row[1] = planes[1][at + x];
      row[0] = planes[2][at + x];
      if (bytes == 4) row[3] = planes[3][at + x];
    }
  }
}


// Where the code stream starts: at 0 for a bare one, inside the "jp2c" box of
// a JP2 file; size when there is none.
size_t CodeStreamStart(const uint8_t* data, size_t size) {
  if (size >= 2 && data[0] == 0xFF && data[1] == 0x4F) return 0;
  size_t at = 0;
  while (size - at >= 8) {
    uint64_t length = ReadBE32(data + at);
    size_t head = 8;
    if (length == 1) {
      if (size - at < 16) break;
      length = uint64_t(ReadBE32(data + at + 8)) << 32 | ReadBE32(data + at + 12);
      head = 16;
    } else if (length == 0) {
      length = size - at;
    }
    if (std::memcmp(data + at + 4, "jp2c", 4) == 0) return at + head;
    if (length < head || length > size - at) break;
    at += static_cast<size_t>(length);
  }
  return size;
}

// The sizes of the code stream's SIZ marker, checked before OpenJPEG reads
// the header: OpenJPEG sets up every component of every tile while it reads
// it, so a grid of tiny tiles, or a picture far beyond the budgets, takes
// seconds and much memory there, whatever the stream holds. Past the free
// tile components each must average kJpeg2000SamplesPerTileComponent
// samples. A stream without a readable SIZ is left to OpenJPEG to refuse.
bool CodeStreamSizesAreUsable(const uint8_t* data, size_t size) {
  const size_t at = CodeStreamStart(data, size);
  if (at > size || size - at < 42 || data[at + 2] != 0xFF || data[at + 3] != 0x51) return true;
  const uint8_t* siz = data + at + 8;  // Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz, XTOsiz, YTOsiz, Csiz
  const uint64_t x1 = ReadBE32(siz), y1 = ReadBE32(siz + 4), x0 = ReadBE32(siz + 8), y0 = ReadBE32(siz + 12);
  const uint64_t tileWidth = ReadBE32(siz + 16), tileHeight = ReadBE32(siz + 20);
  const uint64_t tileX0 = ReadBE32(siz + 24), tileY0 = ReadBE32(siz + 28);
  const size_t components = size_t(siz[32]) << 8 | siz[33];
  if (tileWidth == 0 || tileHeight == 0 || x1 <= x0 || y1 <= y0 || tileX0 > x0 || tileY0 > y0 || components == 0)
    return false;
  // Each component: precision, then its horizontal and vertical grid steps.
  if ((size - at - 42) / 3 < components) return false;
  std::vector<TGridStep> steps;
  for (size_t c = 0; c < components; ++c) steps.push_back({siz[35 + 3 * c], siz[36 + 3 * c]});
  const uint64_t samples = BudgetedSamples(x1 - x0, y1 - y0, steps, size);
  if (samples == 0) return false;
  const uint64_t tiles = ((x1 - tileX0 + tileWidth - 1) / tileWidth) * ((y1 - tileY0 + tileHeight - 1) / tileHeight);
  return tiles * components <= std::max(kJpeg2000FreeTileComponents, samples / kJpeg2000SamplesPerTileComponent);
}

}  // namespace

// The decoded picture, or null and why in refusal.
jp2::TImagePtr jp2::DecodeImage(const std::vector<uint8_t>& bytes, const char*& refusal) {
  if (!CodeStreamSizesAreUsable(bytes.data(), bytes.size())) {
    refusal = "code stream sizes beyond the budgets";
    return nullptr;
  }
  jp2::TMemorySource source{bytes.data(), bytes.size(), 0};
  jp2::TCodecPtr codec = jp2::CreateQuietDecompressor(jp2::CodecForData(bytes.data(), bytes.size()));
  jp2::TStreamPtr stream = jp2::CreateReadStream(source);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  refusal = "the decoder could not be set up";
  if (!codec || !stream || !opj_setup_decoder(codec.get(), &parameters)) return nullptr;
  opj_image_t* header = nullptr;
  const bool read = opj_read_header(stream.get(), codec.get(), &header);
  jp2::TImagePtr image(header);
  refusal = "OpenJPEG refused the header";
  if (!read || !image) return nullptr;
  refusal = "header sizes beyond the budgets";
  if (!HeaderIsUsable(*image, bytes.size())) return nullptr;
  refusal = "OpenJPEG could not decode the code stream";
  if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
    return nullptr;
  refusal = nullptr;
  return image;
}

int ComponentTypeFor(int index) {
  static const int kTypes[4] = {1, 2, 3, 7};
  return index >= 0 && index < 4 ? kTypes[index] : 0;
}

float Jpeg2000CompressionRatio(int64_t samples, int components, int quality) {
  const float n = static_cast<float>(samples);
  const float f = 100.0f / static_cast<float>((115 - quality) * (115 - quality));
  const float s = n * f + 550.0f + 142.0f * static_cast<float>(components - 1);
  return 1.0f / (s / n);
}

void YccToRgbPixel(uint8_t y, uint8_t cb, uint8_t cr, uint8_t& red, uint8_t& green, uint8_t& blue) {
  const double yy = y, u = cb - 128.0, v = cr - 128.0;
  auto clampByte = [](double value) { return static_cast<uint8_t>(std::clamp<int64_t>(Round(value), 0, 255)); };
  red = clampByte(yy + 1.402 * v);
  green = clampByte(yy - 0.34414 * u - 0.71414 * v);
  blue = clampByte(yy + 1.772 * u);
}

void TJpeg2000Bitmap::LoadFromStream(TStream& stream) {
  // With no size given (as when the picture registry opens a file) the
  // picture is the rest of the stream.
  const int64_t count = FDataSize != 0 ? FDataSize : std::max<int64_t>(stream.Remaining(), 0);
  const std::vector<uint8_t> bytes = stream.ReadBytes(count);
  const char* refusal = nullptr;
  jp2::TImagePtr image = jp2::DecodeImage(bytes, refusal);
  auto refuse = [this](const char* why) {
    FLastRefusal = why;
    throw EJpeg2000Error(kJpeg2000DecodeFailed);
  };
  if (!image) refuse(refusal);

  const TJp2Layout layout = LayoutOf(*image);
  std::vector<TPlane> planes;
  for (int i = 0; i < UsedComponents(layout); ++i) {
    if (!ComponentIsUsable(image->comps[i])) refuse("a component without usable samples");
    planes.push_back(ComponentPlane(*image, image->comps[i]));
  }
  if (image->color_space == OPJ_CLRSPC_SYCC && (layout == lyRGB || layout == lyRGBA))
    ConvertYccPlanes(planes[0], planes[1], planes[2]);
  if (layout == lyCMYK) ConvertCmykPlanes(planes);
  const int width = static_cast<int>(image->x1 - image->x0), height = static_cast<int>(image->y1 - image->y0);
  image.reset();
  FillBitmap(*this, layout, planes, width, height);
  FLastRefusal.clear();
}

namespace {

// OpenJPEG refuses more resolution levels than the picture's smaller side
// can be halved into, so a small picture gets fewer than the usual six.
int ResolutionsFor(int width, int height) {
  int levels = 6;
  while (levels > 1 && (std::min(width, height) >> (levels - 1)) == 0) --levels;
  return levels;
}

void SetEncoderParameters(opj_cparameters_t& p, int width, int height, int components, bool lossless, int quality) {
  p.numresolution = ResolutionsFor(width, height);
  p.tcp_numlayers = 1;
  p.cp_disto_alloc = 1;
  p.tcp_rates[0] =
      lossless ? 0.0f : Jpeg2000CompressionRatio(int64_t(width) * height * components, components, quality);
}

void GatherComponents(TBitmap& source, opj_image_t& image) {
  const int width = source.Width(), height = source.Height();
  const int bytes = image.numcomps == 4 ? 4 : 3;
  static const int kByteOf[4] = {2, 1, 0, 3};
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = static_cast<const uint8_t*>(source.ScanLine(y));
    for (OPJ_UINT32 c = 0; c < image.numcomps; ++c) {
      OPJ_INT32* out = image.comps[c].data + static_cast<size_t>(y) * width;
      const uint8_t* in = row + kByteOf[c];
      for (int x = 0; x < width; ++x, in += bytes) out[x] = *in;
    }
  }
}

}  // namespace

void TJpeg2000Bitmap::SaveToStream(TStream& stream) {
  TBitmap* source = this;
  std::unique_ptr<TBitmap> converted;
  if (PixelFormat() != pf24bit && PixelFormat() != pf32bit) {
    converted = std::make_unique<TBitmap>();
    converted->Assign(this);
    converted->SetPixelFormat(pf24bit);
    source = converted.get();
  }
  const int width = source->Width(), height = source->Height();
  const int components = source->PixelFormat() == pf32bit ? 4 : 3;

  opj_image_cmptparm_t parameters[4];
  std::memset(parameters, 0, sizeof(parameters));
  for (int c = 0; c < components; ++c) {
    parameters[c].dx = parameters[c].dy = 1;
    parameters[c].w = static_cast<OPJ_UINT32>(width);
    parameters[c].h = static_cast<OPJ_UINT32>(height);
    parameters[c].prec = 8;
    parameters[c].sgnd = 0;
  }
  jp2::TImagePtr image;
  if (width > 0 && height > 0) image.reset(opj_image_create(components, parameters, OPJ_CLRSPC_SRGB));
  if (!image) throw EJpeg2000Error(kJpeg2000CreateFailed);
  image->x1 = static_cast<OPJ_UINT32>(width);
  image->y1 = static_cast<OPJ_UINT32>(height);
  // OpenJPEG keeps no type code per component; the alpha flag is what it has,
  // and it writes that as the opacity channel of the file.
  for (int c = 0; c < components; ++c) image->comps[c].alpha = ComponentTypeFor(c) == 7 ? 1 : 0;

  jp2::TCodecPtr codec = jp2::CreateQuietCompressor(OPJ_CODEC_JP2);
  opj_cparameters_t settings;
  opj_set_default_encoder_parameters(&settings);
  SetEncoderParameters(settings, width, height, components, FLossless, FQuality);
  if (!codec || !opj_setup_encoder(codec.get(), &settings, image.get())) throw EJpeg2000Error(kJpeg2000EncodeFailed);
  GatherComponents(*source, *image);

  jp2::TMemorySink sink;
  jp2::TStreamPtr output = jp2::CreateWriteStream(sink);
  if (!output || !opj_start_compress(codec.get(), image.get(), output.get()) ||
      !opj_encode(codec.get(), output.get()) || !opj_end_compress(codec.get(), output.get()))
    throw EJpeg2000Error(kJpeg2000EncodeFailed);
  output.reset();
  stream.WriteBuffer(sink.bytes.data(), static_cast<int64_t>(sink.bytes.size()));
  FDataSize = static_cast<uint32_t>(sink.bytes.size());
}

// Opening a .jp2, .j2k or .jpc file through the picture registry makes this
// class; the registration is taken back when the program ends.
namespace {
struct TJpeg2000Registration {
  TJpeg2000Registration() {
    const TGraphicClass cls = TGraphicClass::Of<TJpeg2000Bitmap>();
    for (const char* extension : {"jp2", "j2k", "jpc"}) TPicture::RegisterFileFormat(extension, "JPEG 2000 Image", cls);
  }
  ~TJpeg2000Registration() { TPicture::UnregisterGraphicClass(TGraphicClass::Of<TJpeg2000Bitmap>()); }
} jpeg2000Registration;
}  // namespace
