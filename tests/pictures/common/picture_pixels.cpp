#include "pictures/common/picture_pixels.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "base/toolbox/bitmap_utils.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

namespace pictest {

TRgba RgbaOf(TBitmap& bitmap) {
  if (bitmap.PixelFormat() == pf15bit || bitmap.PixelFormat() == pf16bit) {
    TBitmap copy;
    copy.Assign(&bitmap);
    copy.SetPixelFormat(pf24bit);
    return RgbaOf(copy);
  }
  TRgba p;
  p.width = bitmap.Width();
  p.height = bitmap.Height();
  p.rgba.resize(static_cast<size_t>(p.width) * p.height * 4);
  const TPixelFormat pf = bitmap.PixelFormat();
  int32_t table[256] = {};
  if (pf == pf1bit || pf == pf4bit || pf == pf8bit) ReadPaletteColours(&bitmap, table, 256);
  for (int y = 0; y < p.height; ++y) {
    const auto* row = static_cast<const uint8_t*>(bitmap.ScanLine(y));
    for (int x = 0; x < p.width; ++x) {
      uint8_t* out = &p.rgba[(static_cast<size_t>(y) * p.width + x) * 4];
      int index = -1;
      switch (pf) {
        case pf1bit: index = row[x / 8] >> (7 - x % 8) & 1; break;
        case pf4bit: index = x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4; break;
        case pf8bit: index = row[x]; break;
        case pf24bit: out[0] = row[x * 3 + 2], out[1] = row[x * 3 + 1], out[2] = row[x * 3], out[3] = 255; break;
        default: out[0] = row[x * 4 + 2], out[1] = row[x * 4 + 1], out[2] = row[x * 4], out[3] = row[x * 4 + 3]; break;
      }
      if (index >= 0) {
        const auto c = static_cast<uint32_t>(table[index]);
        out[0] = c & 0xFF, out[1] = c >> 8 & 0xFF, out[2] = c >> 16 & 0xFF, out[3] = 255;
      }
    }
  }
  return p;
}

std::vector<uint8_t> PixelOf(TBitmap& bitmap, int x, int y, int channels) {
  const TRgba p = RgbaOf(bitmap);
  return std::vector<uint8_t>(p.At(x, y), p.At(x, y) + channels);
}

Bytes CommandBytes(const std::string& command) {
  Bytes out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + n);
  pclose(pipe);
  return out;
}

namespace {
// "W H\n" followed by the RGBA bytes.
TRgba ParseSizedRgba(const Bytes& bytes) {
  TRgba p;
  size_t eol = 0;
  while (eol < bytes.size() && bytes[eol] != '\n') ++eol;
  if (eol >= bytes.size()) return p;
  std::istringstream head(std::string(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(eol)));
  int w = 0, h = 0;
  head >> w >> h;
  const size_t need = static_cast<size_t>(w) * h * 4;
  if (w <= 0 || h <= 0 || bytes.size() - eol - 1 < need) return p;
  p.width = w;
  p.height = h;
  p.rgba.assign(bytes.begin() + static_cast<ptrdiff_t>(eol + 1), bytes.begin() + static_cast<ptrdiff_t>(eol + 1 + need));
  return p;
}
}  // namespace

TRgba PillowRgba(const std::string& path, const std::string& prepare) {
  qvtest::TempDir dir;
  const std::string script = dir.File("dump.py");
  std::string text = "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n" + prepare +
                     "\nim = im.convert('RGBA')\nsys.stdout.buffer.write(b'%d %d\\n' % im.size + im.tobytes())\n";
  qvtest::WriteFileBytes(script, Bytes(text.begin(), text.end()));
  return ParseSizedRgba(CommandBytes("/usr/bin/python3 '" + script + "' '" + path + "' 2>/dev/null"));
}

