#include "imaging/formats/tiff/tiff_lzw.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/rtl/streams.h"

namespace {

constexpr int kClear = 256;
constexpr int kEnd = 257;
constexpr int kFirstFree = 258;
constexpr int kTableSize = 4096;

uint8_t Reversed(uint8_t b) {
  b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// One strip's decoder. A table string is its prefix code plus one byte; the
// length and first byte make expanding a code one backwards walk.
struct TLZWDecoder {
  const uint8_t* input = nullptr;
  int64_t inputSize = 0;
  std::vector<uint8_t> reversed;  // the strip bit-reversed, for fill order 2
  int64_t bitPos = 0;
  int width = 9;
  int nextFree = kFirstFree;
  int previous = -1;
  bool ended = false;
  uint16_t prefix[kTableSize];
  uint8_t suffix[kTableSize];
  uint8_t first[kTableSize];
  uint16_t length[kTableSize];
  std::vector<uint8_t> out;  // decoded bytes; the first 'start' belong to the last row
  size_t start = 0;

  TLZWDecoder(const uint8_t* data, int64_t size, int fillOrder) {
    if (fillOrder == 2) {
      reversed.resize(size_t(size));
      for (int64_t i = 0; i < size; ++i) reversed[size_t(i)] = Reversed(data[i]);
      data = reversed.data();
    }
    input = data;
    inputSize = size;
    for (int i = 0; i < 256; ++i) {
      prefix[i] = 0;
      suffix[i] = first[i] = uint8_t(i);
      length[i] = 1;
    }
    length[kClear] = length[kEnd] = 0;
  }

  void Reset() {
    nextFree = kFirstFree;
    width = 9;
    previous = -1;
  }

  // The next code, or -1 when the data has no whole code left.
  int ReadCode() {
    if (bitPos + width > inputSize * 8) return -1;
    const int64_t byte = bitPos >> 3;
    uint32_t window = 0;
    for (int i = 0; i < 3; ++i) window = window << 8 | (byte + i < inputSize ? input[byte + i] : 0);
    const int shift = 24 - int(bitPos & 7) - width;
    bitPos += width;
    return int(window >> shift) & ((1 << width) - 1);
  }

  void Output(int code) {
    const size_t n = length[code];
    const size_t at = out.size();
    out.resize(at + n);
    uint8_t* p = out.data() + at + n;
    for (int c = code;; c = prefix[c]) {
      *--p = suffix[c];
      if (c < 256) break;
    }
  }

  // previous's string plus the first byte of code's (or previous's own first
  // byte when code is the entry being made); false once the table is full.
  bool Add(int firstByte) {
    if (nextFree >= kTableSize) return false;
    prefix[nextFree] = uint16_t(previous);
    suffix[nextFree] = uint8_t(firstByte);
    first[nextFree] = first[previous];
    length[nextFree] = uint16_t(length[previous] + 1);
    ++nextFree;
    if (nextFree == 511) width = 10;
    else if (nextFree == 1023) width = 11;
    else if (nextFree == 2047) width = 12;
    return true;
  }

  // Decodes until rowBytes bytes are waiting; false on a bad code.
  bool Fill(size_t rowBytes) {
    while (!ended && out.size() - start < rowBytes) {
      int c = ReadCode();
      if (c < 0 || c == kEnd) {
        ended = true;
        break;
      }
      if (c == kClear) {
        Reset();
        do c = ReadCode();
        while (c == kClear);
        if (c < 0 || c == kEnd) {
          ended = true;
          break;
        }
        if (c >= nextFree) return false;
        Output(c);
        previous = c;
        continue;
      }
      if (c > nextFree) {
        // A code the table does not hold yet: the strip's data is damaged.
        ended = true;
        return false;
      }
      if (c == nextFree) {
        if (previous < 0) return false;
        if (!Add(first[previous])) return false;
        Output(c);
      } else {
        Output(c);
        if (previous >= 0 && !Add(first[c])) return false;
      }
      previous = c;
    }
    return true;
  }

  const uint8_t* Row(int rowBytes) {
    // Drop the row handed out last time, keep what decoded beyond it.
    if (start > 0) {
      out.erase(out.begin(), out.begin() + std::ptrdiff_t(start));
      start = 0;
    }
    if (ended && out.empty()) return nullptr;
    if (!Fill(size_t(rowBytes))) return nullptr;
    if (out.size() < size_t(rowBytes)) out.resize(size_t(rowBytes), 0);
    start = size_t(rowBytes);
    return out.data();
  }
};

constexpr int kHashSize = 5003;
constexpr int kBlockSize = 254;

// One strip's encoder: open-addressed hashing of (prefix, byte) pairs, the
// codes collected in a bit accumulator and written in blocks.
struct TLZWEncoder {
  TStream* stream;
  int32_t hashKeys[kHashSize];
  uint16_t hashCodes[kHashSize];
  int nextFree = kFirstFree;
  int width = 9;
  int maxCode = 511;
  int prefix = -1;
  uint32_t acc = 0;
  int accBits = 0;
  uint8_t block[kBlockSize];
  int blockFill = 0;

  explicit TLZWEncoder(TStream* s) : stream(s) { ClearHash(); }

  void ClearHash() { std::fill(std::begin(hashKeys), std::end(hashKeys), -1); }

  void FlushBlock() {
    if (blockFill > 0) stream->WriteBuffer(block, blockFill);
    blockFill = 0;
  }

  void PutByte(uint8_t b) {
    block[blockFill++] = b;
    if (blockFill == kBlockSize) FlushBlock();
  }

  void PutCode(int code) {
    acc = acc << width | uint32_t(code);
    accBits += width;
    while (accBits >= 8) {
      accBits -= 8;
      PutByte(uint8_t(acc >> accBits));
    }
  }

  // After a new entry: widen the codes, or start a new table when it is full.
  void Grow() {
    if (nextFree == kTableSize - 2) {
      ClearHash();
      PutCode(kClear);
      nextFree = kFirstFree;
      width = 9;
      maxCode = 511;
    } else if (nextFree > maxCode) {
      ++width;
      maxCode = (1 << width) - 1;
    }
  }

  void Compress(const uint8_t* data, int64_t length) {
    int64_t i = 0;
    if (prefix < 0 && length > 0) prefix = data[i++];
    for (; i < length; ++i) {
      const int c = data[i];
      const int32_t key = (c << 12) + prefix;
      int h = (c << 4) ^ prefix;
      if (hashKeys[h] == key) {
        prefix = hashCodes[h];
        continue;
      }
      bool found = false;
      if (hashKeys[h] >= 0) {
        const int step = h == 0 ? 1 : kHashSize - h;
        do {
          h -= step;
          if (h < 0) h += kHashSize;
          if (hashKeys[h] == key) {
            prefix = hashCodes[h];
            found = true;
            break;
          }
        } while (hashKeys[h] >= 0);
      }
      if (found) continue;
      PutCode(prefix);
      prefix = c;
      hashCodes[h] = uint16_t(nextFree++);
      hashKeys[h] = key;
      Grow();
    }
  }

  void Finish() {
    if (prefix >= 0) {
      PutCode(prefix);
      // The decoder makes one more entry from that code; follow its width.
      ++nextFree;
      if (nextFree == kTableSize - 2) {
        PutCode(kClear);
        width = 9;
      } else if (nextFree > maxCode) {
        ++width;
      }
    }
    PutCode(kEnd);
    if (accBits > 0) PutByte(uint8_t(acc << (8 - accBits)));
    accBits = 0;
    FlushBlock();
  }
};

}  // namespace

const uint8_t* TIFFLZWDecompress(const uint8_t* input, int64_t inputSize, int rowBytes, void*& state, int fillOrder) {
  auto* d = static_cast<TLZWDecoder*>(state);
  if (input == nullptr) {
    std::unique_ptr<TLZWDecoder> release(d);
    state = nullptr;
    return nullptr;
  }
  if (rowBytes <= 0 || inputSize < 0) return nullptr;
  if (d == nullptr) {
    auto made = std::make_unique<TLZWDecoder>(input, inputSize, fillOrder);
    d = made.release();
    state = d;
  }
  return d->Row(rowBytes);
}

void TIFFLZWCompress(const uint8_t* data, int64_t length, TStream* stream, void*& state) {
  auto* e = static_cast<TLZWEncoder*>(state);
  if (data == nullptr) {
    if (e == nullptr) return;
    state = nullptr;
    std::unique_ptr<TLZWEncoder> owned(e);
    owned->Finish();
    return;
  }
  if (e == nullptr) {
    auto made = std::make_unique<TLZWEncoder>(stream);
    e = made.release();
    state = e;
    e->PutCode(kClear);
  }
  e->Compress(data, length);
}
