#pragma once
// What the PNG decoder and encoder keep between pictures on one thread: the
// inflate state (ISA-L's, which decodes the same bytes two to three times as
// fast as zlib's), the zlib deflate state for the last level and window size and the scratch blocks rows are inflated into and deflated
// out of. An icon library decodes and encodes dozens of small images in a
// row; making and freeing a few hundred kilobytes for each of them costs more
// than the image itself, and freeing them shrinks the heap only for the next
// picture to fault the pages back in.
//
// A lease takes the thread's cached state for the length of one picture; a
// picture started while another is under way on the same thread gets states
// of its own.
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

// An inflate state, reset and ready for a zlib stream (header and Adler-32
// checked).
class TInflateLease {
public:
  TInflateLease();
  ~TInflateLease();
  TInflateLease(const TInflateLease&) = delete;
  TInflateLease& operator=(const TInflateLease&) = delete;
  inflate_state& State() { return *FState; }

private:
  struct TOwn;
  inflate_state* FState = nullptr;
  bool FCached = false;
  std::unique_ptr<TOwn> FOwn;
};

// A deflate state of the level and window bits (8 to 15; memory level 8, the
// default strategy), reset and ready for a new stream.
class TDeflateLease {
public:
  TDeflateLease(int level, int windowBits);
  ~TDeflateLease();
  TDeflateLease(const TDeflateLease&) = delete;
  TDeflateLease& operator=(const TDeflateLease&) = delete;
  z_stream& Z() { return *FZ; }

private:
  struct TOwn;
  z_stream* FZ = nullptr;
  bool FCached = false;
  std::unique_ptr<TOwn> FOwn;
};

// The thread's whole-buffer inflater (libdeflate), for image data that lies
// whole in memory; null when it cannot be had.
struct libdeflate_decompressor* ThreadWholeInflater();

// A block of at least the asked size whose bytes are left as they are (the
// caller writes before it reads). Kind picks one of the thread's blocks.
enum TPngScratchKind : uint8_t { psDecodeInput, psDecodeRows, psEncodeOutput, psScratchKinds };
class TScratchLease {
public:
  TScratchLease(TPngScratchKind kind, size_t size);
  ~TScratchLease();
  TScratchLease(const TScratchLease&) = delete;
  TScratchLease& operator=(const TScratchLease&) = delete;
  uint8_t* Data() const { return FData; }

private:
  uint8_t* FData = nullptr;
  int FKind = -1;  // the cached block taken, or -1 for one of its own
  std::unique_ptr<uint8_t[]> FOwn;
};

// The window bits libpng chooses for a zlib stream of dataSize bytes: the
// smallest window that still holds all the data (at least 9 bits), or 15 for
// more than 16 KB. Deflate then finds the same matches as with the full window.
int PngWindowBitsFor(uint64_t dataSize);
// The two-byte zlib stream header that deflate writes at the level with the
// full 32 KB window.
void FullWindowZlibHeader(int level, uint8_t header[2]);
