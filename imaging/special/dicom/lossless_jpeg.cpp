#include "imaging/special/dicom/lossless_jpeg.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "imaging/io/io_types.h"
#include "platform/rtl/streams.h"

namespace {

// Huffman tables of the lossless process carry difference categories 0 to 16.
constexpr int kMaxSymbols = 17;

struct THuffmanTable {
  bool defined = false;
  // Codes of up to 8 bits resolve by one lookup of the next 8 bits: the code
  // length (0: longer code) and the symbol.
  std::array<uint8_t, 256> lookLength{};
  std::array<uint8_t, 256> lookSymbol{};
  // Longer codes, length by length: the largest code of each length (-1: none)
  // and what to add to a code of that length to find its symbol's index.
  std::array<int32_t, 18> maxCode{};
  std::array<int32_t, 17> valueOffset{};
  std::array<uint8_t, kMaxSymbols> symbols{};
};

// Builds the canonical codes: within a length codes count up, and the next
// length doubles the code. A set of counts that runs out of codes is refused.
bool BuildTable(const uint8_t counts[16], const uint8_t* symbols, int symbolCount, THuffmanTable& t) {
  t = THuffmanTable{};
  std::copy(symbols, symbols + symbolCount, t.symbols.begin());
  int32_t code = 0;
  int k = 0;
  for (int length = 1; length <= 16; ++length) {
    const int n = counts[length - 1];
    t.valueOffset[length] = k - code;
    for (int i = 0; i < n; ++i, ++k, ++code) {
      if (code >= (1 << length)) return false;
      if (length <= 8) {
        const int first = code << (8 - length), span = 1 << (8 - length);
        for (int j = 0; j < span; ++j) {
          t.lookLength[first + j] = static_cast<uint8_t>(length);
          t.lookSymbol[first + j] = t.symbols[k];
        }
      }
    }
    t.maxCode[length] = n > 0 ? code - 1 : -1;
    code <<= 1;
  }
  t.maxCode[17] = 0x7FFFFFFF;
  t.defined = true;
  return true;
}

// Entropy-coded bits, most significant first, with FF 00 read as FF. A
// marker ends the data: the bits after it read as zeros but may not be used,
// so a decode that needs them fails instead of reading beyond its data.
class TBitReader {
public:
  TBitReader(const uint8_t* data, const uint8_t* end) : FNext(data), FEnd(end) {}

  bool Peek16(uint32_t& v) {
    if (FBits < 16) Fill();
    v = static_cast<uint32_t>(FAcc >> (FBits - 16)) & 0xFFFF;
    return true;
  }
  bool Skip(int n) {
    if (n > FBits - FPad) return false;
    FBits -= n;
    return true;
  }
  bool Bits(int n, uint32_t& v) {
    if (n == 0) {
      v = 0;
      return true;
    }
    if (FBits < n) Fill();
    if (n > FBits - FPad) return false;
    FBits -= n;
    v = static_cast<uint32_t>(FAcc >> FBits) & ((1u << n) - 1);
    return true;
  }
  // Drops what is buffered and goes on after the next restart marker.
  bool Restart() {
    FAcc = 0, FBits = 0, FPad = 0, FMarker = false;
    while (FNext + 1 < FEnd) {
      if (FNext[0] == 0xFF && FNext[1] >= 0xD0 && FNext[1] <= 0xD7) {
        FNext += 2;
        return true;
      }
      ++FNext;
    }
    return false;
  }
  const uint8_t* Next() const { return FNext; }

private:
  void Fill() {
    while (FBits <= 56) {
      uint8_t b = 0;
      if (!FMarker && FNext < FEnd) {
        b = *FNext;
        if (b == 0xFF) {
          if (FNext + 1 < FEnd && FNext[1] == 0) {
            FNext += 2;
          } else {
            FMarker = true;
            continue;
          }
        } else {
          ++FNext;
        }
      } else {
        FPad += 8;
      }
      FAcc = FAcc << 8 | b;
      FBits += 8;
    }
  }

