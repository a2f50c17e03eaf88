// The sample loaders: each reads one camera family's storage layout and puts
// every photosite's sample into the cell and channel of the filter pattern.
// Stores outside the picture are dropped, whatever the file claims.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "imaging/special/raw/raw_state.h"

namespace {

void Put(TRawDecoderState& s, int64_t row, int64_t col, uint32_t v) {
  if (row < 0 || row >= s.Height || col < 0 || col >= s.Width) return;
  s.Bayer(row, col, uint16_t(v));
}

uint16_t BE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint16_t LE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// The Kodak tone curve, identity unless the file holds one.
std::vector<uint16_t> ReadKodakToneCurve(TRawDecoderState& s) {
  std::vector<uint16_t> curve(4096);
  for (int i = 0; i < 4096; ++i) curve[size_t(i)] = uint16_t(i);
  if (!RawSameNoCase(s.Make, "KODAK")) return curve;
  if (s.CurveOffset != 0) {
    s.In.Seek(12);
    int entries = RawGet2(s);
    while (entries-- > 0 && s.In.Tell() + 12 <= s.In.Size()) {
      const uint16_t tag = RawGet2(s);
      RawGet2(s);
      const uint32_t count = RawGet4(s);
      const uint32_t value = RawGet4(s);
      if (tag == 2317) {
        s.CurveOffset = value;
        s.CurveLength = int32_t(count);
      }
    }
  }
  if (s.CurveOffset != 0 && s.CurveLength > 0) {
    s.In.Seek(s.CurveOffset);
    const int n = std::min(s.CurveLength, 4096);
    for (int i = 0; i < n; ++i) curve[size_t(i)] = RawGet2(s);
    for (int i = n; i < 4096; ++i) curve[size_t(i)] = curve[size_t(n - 1)];
    s.Maximum = curve[size_t(n - 1)] << 2;
  }
  s.In.Seek(s.DataOffset);
  return curve;
}

uint16_t CurveAt(const std::vector<uint16_t>& curve, int64_t v) {
  return curve[size_t(std::clamp<int64_t>(v, 0, int64_t(curve.size()) - 1))];
}

// Sample codes longer than 16 bits exist in no camera's data.
int CodeLength(int leaf) {
  if (leaf > 16) RawRefuse("a sample code is out of range");
  return leaf;
}

// The 64-bit bit buffer of Kodak's DCR coding.
struct TKodakBits {
  uint64_t Buf = 0;
  int Bits = 0;
  void Start(TRawDecoderState& s, int n) {
    Buf = 0, Bits = 0;
    if ((n & 7) == 4) {
      Buf = uint64_t(s.In.Get()) << 8;
      Buf |= uint64_t(s.In.Get() & 0xFF);
      Bits = 16;
    }
  }
  int32_t Diff(TRawDecoderState& s, int len) {
    if (Bits < len) {
      const uint64_t b0 = uint64_t(s.In.Get() & 0xFF), b1 = uint64_t(s.In.Get() & 0xFF);
      const uint64_t b2 = uint64_t(s.In.Get() & 0xFF), b3 = uint64_t(s.In.Get() & 0xFF);
      Buf |= b0 << (Bits + 8) | b1 << Bits | b2 << (Bits + 24) | b3 << (Bits + 16);
      Bits += 32;
    }
    const uint32_t d = uint32_t(Buf & ((1u << len) - 1));
    Buf >>= len;
    Bits -= len;
    return SignedDiff(d, len);
  }
};

// Reads n nibble lengths (low nibble first).
void ReadLengths(TRawDecoderState& s, uint8_t* lengths, int n) {
  for (int i = 0; i + 1 < n + 1; i += 2) {
    const int c = s.In.Get() & 0xFF;
    lengths[i] = uint8_t(c & 15);
    if (i + 1 < n) lengths[i + 1] = uint8_t(c >> 4);
  }
}

void UnpackedLoad(TRawDecoderState& s, bool bigEndian, int shift) {
  auto row = RawBuffer<uint8_t>(size_t(s.RawWidth) * 2, "unpacked_load_raw");
  const int64_t w = std::min(s.Width, s.RawWidth);
  for (int64_t r = 0; r < s.Height; ++r) {
    s.In.Read(row.data(), int64_t(row.size()));
    for (int64_t c = 0; c < w; ++c) {
      const uint32_t word = bigEndian ? BE16(&row[size_t(2 * c)]) : LE16(&row[size_t(2 * c)]);
      const uint32_t v = shift >= 0 ? (word << 8) >> (shift + 8) : word << -shift;
      s.Bayer(r, c, uint16_t(v));
    }
    s.ReportRow(r);
  }
}

void FujiDiagonal(TRawDecoderState& s, int words, int last, int rows) {
  s.Straighten = true;
  std::vector<uint8_t> buf(size_t(words) * 2);
  for (int r = 0; r < rows; ++r) {
    s.In.Read(buf.data(), int64_t(buf.size()));
    for (int col = 0; col <= last; ++col)
      Put(s, last + r / 2 - col, col + (r + 1) / 2, uint32_t(LE16(&buf[size_t(2 * col)])) << 2);
    s.ReportRow(r);
  }
}

int BuildFoveonTree(TRawDecoderState& s, const std::vector<uint32_t>& codes, uint32_t code) {
  const int node = s.FreeNode++;
  if (s.FreeNode > 2048) RawTableOverflow();
  if (code != 0) {
    for (int i = 0; i < 1024; ++i) {
      if (code == codes[size_t(i)]) {
        s.Huff[node].Leaf = i;
        return node;
      }
    }
  }
  if ((code >> 27) > 26) return node;
  const uint32_t next = (code & 0xF8000000u) + 0x08000000u + ((code & 0x07FFFFFFu) << 1);
  s.Huff[node].Branch[0] = BuildFoveonTree(s, codes, next);
  s.Huff[node].Branch[1] = BuildFoveonTree(s, codes, next + 1);
  return node;
}

}  // namespace

