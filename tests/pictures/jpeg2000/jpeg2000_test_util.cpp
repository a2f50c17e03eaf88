#include "jpeg2000_test_util.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "base/toolbox/bitmap_utils.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

namespace jp2test {

uint32_t CompSide(uint32_t origin, uint32_t size, uint32_t step) {
  return (origin + size + step - 1) / step - (origin + step - 1) / step;
}

Bytes MakeJp2(const TJp2Spec& spec) {
  std::vector<opj_image_cmptparm_t> params(spec.comps.size());
  for (size_t i = 0; i < spec.comps.size(); ++i) {
    const TComp& c = spec.comps[i];
    params[i] = opj_image_cmptparm_t{};
    params[i].dx = c.dx;
    params[i].dy = c.dy;
    params[i].w = CompSide(spec.x0, spec.width, c.dx);
    params[i].h = CompSide(spec.y0, spec.height, c.dy);
    params[i].x0 = spec.x0;
    params[i].y0 = spec.y0;
    params[i].prec = c.prec;
    params[i].sgnd = c.sgnd;
  }
  opj_image_t* image = opj_image_create(static_cast<OPJ_UINT32>(params.size()), params.data(),
                                        static_cast<OPJ_COLOR_SPACE>(spec.colorSpace));
  if (!image) return {};
  image->x0 = spec.x0;
  image->y0 = spec.y0;
  image->x1 = spec.x0 + spec.width;
  image->y1 = spec.y0 + spec.height;
  for (size_t i = 0; i < spec.comps.size(); ++i) {
    const size_t n = static_cast<size_t>(image->comps[i].w) * image->comps[i].h;
    for (size_t k = 0; k < n && k < spec.comps[i].samples.size(); ++k) image->comps[i].data[k] = spec.comps[i].samples[k];
  }
  opj_cparameters_t p;
  opj_set_default_encoder_parameters(&p);
  p.numresolution = 1;
  p.image_offset_x0 = spec.x0;
  p.image_offset_y0 = spec.y0;
  opj_codec_t* codec = opj_create_compress(spec.codeStream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
  qvtest::TempDir dir;
  const std::string path = dir.File(spec.codeStream ? "made.j2k" : "made.jp2");
  bool ok = opj_setup_encoder(codec, &p, image);
  opj_stream_t* stream = ok ? opj_stream_create_default_file_stream(path.c_str(), OPJ_FALSE) : nullptr;
  ok = stream && opj_start_compress(codec, image, stream) && opj_encode(codec, stream) && opj_end_compress(codec, stream);
  if (stream) opj_stream_destroy(stream);
  opj_destroy_codec(codec);
  opj_image_destroy(image);
  if (!ok) return {};
  Bytes bytes = qvtest::ReadFileBytes(path);
  // OpenJPEG writes no enumerated colour space for CMYK; the JP2 code is 12.
  static const uint8_t kColr[4] = {'c', 'o', 'l', 'r'};
  const auto colr = std::search(bytes.begin(), bytes.end(), kColr, kColr + 4);
  if (spec.colorSpace == OPJ_CLRSPC_CMYK && colr != bytes.end() && bytes.end() - colr >= 11) colr[10] = 12;
  return bytes;
}

// Reads one PGX file ("PG ML + 16 37 21" and big-endian samples) into a plane.
bool ReadPgx(const Bytes& pgx, int& width, int& height, int& precision, std::vector<int32_t>& plane) {
  const auto newline = std::find(pgx.begin(), pgx.end(), uint8_t('\n'));
  if (newline == pgx.end()) return false;
  const std::string head(pgx.begin(), newline);
  char sign = 0;
  if (std::sscanf(head.c_str(), "PG ML %c %d %d %d", &sign, &precision, &width, &height) != 4) return false;
  const bool signedSamples = sign == '-';
  const int bytes = precision <= 8 ? 1 : precision <= 16 ? 2 : 4;
  size_t at = static_cast<size_t>(newline - pgx.begin()) + 1;
  plane.assign(static_cast<size_t>(width) * height, 0);
  if (pgx.size() - at < plane.size() * bytes) return false;
  for (auto& v : plane) {
    uint32_t u = 0;
    for (int b = 0; b < bytes; ++b) u = u << 8 | pgx[at++];
    if (signedSamples && bytes < 4 && (u >> (bytes * 8 - 1))) u |= ~0u << (bytes * 8);
    v = static_cast<int32_t>(u);
  }
  return true;
}

TOpjPlanes DecodeWithOpj(const Bytes& file) {
  TOpjPlanes out;
  qvtest::TempDir dir;
  const std::string in = dir.File("in.jp2");
  qvtest::WriteFileBytes(in, file);
  // PGX keeps every component in a file of its own, big-endian whatever the depth.
  if (qvtest::RunCommand("opj_decompress -upsample -i '" + in + "' -o '" + dir.File("out.pgx") + "' 2>&1", &out.log) != 0)
    return out;
  for (int c = 0;; ++c) {
    const std::string path = dir.File("out_" + std::to_string(c) + ".pgx");
    if (!std::filesystem::exists(path)) break;
    int w = 0, h = 0, prec = 0;
    std::vector<int32_t> plane;
    if (!ReadPgx(qvtest::ReadFileBytes(path), w, h, prec, plane)) return out;
    if (c > 0 && (w != out.width || h != out.height)) return out;
    out.width = w;
    out.height = h;
    out.precision.push_back(prec);
    out.planes.push_back(std::move(plane));
  }
  out.ok = !out.planes.empty();
  return out;
}

Bytes CompressWithOpj(const std::string& inputPath, const std::string& arguments) {
  const std::string output = inputPath + ".jp2";
  std::string log;
  if (qvtest::RunCommand("opj_compress -i '" + inputPath + "' -o '" + output + "' " + arguments + " 2>&1", &log) != 0)
    return {};
  return qvtest::ReadFileBytes(output);
}

TPixels PixelsOf(TBitmap& bitmap) {
  TPixels p;
  p.width = bitmap.Width();
  p.height = bitmap.Height();
  p.bgra.resize(static_cast<size_t>(p.width) * p.height * 4);
  int32_t table[256] = {};
  if (bitmap.PixelFormat() == pf8bit) ReadPaletteColours(&bitmap, table, 256);
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* row = static_cast<const uint8_t*>(bitmap.ScanLine(y));
    for (int x = 0; x < p.width; ++x) {
      uint8_t* out = &p.bgra[(static_cast<size_t>(y) * p.width + x) * 4];
      switch (bitmap.PixelFormat()) {
        case pf8bit: {
          const uint32_t colour = static_cast<uint32_t>(table[row[x]]);  // 0x00BBGGRR
          out[0] = colour >> 16 & 0xFF, out[1] = colour >> 8 & 0xFF, out[2] = colour & 0xFF, out[3] = 255;
          break;
        }
        case pf24bit: out[0] = row[x * 3], out[1] = row[x * 3 + 1], out[2] = row[x * 3 + 2], out[3] = 255; break;
        default: out[0] = row[x * 4], out[1] = row[x * 4 + 1], out[2] = row[x * 4 + 2], out[3] = row[x * 4 + 3]; break;
      }
    }
  }
  return p;
}

void LoadBytes(TJpeg2000Bitmap& picture, const Bytes& file) {
  TMemoryStream stream;
  stream.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
  stream.SetPosition(0);
  picture.LoadFromStream(stream);
}

Bytes SaveBytes(TJpeg2000Bitmap& picture) {
  TMemoryStream stream;
  picture.SaveToStream(stream);
  Bytes out(static_cast<size_t>(stream.Size()));
  stream.SetPosition(0);
  stream.ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
  return out;
}

}  // namespace jp2test
