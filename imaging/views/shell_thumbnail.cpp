#include "imaging/views/shell_thumbnail.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_resample.h"
#include "imaging/core/ie_utils.h"
#include "imaging/io/ie_video_reader.h"
#include "imaging/io/image_lib_io.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/sysutils.h"

const char* const VideoFileMask = "*.AVI;*.MPG;*.MPE;*.MPEG;*.WMV;*.ASF;*.IVF;*.WM;*.MP4;*.MOV;*.QT;*.RM;*.M2TS;*.MTS;*.MOD;";

bool IsVideoFileName(const std::string& fileName) { return FileHasExtension(fileName, VideoFileMask); }

// ---- MD5 (the cache names its files by it) ----

namespace {

struct TMD5 {
  uint32_t a = 0x67452301, b = 0xefcdab89, c = 0x98badcfe, d = 0x10325476;
  void Block(const uint8_t* p) {
    static const uint32_t k[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
    static const int r[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                              5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                              4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                              6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
      m[i] = uint32_t(p[i * 4]) | uint32_t(p[i * 4 + 1]) << 8 | uint32_t(p[i * 4 + 2]) << 16 |
             uint32_t(p[i * 4 + 3]) << 24;
    uint32_t A = a, B = b, C = c, D = d;
    for (int i = 0; i < 64; ++i) {
      uint32_t f;
      int g;
      if (i < 16) f = (B & C) | (~B & D), g = i;
      else if (i < 32) f = (D & B) | (~D & C), g = (5 * i + 1) % 16;
      else if (i < 48) f = B ^ C ^ D, g = (3 * i + 5) % 16;
      else f = C ^ (B | ~D), g = (7 * i) % 16;
      const uint32_t t = D;
      D = C;
      C = B;
      const uint32_t x = A + f + k[i] + m[g];
      B = B + ((x << r[i]) | (x >> (32 - r[i])));
      A = t;
    }
    a += A, b += B, c += C, d += D;
  }
};

std::string Hex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

uint32_t PngBE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
  try {
    TFileStream f(path, fmOpenRead | fmShareDenyNone);
    const int64_t size = f.Size();
    // A thumbnail is small; anything huge is not one.
    if (size <= 0 || size > (int64_t(64) << 20)) return false;
    bytes.resize(static_cast<size_t>(size));
    f.ReadBuffer(bytes.data(), size);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// The picture fitted into width x height, never enlarged.
void FitInto(TIEBitmap& bitmap, int width, int height) {
  if (bitmap.IsEmpty() || width <= 0 || height <= 0) return;
  if (bitmap.Width() <= width && bitmap.Height() <= height) return;
  int w = 0, h = 0;
  ScaleToFit(bitmap.Width(), bitmap.Height(), width, height, w, h);
  TIEBitmap fitted;
  fitted.SetLocation(ieMemory);
  fitted.Allocate(std::max(w, 1), std::max(h, 1), ie24RGB);
  ResampleIEBitmap(&bitmap, &fitted, rfTriangle);
  bitmap.Assign(&fitted);
}

// The modification time in whole seconds since 1970, as the cache records it,
// and the size.
bool StatFile(const std::string& fileName, int64_t& mtime, int64_t& size) {
  std::error_code ec;
  const std::filesystem::path path(NativePath(fileName));
  const auto written = std::filesystem::last_write_time(path, ec);
  if (ec) return false;
  const auto bytes = std::filesystem::file_size(path, ec);
  if (ec) return false;
  const auto since = std::chrono::file_clock::to_sys(written).time_since_epoch();
  mtime = std::chrono::floor<std::chrono::seconds>(since).count();
  size = int64_t(bytes);
  return true;
}

}  // namespace

std::string MD5Hex(const std::string& bytes) {
  TMD5 md5;
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  const uint64_t bits = uint64_t(bytes.size()) * 8;
  data.push_back(0x80);
  while (data.size() % 64 != 56) data.push_back(0);
  for (int i = 0; i < 8; ++i) data.push_back(uint8_t(bits >> (8 * i)));
  for (size_t i = 0; i < data.size(); i += 64) md5.Block(data.data() + i);
  uint8_t out[16];
  const uint32_t words[4] = {md5.a, md5.b, md5.c, md5.d};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[i * 4 + j] = uint8_t(words[i] >> (8 * j));
  return Hex(out, 16);
}

std::string FileNameToURI(const std::string& fileName) {
  std::string path = NativePath(fileName);
  if (path.empty() || path[0] != '/') path = IncludeTrailingPathDelimiter(NativePath(GetCurrentDir())) + path;
  // The bytes GLib leaves as they are in the path of a file URI.
  static const std::string safe =
      "!$&'()*+,-./0123456789:=@ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~";
  static const char* digits = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : path) {
    if (safe.find(static_cast<char>(c)) != std::string::npos && c != 0) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += digits[c >> 4];
      uri += digits[c & 15];
    }
  }
  return uri;
}

std::string ThumbnailCacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.cache";
  }
  return base + "/thumbnails";
}