// ---- variant tests ----

bool CrwHasLowBits(TRawDecoderState& s) {
  std::vector<uint8_t> b(16384);
  s.In.Seek(0);
  s.In.Read(b.data(), 16384);
  s.In.ClearShort();
  bool result = true;
  for (int i = 540; i < 16383; ++i) {
    if (b[size_t(i)] != 0xFF) continue;
    if (b[size_t(i) + 1] != 0) return true;
    result = false;
  }
  return result;
}

bool NikonDataIsCompressed(TRawDecoderState& s) {
  if (s.Compression != 34713) return false;
  if (std::strcmp(s.Model, "D100") != 0) return true;
  uint8_t b[256];
  s.In.Seek(s.DataOffset);
  s.In.Read(b, 256);
  for (int i = 15; i < 256; i += 16)
    if (b[i] != 0) return true;
  return false;
}

bool E990HistogramTest(TRawDecoderState& s) {
  std::vector<uint8_t> b(2000);
  int histogram[256] = {};
  s.In.Seek(2383920);
  s.In.Read(b.data(), 2000);
  for (uint8_t v : b) ++histogram[v];
  for (int v : {0, 85, 170, 255})
    if (histogram[v] > 400) return true;
  return false;
}

bool E2100PatternTest(TRawDecoderState& s) {
  uint8_t t[12];
  s.In.Seek(0);
  for (int i = 0; i < 1024; ++i) {
    s.In.Read(t, 12);
    if ((((t[2] & t[4] & t[7] & t[9]) >> 4) & t[1] & t[6] & t[8] & t[11] & 3) != 3) return false;
  }
  return true;
}

bool DimageZ2TailTest(TRawDecoderState& s) {
  uint8_t b[424];
  s.In.Seek(s.In.Size() - 424);
  s.In.Read(b, 424);
  for (uint8_t v : b)
    if (v != 0) return true;
  return false;
}

void InitCRWHuffmanTrees(TRawDecoderState& s, uint32_t table) {
  (void)table;  // the format's three table pairs are not built in
  ResetHuffmanTable(s);
  if (s.CrwSources[0] == nullptr) return;
  BuildHuffmanTree(s, s.CrwSources[0], 29, 0);
  s.SecondTree = s.FreeNode;
  BuildHuffmanTree(s, s.CrwSources[1], 180, 0);
}

// ---- compressed loaders ----

void canon_compressed_load_raw(TRawDecoderState& s) {
  if (s.CrwSources[0] == nullptr) RawRefuse("decoding tables of this format are not available");
  const int64_t rw = s.RawWidth;
  auto pixel = RawBuffer<uint16_t>(size_t(8 * rw), "canon_compressed_load_raw");
  const bool low = CrwHasLowBits(s);
  const int shift = low ? 2 : 4;
  s.In.Seek(540 + (low ? s.RawHeight * rw / 4 : 0));
  s.ZeroAfterFF = true;
  ReadBits(s, -1);
  int32_t carry = 0, base[2] = {512, 512};
  int64_t count = 0, blackSum = 0;
  for (int64_t row = 0; row < s.RawHeight; row += 8) {
    for (int64_t block = 0; block < rw / 8; ++block) {
      int32_t diff[64] = {};
      bool first = true;
      for (int i = 0; i < 64; ++i) {
        const int leaf = DecodeHuffman(s, first ? 0 : s.SecondTree);
        if (leaf == 0 && !first) break;
        first = false;
        if (leaf == 0xFF) continue;
        i += leaf >> 4;
        const int len = leaf & 15;
        if (len == 0) continue;
        const int32_t d = SignedDiff(ReadBits(s, len), len);
        if (i < 64) diff[i] = d;
      }
      diff[0] += carry;
      carry = diff[0];
      for (int k = 0; k < 64; ++k) {
        if (count++ % rw == 0) base[0] = base[1] = 512;
        base[k & 1] += diff[k];
        pixel[size_t(block * 64 + k)] = uint16_t(base[k & 1]);
      }
    }
    if (low) {
      const int64_t save = s.In.Tell();
      s.In.Seek(26 + row * rw / 4);
      size_t i = 0;
      for (int64_t b = 0; b < rw * 2; ++b) {
        const int c = s.In.Get() & 0xFF;
        for (int r = 0; r < 8; r += 2, ++i) {
          int v = (pixel[i] << 2) + ((c >> r) & 3);
          if (rw == 2672 && v < 512) v += 2;
          pixel[i] = uint16_t(v);
        }
      }
      s.In.Seek(save);
    }
    for (int r = 0; r < 8; ++r) {
      const int64_t irow = row + r - s.TopMargin;
      if (irow < 0 || irow >= s.Height) continue;
      for (int64_t col = 0; col < rw; ++col) {
        const int64_t icol = col - s.LeftMargin;
        const uint16_t v = pixel[size_t(r * rw + col)];
        if (icol >= 0 && icol < s.Width)
          s.Bayer(irow, icol, uint16_t(v << shift));
        else
          blackSum += v;
      }
    }
    s.ReportRow(row);
  }
  if (rw > s.Width) s.Black = int32_t((blackSum << shift) / ((rw - s.Width) * s.Height));
}

