#include "png_test_util.h"

#include <png.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <stdexcept>

#include "libpng_memory.h"

namespace pngtest {

size_t PngRowBytes(int width, int colorType, int bitDepth) {
  static const int channels[7] = {1, 0, 3, 1, 2, 0, 4};
  return (size_t(width) * channels[colorType] * bitDepth + 7) / 8;
}

void FillRandomRows(TLibpngImage& img, uint32_t seed) {
  std::mt19937 rng(seed);
  const size_t rowBytes = PngRowBytes(img.width, img.colorType, img.bitDepth);
  img.rows.resize(rowBytes * img.height);
  // Runs of repeated bytes mixed with noise, so every filter has work to do.
  for (size_t i = 0; i < img.rows.size(); i++)
    img.rows[i] = (rng() % 3 == 0 && i > 0) ? img.rows[i - 1] : uint8_t(rng());
}

namespace {

void ErrorToLongjmp(png_structp png, png_const_charp msg) {
  auto* text = static_cast<std::string*>(png_get_error_ptr(png));
  if (text) *text = msg;
  png_longjmp(png, 1);
}
void IgnoreWarning(png_structp, png_const_charp) {}

}  // namespace

Bytes WriteWithLibpng(const TLibpngImage& img) {
  Bytes out;
  std::string error;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, ErrorToLongjmp, IgnoreWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("libpng write failed: " + error);
  }
  SetPngMemoryTarget(png, out);
  png_set_IHDR(png, info, img.width, img.height, img.bitDepth, img.colorType,
               img.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, 0, img.filters);
  png_set_compression_level(png, img.level);
  const int maxSample = (1 << std::min(img.bitDepth, 8)) - 1;
  if (img.colorType == 3) {
    const int n = 1 << img.bitDepth;
    std::vector<png_color> palette(n);
    for (int i = 0; i < n; i++) palette[i] = png_color{uint8_t(i * 37), uint8_t(255 - i), uint8_t(i * 91)};
    png_set_PLTE(png, info, palette.data(), n);
    if (img.withTrns) {
      std::vector<png_byte> alpha(std::min(n, 5));
      for (size_t i = 0; i < alpha.size(); i++) alpha[i] = png_byte(i * 60);
      png_set_tRNS(png, info, alpha.data(), int(alpha.size()), nullptr);
    }
  } else if (img.withTrns && (img.colorType == 0 || img.colorType == 2)) {
    png_color_16 colour{};
    colour.gray = png_uint_16(maxSample / 2);
    colour.red = 1;
    colour.green = 2;
    colour.blue = 3;
    png_set_tRNS(png, info, nullptr, 0, &colour);
  }
  if (img.withGamma) png_set_gAMA_fixed(png, info, 60000);
  png_text texts[2] = {};
  if (img.withText) {
    texts[0].compression = PNG_TEXT_COMPRESSION_NONE;
    texts[0].key = const_cast<char*>("Title");
    texts[0].text = const_cast<char*>("A test picture");
    texts[1].compression = PNG_TEXT_COMPRESSION_NONE;
    texts[1].key = const_cast<char*>("Comment");
    texts[1].text = const_cast<char*>("");
    png_set_text(png, info, texts, 2);
  }
  png_write_info(png, info);
  const size_t rowBytes = PngRowBytes(img.width, img.colorType, img.bitDepth);
  std::vector<png_bytep> rows(img.height);
  for (int y = 0; y < img.height; y++) rows[y] = const_cast<png_bytep>(img.rows.data() + y * rowBytes);
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

TSamples ReadWithLibpng(const Bytes& file) {
  TSamples s;
  TPngMemorySource src{file.data(), file.size()};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s.error, ErrorToLongjmp, IgnoreWarning);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    s.ok = false;
    return s;
  }
  SetPngMemorySource(png, src);
  png_read_info(png, info);
  png_set_strip_16(png);
  png_set_packing(png);
  png_read_update_info(png, info);
  s.width = int(png_get_image_width(png, info));
  s.height = int(png_get_image_height(png, info));
  s.channels = png_get_channels(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  s.data.assign(rowBytes * s.height, 0);
  rows.resize(s.height);
  for (int y = 0; y < s.height; y++) rows[y] = s.data.data() + y * rowBytes;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  s.ok = true;
  return s;
}

