#pragma once
// Builders of small camera raw files for the raw reader's tests: bytes put
// at offsets in either order, TIFF directories, CIFF heaps, and encoders for
// the difference codings (the tests' own tables).
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace rawtest {

// A deterministic byte source: the same seed gives the same file.
struct TRandom {
  uint64_t State;
  explicit TRandom(uint64_t seed) : State(seed * 6364136223846793005ull + 1442695040888963407ull) {}
  uint32_t Next() {
    State = State * 6364136223846793005ull + 1442695040888963407ull;
    return uint32_t(State >> 33);
  }
};

inline std::vector<uint8_t> RandomBytes(size_t n, uint64_t seed) {
  std::vector<uint8_t> b(n);
  TRandom r(seed);
  for (uint8_t& v : b) v = uint8_t(r.Next() >> 7);
  return b;
}

struct TBytes {
  std::vector<uint8_t> B;
  bool Big = false;  // byte order of Put16/Put32

  void Fit(size_t end) {
    if (B.size() < end) B.resize(end);
  }
  void Put8(size_t at, uint8_t v) {
    Fit(at + 1);
    B[at] = v;
  }
  void Put16(size_t at, uint32_t v) {
    Fit(at + 2);
    if (Big) {
      B[at] = uint8_t(v >> 8), B[at + 1] = uint8_t(v);
    } else {
      B[at] = uint8_t(v), B[at + 1] = uint8_t(v >> 8);
    }
  }
  void Put32(size_t at, uint32_t v) {
    Fit(at + 4);
    for (int k = 0; k < 4; ++k) B[at + size_t(k)] = uint8_t(Big ? v >> (24 - 8 * k) : v >> (8 * k));
  }
  void PutText(size_t at, const std::string& t, bool nul = true) {
    const size_t n = t.size();
    Fit(at + n + 1);
    std::copy(t.begin(), t.end(), B.begin() + std::ptrdiff_t(at));
    if (nul) B[at + n] = 0;
  }
  void PutBytes(size_t at, const std::vector<uint8_t>& v) {
    Fit(at + v.size());
    std::copy(v.begin(), v.end(), B.begin() + std::ptrdiff_t(at));
  }
};

// One TIFF directory entry; values longer than four bytes go to Data.
struct TTiffEntry {
  uint16_t Tag, Type;
  uint32_t Count;
  uint32_t Value;              // used when Data is empty
  std::vector<uint8_t> Data;   // out-of-line bytes (already in the file's order)
};

inline TTiffEntry Short(uint16_t tag, uint32_t v) { return {tag, 3, 1, v, {}}; }
inline TTiffEntry Long(uint16_t tag, uint32_t v) { return {tag, 4, 1, v, {}}; }
inline TTiffEntry Ascii(uint16_t tag, const std::string& text) {
  std::vector<uint8_t> d(text.begin(), text.end());
  d.push_back(0);
  if (d.size() <= 4) {
    uint32_t v = 0;
    for (size_t i = 0; i < d.size(); ++i) v |= uint32_t(d[i]) << (8 * i);
    return {tag, 2, uint32_t(d.size()), v, {}};
  }
  return {tag, 2, uint32_t(d.size()), 0, d};
}

// Writes a directory at `at` (relative to base); out-of-line data goes at
// `data` onwards. Returns the end of the data. A value of 4 bytes or fewer
// stands in the entry: little-endian files take it as written.
inline size_t PutDirectory(TBytes& f, size_t base, size_t at, std::vector<TTiffEntry> entries, uint32_t next,
                           size_t data) {
  f.Put16(base + at, uint32_t(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const TTiffEntry& e = entries[i];
    const size_t p = base + at + 2 + 12 * i;
    f.Put16(p, e.Tag);
    f.Put16(p + 2, e.Type);
    f.Put32(p + 4, e.Count);
    if (!e.Data.empty()) {
      f.PutBytes(base + data, e.Data);
      f.Put32(p + 8, uint32_t(data));
      data += e.Data.size() + (e.Data.size() & 1);
    } else if (e.Type == 3 && e.Count == 1) {
      f.Put16(p + 8, e.Value);
      f.Put16(p + 10, 0);
    } else if (e.Type == 2) {
      for (int k = 0; k < 4; ++k) f.Put8(p + 8 + size_t(k), uint8_t(e.Value >> (8 * k)));
    } else {
      f.Put32(p + 8, e.Value);
    }
  }
  f.Put32(base + at + 2 + 12 * entries.size(), next);
  return data;
}

// A TIFF header at base.
inline void PutTiffHeader(TBytes& f, size_t base, uint32_t first) {
  f.PutText(base, f.Big ? "MM" : "II", false);
  f.Put16(base + 2, 42);
  f.Put32(base + 4, first);
}

// ---- difference coding ----

// Canonical codes (shorter first, in symbol order) of a 16-count table.
struct TCode {
  uint32_t Bits = 0;
  int Length = 0;
};

inline std::map<int, TCode> CanonicalCodes(const uint8_t* source) {
  std::map<int, TCode> codes;
  uint32_t code = 0;
  int k = 16;
  for (int len = 1; len <= 16; ++len) {
    for (int i = 0; i < source[len - 1]; ++i) codes[source[k++]] = {code++, len};
    code <<= 1;
  }
  return codes;
}

struct TBitWriter {
  std::vector<uint8_t> Out;
  uint64_t Acc = 0;
  int Bits = 0;
  bool StuffFF = false;  // a 0 byte after each 0xFF
  void Put(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      Acc = Acc << 1 | ((v >> i) & 1);
      if (++Bits == 8) Emit();
    }
  }
  void Emit() {
    Out.push_back(uint8_t(Acc));
    if (StuffFF && uint8_t(Acc) == 0xFF) Out.push_back(0);
    Acc = 0, Bits = 0;
  }
  void Flush() {
    while (Bits != 0) Put(0, 1);
    for (int i = 0; i < 8; ++i) Out.push_back(0);  // read-ahead room
  }
};

// The length and field of a difference by the sign rule.
inline void PutDiff(TBitWriter& w, const std::map<int, TCode>& codes, int diff) {
  int len = 0;
  for (int a = diff < 0 ? -diff : diff; a != 0; a >>= 1) ++len;
  const TCode& c = codes.at(len);
  w.Put(c.Bits, c.Length);
  if (len != 0) w.Put(uint32_t(diff < 0 ? diff + (1 << len) - 1 : diff), len);
}

}  // namespace rawtest