void jpeg_lossless_load_raw(TRawDecoderState& s) {
  const auto curve = ReadKodakToneCurve(s);
  s.Order = 0x4D4D;
  if (RawGet2(s) != 0xFFD8) return;
  int start[2] = {0, 0};
  int64_t jrows = 0, jcols = 0;
  uint8_t data[256];
  int tag;
  do {
    tag = RawGet2(s);
    const int len = RawGet2(s) - 2;
    if (tag <= 0xFF00 || len > 255 || len < 0) return;
    s.In.Read(data, len);
    if (tag == 0xFFC3) {
      jrows = data[1] << 8 | data[2];
      jcols = (data[3] << 8 | data[4]) * 2;
    } else if (tag == 0xFFC4) {
      ResetHuffmanTable(s);
      start[0] = start[1] = s.FreeNode;
      int at = 0;
      while (at < len && data[at] < 2) {
        start[data[at]] = s.FreeNode;
        at += 1 + BuildHuffmanTree(s, data + at + 1, len - at - 1, 0);
      }
    }
  } while (tag != 0xFFDA);
  s.ZeroAfterFF = true;
  ReadBits(s, -1);
  int32_t vpred[2] = {2048, 2048}, hpred[2] = {0, 0};
  int64_t blackSum = 0;
  int32_t smallest = INT32_MAX;
  for (int64_t jrow = 0; jrow < jrows; ++jrow) {
    for (int64_t jcol = 0; jcol < jcols; ++jcol) {
      const int len = CodeLength(DecodeHuffman(s, start[jcol & 1]));
      const int32_t diff = SignedDiff(ReadBits(s, len), len);
      if (jcol < 2) {
        vpred[jcol] += diff;
        hpred[jcol] = vpred[jcol];
      } else {
        hpred[jcol & 1] += diff;
      }
      const int32_t value = std::max(hpred[jcol & 1], 0);
      const int32_t cv = CurveAt(curve, value);
      const int64_t k = jrow * jcols + jcol;
      int64_t row, col;
      if (s.RawWidth == 5108) {
        const int64_t part = k / (jrows * 1680);
        if (part < 2) {
          row = k / 1680 % jrows;
          col = k % 1680 + part * 1680;
        } else {
          const int64_t k2 = k - jrows * 3360;
          row = k2 / 1748;
          col = k2 % 1748 + 3360;
        }
      } else {
        row = k / s.RawWidth;
        col = k % s.RawWidth;
      }
      row -= s.TopMargin;
      if (row < 0 || row >= s.Height) continue;
      col -= s.LeftMargin;
      if (col >= 0 && col < s.Width) {
        s.Bayer(row, col, uint16_t(cv << 2));
        smallest = std::min(smallest, cv);
      } else {
        blackSum += cv;
      }
    }
    s.ReportRow(jrow);
  }
  if (s.RawWidth > s.Width) s.Black = int32_t((blackSum << 2) / ((s.RawWidth - s.Width) * s.Height));
  if (RawSameNoCase(s.Make, "KODAK") && smallest != INT32_MAX) s.Black = smallest << 2;
}

void nikon_compressed_load_raw(TRawDecoderState& s) {
  // The tree's source lists thirteen symbols for fourteen codes; the last code
  // is never used by 12-bit data and decodes as 13.
  static const uint8_t source[] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0,
                                   5, 4, 3, 6, 2, 7, 1, 0, 8, 9, 11, 10, 12, 13};
  ResetHuffmanTable(s);
  BuildHuffmanTree(s, source, int(sizeof source), 0);
  s.In.Seek(s.CurveOffset);
  int32_t vpred[4];
  for (int32_t& v : vpred) v = RawGet2(s);
  const int n = RawGet2(s);
  if (n == 0) RawRefuse("the tone curve is empty");
  auto curve = RawBuffer<uint16_t>(size_t(n), "nikon_compressed_load_raw");
  for (uint16_t& c : curve) c = RawGet2(s);
  s.In.Seek(s.DataOffset);
  ReadBits(s, -1);
  int32_t hpred[2] = {0, 0};
  for (int64_t row = 0; row < s.Height; ++row) {
    for (int64_t col = 0; col < s.RawWidth; ++col) {
      const int len = DecodeHuffman(s, 0);
      const int32_t diff = SignedDiff(ReadBits(s, len), len);
      if (col < 2) {
        int32_t& v = vpred[2 * (row & 1) + (col & 1)];
        v += diff;
        hpred[col] = v;
      } else {
        hpred[col & 1] += diff;
      }
      const int64_t icol = col - s.LeftMargin;
      if (icol >= 0 && icol < s.Width)
        s.Bayer(row, icol, uint16_t(curve[size_t(std::clamp(hpred[col & 1], 0, n - 1))] << 2));
    }
    s.ReportRow(row);
  }
}

