#include "bmp_builder.h"

#include <sstream>

#include "pillow_oracle.h"
#include "platform/graphics/bmp_codec.h"

namespace qvtest {
namespace {


}  // namespace

std::vector<uint8_t> BuildBmp(const BmpSpec& s) {
  std::vector<uint8_t> info;
  const bool core = s.headerSize == 12;
  AppendLE32(info, static_cast<uint32_t>(s.headerSize));
  if (core) {
    AppendLE16(info, static_cast<uint32_t>(s.width));
    AppendLE16(info, static_cast<uint32_t>(s.height));
    AppendLE16(info, static_cast<uint32_t>(s.planes));
    AppendLE16(info, static_cast<uint32_t>(s.bitCount));
  } else {
    AppendLE32(info, static_cast<uint32_t>(s.width));
    AppendLE32(info, static_cast<uint32_t>(s.height));
    AppendLE16(info, static_cast<uint32_t>(s.planes));
    AppendLE16(info, static_cast<uint32_t>(s.bitCount));
    AppendLE32(info, s.compression);
    AppendLE32(info, s.sizeImage.value_or(static_cast<DWORD>(s.data.size())));
    AppendLE32(info, 2835);
    AppendLE32(info, 2835);
    const DWORD full = s.bitCount <= 8 ? 1u << s.bitCount : 0;
    AppendLE32(info, s.clrUsed.value_or(s.palette.size() < full ? static_cast<DWORD>(s.palette.size()) : 0));
    AppendLE32(info, 0);
    if (s.headerSize >= 52) {
      for (int i = 0; i < (s.headerSize >= 56 ? 4 : 3); ++i) AppendLE32(info, s.masks[i]);
    }
    info.resize(static_cast<size_t>(s.headerSize), 0);
    if (s.headerSize >= 108) {
      // "sRGB" colour space, as Windows writers put it.
      info[56] = 'B', info[57] = 'G', info[58] = 'R', info[59] = 's';
    }
    if (s.headerSize == 40 && (s.compression == BI_BITFIELDS || s.compression == 6)) {
      for (int i = 0; i < (s.compression == 6 ? 4 : 3); ++i) AppendLE32(info, s.masks[i]);
    }
  }
  for (const RGBQUAD& c : s.palette) {
    info.push_back(c.rgbBlue);
    info.push_back(c.rgbGreen);
    info.push_back(c.rgbRed);
    if (!core) info.push_back(0);
  }
  std::vector<uint8_t> out{'B', 'M'};
  const uint32_t off = s.offBits.value_or(static_cast<DWORD>(14 + info.size()));
  AppendLE32(out, static_cast<uint32_t>(14 + info.size() + s.data.size()));
  AppendLE32(out, 0);
  AppendLE32(out, off);
  out.insert(out.end(), info.begin(), info.end());
  if (off > out.size() && !s.offBits) out.resize(off, 0);
  if (s.offBits && *s.offBits > out.size() && *s.offBits < out.size() + 4096) out.resize(*s.offBits, 0);
  out.insert(out.end(), s.data.begin(), s.data.end());
  return out;
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed) {
  std::vector<uint8_t> v(count);
  uint32_t x = seed * 2654435761u + 12345u;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

std::vector<RGBQUAD> TestPalette(int count) {
  std::vector<RGBQUAD> p(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    p[i].rgbRed = static_cast<uint8_t>(i * 37 + 11);
    p[i].rgbGreen = static_cast<uint8_t>(255 - i * 13);
    p[i].rgbBlue = static_cast<uint8_t>(i * 91 + 3);
  }
  return p;
}

std::vector<PillowImage> PillowPixelsOfFiles(const std::vector<std::string>& paths) {
  std::string list;
  for (const auto& p : paths) list += "    '" + p + "',\n";
  std::string out;
  RunPython(
      "from PIL import Image\n"
      "for path in [\n" + list + "]:\n"
      "    try:\n"
      "        im = Image.open(path)\n"
      "        im.load()\n"
      "        print(im.size[0], im.size[1], im.convert('RGBA').tobytes().hex() or '-')\n"
      "    except Exception:\n"
      "        print(0, 0, '-')\n",
      &out);
  std::istringstream in(out);
  std::vector<PillowImage> images;
  for (size_t k = 0; k < paths.size(); ++k) {
    PillowImage img;
    std::string hex;
    in >> img.width >> img.height >> hex;
    if (hex != "-") {
      img.rgba.resize(hex.size() / 2);
      for (size_t i = 0; i < img.rgba.size(); ++i)
        img.rgba[i] = static_cast<uint8_t>(std::stoi(hex.substr(i * 2, 2), nullptr, 16));
    }
    images.push_back(std::move(img));
  }
  return images;
}

std::vector<uint8_t> PillowPixels(const std::string& path, int* width, int* height) {
  PillowImage img = PillowPixelsOfFiles({path}).front();
  if (width) *width = img.width;
  if (height) *height = img.height;
  return img.rgba;
}

}  // namespace qvtest
