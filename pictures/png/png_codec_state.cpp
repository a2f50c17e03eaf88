#include "pictures/png/png_codec_state.h"

#include <libdeflate.h>

#include <cstring>
#include <new>

#include "pictures/png/png_errors.h"

namespace {

// Blocks above this size are not kept for the next picture: a huge picture's
// block is freed with it.
constexpr size_t kKeptScratchBytes = 1 << 20;

// The inflate state holds its own 64 KB history buffer, so it lives on the
// heap rather than in every thread's static block.
struct TThreadZlib {
  std::unique_ptr<inflate_state> inflate;
  bool inflateBusy = false;
  z_stream deflate{};
  bool deflateReady = false;
  bool deflateBusy = false;
  int deflateLevel = -1;
  int deflateWindow = 0;
  std::unique_ptr<uint8_t[]> scratch[psScratchKinds];
  size_t scratchSize[psScratchKinds] = {};
  bool scratchBusy[psScratchKinds] = {};
  libdeflate_decompressor* whole = nullptr;
  ~TThreadZlib() {
    if (whole) libdeflate_free_decompressor(whole);
    if (deflateReady) deflateEnd(&deflate);
  }
};

TThreadZlib& ThreadZlib() {
  static thread_local TThreadZlib state;
  return state;
}

std::unique_ptr<inflate_state> NewInflate() {
  std::unique_ptr<inflate_state> s(new (std::nothrow) inflate_state);
  if (!s) throw EPNGOutMemory();
  return s;
}

// Starts a zlib stream with the full window; no bytes of a last picture stay
// behind in the state's buffer fields.
void ResetInflate(inflate_state& s) {
  isal_inflate_init(&s);
  s.crc_flag = ISAL_ZLIB;
  s.hist_bits = 0;
  s.next_in = nullptr;
  s.avail_in = 0;
  s.next_out = nullptr;
  s.avail_out = 0;
}

void InitDeflate(z_stream& z, int level, int windowBits) {
  std::memset(&z, 0, sizeof z);
  const int r = deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  if (r != Z_OK) RaisePngZlibError(r);
}

// A reset leaves the buffer fields alone: whatever the last picture left
// unread must not be taken for this one's data.
void ForgetBuffers(z_stream& z) {
  z.next_in = nullptr;
  z.avail_in = 0;
  z.next_out = nullptr;
  z.avail_out = 0;
}

}  // namespace

struct TInflateLease::TOwn {
  std::unique_ptr<inflate_state> state;
};

TInflateLease::TInflateLease() {
  TThreadZlib& t = ThreadZlib();
  if (!t.inflateBusy) {
    if (!t.inflate) t.inflate = NewInflate();
    ResetInflate(*t.inflate);
    t.inflateBusy = true;
    FCached = true;
    FState = t.inflate.get();
    return;
  }
  FOwn = std::make_unique<TOwn>();
  FOwn->state = NewInflate();
  ResetInflate(*FOwn->state);
  FState = FOwn->state.get();
}

TInflateLease::~TInflateLease() {
  if (FCached) ThreadZlib().inflateBusy = false;
}

struct TDeflateLease::TOwn {
  z_stream z{};
  ~TOwn() { deflateEnd(&z); }
};

TDeflateLease::TDeflateLease(int level, int windowBits) {
  TThreadZlib& t = ThreadZlib();
  if (!t.deflateBusy) {
    const bool same = t.deflateReady && t.deflateLevel == level && t.deflateWindow == windowBits;
    if (!same || deflateReset(&t.deflate) != Z_OK) {
      if (t.deflateReady) deflateEnd(&t.deflate);
      t.deflateReady = false;
      InitDeflate(t.deflate, level, windowBits);
      t.deflateReady = true;
      t.deflateLevel = level;
      t.deflateWindow = windowBits;
    }
    ForgetBuffers(t.deflate);
    t.deflateBusy = true;
    FCached = true;
    FZ = &t.deflate;
    return;
  }
  auto own = std::make_unique<TOwn>();
  InitDeflate(own->z, level, windowBits);
  FOwn = std::move(own);
  FZ = &FOwn->z;
}

TDeflateLease::~TDeflateLease() {
  if (FCached) ThreadZlib().deflateBusy = false;
}

TScratchLease::TScratchLease(TPngScratchKind kind, size_t size) {
  TThreadZlib& t = ThreadZlib();
  if (size <= kKeptScratchBytes && !t.scratchBusy[kind]) {
    if (t.scratchSize[kind] < size) {
      t.scratch[kind].reset();
      t.scratchSize[kind] = 0;
      t.scratch[kind] = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]);
      if (!t.scratch[kind]) throw EPNGOutMemory();
      t.scratchSize[kind] = size;
    }
    t.scratchBusy[kind] = true;
    FKind = kind;
    FData = t.scratch[kind].get();
    return;
  }
  FOwn = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
  if (!FOwn) throw EPNGOutMemory();
  FData = FOwn.get();
}

TScratchLease::~TScratchLease() {
  if (FKind >= 0) ThreadZlib().scratchBusy[FKind] = false;
}

libdeflate_decompressor* ThreadWholeInflater() {
  TThreadZlib& t = ThreadZlib();
  if (!t.whole) t.whole = libdeflate_alloc_decompressor();
  return t.whole;
}

int PngWindowBitsFor(uint64_t dataSize) {
  int bits = 15;
  if (dataSize <= 16384) {
    uint64_t half = uint64_t(1) << (bits - 1);
    while (dataSize + 262 <= half && bits > 9) {
      half >>= 1;
      --bits;
    }
  }
  return bits;
}

void FullWindowZlibHeader(int level, uint8_t header[2]) {
  // As deflate writes it: method 8 with a 2^15 window, the level's flag, and
  // the check bits that make the pair a multiple of 31.
  const unsigned levelFlags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned h = (Z_DEFLATED + ((15 - 8) << 4)) << 8;
  h |= levelFlags << 6;
  h += 31 - h % 31;
  header[0] = uint8_t(h >> 8);
  header[1] = uint8_t(h);
}