void nikon_packed_load_raw(TRawDecoderState& s) {
  ReadBits(s, -1);
  const bool fields = s.Model[0] == 'E' && s.Height >= 2;
  const bool split = fields && std::atoi(s.Model + 1) < 5000;
  for (int64_t i = 0; i < s.Height; ++i) {
    const int64_t row = fields ? i / (s.Height / 2) + (2 * i) % s.Height : i;
    if (split && row == 1) {
      s.In.Seek(s.In.Size() / 2);
      ReadBits(s, -1);
    }
    for (int64_t col = 0; col < s.RawWidth; ++col) {
      const uint32_t v = ReadBits(s, 12);
      Put(s, row, col - s.LeftMargin, v << 2);
      if (s.Compression == 34713 && col % 10 == 9) ReadBits(s, 8);
    }
    s.ReportRow(i);
  }
}

void kodak_dcr_compressed_load_raw(TRawDecoderState& s) {
  const auto curve = ReadKodakToneCurve(s);
  uint8_t blen[256];
  for (int64_t row = 0; row < s.Height; ++row) {
    for (int64_t col = 0; col < s.Width; col += 256) {
      const int len = int(std::min<int64_t>(256, s.Width - col));
      const int64_t save = s.In.Tell();
      ReadLengths(s, blen, len);
      bool raw = false;
      for (int i = 0; i < len; ++i) raw = raw || blen[i] > 12;
      if (raw) s.In.Seek(save);
      TKodakBits bits;
      int32_t pred[2] = {0, 0};
      if (!raw) bits.Start(s, len);
      int32_t pix[8] = {};
      for (int i = 0; i < len; ++i) {
        int32_t pixel;
        if (raw) {
          if ((i & 7) == 0) {
            uint8_t b[12];
            s.In.Read(b, 12);
            uint32_t w[6];
            for (int k = 0; k < 6; ++k) w[k] = BE16(b + 2 * k);
            pix[0] = int32_t((w[0] >> 12) << 8 | (w[2] >> 12) << 4 | w[4] >> 12);
            pix[1] = int32_t((w[1] >> 12) << 8 | (w[3] >> 12) << 4 | w[5] >> 12);
            for (int k = 0; k < 6; ++k) pix[k + 2] = int32_t(w[k] & 0xFFF);
          }
          pixel = pix[i & 7];
        } else {
          pred[i & 1] += bits.Diff(s, blen[i]);
          pixel = pred[i & 1];
        }
        s.Bayer(row, col + i, uint16_t(CurveAt(curve, pixel) << 2));
      }
    }
    s.ReportRow(row);
  }
}

void kodak_dcr_yuv_load_raw(TRawDecoderState& s) {
  const auto curve = ReadKodakToneCurve(s);
  uint8_t blen[384];
  TKodakBits bits;
  int32_t y[4] = {}, cb = 0, cr = 0;
  int bi = 0, len = 0;
  for (int64_t row = 0; row < s.Height; row += 2) {
    for (int64_t col = 0; col < s.Width; col += 2) {
      if ((col & 127) == 0) {
        len = int(std::min<int64_t>(((s.Width - col) * 3 + 3) & ~int64_t(3), 384));
        ReadLengths(s, blen, len);
        bits.Start(s, len);
        y[1] = y[3] = cb = cr = 0;
        bi = 0;
      }
      int32_t d[6];
      for (int32_t& v : d) v = bi < len ? bits.Diff(s, blen[bi++]) : 0;
      y[0] = d[0] + y[1];
      y[1] = y[0] + d[1];
      y[2] = d[2] + y[3];
      y[3] = y[2] + d[3];
      cb += d[4];
      cr += d[5];
      for (int i = 0; i < 4; ++i) {
        const int64_t r = row + i / 2, c = col + (i & 1);
        if (r >= s.Height || c >= s.Width) continue;
        uint16_t* cell = s.Cell(r, c);
        const int32_t rgb[3] = {y[i] + cr, y[i], y[i] + cb};
        for (int k = 0; k < 3; ++k)
          if (rgb[k] > 0) cell[k] = uint16_t(CurveAt(curve, rgb[k]) << 2);
      }
    }
    s.ReportRow(row);
  }
}

// The RADC coding of these cameras needs a constant list of the format that
// this program does not carry.
void dc40_dc50_load_raw(TRawDecoderState&) { RawRefuse("decoding tables of this format are not available"); }

void foveon_x3_load_raw(TRawDecoderState& s) {
  s.In.Seek(260);
  int16_t diff[1024];
  for (int16_t& d : diff) d = int16_t(RawGet2(s));
  std::vector<uint32_t> codes(1024);
  for (uint32_t& c : codes) c = RawGet4(s);
  ResetHuffmanTable(s);
  BuildFoveonTree(s, codes, 0);
  int bit = 0;
  uint32_t word = 0;
  for (int64_t row = 0; row < s.RawHeight; ++row) {
    int32_t pred[3] = {0, 0, 0};
    if (row > 0 && bit == 0) s.In.Skip(4);
    bit = 0;
    for (int64_t col = 0; col < s.RawWidth; ++col) {
      for (int c = 0; c < 3; ++c) {
        int node = 0;
        while (s.Huff[node].Branch[0] != 0) {
          if (bit == 0) {
            uint8_t b[4];
            s.In.Read(b, 4);
            word = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
          }
          const int v = int(word >> (31 - bit)) & 1;
          bit = (bit + 1) & 31;
          node = s.Huff[node].Branch[v];
        }
        pred[c] += diff[s.Huff[node].Leaf & 1023];
      }
      const int64_t r = row - s.TopMargin, cc = col - s.LeftMargin;
      if (r >= 0 && r < s.Height && cc >= 0 && cc < s.Width) {
        uint16_t* cell = s.Cell(r, cc);
        for (int c = 0; c < 3; ++c)
          if (pred[c] > 0) cell[c] = uint16_t(std::min(pred[c], 65535));
      }
    }
    s.ReportRow(row);
  }
}

