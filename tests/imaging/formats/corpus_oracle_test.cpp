// Every filter over the public test corpora that Debian installs
// (gdk-pixbuf-tests, libsdl2-image-tests): each file reads to the pixels of
// gdk-pixbuf's reference picture where it has one, else to Pillow's, and files
// both refuse are refused here too. Differences kept on purpose are listed,
// each with its reason, in tests/fixtures/README.md ("Accepted differences of
// the corpus test"); any other difference fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_startup.h"
#include "imaging/formats/bmp_filter.h"
#include "imaging/formats/ico_filter.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/formats/pcx_filter.h"
#include "imaging/formats/png_filter.h"
#include "imaging/formats/pnm_filter.h"
#include "imaging/formats/psd_filter.h"
#include "imaging/formats/tga_filter.h"
#include "imaging/formats/wbmp_filter.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const char* const kCorpora[] = {"/usr/libexec/installed-tests/gdk-pixbuf", "/usr/libexec/installed-tests/SDL2_image"};

struct Picture {
  int w = 0, h = 0;
  Bytes rgba;
};

std::string Extension(const fs::path& p) {
  std::string e = p.extension().string();
  if (!e.empty()) e.erase(0, 1);
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return e;
}

bool Handled(const std::string& e) {
  static const std::set<std::string> kinds = {"bmp", "png", "jpg", "jpeg", "tga", "pcx", "psd", "ppm",
                                              "pgm", "pbm", "pnm", "ico", "cur", "wbmp"};
  return kinds.count(e) != 0;
}

Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// RGBA rows of what a filter read; alpha from its mask, its alpha channel or 255.
Picture Rgba(TIEBitmap& bitmap, TIEMask* mask) {
  Picture p;
  TIEBitmap c;
  c.Assign(&bitmap);
  if (c.PixelFormat() != ie24RGB) c.SetPixelFormat(ie24RGB);
  p.w = c.Width(), p.h = c.Height();
  p.rgba.reserve(size_t(p.w) * p.h * 4);
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const TRGB px = c.GetPixelRGB(x, y);
      const int a = mask ? mask->GetPixel(x, y) : bitmap.HasAlphaChannel() ? bitmap.GetAlpha(x, y) : 255;
      p.rgba.insert(p.rgba.end(), {px.r, px.g, px.b, uint8_t(a)});
    }
  return p;
}

// One read by the filter of the file's kind; nothing when it refused.
std::optional<Picture> ReadOnce(const Bytes& bytes, const std::string& e, int index, int* count = nullptr,
                                bool paramsOnly = false) {
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  TIEBitmap bitmap;
  TIOParamsVals params(nullptr);
  params.IcoImageIndex = params.CurImageIndex = index;
  qvtest::Progress progress;
  TIEMaskOut mask;
  TProgressRecord& rec = progress.rec;
  if (e == "bmp") ReadBMPStream(s, bitmap, 0, params, rec, paramsOnly, false, mask, false);
  else if (e == "png") ReadPNGStream(s, bitmap, params, paramsOnly, rec);
  else if (e == "jpg" || e == "jpeg") {
    TJpegReadOptions options;
    options.ReadICC = options.ApplyICC = options.ReadMetadata = false;
    options.InvertCMYK = true;
    options.ParamsOnly = paramsOnly;
    ReadJpegStream(s, nullptr, &bitmap, options, rec, params);
  }
  else if (e == "tga") ReadTGAStream(s, bitmap, params, rec, paramsOnly, mask, false);
  else if (e == "pcx") ReadPCXStream(s, bitmap, params, paramsOnly, rec, int64_t(bytes.size()));
  else if (e == "psd") ReadPSDStream(s, &bitmap, params, nullptr, false, rec);
  else if (e == "ico") ReadICOStream(s, bitmap, params, paramsOnly, rec, mask, false);
  else if (e == "cur") ReadCURStream(s, bitmap, params, paramsOnly, rec, mask, false);
  else if (e == "wbmp") ReadWBMPStream(s, bitmap, params, rec, paramsOnly);
  else ReadPXMStream(s, bitmap, params, rec, paramsOnly);
  if (count) *count = params.ImageCount;
  if (progress.Aborted()) return std::nullopt;
  if (paramsOnly) {
    Picture p;
    p.w = params.Width, p.h = params.Height;
    return p;
  }
  if (bitmap.Width() < 1 || bitmap.Height() < 1) return std::nullopt;
  return Rgba(bitmap, mask.get());
}

// Icons and cursors show their largest image, as Pillow and gdk-pixbuf do.
std::optional<Picture> ReadOurs(const Bytes& bytes, const std::string& e) {
  if (e != "ico" && e != "cur") return ReadOnce(bytes, e, 0);
  int count = 0;
  if (!ReadOnce(bytes, e, 0, &count, true)) return std::nullopt;
  int best = 0;
  int64_t bestArea = -1;
  for (int i = 0; i < count && i < 256; ++i) {
    const auto p = ReadOnce(bytes, e, i, nullptr, true);
    if (p && int64_t(p->w) * p->h > bestArea) best = i, bestArea = int64_t(p->w) * p->h;
  }
  return ReadOnce(bytes, e, best);
}

// Equal pixels; JPEG may differ by one step of rounding, and fully
// transparent pixels by their colour.
bool Same(const Picture& a, const Picture& b, int tolerance) {
  if (a.w != b.w || a.h != b.h || a.rgba.size() != b.rgba.size()) return false;
  for (size_t i = 0; i < a.rgba.size(); i += 4) {
    if (a.rgba[i + 3] == 0 && b.rgba[i + 3] == 0) continue;
    for (size_t k = 0; k < 4; ++k)
      if (std::abs(int(a.rgba[i + k]) - int(b.rgba[i + k])) > tolerance) return false;
  }
  return true;
}

