#include "base/toolbox/palette_reduction.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "base/toolbox/palette_tables.h"

namespace {

// A colour list that answers "is it there" in constant time; order is kept.
struct TColourList {
  std::vector<int32_t> Items;
  std::unordered_set<int32_t> Present;
  explicit TColourList(const std::vector<int32_t>& start = {}) {
    for (int32_t c : start) Append(c);
  }
  int Count() const { return static_cast<int>(Items.size()); }
  bool Has(int32_t c) const { return Present.count(c) != 0; }
  void Append(int32_t c) {
    Items.push_back(c);
    Present.insert(c);
  }
  void AddMissing(int32_t c) {
    if (!Has(c)) Append(c);
  }
  void CutTo(int n) {
    if (Count() <= n) return;
    Items.resize(n);
    Present = std::unordered_set<int32_t>(Items.begin(), Items.end());
  }
};

inline int32_t PixelColour(const uint8_t* p) { return p[2] | (p[1] << 8) | (p[0] << 16); }

// Calls fn(colour) for every pixel that counts (opaque enough), rows from the
// top; fn returns false to stop.
template <class Fn>
void ForEachCountedPixel(const TPixelRows& src, const TPaletteReductionOptions& o, Fn fn) {
  for (int y = 0; y < src.Height; ++y) {
    const uint8_t* p = src.Row(y);
    for (int x = 0; x < src.Width; ++x, p += o.PixelBytes) {
      if (o.PixelBytes == 4 && p[3] < o.Threshold) continue;
      if (!fn(PixelColour(p))) return;
    }
  }
}

void TakeFromHistogram(const TPixelRows& src, const TPaletteReductionOptions& o, int n, TColourList& p) {
  std::vector<uint8_t> hist(33 * 33 * 33, 0);
  for (int y = 0; y < src.Height; ++y) {
    const uint8_t* q = src.Row(y);
    for (int x = 0; x < src.Width; ++x, q += o.PixelBytes) {
      uint8_t& h = hist[((q[2] + 4) / 8 * 33 + (q[1] + 4) / 8) * 33 + (q[0] + 4) / 8];
      if (h < 255) ++h;
    }
  }
  auto level = [](int i) { return i < 32 ? i * 8 : 255; };
  for (int step = 8; step >= 1 && p.Count() < n; step /= 2) {
    int threshold = 255;
    for (;;) {
      int nextThreshold = 0;
      for (int r = 0; r <= 32; r += step)
        for (int g = 0; g <= 32; g += step)
          for (int b = 0; b <= 32; b += step) {
            uint8_t& h = hist[(r * 33 + g) * 33 + b];
            if (h == 0) continue;
            if (h >= threshold) {
              h = 0;
              if (p.Count() < n) p.AddMissing(level(r) | (level(g) << 8) | (level(b) << 16));
            } else {
              nextThreshold = std::max<int>(nextThreshold, h);
            }
          }
      if (p.Count() >= n || nextThreshold == 0) break;
      threshold = nextThreshold;
    }
  }
}

}  // namespace

std::vector<int32_t> ChooseReducedPalette(const TPixelRows& src, const std::vector<int32_t>& start,
                                          const TPaletteReductionOptions& o) {
  const int n = std::min(o.MaxColours, 256);
  TColourList p;
  p.Items = start;  // the given colours come first, as given
  p.Present.insert(start.begin(), start.end());
  if (o.Use16Colours) {
    for (const auto& e : StandardPalette16) p.AddMissing(TableColour(e));
  } else if (o.KeepBlackAndWhite) {
    p.AddMissing(kBlack);
    p.AddMissing(kWhite);
  }
  p.CutTo(n);
  if (p.Count() == n || src.Width <= 0 || src.Height <= 0) return p.Items;

  const uint8_t* bottomLeft = src.Row(src.Height - 1);
  if (o.PixelBytes != 4 || bottomLeft[3] >= o.Threshold) p.AddMissing(PixelColour(bottomLeft));
  const int k = p.Count();
  TColourList p7 = p, p6 = p, p5 = p;
  ForEachCountedPixel(src, o, [&](int32_t c) {
    if (p.Count() <= n) p.AddMissing(c);
    if (p7.Count() <= n) p7.AddMissing(c & 0xFEFEFE);
    if (p6.Count() <= n) p6.AddMissing(c & 0xFCFCFC);
    p5.AddMissing(c & 0xF8F8F8);
    return p5.Count() <= n;
  });

  if (p.Count() > n) {
    TColourList* finer[3] = {&p, &p7, &p6};
    TColourList* coarse[3] = {&p7, &p6, &p5};
    for (int i = 0; i < 3; ++i) {
      if (coarse[i]->Count() > n) continue;
      TColourList chosen = *coarse[i];
      if (chosen.Count() < n)
        for (int32_t c : finer[i]->Items) chosen.AddMissing(c);
      chosen.CutTo(n);
      p = std::move(chosen);
      break;
    }
  }
  if (p.Count() > n) {
    p.CutTo(k);
    TakeFromHistogram(src, o, n, p);
  }
  if (p.Count() < n) {
    ForEachCountedPixel(src, o, [&](int32_t c) {
      p.AddMissing(c);
      return p.Count() < n;
    });
    if (o.PixelBytes == 4 && p.Count() == 0) p.Append(kBlack);
  }
  p.CutTo(n);

  if (o.KeepBlackAndWhite) {
    auto moveTo = [&](int32_t colour, int index) {
      const auto it = std::find(p.Items.begin(), p.Items.end(), colour);
      const int at = static_cast<int>(it - p.Items.begin());
      if (it != p.Items.end() && at > index) std::swap(p.Items[at], p.Items[index]);
    };
    moveTo(kBlack, 0);
    moveTo(kWhite, 1);
  }
  return p.Items;
}

void MapToPalette(const TPixelRows& src, const TPixelRows& target, const std::vector<int32_t>& palette,
                  const TPaletteReductionOptions& o) {
  const auto blackAt = std::find(palette.begin(), palette.end(), kBlack);
  const uint8_t transparent = blackAt == palette.end() ? 0 : static_cast<uint8_t>(blackAt - palette.begin());
  std::unordered_map<int32_t, uint8_t> cache;
  for (int y = 0; y < src.Height; ++y) {
    const uint8_t* p = src.Row(y);
    uint8_t* out = target.Row(y);
    for (int x = 0; x < src.Width; ++x, p += o.PixelBytes) {
      if (o.PixelBytes == 4 && p[3] < o.Threshold) {
        out[x] = transparent;
        continue;
      }
      const int32_t c = PixelColour(p);
      auto it = cache.find(c);
      if (it == cache.end()) {
        const int index = NearestColourIndex(palette.data(), static_cast<int>(palette.size()), c);
        it = cache.emplace(c, static_cast<uint8_t>(std::max(index, 0))).first;
      }
      out[x] = it->second;
    }
  }
}