  const uint8_t* FNext;
  const uint8_t* FEnd;
  uint64_t FAcc = 0;
  int FBits = 0;  // bits in FAcc
  int FPad = 0;   // of them, zeros put after the end of the data
  bool FMarker = false;
};

// One difference: its category by the table, then that many bits.
inline bool DecodeDifference(TBitReader& bits, const THuffmanTable& t, int32_t& diff) {
  uint32_t look;
  bits.Peek16(look);
  int length = t.lookLength[look >> 8];
  int symbol;
  if (length != 0) {
    symbol = t.lookSymbol[look >> 8];
  } else {
    length = 9;
    int32_t code = static_cast<int32_t>(look >> 7);
    while (length <= 16 && code > t.maxCode[length]) code = static_cast<int32_t>(look >> (16 - ++length));
    if (length > 16) return false;  // no code of any length matches
    symbol = t.symbols[static_cast<size_t>(code + t.valueOffset[length])];
  }
  if (!bits.Skip(length)) return false;
  if (symbol == 0) {
    diff = 0;
  } else if (symbol == 16) {
    diff = 32768;
  } else {
    uint32_t v;
    if (!bits.Bits(symbol, v)) return false;
    diff = v >= (1u << (symbol - 1)) ? static_cast<int32_t>(v) : static_cast<int32_t>(v) - ((1 << symbol) - 1);
  }
  return true;
}

struct TScan {
  TLosslessJpegFrame frame;
  bool lossless = false;
  int predictor = 0, pointTransform = 0, restartInterval = 0;
  std::array<int, 4> tableOf{};  // per frame component
  const uint8_t* data = nullptr;  // entropy-coded data
};

// Walks the markers up to the first scan. Tables are kept by their
// identifier, and the scan's selectors pick them.
bool ReadHeaders(const uint8_t* p, const uint8_t* end, TScan& scan, std::array<THuffmanTable, 4>& tables,
                 const char*& reason) {
  if (end - p < 4 || p[0] != 0xFF || p[1] != 0xD8) return reason = "no start of image", false;
  p += 2;
  bool haveFrame = false;
  std::array<int, 4> componentIds{};
  while (true) {
    if (end - p < 2) return reason = "the fragment ends before the scan", false;
    if (p[0] != 0xFF) return reason = "a byte other than FF where a marker was expected", false;
    const uint8_t code = p[1];
    p += 2;
    if (code == 0xFF) {  // fill byte before a marker
      --p;
      continue;
    }
    if (code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= 0xD7)) continue;
    if (code == 0xD9) return reason = "the image ends before its scan", false;
    if (end - p < 2) return reason = "a marker segment past the end of the fragment", false;
    const int length = p[0] << 8 | p[1];
    if (length < 2 || length > end - p) return reason = "a marker segment past the end of the fragment", false;
    const uint8_t* s = p + 2;
    const uint8_t* segmentEnd = p + length;
    p = segmentEnd;
    if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) {
      if (haveFrame) return reason = "a second frame header", false;
      if (segmentEnd - s < 6) return reason = "a short frame header", false;
      haveFrame = true;
      scan.lossless = code == 0xC3;
      scan.frame.Precision = s[0];
      scan.frame.Lines = s[1] << 8 | s[2];
      scan.frame.Samples = s[3] << 8 | s[4];
      scan.frame.Components = s[5];
      if (scan.frame.Components < 1 || scan.frame.Components > 4 || segmentEnd - s < 6 + 3 * scan.frame.Components)
        return reason = "a frame header with a bad component count", false;
      for (int c = 0; c < scan.frame.Components; ++c) {
        componentIds[c] = s[6 + 3 * c];
        // Interleaved components of other sampling factors code blocks of
        // samples per unit, which DICOM never stores; they are refused, not
        // decoded in the wrong order.
        if (scan.frame.Components > 1 && s[7 + 3 * c] != 0x11)
          return reason = "components with sampling factors other than 1 x 1", false;
      }
    } else if (code == 0xC4) {
      while (segmentEnd - s >= 17) {
        const int id = s[0] & 0x0F, tableClass = s[0] >> 4;
        if (tableClass > 1 || id > 3) return reason = "a Huffman table with a bad class or identifier", false;
        uint8_t counts[16];
        int total = 0;
        for (int i = 0; i < 16; ++i) total += counts[i] = s[1 + i];
        if (segmentEnd - s < 17 + total) return reason = "a Huffman table past its segment", false;
        // Writers that share their tables with the DCT processes (ffmpeg)
        // add AC tables, which a lossless scan never uses.
        if (tableClass == 1) {
          s += 17 + total;
          continue;
        }
        if (total > kMaxSymbols) return reason = "a Huffman table with more than 17 codes", false;
        for (int i = 0; i < total; ++i)
          if (s[17 + i] > 16) return reason = "a Huffman symbol above 16", false;
        if (!BuildTable(counts, s + 17, total, tables[id])) return reason = "a Huffman table with too many codes of a length", false;
        s += 17 + total;
      }
    } else if (code == 0xDD) {
      if (segmentEnd - s < 2) return reason = "a short restart interval segment", false;
      scan.restartInterval = s[0] << 8 | s[1];
    } else if (code == 0xDA) {
      if (!haveFrame) return reason = "a scan before the frame header", false;
      if (!scan.lossless) return reason = "not a lossless Huffman-coded frame", false;
      if (segmentEnd - s < 1) return reason = "a short scan header", false;
      const int ns = s[0];
      if (ns != scan.frame.Components || segmentEnd - s < 1 + 2 * ns + 3)
        return reason = "a scan that does not hold every component", false;
      for (int i = 0; i < ns; ++i) {
        const uint8_t id = s[1 + 2 * i];
        int c = 0;
        while (c < scan.frame.Components && componentIds[c] != id) ++c;
        if (c == scan.frame.Components) c = i;  // an unknown id: take the scan's order
        const int table = s[2 + 2 * i] >> 4;
        if (table > 3 || !tables[table].defined) return reason = "a scan selecting a Huffman table that is not there", false;
        scan.tableOf[c] = table;
      }
      scan.predictor = s[1 + 2 * ns];
      scan.pointTransform = s[3 + 2 * ns] & 0x0F;
      scan.data = segmentEnd;
      return true;
    }
  }
}