void SonyDescramble(TSonyPad& pad, uint32_t* data, int count, uint32_t key, bool start) {
  uint32_t* p = pad.Pad;
  if (start) {
    for (int i = 0; i < 4; ++i) p[i] = key = key * 48828125u + 1;
    p[3] = p[3] << 1 | (p[0] ^ p[2]) >> 31;
    for (int i = 4; i < 127; ++i) p[i] = (p[i - 4] ^ p[i - 2]) << 1 | (p[i - 3] ^ p[i - 1]) >> 31;
    for (int i = 0; i < 127; ++i)
      p[i] = (p[i] >> 24) | (p[i] >> 8 & 0xFF00) | (p[i] << 8 & 0xFF0000) | (p[i] << 24);
    pad.Cursor = 127;
  }
  for (int i = 0; i < count; ++i, ++pad.Cursor) {
    p[pad.Cursor & 127] = p[(pad.Cursor + 1) & 127] ^ p[(pad.Cursor + 65) & 127];
    data[i] ^= p[pad.Cursor & 127];
  }
}

namespace {
// Data words are taken in memory order (first byte lowest), as the pad's
// byte swap expects.
void BytesToWords(const uint8_t* b, uint32_t* w, int n) {
  for (int i = 0; i < n; ++i)
    w[i] = uint32_t(b[4 * i]) | uint32_t(b[4 * i + 1]) << 8 | uint32_t(b[4 * i + 2]) << 16 | uint32_t(b[4 * i + 3]) << 24;
}
void WordsToBytes(const uint32_t* w, uint8_t* b, int n) {
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 4; ++k) b[4 * i + k] = uint8_t(w[i] >> (8 * k));
}
}  // namespace

void sony_f828_load_raw(TRawDecoderState& s) {
  if (s.Width >= 3343 || s.RawWidth < 3344) RawRefuse("the picture does not fit the stored rows");
  TSonyPad pad{};
  s.In.Seek(200896);
  const int b = s.In.Get() & 0xFF;
  s.In.Seek(200896 + 4 * int64_t(b) - 1);
  s.Order = 0x4D4D;
  uint32_t key = RawGet4(s);
  uint8_t head[40];
  uint32_t words[10];
  s.In.Seek(164600);
  s.In.Read(head, 40);
  BytesToWords(head, words, 10);
  SonyDescramble(pad, words, 10, key, true);
  WordsToBytes(words, head, 10);
  key = uint32_t(head[25]) << 24 | uint32_t(head[24]) << 16 | uint32_t(head[23]) << 8 | head[22];
  s.In.Seek(862144);
  const int nwords = int(s.RawWidth / 2);
  auto bytes = RawBuffer<uint8_t>(size_t(s.RawWidth) * 2, "sony_f828_load_raw");
  auto data = RawBuffer<uint32_t>(size_t(nwords), "sony_f828_load_raw");
  int64_t blackSum = 0;
  for (int64_t row = 0; row < s.Height; ++row) {
    s.In.Read(bytes.data(), int64_t(bytes.size()));
    BytesToWords(bytes.data(), data.data(), nwords);
    SonyDescramble(pad, data.data(), nwords, key, row == 0);
    WordsToBytes(data.data(), bytes.data(), nwords);
    for (int64_t col = 0; col < 3343; ++col) {
      const uint16_t v = BE16(&bytes[size_t(2 * col)]);
      const int64_t icol = col - s.LeftMargin;
      if (icol >= 0 && icol < s.Width)
        s.Bayer(row, icol, v);
      else
        blackSum += v;
    }
    s.ReportRow(row);
  }
  s.Black = int32_t(blackSum / (s.Height * (3343 - s.Width)));
}

void phase_one_load_raw(TRawDecoderState& s) {
  s.In.Seek(s.DataOffset + 8);
  s.In.Skip(int64_t(RawGet4(s)) + 296);
  const uint16_t a = RawGet2(s), b = RawGet2(s);
  s.In.Seek(s.DataOffset + s.TopMargin * s.RawWidth * 2 + 12);
  auto row = RawBuffer<uint8_t>(size_t(s.RawWidth) * 2, "phase_one_load_raw");
  std::vector<uint16_t> words(size_t(s.RawWidth));
  for (int64_t r = 0; r < s.Height; ++r) {
    s.In.Read(row.data(), int64_t(row.size()));
    for (size_t i = 0; i < words.size(); ++i) words[i] = BE16(&row[2 * i]);
    for (size_t i = 0; i + 1 < words.size(); i += 2) {
      const uint16_t p = uint16_t(words[i] ^ a), q = uint16_t(words[i + 1] ^ b);
      words[i] = uint16_t((q & 0xAAAA) | (p & 0x5555));
      words[i + 1] = uint16_t((p & 0xAAAA) | (q & 0x5555));
    }
    for (int64_t col = 0; col < s.Width && col + s.LeftMargin < s.RawWidth; ++col)
      s.Bayer(r, col, words[size_t(col + s.LeftMargin)]);
    s.ReportRow(r);
  }
}

void finepix_s5000_load_raw(TRawDecoderState& s) {
  s.In.Skip(11824);
  FujiDiagonal(s, 1472, 1423, 2152);
}

void finepix_s7000_load_raw(TRawDecoderState& s) { FujiDiagonal(s, 2048, 2047, 3080); }

