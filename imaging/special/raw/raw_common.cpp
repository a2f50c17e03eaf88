// Reading helpers of the camera raw decoder: the bounded input, byte-order
// words, the bit reader and the Huffman trees.
#include <algorithm>

#include "platform/rtl/streams.h"
#include "imaging/special/raw/raw_state.h"

void RawOutOfMemory(const char* routine) {
  throw ERawDecoderError(std::string(": Out of memory in ") + routine + "()");
}

void RawTableOverflow() { throw ERawDecoderError(": decoder table overflow"); }

// ---- TRawInput ----

namespace {
constexpr int64_t kReadAhead = 65536;
}

TRawInput::TRawInput(TStream& stream) : FSource(stream) {
  // Offsets of a raw file count from where it starts in the stream.
  FOrigin = stream.Position();
  FSize = std::max<int64_t>(stream.Size() - FOrigin, 0);
}

TRawInput::~TRawInput() = default;

bool TRawInput::Fill() {
  if (FPos >= FSize) return false;
  if (FBuf.empty()) FBuf.resize(size_t(kReadAhead));
  FSource.SetPosition(FOrigin + FPos);
  const int64_t want = std::min(kReadAhead, FSize - FPos);
  const int64_t got = FSource.Read(FBuf.data(), want);
  FBufStart = FPos;
  FBufLength = std::max<int64_t>(got, 0);
  return FBufLength > 0;
}

int TRawInput::GetSlow() {
  if (!Fill()) return -1;
  return FBuf[size_t(FPos++ - FBufStart)];
}

int64_t TRawInput::Read(void* buffer, int64_t n) {
  if (n <= 0) return 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  int64_t got = 0;
  while (got < n && FPos < FSize) {
    int64_t at = FPos - FBufStart;
    if (at < 0 || at >= FBufLength) {
      if (n - got >= kReadAhead) {
        // Large reads go straight to the caller's buffer.
        FSource.SetPosition(FOrigin + FPos);
        const int64_t direct = FSource.Read(out + got, std::min(n - got, FSize - FPos));
        if (direct <= 0) break;
        got += direct;
        FPos += direct;
        continue;
      }
      if (!Fill()) break;
      at = 0;
    }
    const int64_t k = std::min(n - got, FBufLength - at);
    std::memcpy(out + got, &FBuf[size_t(at)], size_t(k));
    got += k;
    FPos += k;
  }
  if (got < n) {
    std::memset(out + got, 0, size_t(n - got));
    FShort = true;
    FPos += n - got;
  }
  return got;
}

// ---- words ----

uint16_t RawSGet2(const TRawDecoderState& s, const uint8_t* p) {
  if (s.Order == 0x4949) return uint16_t(p[0] | p[1] << 8);
  return uint16_t(p[0] << 8 | p[1]);
}

uint32_t RawSGet4(const TRawDecoderState& s, const uint8_t* p) {
  if (s.Order == 0x4949) return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint16_t RawGet2(TRawDecoderState& s) {
  uint8_t b[2];
  s.In.Read(b, 2);
  return RawSGet2(s, b);
}

uint32_t RawGet4(TRawDecoderState& s) {
  uint8_t b[4];
  s.In.Read(b, 4);
  return RawSGet4(s, b);
}

void RawReadText(TRawDecoderState& s, char* field, int n) {
  std::memset(field, 0, 64);
  s.In.Read(field, std::min(n, 63));
  // A 64-byte text is cut to 63 so that it always ends.
  field[63] = 0;
}

bool RawStartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

bool RawSameNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = char(x - 32);
    if (y >= 'a' && y <= 'z') y = char(y - 32);
    if (x != y) return false;
  }
  return *a == *b;
}

// ---- bit reader ----

uint32_t ReadBits(TRawDecoderState& s, int n) {
  uint32_t result = 0;
  if (n == -1) {
    s.BitBuf = 0;
    s.VBits = 0;
    s.PadBits = 0;
  } else if (n == 0) {
    return 0;
  } else {
    // 64-bit shifts: a full 32-bit count never shifts a 32-bit value by 32.
    const uint64_t top = (uint64_t(s.BitBuf) << (32 - s.VBits)) & 0xFFFFFFFFu;
    result = uint32_t(top >> (32 - n));
    s.VBits -= n;
    if (s.VBits < s.PadBits) s.In.MarkShort();
  }
  while (s.VBits < 25) {
    int c = s.In.GetQuiet();
    if (c < 0) {
      c = 0;
      s.PadBits += 8;
    } else if (c == 0xFF && s.ZeroAfterFF) {
      s.In.GetQuiet();
    }
    s.BitBuf = s.BitBuf << 8 | uint32_t(c);
    s.VBits += 8;
  }
  if (s.PadBits > s.VBits) s.PadBits = s.VBits;
  return result;
}

int32_t SignedDiff(uint32_t d, int n) {
  if (n == 0) return 0;
  if ((d & (1u << (n - 1))) == 0) return int32_t(d) - int32_t((1u << n) - 1);
  return int32_t(d);
}

// ---- Huffman trees ----

void ResetHuffmanTable(TRawDecoderState& s) {
  std::memset(s.Huff, 0, sizeof s.Huff);
  s.FreeNode = 0;
  s.LeafCount = 0;
  s.SecondTree = 0;
}

int BuildHuffmanTree(TRawDecoderState& s, const uint8_t* source, int sourceSize, int depth) {
  if (depth == 0) s.LeafCount = 0;
  if (sourceSize < 16) RawRefuse("a decoding table is cut short");
  const int node = s.FreeNode++;
  if (s.FreeNode > 2048) RawTableOverflow();
  int len = 0, sum = 0;
  for (; len < 16 && (sum += source[len]) <= s.LeafCount; ++len) {
  }
  // The count that passed the leaf counter was summed too.
  const int summed = len < 16 ? len + 1 : 16;
  if (s.LeafCount < sum) {
    if (depth < summed) {
      s.Huff[node].Branch[0] = s.FreeNode;
      BuildHuffmanTree(s, source, sourceSize, depth + 1);
      s.Huff[node].Branch[1] = s.FreeNode;
      BuildHuffmanTree(s, source, sourceSize, depth + 1);
    } else {
      // The counts promise more symbols than the table holds.
      if (16 + s.LeafCount >= sourceSize) RawRefuse("a decoding table has fewer symbols than codes");
      s.Huff[node].Leaf = source[16 + s.LeafCount++];
    }
  }
  return 16 + s.LeafCount;
}

int DecodeHuffman(TRawDecoderState& s, int start) {
  int node = start;
  while (s.Huff[node].Branch[0] != 0) node = s.Huff[node].Branch[ReadBits(s, 1)];
  return s.Huff[node].Leaf;
}
