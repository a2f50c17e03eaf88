// What TAnimatedCursor writes, judged by a Python RIFF walk, icotool and
// gdk-pixbuf; the GIF of TAniCursorImage judged by Pillow.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "ani_test_util.h"
#include "icons/ani_cursor_image.h"
#include "icons/animated_cursor.h"
#include "icons/sub_icon_render.h"
#include "pictures/png/png_image.h"
#include "test_support.h"

using namespace anitest;

namespace {

bool HaveSystemPython() { return std::filesystem::exists("/usr/bin/python3"); }

int RunPython(const qvtest::TempDir& dir, const std::string& script, std::string* out) {
  const std::string path = dir.File("walk.py");
  qvtest::WriteFileBytes(path, std::vector<uint8_t>(script.begin(), script.end()));
  return qvtest::RunCommand("/usr/bin/python3 " + path, out);
}

void TwoFrames(TAnimatedCursor& c) {
  const std::vector<uint8_t> bytes =
      Riff({Info("Spin", "Quorvane tests"), Anih(2, 4, 10, 3), Chunk{"rate", Words({6, 12, 6, 1})},
            Chunk{"seq ", Words({0, 1, 0, 1})}, Frames({CursorFrame(0x12, 3, 5), CursorFrame(0x34, 7, 9, 16)})});
  TCustomMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  c.LoadFromStream(s);
}

TEST(AnimatedCursorOracle, WrittenFileWalksAsRiffAndItsFramesListWithTheirHotspots) {
  if (!HaveSystemPython()) GTEST_SKIP() << "python3 is not installed";
  qvtest::TempDir dir;
  TAnimatedCursor c;
  TwoFrames(c);
  c.SaveToFile(dir.File("out.ani"));
  std::string out;
  ASSERT_EQ(RunPython(dir, R"(
import struct
d = open(')" + dir.File("out.ani") + R"(', 'rb').read()
assert d[:4] == b'RIFF' and d[8:12] == b'ACON'
assert struct.unpack('<I', d[4:8])[0] == len(d) - 8, 'RIFF size'
def walk(a, b, depth):
    while a < b:
        cid = d[a:a+4]; n = struct.unpack('<I', d[a+4:a+8])[0]
        print('  ' * depth + cid.decode('latin1'), n)
        if cid == b'LIST':
            print('  ' * depth + ' ' + d[a+8:a+12].decode('latin1'))
            walk(a + 12, a + 8 + n, depth + 1)
        elif cid == b'icon':
            open(')" + dir.File("frame") + R"(%d.cur' % walk.frames, 'wb').write(d[a+8:a+8+n])
            walk.frames += 1
        a += 8 + n + (n & 1)
    assert a == b, 'chunks end where their list ends'
walk.frames = 0
walk(12, len(d), 0)
)",
                      &out),
            0)
      << out;
  EXPECT_NE(out.find("LIST 42\n INFO\n  INAM 5\n  IART 15\n"), std::string::npos) << out;
  EXPECT_NE(out.find("seq  16"), std::string::npos) << out;
  EXPECT_NE(out.find("rate 16"), std::string::npos) << out;
  if (!qvtest::HaveProgram("icotool")) GTEST_SKIP() << "icoutils is not installed";
  std::string l0, l1;
  qvtest::RunCommand("icotool -l " + dir.File("frame0.cur"), &l0);
  qvtest::RunCommand("icotool -l " + dir.File("frame1.cur"), &l1);
  EXPECT_EQ(l0, "--cursor --index=1 --width=32 --height=32 --bit-depth=4 --palette-size=16 --hotspot-x=3 --hotspot-y=5\n");
  EXPECT_EQ(l1, "--cursor --index=1 --width=16 --height=16 --bit-depth=4 --palette-size=16 --hotspot-x=7 --hotspot-y=9\n");
}

TEST(AnimatedCursorOracle, GdkPixbufDrawsTheFirstFrameAsWeHoldIt) {
  if (!qvtest::HaveProgram("gdk-pixbuf-thumbnailer")) GTEST_SKIP() << "libgdk-pixbuf2.0-bin is not installed";
  qvtest::TempDir dir;
  TAnimatedCursor c;
  TwoFrames(c);
  c.SaveToFile(dir.File("out.ani"));
  ASSERT_EQ(qvtest::RunCommand("gdk-pixbuf-thumbnailer -s 32 " + dir.File("out.ani") + " " + dir.File("t.png")), 0);
  TPNGImage png;
  png.LoadFromFile(dir.File("t.png"));
  TBitmap theirs;
  theirs.Assign(&png);
  theirs.SetPixelFormat(pf24bit);
  TBitmap ours;
  ExtractBitmaps(*c.GetFrameImage(0), nullptr, &ours, kNoBackground, nullptr);
  ours.SetPixelFormat(pf24bit);
  ASSERT_EQ(theirs.Width(), 32);
  for (int y = 0; y < 32; y += 5)
    for (int x = 0; x < 32; x += 3)
      EXPECT_EQ(theirs.Canvas()->Pixels(x, y), ours.Canvas()->Pixels(x, y)) << x << "," << y;
}

TEST(AnimatedCursorOracle, PillowSeesFourFramesWithTheirDurationsLoopAndDisposal) {
  if (!HaveSystemPython() || qvtest::RunCommand("/usr/bin/python3 -c 'import PIL.Image' 2>/dev/null") != 0)
    GTEST_SKIP() << "Pillow is not installed";
  qvtest::TempDir dir;
  TAnimatedCursor c;
  TwoFrames(c);
  TMemoryStream ani;
  c.SaveToStream(ani);
  ani.SetPosition(0);
  TAniCursorImage image;
  image.LoadFromStream(ani);
  image.SaveToFile(dir.File("out.gif"));
  std::string out;
  ASSERT_EQ(RunPython(dir, R"(
from PIL import Image
im = Image.open(')" + dir.File("out.gif") + R"(')
print(im.n_frames, im.info.get('loop'))
for i in range(im.n_frames):
    im.seek(i)
    print(im.info['duration'], im.disposal_method, im.size)
)",
                      &out),
            0)
      << out;
  EXPECT_EQ(out, "4 0\n100 2 (32, 32)\n200 2 (32, 32)\n100 2 (32, 32)\n20 2 (32, 32)\n");
}

}  // namespace