TSamples SamplesOf(const TPNGImage& png) {
  TSamples s;
  TChunkIHDR* h = png.Header();
  if (!h || !h->ImageBits()) return s;
  s.width = h->Width();
  s.height = h->Height();
  const int ct = h->ColorType();
  const int bits = h->BitmapInfo().bmiHeader.biBitCount;
  s.channels = ct == 2 ? 3 : ct == 6 ? 4 : ct == 4 ? 2 : 1;
  s.data.reserve(size_t(s.width) * s.height * s.channels);
  for (int y = 0; y < s.height; y++) {
    const uint8_t* row = h->DibRow(y);
    const uint8_t* alpha = h->AlphaRowOf(y);
    for (int x = 0; x < s.width; x++) {
      if (ct == 2 || ct == 6) {
        s.data.push_back(row[x * 3 + 2]);
        s.data.push_back(row[x * 3 + 1]);
        s.data.push_back(row[x * 3]);
        if (ct == 6) s.data.push_back(alpha[x]);
        continue;
      }
      int v;
      if (bits == 8)
        v = row[x];
      else if (bits == 4)
        v = (row[x / 2] >> ((x & 1) ? 0 : 4)) & 15;
      else
        v = (row[x / 8] >> (7 - x % 8)) & 1;
      if (ct == 0 && h->BitDepth() == 2) v /= 5;
      s.data.push_back(uint8_t(v));
      if (ct == 4) s.data.push_back(alpha[x]);
    }
  }
  s.ok = true;
  return s;
}

Bytes Deflate(const Bytes& raw, int level) {
  uLongf size = compressBound(uLong(raw.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, raw.data(), uLong(raw.size()), level) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(size);
  return out;
}

Bytes Inflate(const Bytes& compressed) {
  z_stream z{};
  inflateInit(&z);
  Bytes out;
  uint8_t buf[65536];
  z.next_in = const_cast<Bytef*>(compressed.data());
  z.avail_in = uInt(compressed.size());
  int r;
  do {
    z.next_out = buf;
    z.avail_out = sizeof(buf);
    r = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof(buf) - z.avail_out));
  } while (r == Z_OK);
  inflateEnd(&z);
  if (r != Z_STREAM_END) throw std::runtime_error("inflate failed");
  return out;
}

Bytes Chunk(const char* name, const Bytes& data) {
  Bytes out(8);
  const uint32_t n = uint32_t(data.size());
  out[0] = uint8_t(n >> 24);
  out[1] = uint8_t(n >> 16);
  out[2] = uint8_t(n >> 8);
  out[3] = uint8_t(n);
  std::memcpy(out.data() + 4, name, 4);
  out.insert(out.end(), data.begin(), data.end());
  uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(name), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), uInt(data.size()));
  for (int i = 3; i >= 0; i--) out.push_back(uint8_t(crc >> (i * 8)));
  return out;
}

Bytes Ihdr(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, uint8_t interlace) {
  Bytes d(13);
  for (int i = 0; i < 4; i++) {
    d[i] = uint8_t(width >> (24 - 8 * i));
    d[4 + i] = uint8_t(height >> (24 - 8 * i));
  }
  d[8] = depth;
  d[9] = colorType;
  d[12] = interlace;
  return Chunk("IHDR", d);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Signature() { return Bytes{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}; }

Bytes SimplePng(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, const Bytes& rawRows,
                std::initializer_list<Bytes> middle) {
  Bytes out = Concat({Signature(), Ihdr(width, height, depth, colorType)});
  for (const auto& m : middle) out.insert(out.end(), m.begin(), m.end());
  const Bytes tail = Concat({Chunk("IDAT", Deflate(rawRows)), Chunk("IEND", {})});
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

void LoadBytes(TPNGImage& png, const Bytes& file) {
  TMemoryStream stream;
  stream.WriteBuffer(file.data(), int64_t(file.size()));
  stream.SetPosition(0);
  png.LoadFromStream(stream);
}

Bytes SaveBytes(TPNGImage& png) {
  TMemoryStream stream;
  png.SaveToStream(stream);
  return Bytes(stream.Memory(), stream.Memory() + stream.Size());
}

std::vector<TChunkInfo> ListChunks(const Bytes& file) {
  std::vector<TChunkInfo> out;
  size_t pos = 8;
  while (pos + 12 <= file.size()) {
    const uint32_t n = (uint32_t(file[pos]) << 24) | (uint32_t(file[pos + 1]) << 16) |
                       (uint32_t(file[pos + 2]) << 8) | file[pos + 3];
    if (pos + 12 + n > file.size()) break;
    out.push_back({std::string(reinterpret_cast<const char*>(file.data() + pos + 4), 4),
                   Bytes(file.begin() + long(pos + 8), file.begin() + long(pos + 8 + n))});
    pos += 12 + n;
  }
  return out;
}

Bytes IdatData(const Bytes& file) {
  Bytes out;
  for (const auto& c : ListChunks(file))
    if (c.name == "IDAT") out.insert(out.end(), c.data.begin(), c.data.end());
  return out;
}

}  // namespace pngtest
