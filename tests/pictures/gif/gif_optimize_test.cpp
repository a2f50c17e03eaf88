// Optimising frames changes the file, never the pictures it shows.
#include <gtest/gtest.h>

#include "exception_text.h"
#include "gif_test_util.h"
#include "test_support.h"

using namespace giftest;

namespace {

TGIFGraphicControlExtension* Control(TGIFSubImage* f, int delay, int disposal, int transparent) {
  auto g = std::make_unique<TGIFGraphicControlExtension>(f);
  g->SetFrameDelay(delay);
  g->SetDisposalMethod(disposal);
  if (transparent >= 0) {
    g->SetTransparentEntry(transparent);
    g->SetTransparencyFlag(true);
  }
  TGIFGraphicControlExtension* raw = g.get();
  f->ExtensionBlocks().AppendItem(std::move(g));
  return raw;
}

const std::vector<uint32_t> kColours = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF, 0x808080};

TEST(GifOptimize, SingleFrameLosesWhatShowsNothingAndSortsItsTable) {
  TGIFImage image;
  TGIFSubImage* f = AddIndexedFrame(image, 0, 0, 3, 1, {2, 2, 1}, kColours);
  auto comment = std::make_unique<TGIFCommentExtension>(f);
  comment->CommentLines.Add("note");
  f->ExtensionBlocks().AppendItem(std::move(comment));
  auto loop = std::make_unique<TGIFAppExtNSLoop>(f);
  f->ExtensionBlocks().InsertItem(0, std::move(loop));
  Control(f, 20, 1, -1);
  image.OptimizeFrames(ofMerge | ofCleanup | ofColorTables, rdNone, dkNearest, 8);
  ASSERT_EQ(image.Frames().Count(), 1);
  f = image.Frames()[0];
  EXPECT_EQ(f->ExtensionBlocks().Count(), 0);
  EXPECT_EQ(f->LocalMap().EntryCount(), 2);
  EXPECT_EQ(f->LocalMap().RawColor(0), 0x00FF00u);
  EXPECT_EQ(f->PixelAt(0, 0), 0);
}

TEST(GifOptimize, TransparencyThatNoPixelUsesGoesAndRepeatedFramesVanish) {
  TGIFImage image;
  std::vector<uint8_t> p(16);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(1 + i % 3);
  TGIFSubImage* a = AddIndexedFrame(image, 0, 0, 4, 4, p, kColours);
  Control(a, 10, 1, 5);  // index 5 is used by no pixel
  TGIFSubImage* b = AddIndexedFrame(image, 0, 0, 4, 4, p, kColours);
  Control(b, 30, 1, -1);
  image.OptimizeFrames(ofCleanup, rdNone, dkNearest, 8);
  EXPECT_FALSE(image.Frames()[0]->IsTransparent());

  // Merged with its identical predecessor the second frame is all transparent;
  // cropping deletes it and gives its delay to the first.
  image.Frames()[0]->ControlExtension()->SetTransparentEntry(5);
  image.Frames()[0]->ControlExtension()->SetTransparencyFlag(true);
  image.OptimizeFrames(ofMerge | ofCrop, rdNone, dkNearest, 8);
  ASSERT_EQ(image.Frames().Count(), 1);
  EXPECT_EQ(image.Frames()[0]->ControlExtension()->FrameDelay(), 40);

  // Behind a frame that restores to background, an empty frame still shows the
  // background for its time: it stays, uncropped.
  TGIFImage kept;
  TGIFSubImage* c = AddIndexedFrame(kept, 0, 0, 4, 4, p, kColours);
  Control(c, 10, 2, -1);
  TGIFSubImage* d = AddIndexedFrame(kept, 0, 0, 4, 4, std::vector<uint8_t>(16, 5), kColours);
  Control(d, 30, 1, 5);
  kept.OptimizeFrames(ofCrop, rdNone, dkNearest, 8);
  ASSERT_EQ(kept.Frames().Count(), 2);
  EXPECT_EQ(kept.Frames()[1]->Width(), 4);
}