bool ReadPngTextChunks(const uint8_t* data, size_t size, std::map<std::string, std::string>& keys) {
  static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (!data || size < 8 || std::memcmp(data, signature, 8) != 0) return false;
  size_t pos = 8;
  while (pos + 12 <= size) {
    const uint32_t length = PngBE32(data + pos);
    if (length > size - pos - 12) return false;
    const uint8_t* type = data + pos + 4;
    const uint8_t* body = data + pos + 8;
    if (std::memcmp(type, "tEXt", 4) == 0) {
      const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(body, 0, length));
      if (zero) {
        std::string key(reinterpret_cast<const char*>(body), size_t(zero - body));
        std::string value(reinterpret_cast<const char*>(zero + 1), size_t(body + length - zero - 1));
        keys.emplace(std::move(key), std::move(value));
      }
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      return true;
    }
    pos += 12 + size_t(length);
  }
  return pos == size;
}

bool ThumbnailDescribes(const std::map<std::string, std::string>& keys, const std::string& uri, int64_t mtime,
                        int64_t fileSize) {
  auto u = keys.find("Thumb::URI");
  auto m = keys.find("Thumb::MTime");
  if (u == keys.end() || m == keys.end() || u->second != uri) return false;
  char* end = nullptr;
  const long long t = std::strtoll(m->second.c_str(), &end, 10);
  if (end == m->second.c_str() || t != mtime) return false;
  auto s = keys.find("Thumb::Size");
  if (s != keys.end()) {
    const long long n = std::strtoll(s->second.c_str(), &end, 10);
    if (end == s->second.c_str() || n != fileSize) return false;
  }
  return true;
}

bool LoadCachedThumbnailData(const uint8_t* data, size_t size, const std::string& uri, int64_t mtime,
                             int64_t fileSize, TIEBitmap& bitmap) {
  std::map<std::string, std::string> keys;
  if (!ReadPngTextChunks(data, size, keys) || !ThumbnailDescribes(keys, uri, mtime, fileSize)) return false;
  TIEBitmap picture;
  picture.SetLocation(ieMemory);
  auto io = TImageLibIO::CreateForBitmap(&picture);
  TMemoryStream stream;
  stream.WriteBuffer(data, int64_t(size));
  stream.SetPosition(0);
  io->LoadPNGStream(stream);
  if (io->Aborting() || picture.IsEmpty()) return false;
  bitmap.Assign(&picture);
  return !bitmap.IsEmpty();
}

std::string FindCachedThumbnail(const std::string& fileName, int width, int height) {
  int64_t mtime = 0, fileSize = 0;
  if (!StatFile(fileName, mtime, fileSize)) return {};
  const std::string uri = FileNameToURI(fileName);
  const std::string name = MD5Hex(uri) + ".png";
  static const std::array<std::pair<const char*, int>, 4> kSizes{
      {{"normal", 128}, {"large", 256}, {"x-large", 512}, {"xx-large", 1024}}};
  const int need = std::max(width, height);
  size_t first = 0;
  while (first + 1 < kSizes.size() && kSizes[first].second < need) ++first;
  std::vector<size_t> order;
  for (size_t i = first; i < kSizes.size(); ++i) order.push_back(i);
  for (size_t i = first; i-- > 0;) order.push_back(i);
  const std::string folder = ThumbnailCacheFolder();
  for (size_t i : order) {
    const std::string path = folder + "/" + kSizes[i].first + "/" + name;
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, bytes)) continue;
    std::map<std::string, std::string> keys;
    if (ReadPngTextChunks(bytes.data(), bytes.size(), keys) && ThumbnailDescribes(keys, uri, mtime, fileSize))
      return path;
  }
  return {};
}

bool LoadShellThumbnail(TIEBitmap& bitmap, const std::string& fileName, int width, int height) {
  try {
    TIEBitmap picture;
    picture.SetLocation(ieMemory);
    bool got = false;
    const std::string cached = FindCachedThumbnail(fileName, width, height);
    if (!cached.empty()) {
      std::vector<uint8_t> bytes;
      int64_t mtime = 0, fileSize = 0;
      // A broken picture under a valid name is passed over for the video itself.
      got = ReadFileBytes(cached, bytes) && StatFile(fileName, mtime, fileSize) &&
            LoadCachedThumbnailData(bytes.data(), bytes.size(), FileNameToURI(fileName), mtime, fileSize, picture);
    }
    if (!got && IEVideoReaderOpener()) {
      std::string why;
      std::unique_ptr<TIEVideoFrameReader> reader = IEVideoReaderOpener()(fileName, why);
      got = reader && reader->ReadFrame(0, picture, why) && !picture.IsEmpty();
    }
    if (!got) return false;
    FitInto(picture, width, height);
    if (picture.Width() <= 10) return false;
    bitmap.Assign(&picture);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}
