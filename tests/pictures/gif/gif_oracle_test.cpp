// GIFs written by giflib's gifbuild and by Pillow read to the indices giflib
// finds; what we write reads back in giflib's tools and ImageMagick as we hold it.
#include <gtest/gtest.h>

#include <sstream>

#include "gif_test_util.h"
#include "test_support.h"

using namespace giftest;

namespace {

std::string Dump(const std::string& file) {
  std::string out;
  qvtest::RunCommand("gifbuild -d " + file + " 2>/dev/null", &out);
  // The first lines and the trailer comments name the file.
  std::istringstream in(out);
  std::string line, kept;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') kept += line + "\n";
  return kept;
}

void ExpectSameIndices(TGIFImage& image, const LibFile& lib) {
  ASSERT_TRUE(lib.ok);
  ASSERT_EQ(image.Frames().Count(), static_cast<int>(lib.frames.size()));
  for (size_t i = 0; i < lib.frames.size(); ++i) {
    TGIFSubImage* f = image.Frames()[static_cast<int>(i)];
    const LibFrame& g = lib.frames[i];
    EXPECT_EQ(f->Left(), g.left);
    EXPECT_EQ(f->Top(), g.top);
    ASSERT_EQ(f->Width(), g.width);
    ASSERT_EQ(f->Height(), g.height);
    EXPECT_EQ(f->IsInterlaced(), g.interlace);
    EXPECT_EQ(std::vector<uint8_t>(f->Pixels(), f->Pixels() + f->PixelBytes()), g.pixels) << "frame " << i;
    if (g.delay >= 0) {
      ASSERT_NE(f->ControlExtension(), nullptr);
      EXPECT_EQ(f->ControlExtension()->FrameDelay(), g.delay);
      EXPECT_EQ(f->ControlExtension()->DisposalMethod(), g.disposal);
      EXPECT_EQ(f->IsTransparent(), g.transparent >= 0);
      if (g.transparent >= 0) { EXPECT_EQ(f->TransparentIndex(), g.transparent); }
    }
  }
}

const char* kSpec = R"(screen width 12
screen height 8
screen colors 4
screen background 1
pixel aspect byte 0
screen map
	rgb 000 000 000 is a
	rgb 255 000 000 is b
	rgb 000 255 000 is c
	rgb 000 000 255 is d
end
netscape loop 3
comment
%LONG%
second line
end
graphics control
	disposal mode 2
	user input flag off
	delay 7
	transparent index 3
end
image
image left 1
image top 1
image interlaced
image bits 10 by 11
abcdabcdab
bbbbbbbbbb
cccccccccc
dddddddddd
ababababab
ddddddddcc
abcdabcdab
aaaaaaaaaa
bbbbbbbbbb
cadbcadbca
dddddddddd
extension ff
ANIMEXTS1.0
\x01\x05\x00
end
extension ff
QUORVANE1.0
some private data
\x07\x08
end
graphics control
	disposal mode 1
	user input flag on
	delay 20
	transparent index 0
end
image
image left 0
image top 0
image map
	rgb 010 020 030 is x
	rgb 040 050 060 is y
end
image bits 4 by 2
xyxy
yyxx
)";

TEST(GifOracle, GifbuildFileReadsAndWritesBackTheSameStructure) {
  if (!qvtest::HaveProgram("gifbuild")) GTEST_SKIP() << "giflib-tools is not installed";
  qvtest::TempDir dir;
  std::string spec = kSpec;
  spec.replace(spec.find("%LONG%"), 6, std::string(250, 'L'));
  qvtest::WriteFileBytes(dir.File("in.txt"), std::vector<uint8_t>(spec.begin(), spec.end()));
  ASSERT_EQ(qvtest::RunCommand("gifbuild " + dir.File("in.txt") + " > " + dir.File("in.gif")), 0);
  const std::vector<uint8_t> original = qvtest::ReadFileBytes(dir.File("in.gif"));

  TGIFImage image;
  std::vector<std::string> warnings;
  image.OnReportWarning = [&](TObject*, int, const std::string& m) { warnings.push_back(m); };
  LoadFromBytes(image, original);
  EXPECT_TRUE(warnings.empty());
  ExpectSameIndices(image, SlurpWithGiflib(original));

  // The block model holds what the file said.
  TGIFExtensionList& first = image.Frames()[0]->ExtensionBlocks();
  auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(first.GetExtensionAt(0));
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(loop->LoopCount, 3);
  auto* comment = dynamic_cast<TGIFCommentExtension*>(first.GetExtensionAt(1));
  ASSERT_NE(comment, nullptr);
  EXPECT_EQ(comment->CommentLines.Count(), 2);
  EXPECT_EQ(comment->CommentLines[0], std::string(250, 'L'));
  TGIFExtensionList& second = image.Frames()[1]->ExtensionBlocks();
  auto* animexts = dynamic_cast<TGIFAppExtNSLoop*>(second.GetExtensionAt(0));
  ASSERT_NE(animexts, nullptr);
  EXPECT_EQ(animexts->LoopCount, 5);
  auto* unknown = dynamic_cast<TGIFUnknownAppExtension*>(second.GetExtensionAt(1));
  ASSERT_NE(unknown, nullptr);
  ASSERT_EQ(unknown->Blocks.size(), 2u);
  EXPECT_TRUE(image.Frames()[1]->ControlExtension()->WaitsForInput());

  qvtest::WriteFileBytes(dir.File("out.gif"), SaveToBytes(image));
  EXPECT_EQ(Dump(dir.File("out.gif")), Dump(dir.File("in.gif")));
  EXPECT_EQ(qvtest::ReadFileBytes(dir.File("out.gif")), original) << "giflib's own writing comes back byte for byte";
}

