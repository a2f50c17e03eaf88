// Every frame of gifsicle's, Pillow's and ImageMagick's animations (each
// disposal method, positions, transparency) composes to the RGBA Pillow's
// ImageSequence and ImageMagick's -coalesce give, and to the reference frames
// of gdk-pixbuf's GIF test suite. A sheet of composed frames is kept as a PNG
// in the test output.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/format_filters.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "tests/imaging/io/io_test_support.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

const char* kSuite = "/usr/libexec/installed-tests/gdk-pixbuf/test-images/gif-test-suite";

std::string Script() { return std::string(QV_SOURCE_DIR) + "/tests/imaging/formats/gif_oracle.py"; }

bool HaveTools() {
  return qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0 &&
         qvtest::HaveProgram("gifsicle") && qvtest::HaveProgram("convert") && fs::exists(kSuite);
}

struct Rgba {
  int width = 0, height = 0;
  Bytes pixels;
};

// Frame R of the file as the component composes it, with its alpha.
Rgba Compose(const std::string& file, int frame, int* count = nullptr) {
  TImageLibIO io(nullptr);
  io.Params().GifImageIndex = frame;
  const int n = io.LoadGIFFile(UTF8ToWide(file));
  if (count) *count = n;
  Rgba out;
  if (io.Aborting()) return out;
  TIEBitmap& b = *io.IEBitmap();
  out.width = b.Width();
  out.height = b.Height();
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const TRGB c = b.GetPixelAsRGB(x, y);
      out.pixels.insert(out.pixels.end(), {c.r, c.g, c.b, b.HasAlphaChannel() ? b.GetAlpha(x, y) : uint8_t(255)});
    }
  return out;
}

Rgba ReadPillowFrame(const std::string& path) {
  Rgba r;
  const Bytes b = qvtest::ReadFileBytes(path);
  if (b.size() < 8) return r;
  r.width = int(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
  r.height = int(b[4] | b[5] << 8 | b[6] << 16 | b[7] << 24);
  r.pixels.assign(b.begin() + 8, b.end());
  return r;
}

bool SamePixel(const Bytes& a, const Bytes& b, size_t i) {
  if (a[i + 3] != b[i + 3]) return false;
  return a[i + 3] == 0 || (a[i] == b[i] && a[i + 1] == b[i + 1] && a[i + 2] == b[i + 2]);
}

// Equal where something is seen; under alpha 0 the colour does not matter.
// With a second judge, a pixel may match either where the two disagree.
void ExpectSameRgba(const Rgba& ours, const Rgba& want, const std::string& what, const Rgba* other = nullptr) {
  ASSERT_EQ(ours.width, want.width) << what;
  ASSERT_EQ(ours.height, want.height) << what;
  ASSERT_EQ(ours.pixels.size(), want.pixels.size()) << what;
  if (other) {
    ASSERT_EQ(other->pixels.size(), want.pixels.size()) << what;
  }
  for (size_t i = 0; i < want.pixels.size(); i += 4) {
    const int x = int(i / 4) % want.width, y = int(i / 4) / want.width;
    if (SamePixel(ours.pixels, want.pixels, i) || (other && SamePixel(ours.pixels, other->pixels, i))) continue;
    ADD_FAILURE() << what << " at " << x << "," << y << ": ours " << int(ours.pixels[i]) << " "
                  << int(ours.pixels[i + 1]) << " " << int(ours.pixels[i + 2]) << " " << int(ours.pixels[i + 3])
                  << ", judge " << int(want.pixels[i]) << " " << int(want.pixels[i + 1]) << " "
                  << int(want.pixels[i + 2]) << " " << int(want.pixels[i + 3]);
    return;
  }
}

class GifComposeOracle : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterFormatFilters();
    qvtest::EnsureImageIO();
  }
  qvtest::FilterSlotsScope FSlots;
};

// Animations made by the tools: name -> file.
std::vector<std::string> MakeAnimations(const std::string& dir) {
  std::vector<std::string> files;
  auto run = [&](const std::string& cmd) { EXPECT_EQ(qvtest::RunCommand(cmd), 0) << cmd; };
  run("convert -size 12x9 xc:'#204060' " + dir + "/f0.gif");
  run("convert -size 6x4 xc:red -fill blue -draw 'point 1,1' " + dir + "/f1.gif");
  run("convert -size 5x6 xc:lime -fill red -draw 'rectangle 0,0 2,2' " + dir + "/f2.gif");
  run("convert -size 7x3 xc:yellow -fill blue -draw 'line 0,1 6,1' " + dir + "/f3.gif");
  for (const char* disposal : {"none", "background", "previous"}) {
    const std::string out = dir + "/sicle_" + disposal + ".gif";
    run(std::string("gifsicle --disposal ") + disposal + " -d 4 " + dir + "/f0.gif --position 2,3 -t '#FF0000' " + dir +
        "/f1.gif --position 6,1 " + dir + "/f2.gif --position 1,5 -t '#0000FF' " + dir + "/f3.gif -o " + out);
    files.push_back(out);
  }
  run("/usr/bin/python3 " + Script() + " make " + dir);
  for (const char* name : {"pil_anim.gif", "pil_anim_restore.gif", "pil_anim_background.gif"})
    files.push_back(dir + "/" + name);
  return files;
}