void finepix_s2pro_load_raw(TRawDecoderState& s) {
  s.Straighten = true;
  s.In.Skip(141376);
  std::vector<uint8_t> buf(5888);
  for (int r = 0; r < 2144; ++r) {
    s.In.Read(buf.data(), 5888);
    for (int i = 0; i < 2880; ++i)
      Put(s, (i + 1) / 2 + r, i / 2 - r + 2143, uint32_t(BE16(&buf[size_t(2 * i)])) << 2);
    s.ReportRow(r);
  }
}

void finepix_f700_load_raw(TRawDecoderState& s) {
  s.Straighten = true;
  std::vector<uint8_t> buf(5888);
  for (int r = 0; r < 2168; ++r) {
    s.In.Read(buf.data(), 5888);
    for (int col = 0; col < 1440; ++col) Put(s, r / 2 - col + 1439, col + (r + 1) / 2, LE16(&buf[size_t(2 * col)]));
    s.ReportRow(r);
  }
}

// ---- uncompressed loaders ----

void powershot_600_load_raw(TRawDecoderState& s) {
  uint8_t data[1120];
  uint16_t pixel[896];
  int64_t row = 0, blackSum = 0;
  for (int64_t irow = 0; irow < s.Height; ++irow) {
    s.In.Read(data, 1120);
    for (int i = 0; i < 112; ++i) {
      const uint8_t* b = data + 10 * i;
      uint16_t* p = pixel + 8 * i;
      const uint8_t hi[8] = {b[0], b[2], b[3], b[4], b[5], b[6], b[7], b[8]};
      for (int k = 0; k < 4; ++k) p[k] = uint16_t(hi[k] << 2 | ((b[1] >> (6 - 2 * k)) & 3));
      for (int k = 0; k < 4; ++k) p[4 + k] = uint16_t(hi[4 + k] << 2 | ((b[9] >> (2 * k)) & 3));
    }
    for (int64_t col = 0; col < std::min<int64_t>(s.Width, 896); ++col) s.Bayer(row, col, uint16_t(pixel[col] << 4));
    for (int64_t col = s.Width; col < 896; ++col) blackSum += pixel[col];
    if ((row += 2) >= s.Height) row = 1;
    s.ReportRow(irow);
  }
  if (s.Width < 896) s.Black = int32_t((blackSum << 4) / (s.Height * (896 - s.Width)));
}

void powershot_a5_load_raw(TRawDecoderState& s) {
  const int64_t bytes = s.RawWidth * 10 / 8;
  std::vector<uint8_t> data(size_t(bytes) + 10);
  std::vector<uint16_t> pixel(size_t(s.RawWidth) + 8);
  int64_t blackSum = 0;
  for (int64_t row = 0; row < s.Height; ++row) {
    s.In.Read(data.data(), bytes);
    for (int64_t i = 0; i + 10 <= bytes; i += 10) {
      const uint8_t* b = &data[size_t(i)];
      uint16_t* p = &pixel[size_t(i / 10 * 8)];
      p[0] = uint16_t((b[1] << 2 | b[0] >> 6) & 0x3FF);
      p[1] = uint16_t((b[0] << 4 | b[3] >> 4) & 0x3FF);
      p[2] = uint16_t((b[3] << 6 | b[2] >> 2) & 0x3FF);
      p[3] = uint16_t((b[2] << 8 | b[5]) & 0x3FF);
      p[4] = uint16_t((b[4] << 2 | b[7] >> 6) & 0x3FF);
      p[5] = uint16_t((b[7] << 4 | b[6] >> 4) & 0x3FF);
      p[6] = uint16_t((b[6] << 6 | b[9] >> 2) & 0x3FF);
      p[7] = uint16_t((b[9] << 8 | b[8]) & 0x3FF);
    }
    for (int64_t col = 0; col < std::min(s.Width, s.RawWidth); ++col)
      s.Bayer(row, col, uint16_t(pixel[size_t(col)] << 4));
    for (int64_t col = s.Width; col < s.RawWidth; ++col) blackSum += pixel[size_t(col)];
    s.ReportRow(row);
  }
  if (s.RawWidth > s.Width) s.Black = int32_t(blackSum * 16 / ((s.RawWidth - s.Width) * s.Height));
}

void coolpix_e2100_load_raw(TRawDecoderState& s) {
  const int64_t bytes = s.Width * 3 / 2;
  std::vector<uint8_t> data(size_t(bytes) + 12);
  int64_t row = 0;
  bool odd = false;
  for (int64_t i = 0; i < s.Height; ++i) {
    s.In.Read(data.data(), bytes);
    for (int64_t k = 0; k + 12 <= bytes; k += 12) {
      const uint8_t* b = &data[size_t(k)];
      const int v[8] = {(b[2] >> 4 | b[3] << 4), (b[2] << 8 | b[1]), (b[7] >> 4 | b[0] << 4), (b[7] << 8 | b[6]),
                        (b[4] >> 4 | b[5] << 4), (b[4] << 8 | b[11]), (b[9] >> 4 | b[10] << 4), (b[9] << 8 | b[8])};
      for (int n = 0; n < 8; ++n) Put(s, row, k / 12 * 8 + n, uint32_t(v[n] & 0xFFF) << 2);
    }
    s.ReportRow(i);
    if ((row += 2) >= s.Height && !odd) {
      s.In.Skip(s.Width == 1616 ? 8792 : 424);
      row = 1;
      odd = true;
    }
  }
}