TEST(GifOracle, PillowAnimationsReadToGiflibsIndicesAndKeepTheirTiming) {
  if (!HavePillow()) GTEST_SKIP() << "Pillow is not installed";
  qvtest::TempDir dir;
  const std::string file = dir.File("anim.gif");
  ASSERT_EQ(RunPython(R"(
from PIL import Image, ImageDraw
import random
random.seed(3)
frames = []
for i in range(5):
    im = Image.new('RGB', (40, 30), (200, 10 * i, 30))
    d = ImageDraw.Draw(im)
    d.rectangle([i * 5, 3, i * 5 + 12, 20], fill=(0, 0, 255))
    for k in range(30):
        im.putpixel((random.randrange(40), random.randrange(30)), (random.randrange(256), 7, 9))
    frames.append(im.convert('P', palette=Image.ADAPTIVE, colors=64 - i))
frames[0].save(')" + file + R"(', save_all=True, append_images=frames[1:], duration=[100, 40, 70, 20, 250],
               loop=0, disposal=[0, 1, 2, 3, 1], transparency=0, optimize=False)
)"),
            0);
  const std::vector<uint8_t> original = qvtest::ReadFileBytes(file);
  TGIFImage image;
  LoadFromBytes(image, original);
  ExpectSameIndices(image, SlurpWithGiflib(original));
  EXPECT_EQ(image.Width(), 40);
  EXPECT_EQ(image.Height(), 30);

  // What we write shows the same timing to ImageMagick.
  const std::string out = dir.File("out.gif");
  qvtest::WriteFileBytes(out, SaveToBytes(image));
  if (qvtest::HaveProgram("identify")) {
    std::string a, b;
    qvtest::RunCommand("identify -format '%T %D\\n' " + file, &a);
    qvtest::RunCommand("identify -format '%T %D\\n' " + out, &b);
    EXPECT_EQ(b, a);
    EXPECT_EQ(a, "10 Undefined\n4 None\n7 Background\n2 Previous\n25 None\n");
  }
  ExpectSameIndices(image, SlurpWithGiflib(qvtest::ReadFileBytes(out)));
}

TEST(GifOracle, ToolsShowTheFlagsDelaysDisposalAndLoopsWeHold) {
  if (!qvtest::HaveProgram("gifbuild") || !qvtest::HaveProgram("giftext")) GTEST_SKIP() << "giflib-tools is not installed";
  TGIFImage image;
  std::vector<uint8_t> p(6 * 4);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i % 3);
  for (int k = 0; k < 3; ++k) {
    TGIFSubImage* f = AddIndexedFrame(image, k, 0, 6, 4, p, {0xFF0000, 0x00FF00, 0x0000FF});
    auto gce = std::make_unique<TGIFGraphicControlExtension>(f);
    gce->SetFrameDelay(15 + k);
    gce->SetDisposalMethod(k + 1);
    gce->SetTransparentEntry(2);
    gce->SetTransparencyFlag(k == 1);
    f->ExtensionBlocks().AppendItem(std::move(gce));
  }
  auto loop = std::make_unique<TGIFAppExtNSLoop>(image.Frames()[0]);
  loop->LoopCount = 4;
  image.Frames()[0]->ExtensionBlocks().InsertItem(0, std::move(loop));
  qvtest::TempDir dir;
  const std::string file = dir.File("ours.gif");
  qvtest::WriteFileBytes(file, SaveToBytes(image));
  const std::string dump = Dump(file);
  EXPECT_NE(dump.find("netscape loop 4"), std::string::npos) << dump;
  EXPECT_NE(dump.find("disposal mode 3\n\tuser input flag off\n\tdelay 17\n"), std::string::npos) << dump;
  std::string text;
  qvtest::RunCommand("giftext " + file, &text);
  EXPECT_NE(text.find("Transparency on: yes"), std::string::npos);
  EXPECT_NE(text.find("Image Size - Left = 2, Top = 0, Width = 6, Height = 4."), std::string::npos) << text;
  if (qvtest::HaveProgram("identify")) {
    std::string id;
    qvtest::RunCommand("identify -format '%T %D\\n' " + file, &id);
    EXPECT_EQ(id, "15 None\n16 Background\n17 Previous\n");
  }
}

}  // namespace