// The files named under the README's heading, by their path below the corpus folder.
std::set<std::string> AcceptedDifferences() {
  std::ifstream in(std::string(QV_FIXTURES_DIR) + "/README.md");
  std::set<std::string> names;
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) inside = line == "## Accepted differences of the corpus test";
    if (!inside) continue;
    // Every name in backquotes at the start of an entry or of its continuation lines.
    const size_t first = line.find_first_not_of(" -");
    if (first == std::string::npos || line[first] != '`' || (line[0] != '-' && line[0] != ' ')) continue;
    for (size_t at = first; at < line.size() && line[at] == '`';) {
      const size_t end = line.find('`', at + 1);
      if (end == std::string::npos) break;
      names.insert(line.substr(at + 1, end - at - 1));
      at = line.find_first_not_of(", ", end + 1);
      if (at == std::string::npos) break;
    }
  }
  return names;
}

TEST(CorpusOracle, PublicTestFilesReadAsGdkPixbufAndPillowReadThem) {
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "Pillow is not installed";
  std::vector<fs::path> files;
  std::vector<std::string> names;
  for (const char* root : kCorpora) {
    if (!fs::is_directory(root)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      const std::string path = entry.path().string();
      if (!entry.is_regular_file() || !Handled(Extension(entry.path())) || path.ends_with(".ref.png")) continue;
      files.push_back(entry.path());
    }
  }
  if (files.empty()) GTEST_SKIP() << "gdk-pixbuf-tests and libsdl2-image-tests are not installed";
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    std::string n = f.string();
    for (const char* root : kCorpora)
      if (n.rfind(root, 0) == 0) n = fs::path(root).filename().string() + n.substr(std::strlen(root));
    names.push_back(n);
  }

  qvtest::TempDir out;
  std::string command = "/usr/bin/python3 '" + std::string(QV_SOURCE_DIR) +
                        "/tests/imaging/formats/corpus_oracle.py' '" + out.Path().string() + "'";
  for (const auto& f : files) command += " '" + f.string() + "'";
  std::string listing;
  ASSERT_EQ(qvtest::RunCommand(command, &listing), 0);
  std::map<int, std::pair<Picture, std::string>> references;
  std::istringstream in(listing);
  int n = 0, w = 0, h = 0;
  std::string source;
  while (in >> n >> w >> h >> source) {
    Picture p;
    p.w = w, p.h = h;
    if (source != "refused") p.rgba = ReadFile(out.Path() / (std::to_string(n) + ".rgba"));
    references[n] = {std::move(p), source};
  }

  // The bound of the readers holds here too: nothing below may make a
  // temporary file for a picture above the memory limit.
  AllowFileFallback = false;
  const std::set<std::string> accepted = AcceptedDifferences();
  int agree = 0, byDesign = 0, tooLarge = 0;
  // What differs is kept for a look: ours and the reference as RGBA rows.
  const fs::path kept = fs::path(QV_BINARY_DIR) / "test-output" / "corpus";
  std::vector<std::string> unexpected, stale;
  for (size_t i = 0; i < files.size(); ++i) {
    const Bytes bytes = ReadFile(files[i]);
    const std::string e = Extension(files[i]);
    // gdk-pixbuf's large.jpg and large.png are sound pictures of 750 and 840
    // megapixels: reading them takes minutes, too long for every test run.
    // Hostile files that claim such sizes are read, and must be refused fast.
    const auto head = ReadOnce(bytes, e, 0, nullptr, true);
    if (head && int64_t(head->w) * head->h > (int64_t(16) << 20) && names[i].rfind("gdk-pixbuf/large.", 0) == 0) {
      ++tooLarge;
      continue;
    }
    const auto ours = ReadOurs(bytes, e);
    auto ref = references.find(int(i));
    ASSERT_NE(ref, references.end()) << names[i];
    // gdk-pixbuf refuses every file of its "fail" folder.
    const bool mustRefuse = names[i].find("/fail/") != std::string::npos || ref->second.second == "refused";
    bool same = false;
    if (mustRefuse) same = !ours.has_value();
    else same = ours.has_value() && Same(*ours, ref->second.first, e == "jpg" || e == "jpeg" ? 1 : 0);
    const bool listed = accepted.count(names[i]) != 0;
    if (same) {
      ++agree;
      if (listed) stale.push_back(names[i]);
    } else if (listed) {
      ++byDesign;
    } else {
      unexpected.push_back(names[i] + (ours ? " (read)" : " (refused)") + " vs " + ref->second.second);
      fs::create_directories(kept);
      const std::string base = (kept / files[i].filename()).string();
      if (ours) {
        std::ofstream(base + ".ours." + std::to_string(ours->w) + "x" + std::to_string(ours->h) + ".rgba", std::ios::binary)
            .write(reinterpret_cast<const char*>(ours->rgba.data()), std::streamsize(ours->rgba.size()));
      }
      const Picture& r = ref->second.first;
      std::ofstream(base + ".ref." + std::to_string(r.w) + "x" + std::to_string(r.h) + ".rgba", std::ios::binary)
          .write(reinterpret_cast<const char*>(r.rgba.data()), std::streamsize(r.rgba.size()));
    }
  }
  AllowFileFallback = true;
  std::cout << "corpus: " << files.size() << " files, " << agree << " agree, " << byDesign << " differ by design, "
            << tooLarge << " too large to compare here\n";
  ::testing::Test::RecordProperty("agree", agree);
  ::testing::Test::RecordProperty("differ_by_design", byDesign);
  for (const auto& u : unexpected) ADD_FAILURE() << "differs: " << u;
  for (const auto& s : stale) ADD_FAILURE() << "listed as a difference but agrees: " << s;
}

}  // namespace