void coolpix_e950_load_raw(TRawDecoderState& s) {
  ReadBits(s, -1);
  for (int64_t i = 0; i < s.Height; ++i) {
    const int64_t row = (2 * i) % s.Height;
    for (int64_t col = 0; col < s.Width; ++col) s.Bayer(row, col, uint16_t(ReadBits(s, 10) << 4));
    for (int k = 0; k < 28; ++k) ReadBits(s, 8);
    s.ReportRow(i);
  }
}

void rollei_d530_load_raw(TRawDecoderState& s) {
  const int64_t second = s.RawWidth * s.RawHeight * 5 / 8;
  int64_t todo1 = 0, todo2 = second;
  uint8_t b[10];
  auto store = [&](int64_t index, uint32_t v) {
    if (s.RawWidth <= 0) return;
    Put(s, index / s.RawWidth - s.TopMargin, index % s.RawWidth - s.LeftMargin, (v & 0x3FF) << 4);
  };
  while (true) {
    const int64_t got = s.In.Read(b, 10);
    if (got < 10) {
      // The samples run to the end of the file; a broken last group or a file
      // that ends before the first part is full is cut short.
      if (got == 0 && todo1 >= second) s.In.ClearShort();
      break;
    }
    for (int k = 0; k < 5; ++k) store(todo1++, uint32_t(b[2 * k] << 8 | b[2 * k + 1]));
    uint32_t acc = 0;
    for (int k = 0; k < 5; ++k) acc = acc << 6 | uint32_t(b[2 * k] >> 2);
    for (int shift : {20, 10, 0}) store(todo2++, acc >> shift);
    if (todo1 % (s.RawWidth > 0 ? s.RawWidth : 1) == 0) s.ReportRow(todo1 / std::max<int64_t>(s.RawWidth, 1));
  }
}

void ixpress_load_raw(TRawDecoderState& s) {
  std::vector<uint8_t> data(8180);
  s.In.Seek(49384);
  const int64_t w = std::min<int64_t>(s.Width, 4090);
  for (int64_t row = s.Height - 1; row >= 0; --row) {
    s.In.Read(data.data(), 8180);
    for (int64_t col = 0; col < w; ++col) s.Bayer(row, col, LE16(&data[size_t(2 * (w - 1 - col))]));
    s.ReportRow(s.Height - 1 - row);
  }
}

void packed_12bit_load_raw(TRawDecoderState& s) {
  ReadBits(s, -1);
  const int64_t drop = s.RawWidth - s.Width * 3 / 2;
  for (int64_t row = 0; row < s.Height; ++row) {
    for (int64_t col = 0; col < s.Width; ++col) s.Bayer(row, col, uint16_t(ReadBits(s, 12) << 2));
    for (int64_t k = 0; k < drop; ++k) ReadBits(s, 8);
    s.ReportRow(row);
  }
}

void unpacked_be_load_raw(TRawDecoderState& s) { UnpackedLoad(s, true, 0); }
void unpacked_be_shr2_load_raw(TRawDecoderState& s) { UnpackedLoad(s, true, 2); }
void unpacked_be_shl2_load_raw(TRawDecoderState& s) { UnpackedLoad(s, true, -2); }
void unpacked_be_shl4_load_raw(TRawDecoderState& s) { UnpackedLoad(s, true, -4); }
void unpacked_le_shr2_load_raw(TRawDecoderState& s) { UnpackedLoad(s, false, 2); }

void olympus_c_series_load_raw(TRawDecoderState& s) {
  const int64_t half = std::max<int64_t>(s.Height / 2, 1);
  for (int64_t i = 0; i < s.Height; ++i) {
    const int64_t row = (2 * i) % s.Height + i / half;
    if (row < 2) {
      const int64_t field = ((3 * s.Width * s.Height / 4) + 2047) & ~int64_t(2047);
      s.In.Seek(s.DataOffset + (row == 0 ? 0 : field));
      ReadBits(s, -1);
    }
    for (int64_t col = 0; col < s.Width; ++col) Put(s, row, col, ReadBits(s, 12) << 2);
    s.ReportRow(i);
  }
}

void eight_bit_load_raw(TRawDecoderState& s) {
  std::vector<uint8_t> data(size_t(s.RawWidth));
  const int64_t w = std::min(s.Width, s.RawWidth);
  for (int64_t row = 0; row < s.Height; ++row) {
    s.In.Read(data.data(), s.RawWidth);
    for (int64_t col = 0; col < w; ++col) s.Bayer(row, col, uint16_t(data[size_t(col)] << 6));
    s.ReportRow(row);
  }
}

void qv5700_load_raw(TRawDecoderState& s) {
  uint8_t data[3232];
  uint16_t pixel[2588];
  const int64_t w = std::min<int64_t>(s.Width, 2585);
  for (int64_t row = 0; row < s.Height; ++row) {
    s.In.Read(data, 3232);
    for (int i = 0, k = 0; i + 5 <= 3232; i += 5, k += 4) {
      const uint8_t* b = data + i;
      pixel[k] = uint16_t(b[0] << 2 | b[1] >> 6);
      pixel[k + 1] = uint16_t(b[1] << 4 | b[2] >> 4);
      pixel[k + 2] = uint16_t(b[2] << 6 | b[3] >> 2);
      pixel[k + 3] = uint16_t(b[3] << 8 | b[4]);
    }
    for (int64_t col = 0; col < w; ++col) s.Bayer(row, col, uint16_t((pixel[col] & 0x3FF) << 4));
    s.ReportRow(row);
  }
}

