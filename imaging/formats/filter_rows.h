#pragma once
// Small pieces the format filters share: a writer that turns a short write
// into the abort flag, the per-row progress report, the bound on what a
// picture's data can fill, and the clearing of rows a short stream left unread.
#include <cstdint>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_streams.h"
#include "imaging/io/data_bound.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/streams.h"

// Blocks go through StreamWriteChecked; the first short write sets the abort
// flag and every later Put does nothing.
struct TFilterWriter {
  TStream& stream;
  TProgressRecord& progress;
  bool error = false;
  void Put(const void* data, int64_t count) {
    if (error || count <= 0) return;
    StreamWriteChecked(stream, error, data, count);
    if (error) progress.Abort();
  }
  bool Failed() const { return error; }
};

// Reports Trunc(done x Step) when it changed since the last row.
struct TFilterRowProgress {
  TProgressRecord& progress;
  int last = -1;
  void Row(int done) {
    const int per = static_cast<int>(done * progress.Step);
    if (per != last) {
      last = per;
      progress.Report(per);
    }
  }
};

// The reasons most readers share, as they reach TProgressRecord::Refuse.
inline constexpr const char* kRefusedRowsCut = "the rows are cut short";
inline constexpr const char* kRefusedNoMemory = "no memory for the picture";
inline constexpr const char* kRefusedStreamFailed = "the stream failed";
// A codec library (libjpeg, libpng) stopped on the data.
inline constexpr const char* kRefusedByCodec = "the codec found the data corrupt";

// True when a picture whose data takes needed bytes (in the file's own coding)
// may be allocated from the bytes left: uncompressed data must be all there,
// run-length data can at most expand factor times.
inline bool DataCanFill(int64_t needed, int64_t bytesLeft, int64_t factor = 1) {
  return DataCanDecodeTo(needed, bytesLeft, TDataRatio{factor, 1});
}

// Zeroes rows from..to-1 of the bitmap (what a short stream left unread).
inline void ClearBitmapRows(TIEBitmap& bitmap, int from, int to) {
  const int64_t len = bitmap.RowLen();
  for (int y = from < 0 ? 0 : from; y < to && y < bitmap.Height(); ++y) std::memset(bitmap.ScanLine(y), 0, size_t(len));
}