template <class T>
bool DecodeSamples(const TScan& scan, const std::array<THuffmanTable, 4>& tables, const uint8_t* end, T* out,
                   TProgressRecord& progress, const uint8_t* start, const char*& reason) {
  const int width = scan.frame.Samples, height = scan.frame.Lines, nf = scan.frame.Components;
  const int pt = scan.pointTransform, predictor = scan.predictor;
  const size_t rowSamples = size_t(width) * nf;
  const int32_t initial = 1 << (scan.frame.Precision - pt - 1);
  const uint32_t mask = sizeof(T) == 1 ? 0xFF : 0xFFFF;
  std::vector<int32_t> previous(rowSamples), current(rowSamples);
  TBitReader bits(scan.data, end);
  const THuffmanTable* table[4];
  for (int c = 0; c < nf; ++c) table[c] = &tables[scan.tableOf[c]];
  // Pixels (all components of one position) left in the restart interval,
  // and the row where the interval began: that row predicts from the left.
  int64_t toRestart = scan.restartInterval;
  bool intervalFirstRow = true;
  bool intervalStart = true;
  const double total = static_cast<double>(end - start);
  int lastPercent = -1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (scan.restartInterval != 0 && toRestart == 0) {
        if (!bits.Restart()) return reason = "a restart marker is missing", false;
        toRestart = scan.restartInterval;
        intervalStart = intervalFirstRow = true;
      }
      for (int c = 0; c < nf; ++c) {
        const size_t i = size_t(x) * nf + c;
        int32_t prediction;
        if (intervalStart) {
          prediction = initial;
        } else if (intervalFirstRow) {
          prediction = current[i - nf];
        } else if (x == 0) {
          prediction = previous[i];
        } else {
          const int32_t ra = current[i - nf], rb = previous[i], rc = previous[i - nf];
          switch (predictor) {
            case 1: prediction = ra; break;
            case 2: prediction = rb; break;
            case 3: prediction = rc; break;
            case 4: prediction = ra + rb - rc; break;
            case 5: prediction = ra + ((rb - rc) >> 1); break;
            case 6: prediction = rb + ((ra - rc) >> 1); break;
            default: prediction = (ra + rb) >> 1; break;
          }
        }
        int32_t diff;
        if (!DecodeDifference(bits, *table[c], diff)) return reason = "the coded data is damaged or ends early", false;
        current[i] = (prediction + diff) & 0xFFFF;
      }
      intervalStart = false;
      if (scan.restartInterval != 0) --toRestart;
    }
    T* row = out + size_t(y) * rowSamples;
    for (size_t i = 0; i < rowSamples; ++i) row[i] = static_cast<T>((uint32_t(current[i]) << pt) & mask);
    std::swap(previous, current);
    intervalFirstRow = false;
    if (progress.ProgressEvent) {
      const int percent = static_cast<int>((bits.Next() - start) / total * 100);
      if (percent != lastPercent) progress.Report(lastPercent = percent);
    }
  }
  return true;
}

}  // namespace