TEST(GifOptimize, DisposalBecomesZeroOnlyUnderACoveringFrame) {
  TGIFImage image;
  TGIFSubImage* a = AddIndexedFrame(image, 2, 2, 2, 2, {1, 1, 1, 1}, kColours);
  Control(a, 10, 2, -1);
  AddIndexedFrame(image, 0, 0, 6, 6, std::vector<uint8_t>(36, 2), kColours);  // covers frame 0
  TGIFSubImage* c = AddIndexedFrame(image, 0, 0, 6, 6, std::vector<uint8_t>(36, 3), kColours);
  Control(c, 10, 3, -1);
  AddIndexedFrame(image, 1, 1, 2, 2, {1, 1, 1, 1}, kColours);  // does not cover frame 2
  image.OptimizeFrames(ofCleanup, rdNone, dkNearest, 8);
  EXPECT_EQ(image.Frames()[0]->ControlExtension()->DisposalMethod(), 0);
  EXPECT_EQ(image.Frames()[2]->ControlExtension()->DisposalMethod(), 3);
  EXPECT_EQ(MessageOf([&] { image.OptimizeFrames(ofReduceColors, rdCustomPalette, dkNearest, 8); }),
            "Invalid reduction method");
}

TEST(GifOptimize, OracleEveryFlagSetKeepsPillowsComposites) {
  if (!HavePillow()) GTEST_SKIP() << "Pillow is not installed";
  qvtest::TempDir dir;
  const std::string source = dir.File("source.gif");
  ASSERT_EQ(RunPython(R"(
from PIL import Image, ImageDraw
frames = []
for i in range(6):
    im = Image.new('RGB', (24, 16), (250, 250, 250))
    d = ImageDraw.Draw(im)
    d.rectangle([2 + (i % 3) * 3, 2, 9 + (i % 3) * 3, 10], fill=(200, 0, 0))
    d.ellipse([12, 4 + (i % 2), 20, 12], fill=(0, 0, 180))
    frames.append(im.convert('P', palette=Image.ADAPTIVE, colors=8))
frames[0].save(')" + source + R"(', save_all=True, append_images=frames[1:], duration=[80, 80, 120, 80, 60, 90],
               loop=0, disposal=[1, 1, 1, 2, 1, 3], optimize=False)
)"),
            0);
  TGIFImage original;
  LoadFromBytes(original, qvtest::ReadFileBytes(source));
  // Repeat a frame and give one a transparent border, so that merging and
  // cropping have work to do.
  original.AddFrame(original.Frames()[1]);
  std::vector<std::string> files;
  for (int flags = 0; flags < 32; ++flags) {
    TGIFImage copy;
    copy.Assign(&original);
    copy.OptimizeFrames(static_cast<TGIFOptimizeFlags>(flags), rdNone, dkNearest, 8);
    files.push_back(dir.File("opt" + std::to_string(flags) + ".gif"));
    qvtest::WriteFileBytes(files.back(), SaveToBytes(copy));
  }
  qvtest::WriteFileBytes(dir.File("base.gif"), SaveToBytes(original));
  std::string script = R"(
from PIL import Image
def frames(path):
    im = Image.open(path)
    out = []
    for i in range(im.n_frames):
        im.seek(i)
        rgba = im.convert('RGBA')
        out.append((tuple(p if p[3] else (0, 0, 0, 0) for p in rgba.getdata()), im.info.get('duration')))
    return out
base = frames(')" + dir.File("base.gif") + R"(')
shown = [f for f, d in base]
total = sum(d for f, d in base)
bad = []
for k in range(32):
    got = frames(')" + dir.File("opt") + R"(%d.gif' % k)
    # Frames may merge: what is shown over time must be the same.
    timeline = lambda fr: [f for f, d in fr for _ in range(d // 10)]
    if timeline(got) != timeline(base):
        bad.append(k)
print(bad)
)";
  std::string out;
  ASSERT_EQ(RunPython(script, &out), 0) << out;
  EXPECT_EQ(out, "[]\n");
}

}  // namespace