TRgba MagickRgba(const std::string& path, int frame, const std::string& options) {
  const std::string source = "'" + path + "[" + std::to_string(frame) + "]'";
  std::string size;
  qvtest::RunCommand("identify -format '%w %h' " + source + " 2>/dev/null", &size);
  Bytes bytes(size.begin(), size.end());
  bytes.push_back('\n');
  const Bytes rgba = CommandBytes("convert " + source + " " + options + " -depth 8 rgba:- 2>/dev/null");
  bytes.insert(bytes.end(), rgba.begin(), rgba.end());
  return ParseSizedRgba(bytes);
}

TRgba ReadPnm(const Bytes& bytes) {
  TRgba p;
  size_t at = 0;
  auto skipSpace = [&] {
    for (;;) {
      while (at < bytes.size() && isspace(bytes[at])) ++at;
      if (at < bytes.size() && bytes[at] == '#')
        while (at < bytes.size() && bytes[at] != '\n') ++at;
      else
        return;
    }
  };
  auto number = [&] {
    skipSpace();
    long v = 0;
    while (at < bytes.size() && isdigit(bytes[at])) v = v * 10 + (bytes[at++] - '0');
    return v;
  };
  if (bytes.size() < 3 || bytes[0] != 'P') return p;
  const char kind = static_cast<char>(bytes[1]);
  at = 2;
  const long w = number(), h = number();
  const long maxval = kind == '4' ? 1 : number();
  ++at;
  if (w <= 0 || h <= 0 || maxval <= 0) return p;
  const int sampleBytes = maxval > 255 ? 2 : 1;
  const int channels = kind == '6' ? 3 : 1;
  const size_t rowBytes = kind == '4' ? static_cast<size_t>((w + 7) / 8) : static_cast<size_t>(w) * channels * sampleBytes;
  if (bytes.size() - at < rowBytes * static_cast<size_t>(h)) return p;
  p.width = static_cast<int>(w);
  p.height = static_cast<int>(h);
  p.rgba.resize(static_cast<size_t>(w) * h * 4);
  for (long y = 0; y < h; ++y) {
    const uint8_t* row = &bytes[at + rowBytes * static_cast<size_t>(y)];
    for (long x = 0; x < w; ++x) {
      uint8_t* out = &p.rgba[(static_cast<size_t>(y) * w + x) * 4];
      out[3] = 255;
      if (kind == '4') {
        out[0] = out[1] = out[2] = (row[x / 8] >> (7 - x % 8) & 1) ? 0 : 255;
        continue;
      }
      for (int c = 0; c < 3; ++c) {
        const uint8_t* s = row + (static_cast<size_t>(x) * channels + (channels == 3 ? c : 0)) * sampleBytes;
        const long v = sampleBytes == 2 ? (s[0] << 8 | s[1]) : s[0];
        out[c] = static_cast<uint8_t>((v * 255 + maxval / 2) / maxval);
      }
    }
  }
  return p;
}

void ExpectSameRgba(const TRgba& ours, const TRgba& theirs, int tolerance, bool alpha) {
  ASSERT_GT(theirs.width, 0) << "the outside decoder gave no picture";
  ASSERT_EQ(ours.width, theirs.width);
  ASSERT_EQ(ours.height, theirs.height);
  int shown = 0;
  for (int y = 0; y < ours.height; ++y)
    for (int x = 0; x < ours.width; ++x)
      for (int c = 0; c < (alpha ? 4 : 3); ++c)
        if (std::abs(ours.At(x, y)[c] - theirs.At(x, y)[c]) > tolerance && shown++ < 6)
          ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << int(ours.At(x, y)[c]) << " vs "
                        << int(theirs.At(x, y)[c]);
}

Bytes SaveBytes(TGraphic& graphic) {
  TMemoryStream stream;
  graphic.SaveToStream(stream);
  const auto* p = stream.Memory();
  return Bytes(p, p + stream.Size());
}

void LoadBytes(TGraphic& graphic, const Bytes& bytes) {
  TMemoryStream stream;
  if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  graphic.LoadFromStream(stream);
}

}  // namespace pictest