bool ReadLosslessJpegFrame(const uint8_t* data, size_t size, TLosslessJpegFrame& frame) {
  TScan scan;
  std::array<THuffmanTable, 4> tables;
  const char* reason = nullptr;
  if (!ReadHeaders(data, data + size, scan, tables, reason)) return false;
  frame = scan.frame;
  return true;
}

bool DecodeLosslessJPEG(const uint8_t* data, size_t size, uint16_t* buffer16, uint8_t* buffer8, size_t capacity,
                        TProgressRecord& progress, const char*& reason, TLosslessJpegFrame* frame) {
  if (size < 32) return reason = "a lossless JPEG fragment under 32 bytes", false;
  TScan scan;
  std::array<THuffmanTable, 4> tables;
  if (!ReadHeaders(data, data + size, scan, tables, reason)) return false;
  if (frame) *frame = scan.frame;
  const TLosslessJpegFrame& f = scan.frame;
  if (f.Precision < 2 || f.Precision > 16) return reason = "a sample precision outside 2 to 16 bits", false;
  if (scan.predictor < 1 || scan.predictor > 7) return reason = "a predictor outside 1 to 7", false;
  if (scan.pointTransform >= f.Precision) return reason = "a point transform not below the precision", false;
  if (f.Samples < 1 || f.Lines < 1) return reason = "an empty frame", false;
  if (uint64_t(f.Samples) * f.Lines * f.Components > capacity) return reason = "a frame larger than the picture", false;
  if (buffer8 == nullptr && buffer16 == nullptr) return reason = "no buffer", false;
  if (buffer16 == nullptr && f.Precision > 8) return reason = "a precision above 8 bits for an 8-bit picture", false;
  // The prediction across a restart needs whole rows: an interval that ends
  // inside a row has no defined row above to go on from.
  if (scan.restartInterval != 0 && scan.restartInterval % f.Samples != 0)
    return reason = "a restart interval that is not a whole number of rows", false;
  if (buffer16 != nullptr) return DecodeSamples(scan, tables, data + size, buffer16, progress, data, reason);
  return DecodeSamples(scan, tables, data + size, buffer8, progress, data, reason);
}

bool DecodeLosslessJPEG(TStream& stream, uint16_t* buffer16, uint8_t* buffer8, size_t capacity,
                        TProgressRecord& progress, int64_t fragmentLength, const char*& reason,
                        TLosslessJpegFrame* frame) {
  const int64_t left = stream.Remaining();
  if (fragmentLength <= 0 || fragmentLength > left) fragmentLength = left;
  if (fragmentLength < 32) return reason = "a lossless JPEG fragment under 32 bytes", false;
  const std::vector<uint8_t> bytes = stream.ReadBytes(fragmentLength);
  return DecodeLosslessJPEG(bytes.data(), bytes.size(), buffer16, buffer8, capacity, progress, reason, frame);
}
