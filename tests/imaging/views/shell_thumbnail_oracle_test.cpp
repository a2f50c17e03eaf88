// Video thumbnails from the desktop's thumbnail cache, checked against GLib:
// under a cache folder of the test's own, entries written by Pillow with the
// Thumb:: keys; which entry we take and whether it is valid agree with
// `gio info -a thumbnail::path,thumbnail::is-valid`, for plain names, names
// with blanks and others. Without a valid entry the clip's frame 0 is used.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/format_filters.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/special/video/video_frames.h"
#include "imaging/views/shell_thumbnail.h"
#include "imaging/views/thumb_grid.h"
#include "platform/ui/ui_test_support.h"
#include "test_support.h"
#include "tests/imaging/io/io_test_support.h"

namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

// What gio says of a file: its URI, and the thumbnail path and validity.
struct GioAnswer {
  std::string uri, path;
  std::string valid;  // "TRUE", "FALSE" or empty
};

std::string LineValue(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return {};
  const size_t start = at + key.size();
  const size_t end = text.find('\n', start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

class ShellThumbnailOracle : public ::testing::Test {
protected:
  qvtest::TempDir dir;
  std::string cache;
  std::string savedCache;
  bool hadCache = false;

  void SetUp() override {
    if (!qvtest::HaveProgram("gio") || !qvtest::HaveProgram("ffmpeg") ||
        qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "gio (libglib2.0-bin), ffmpeg and Pillow are needed";
    qvtest::EnsureImageIO();
    RegisterFormatFilters();
    RegisterVideoFrameReader();
    cache = dir.File("cache");
    if (const char* c = std::getenv("XDG_CACHE_HOME")) {
      hadCache = true;
      savedCache = c;
    }
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  }
  void TearDown() override {
    if (hadCache) setenv("XDG_CACHE_HOME", savedCache.c_str(), 1);
    else unsetenv("XDG_CACHE_HOME");
  }
  std::string MakeClip(const std::string& name) {
    const std::string path = dir.File(name);
    EXPECT_EQ(qvtest::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 5 " +
                                 Quote(path) + " 2>&1"),
              0);
    return path;
  }
  GioAnswer Gio(const std::string& file) {
    std::string out;
    qvtest::RunCommand("XDG_CACHE_HOME=" + Quote(cache) + " gio info -a thumbnail::path,thumbnail::is-valid " +
                           Quote(file) + " 2>&1; XDG_CACHE_HOME=" + Quote(cache) + " gio info " + Quote(file) +
                           " 2>&1",
                       &out);
    return GioAnswer{LineValue(out, "uri: "), LineValue(out, "thumbnail::path: "),
                     LineValue(out, "thumbnail::is-valid: ")};
  }
  int64_t MTime(const std::string& file) {
    struct stat st {};
    stat(file.c_str(), &st);
    return int64_t(st.st_mtime);
  }
  std::string Entry(const std::string& folder, const std::string& file) {
    std::filesystem::create_directories(cache + "/thumbnails/" + folder);
    return cache + "/thumbnails/" + folder + "/" + MD5Hex(FileNameToURI(file)) + ".png";
  }
  void WriteEntry(const std::string& path, const std::string& uri, int64_t mtime, int w, int h) {
    const std::string script = std::string(QV_SOURCE_DIR) + "/tests/imaging/views/thumb_grid_oracle.py";
    std::string log;
    ASSERT_EQ(qvtest::RunCommand("/usr/bin/python3 " + script + " cache " + Quote(path) + " " + Quote(uri) + " " +
                                     std::to_string(mtime) + " " + std::to_string(w) + " " + std::to_string(h) +
                                     " 2>&1",
                                 &log),
              0)
        << log;
  }
  // Ours and gio's answers agree: a valid entry is the one we take, an
  // invalid one is never taken.
  void ExpectAgreement(const std::string& file, const char* what) {
    const GioAnswer g = Gio(file);
    const std::string ours = FindCachedThumbnail(file, 100, 100);
    if (g.valid == "TRUE") EXPECT_EQ(ours, g.path) << what << ": " << file;
    else EXPECT_EQ(ours, "") << what << ": " << file;
  }
};

TEST_F(ShellThumbnailOracle, PickAndValidityAgreeWithGio) {
  for (const std::string name : {"plain.avi", "with blanks.avi", "non-ascii \xC3\xA9\xE4\xB8\xAD.avi",
                                 "odd #%;[]&=+@!'~.avi"}) {
    const std::string file = MakeClip(name);
    const GioAnswer none = Gio(file);
    EXPECT_EQ(FileNameToURI(file), none.uri) << name;
    EXPECT_EQ(none.path, "");
    EXPECT_EQ(FindCachedThumbnail(file, 100, 100), "");
    const std::string uri = FileNameToURI(file);
    const std::string normal = Entry("normal", file);
    WriteEntry(normal, uri, MTime(file), 128, 96);
    ASSERT_EQ(Gio(file).valid, "TRUE") << name;
    ExpectAgreement(file, "valid normal entry");
    WriteEntry(normal, uri, MTime(file) - 100, 128, 96);
    ASSERT_EQ(Gio(file).valid, "FALSE") << name;
    ExpectAgreement(file, "normal entry of another time");
    WriteEntry(normal, uri + "x", MTime(file), 128, 96);
    ExpectAgreement(file, "normal entry of another file");
    WriteEntry(Entry("large", file), uri, MTime(file), 256, 192);
    ExpectAgreement(file, "valid large entry beside a stale normal one");
  }
}

TEST_F(ShellThumbnailOracle, CachedPictureIsFittedAndBrokenOnesFallBackToFrameZero) {
  const std::string file = MakeClip("clip.avi");
  TIEBitmap b;
  // No entry: frame 0 of the clip, at its own size (never enlarged).
  ASSERT_TRUE(LoadShellThumbnail(b, file, 100, 100));
  EXPECT_EQ(b.Width(), 64);
  EXPECT_EQ(b.Height(), 48);
  // A valid entry: its picture, fitted into the cell.
  const std::string entry = Entry("normal", file);
  WriteEntry(entry, FileNameToURI(file), MTime(file), 128, 96);
  ASSERT_TRUE(LoadShellThumbnail(b, file, 100, 100));
  EXPECT_EQ(b.Width(), 100);
  EXPECT_EQ(b.Height(), 75);
  // The same entry with its pixel data spoilt: the keys still say it is
  // valid, but the picture cannot be read, so the clip's frame is used.
  std::vector<uint8_t> bytes = qvtest::ReadFileBytes(entry);
  ASSERT_GT(bytes.size(), 200u);
  for (size_t i = bytes.size() - 60; i < bytes.size() - 20; ++i) bytes[i] ^= 0x5A;
  std::ofstream(entry, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  ASSERT_TRUE(LoadShellThumbnail(b, file, 100, 100));
  EXPECT_EQ(b.Width(), 64);
  // Not a video at all and no entry: nothing.
  const std::string text = dir.File("notes.avi");
  std::ofstream(text) << "not a clip";
  EXPECT_FALSE(LoadShellThumbnail(b, text, 100, 100));
}

TEST_F(ShellThumbnailOracle, VideoNamesAndTheGridsVideoCells) {
  EXPECT_TRUE(IsVideoFileName("x.MTS"));
  EXPECT_TRUE(IsVideoFileName("/a/b.mp4"));
  EXPECT_FALSE(IsVideoFileName("/a/b.png"));
  EXPECT_FALSE(IsVideoFileName("/a/mts"));
  const std::string file = MakeClip("movie.avi");
  InitializeUI();
  {
    TForm* form = new TForm(Application);
    form->SetClientWidth(350);
    form->SetClientHeight(150);
    auto* grid = new TImageLibMView(form);
    grid->SetParent(form);
    grid->SetBounds(0, 0, 330, 130);
    grid->SetThreadPoolSize(0);
    form->Show();
    headless::ProcessMessages();
    grid->AppendEntry();
    grid->SetImageFileName(0, file);        // the clip: its thumbnail
    grid->AppendEntry();
    grid->SetImageFileName(1, file + "::3");  // a frame of it, with the clip's frame time
    grid->Invalidate();
    headless::ProcessMessages();
    EXPECT_TRUE(grid->HasImage(0));
    EXPECT_EQ(grid->StoredImageWidth(0), 64);
    EXPECT_TRUE(grid->HasImage(1));
    EXPECT_EQ(grid->StoredImageWidth(1), 64);
    // 10 frames a second: 100 ms a frame, as the reader gives it.
    EXPECT_NEAR(grid->ImageDelayTime(1), 100.0, 0.5);
    delete form;
  }
  FinalizeUI();
}

}  // namespace
