// The thumbnail-cache reading on its own: the PNG text chunks, the keys that
// make an entry valid, hostile chunk lengths, and the fuzz target's seeds
// (written with QV_WRITE_FUZZ_SEEDS set to fuzz/corpus, else checked present).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>

#include "imaging/core/ie_bitmap.h"
#include "imaging/formats/format_filters.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/views/shell_thumbnail.h"
#include "platform/rtl/streams.h"
#include "test_support.h"
#include "tests/imaging/io/io_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutBE32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}

Bytes Chunk(const char* type, const std::string& body) {
  Bytes c;
  PutBE32(c, uint32_t(body.size()));
  c.insert(c.end(), type, type + 4);
  c.insert(c.end(), body.begin(), body.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
  PutBE32(c, uint32_t(crc));
  return c;
}

std::string Text(const std::string& key, const std::string& value) { return key + std::string(1, '\0') + value; }

// A small PNG of ours with text chunks put in after its header chunk.
Bytes CachePng(const std::vector<std::string>& texts, int w = 24, int h = 18) {
  qvtest::EnsureImageIO();
  RegisterFormatFilters();
  TIEBitmap b(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 10), uint8_t(y * 12), 90));
  auto io = TImageLibIO::CreateForBitmap(&b);
  TMemoryStream s;
  io->SavePNGStream(s);
  Bytes png(static_cast<const uint8_t*>(s.Memory()), static_cast<const uint8_t*>(s.Memory()) + s.Size());
  Bytes out(png.begin(), png.begin() + 8 + 25);  // signature and IHDR
  for (const std::string& t : texts) {
    Bytes c = Chunk("tEXt", t);
    out.insert(out.end(), c.begin(), c.end());
  }
  out.insert(out.end(), png.begin() + 33, png.end());
  return out;
}

const char* kUri = "file:///seed/clip%20one.avi";

TEST(ThumbnailCache, TextChunksAndValidity) {
  const Bytes png = CachePng({Text("Thumb::URI", kUri), Text("Thumb::MTime", "1000"), Text("Software", "x")});
  std::map<std::string, std::string> keys;
  ASSERT_TRUE(ReadPngTextChunks(png.data(), png.size(), keys));
  EXPECT_EQ(keys["Thumb::URI"], kUri);
  EXPECT_EQ(keys["Thumb::MTime"], "1000");
  EXPECT_TRUE(ThumbnailDescribes(keys, kUri, 1000, 4096));
  EXPECT_FALSE(ThumbnailDescribes(keys, kUri, 1001, 4096));
  EXPECT_FALSE(ThumbnailDescribes(keys, "file:///seed/other.avi", 1000, 4096));
  keys["Thumb::Size"] = "4095";
  EXPECT_FALSE(ThumbnailDescribes(keys, kUri, 1000, 4096));
  keys["Thumb::MTime"] = "";
  EXPECT_FALSE(ThumbnailDescribes(keys, kUri, 1000, 4095));
  TIEBitmap b;
  ASSERT_TRUE(LoadCachedThumbnailData(png.data(), png.size(), kUri, 1000, 4096, b));
  EXPECT_EQ(b.Width(), 24);
  EXPECT_FALSE(LoadCachedThumbnailData(png.data(), png.size(), kUri, 999, 4096, b));
}

TEST(ThumbnailCache, HostileChunksAreRefused) {
  Bytes png = CachePng({Text("Thumb::URI", kUri), Text("Thumb::MTime", "1000")});
  std::map<std::string, std::string> keys;
  // A chunk length past the end of the data.
  Bytes huge = png;
  huge[33] = 0x7F;
  EXPECT_FALSE(ReadPngTextChunks(huge.data(), huge.size(), keys));
  // Cut anywhere: never read past the end (the sanitizers watch), never valid
  // pixels from half a picture.
  for (size_t n = 0; n < png.size(); n += 7) {
    keys.clear();
    ReadPngTextChunks(png.data(), n, keys);
    TIEBitmap b;
    EXPECT_FALSE(LoadCachedThumbnailData(png.data(), n, kUri, 1000, 4096, b)) << n;
  }
  EXPECT_FALSE(ReadPngTextChunks(nullptr, 0, keys));
  const Bytes notPng{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(ReadPngTextChunks(notPng.data(), notPng.size(), keys));
}

TEST(ThumbnailCache, MD5OfKnownTexts) {
  // RFC 1321's test suite.
  EXPECT_EQ(MD5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(MD5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(MD5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(FuzzSeeds, ThumbnailCacheSeedsWrittenWhenAskedAndPresent) {
  const std::vector<std::pair<std::string, Bytes>> seeds = {
      {"valid.png", CachePng({Text("Thumb::URI", kUri), Text("Thumb::MTime", "1000")})},
      {"sized.png", CachePng({Text("Thumb::URI", kUri), Text("Thumb::MTime", "1000"), Text("Thumb::Size", "4096")})},
      {"stale.png", CachePng({Text("Thumb::URI", kUri), Text("Thumb::MTime", "999")}, 9, 5)},
      {"no_keys.png", CachePng({}, 3, 3)}};
  const char* out = std::getenv("QV_WRITE_FUZZ_SEEDS");
  for (const auto& s : seeds) {
    if (out && *out) {
      const std::filesystem::path d = std::filesystem::path(out) / "thumbnail_cache";
      std::filesystem::create_directories(d);
      qvtest::WriteFileBytes((d / s.first).string(), s.second);
      continue;
    }
    const std::filesystem::path file =
        std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "corpus" / "thumbnail_cache" / s.first;
    EXPECT_TRUE(std::filesystem::exists(file)) << file << " is missing: write the seeds again";
  }
}

}  // namespace