void nucore_load_raw(TRawDecoderState& s) {
  std::vector<uint8_t> data(size_t(s.Width) * 2);
  const bool interlaced = s.Model[0] == 'B' && s.Width == 2598;
  for (int64_t i = 0; i < s.Height; ++i) {
    s.In.Read(data.data(), int64_t(data.size()));
    const int64_t row = interlaced ? s.Height - 1 - i / 2 - ((i & 1) ? s.Height / 2 : 0) : i;
    for (int64_t col = 0; col < s.Width; ++col) Put(s, row, col, uint32_t(LE16(&data[size_t(2 * col)])) << 2);
    s.ReportRow(i);
  }
}

void dc120_load_raw(TRawDecoderState& s) {
  static const int mul[4] = {162, 192, 187, 92}, add[4] = {0, 636, 424, 212};
  uint8_t data[848];
  for (int64_t row = 0; row < s.Height; ++row) {
    s.In.Read(data, 848);
    const int64_t shift = row * mul[row & 3] + add[row & 3];
    for (int64_t col = 0; col < std::min<int64_t>(s.Width, 848); ++col)
      s.Bayer(row, col, uint16_t(data[(col + shift) % 848] << 6));
    s.ReportRow(row);
  }
}

void kodak_easy_load_raw(TRawDecoderState& s) {
  const auto curve = ReadKodakToneCurve(s);
  std::vector<uint8_t> data(size_t(s.RawWidth));
  int64_t blackSum = 0;
  for (int64_t row = 0; row < s.Height; ++row) {
    s.In.Read(data.data(), s.RawWidth);
    for (int64_t col = 0; col < s.RawWidth; ++col) {
      const uint16_t v = curve[data[size_t(col)]];
      const int64_t icol = col - s.LeftMargin;
      if (icol >= 0 && icol < s.Width)
        s.Bayer(row, icol, uint16_t(v << 2));
      else
        blackSum += v;
    }
    s.ReportRow(row);
  }
  if (s.RawWidth > s.Width) {
    s.Black = int32_t(blackSum * 4 / ((s.RawWidth - s.Width) * s.Height));
    if (RawStartsWith(s.Model, "DC2")) s.Black = 0;
  }
}

// ---- loader facts ----

namespace {
struct TLoaderFacts {
  TRawLoader Loader;
  const char* Name;
  int BytesPer16;
};

const TLoaderFacts kLoaders[] = {
    {canon_compressed_load_raw, "canon_compressed_load_raw", 1},
    {jpeg_lossless_load_raw, "jpeg_lossless_load_raw", 1},
    {nikon_compressed_load_raw, "nikon_compressed_load_raw", 1},
    {nikon_packed_load_raw, "nikon_packed_load_raw", 24},
    {kodak_dcr_compressed_load_raw, "kodak_dcr_compressed_load_raw", 1},
    {kodak_dcr_yuv_load_raw, "kodak_dcr_yuv_load_raw", 1},
    {kodak_easy_load_raw, "kodak_easy_load_raw", 16},
    {dc40_dc50_load_raw, "dc40_dc50_load_raw", 1},
    {dc120_load_raw, "dc120_load_raw", 16},
    {foveon_x3_load_raw, "foveon_x3_load_raw", 1},
    {sony_f828_load_raw, "sony_f828_load_raw", 32},
    {phase_one_load_raw, "phase_one_load_raw", 32},
    {finepix_s5000_load_raw, "finepix_s5000_load_raw", 8},
    {finepix_s7000_load_raw, "finepix_s7000_load_raw", 8},
    {finepix_s2pro_load_raw, "finepix_s2pro_load_raw", 8},
    {finepix_f700_load_raw, "finepix_f700_load_raw", 8},
    {powershot_600_load_raw, "powershot_600_load_raw", 20},
    {powershot_a5_load_raw, "powershot_a5_load_raw", 20},
    {coolpix_e2100_load_raw, "coolpix_e2100_load_raw", 24},
    {coolpix_e950_load_raw, "coolpix_e950_load_raw", 20},
    {rollei_d530_load_raw, "rollei_d530_load_raw", 20},
    {ixpress_load_raw, "ixpress_load_raw", 32},
    {packed_12bit_load_raw, "packed_12bit_load_raw", 24},
    {unpacked_be_load_raw, "unpacked_be_load_raw", 32},
    {unpacked_be_shr2_load_raw, "unpacked_be_shr2_load_raw", 32},
    {unpacked_be_shl2_load_raw, "unpacked_be_shl2_load_raw", 32},
    {unpacked_be_shl4_load_raw, "unpacked_be_shl4_load_raw", 32},
    {unpacked_le_shr2_load_raw, "unpacked_le_shr2_load_raw", 32},
    {olympus_c_series_load_raw, "olympus_c_series_load_raw", 24},
    {eight_bit_load_raw, "eight_bit_load_raw", 16},
    {qv5700_load_raw, "qv5700_load_raw", 20},
    {nucore_load_raw, "nucore_load_raw", 32},
};
}  // namespace

const char* RawLoaderName(TRawLoader loader) {
  for (const TLoaderFacts& f : kLoaders)
    if (f.Loader == loader) return f.Name;
  return "";
}

int RawLoaderBytesPer16(TRawLoader loader) {
  for (const TLoaderFacts& f : kLoaders)
    if (f.Loader == loader) return f.BytesPer16;
  return 1;
}
