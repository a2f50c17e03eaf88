#include "tests/imaging/special/dicom/lossless_jpeg_writer.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace qvtest {
namespace {

// Code lengths of the categories 0..16: short codes for small differences,
// and some beyond 8 bits so the decoder's slow path is used too.
constexpr std::array<uint8_t, 16> kCounts = {0, 1, 3, 3, 2, 0, 0, 0, 2, 2, 2, 2, 0, 0, 0, 0};

struct TCode {
  uint32_t code = 0;
  int length = 0;
};

std::array<TCode, 17> Codes(const std::array<uint8_t, 17>& symbols) {
  std::array<TCode, 17> codes{};
  uint32_t code = 0;
  int k = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < kCounts[length - 1]; ++i, ++code, ++k) codes[symbols[k]] = {code, length};
    code <<= 1;
  }
  return codes;
}

class TBitWriter {
public:
  explicit TBitWriter(std::vector<uint8_t>& out) : FOut(out) {}
  void Put(uint32_t bits, int n) {
    for (int i = n - 1; i >= 0; --i) {
      FByte = static_cast<uint8_t>(FByte << 1 | ((bits >> i) & 1));
      if (++FCount == 8) Emit();
    }
  }
  void Flush() {
    while (FCount != 0) Put(1, 1);
  }

private:
  void Emit() {
    FOut.push_back(FByte);
    if (FByte == 0xFF) FOut.push_back(0);
    FByte = 0, FCount = 0;
  }
  std::vector<uint8_t>& FOut;
  uint8_t FByte = 0;
  int FCount = 0;
};

void Segment(std::vector<uint8_t>& out, uint8_t marker, const std::vector<uint8_t>& body) {
  out.push_back(0xFF);
  out.push_back(marker);
  const size_t length = body.size() + 2;
  out.push_back(static_cast<uint8_t>(length >> 8));
  out.push_back(static_cast<uint8_t>(length));
  out.insert(out.end(), body.begin(), body.end());
}

}  // namespace

std::vector<uint8_t> WriteLosslessJpeg(const std::vector<uint16_t>& samples, const TLosslessOptions& o) {
  std::array<uint8_t, 17> real{}, decoy{};
  for (int i = 0; i < 17; ++i) real[i] = static_cast<uint8_t>(i), decoy[i] = static_cast<uint8_t>(16 - i);
  const auto codes = Codes(real);

  std::vector<uint8_t> out = {0xFF, 0xD8};
  std::vector<uint8_t> sof = {static_cast<uint8_t>(o.precision), static_cast<uint8_t>(o.height >> 8),
                              static_cast<uint8_t>(o.height), static_cast<uint8_t>(o.width >> 8),
                              static_cast<uint8_t>(o.width), static_cast<uint8_t>(o.components)};
  for (int c = 0; c < o.components; ++c) sof.insert(sof.end(), {static_cast<uint8_t>(c + 1), 0x11, 0});
  Segment(out, 0xC3, sof);
  auto table = [](uint8_t id, const std::array<uint8_t, 17>& symbols) {
    std::vector<uint8_t> t = {id};
    t.insert(t.end(), kCounts.begin(), kCounts.end());
    t.insert(t.end(), symbols.begin(), symbols.end());
    return t;
  };
  const uint8_t selected = o.swappedTables ? 1 : 0;
  std::vector<uint8_t> dht;
  if (o.swappedTables) dht = table(0x00, decoy);
  const auto mine = table(selected, real);
  dht.insert(dht.end(), mine.begin(), mine.end());
  Segment(out, 0xC4, dht);
  const int interval = o.restartRows * o.width;
  if (interval) Segment(out, 0xDD, {static_cast<uint8_t>(interval >> 8), static_cast<uint8_t>(interval)});
  std::vector<uint8_t> sos = {static_cast<uint8_t>(o.components)};
  for (int c = 0; c < o.components; ++c) sos.insert(sos.end(), {static_cast<uint8_t>(c + 1), static_cast<uint8_t>(selected << 4)});
  sos.insert(sos.end(), {static_cast<uint8_t>(o.predictor), 0, static_cast<uint8_t>(o.pointTransform)});
  Segment(out, 0xDA, sos);

  TBitWriter bits(out);
  const int nf = o.components, pt = o.pointTransform;
  auto at = [&](int x, int y, int c) { return int32_t(samples[(size_t(y) * o.width + x) * nf + c] >> pt); };
  int restart = 0;
  int firstRowOfInterval = 0;
  for (int y = 0; y < o.height; ++y) {
    if (o.restartRows && y > 0 && y % o.restartRows == 0) {
      bits.Flush();
      out.push_back(0xFF);
      out.push_back(static_cast<uint8_t>(0xD0 + (restart++ & 7)));
      firstRowOfInterval = y;
    }
    for (int x = 0; x < o.width; ++x)
      for (int c = 0; c < nf; ++c) {
        int32_t p;
        if (y == firstRowOfInterval && x == 0) p = 1 << (o.precision - pt - 1);
        else if (y == firstRowOfInterval) p = at(x - 1, y, c);
        else if (x == 0) p = at(x, y - 1, c);
        else {
          const int32_t a = at(x - 1, y, c), b = at(x, y - 1, c), cc = at(x - 1, y - 1, c);
          switch (o.predictor) {
            case 1: p = a; break;
            case 2: p = b; break;
            case 3: p = cc; break;
            case 4: p = a + b - cc; break;
            case 5: p = a + ((b - cc) >> 1); break;
            case 6: p = b + ((a - cc) >> 1); break;
            default: p = (a + b) >> 1; break;
          }
        }
        int32_t d = (at(x, y, c) - p) & 0xFFFF;
        if (d > 32768) d -= 65536;
        int s = 0;
        if (d == 32768) s = 16;
        else
          for (int m = d < 0 ? -d : d; m; m >>= 1) ++s;
        bits.Put(codes[s].code, codes[s].length);
        if (s > 0 && s < 16) bits.Put(static_cast<uint32_t>(d > 0 ? d : d + (1 << s) - 1), s);
      }
  }
  bits.Flush();
  out.push_back(0xFF);
  out.push_back(0xD9);
  return out;
}

}  // namespace qvtest