TEST_F(GifComposeOracle, EveryFrameEqualsPillowAndImageMagickCoalesce) {
  if (!HaveTools()) GTEST_SKIP() << "Pillow, gifsicle, ImageMagick or gdk-pixbuf-tests missing";
  qvtest::TempDir dir;
  int compared = 0;
  for (const std::string& file : MakeAnimations(dir.Path())) {
    SCOPED_TRACE(file);
    ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " + Script() + " frames " + file + " " + file + ".pil"), 0);
    ASSERT_EQ(qvtest::RunCommand("convert " + file + " -coalesce +repage -depth 8 +adjoin rgba:" + file + ".im.%d"), 0);
    int n = 0;
    Compose(file, 0, &n);
    ASSERT_GT(n, 1);
    for (int i = 0; i < n; ++i) {
      const Rgba ours = Compose(file, i);
      const Rgba pil = ReadPillowFrame(file + ".pil." + std::to_string(i));
      Rgba im;
      im.width = ours.width, im.height = ours.height;
      im.pixels = qvtest::ReadFileBytes(file + ".im." + std::to_string(i));
      // Where the two judges agree we must too; where they differ (Pillow
      // clears to an opaque background colour in a file without transparency,
      // ImageMagick to transparent) we must side with one of them.
      ExpectSameRgba(ours, pil, "frame " + std::to_string(i), &im);
      ++compared;
    }
  }
  EXPECT_GE(compared, 20);
}

TEST_F(GifComposeOracle, SheetOfComposedFramesForTheEye) {
  if (!HaveTools()) GTEST_SKIP() << "Pillow, gifsicle, ImageMagick or gdk-pixbuf-tests missing";
  qvtest::TempDir dir;
  const std::vector<std::string> files = MakeAnimations(dir.Path());
  // Rows of frames, four times enlarged, a chessboard where nothing is seen.
  const int scale = 4, gap = 2;
  std::vector<std::vector<Rgba>> rows;
  int width = 0, height = 0;
  for (const std::string& file : files) {
    int n = 0;
    Compose(file, 0, &n);
    std::vector<Rgba> row;
    int w = 0, h = 0;
    for (int i = 0; i < n; ++i) {
      row.push_back(Compose(file, i));
      w += row.back().width * scale + gap;
      h = std::max(h, row.back().height * scale);
    }
    width = std::max(width, w);
    height += h + gap;
    rows.push_back(std::move(row));
  }
  TIEBitmap sheet(width, height, ie24RGB);
  sheet.Fill(0x808080);
  int y0 = 0;
  for (const auto& row : rows) {
    int x0 = 0, h = 0;
    for (const Rgba& f : row) {
      for (int y = 0; y < f.height * scale; ++y)
        for (int x = 0; x < f.width * scale; ++x) {
          const uint8_t* p = &f.pixels[(size_t(y / scale) * f.width + x / scale) * 4];
          const uint8_t board = ((x / 4 + y / 4) & 1) ? 200 : 255;
          sheet.SetPixelRGB(x0 + x, y0 + y, p[3] ? MakeRGB(p[0], p[1], p[2]) : MakeRGB(board, board, board));
        }
      x0 += f.width * scale + gap;
      h = std::max(h, f.height * scale);
    }
    y0 += h + gap;
  }
  const fs::path out = fs::path(QV_BINARY_DIR) / "test-output" / "gif";
  fs::create_directories(out);
  auto io = TImageLibIO::CreateForBitmap(&sheet);
  io->SaveFile(UTF8ToWide((out / "composed_frames.png").string()));
  EXPECT_FALSE(io->Aborting());
}

// The test suite's configuration: its screen and, per frame, the reference file.
struct SuiteCase {
  int width = 0, height = 0;
  std::vector<std::string> frames;
};

SuiteCase ReadConf(const std::string& path) {
  SuiteCase c;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    auto value = [&] { return line.substr(line.find('=') + 2); };
    if (line.rfind("width = ", 0) == 0) c.width = std::stoi(value());
    if (line.rfind("height = ", 0) == 0) c.height = std::stoi(value());
    if (line.rfind("pixels = ", 0) == 0) c.frames.push_back(value());
  }
  return c;
}

TEST_F(GifComposeOracle, SuiteAnimationsEqualTheirReferenceFrames) {
  if (!HaveTools()) GTEST_SKIP() << "gdk-pixbuf-tests missing";
  int compared = 0;
  // The suite's list of cases; those it comments out are not settled there.
  std::ifstream list(std::string(kSuite) + "/TESTS");
  std::string name;
  while (std::getline(list, name)) {
    if (name.empty() || name[0] == '#') continue;
    SCOPED_TRACE(name);
    const std::string base = std::string(kSuite) + "/" + name;
    if (!fs::exists(base + ".conf")) continue;
    const SuiteCase c = ReadConf(base + ".conf");
    // A single frame is read as stored, not on the screen's canvas.
    if (c.frames.size() < 2) continue;
    for (size_t i = 0; i < c.frames.size(); ++i) {
      Rgba want;
      want.width = c.width, want.height = c.height;
      want.pixels = qvtest::ReadFileBytes(std::string(kSuite) + "/" + c.frames[i]);
      if (want.pixels.size() != size_t(c.width) * c.height * 4) continue;
      ExpectSameRgba(Compose(base + ".gif", int(i)), want, "frame " + std::to_string(i));
      ++compared;
    }
  }
  EXPECT_GE(compared, 16);
}

}  // namespace
