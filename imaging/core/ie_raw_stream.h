#pragma once
// The library's own lossless form of one bitmap ("TIEBITMAPRAW"): palette,
// geometry, display settings, rows and alpha channel. The private clipboard
// format and the undo snapshots carry pictures in it.
#include <cstddef>
#include <cstdint>
#include <vector>

class TIEBitmap;
class TStream;

// Bytes SaveRawToStream writes: 76 + 3 x palette entries + height x row
// length, plus height x alpha row length + 1 with an alpha channel.
int64_t RawSize(TIEBitmap& bitmap);
void SaveRawToStream(TIEBitmap& bitmap, TStream& stream);
std::vector<uint8_t> SaveRawToBytes(TIEBitmap& bitmap);

// Reads one raw bitmap written by this library or another program. False, with
// the bitmap left as it was, for a wrong magic, a negative version, an unknown
// pixel format, sizes the data do not hold, or storage that cannot be had. Rows
// are read at the length the writer's row alignment gave them.
bool LoadRawFromStream(TIEBitmap& bitmap, TStream& stream);
bool LoadRawFromMemory(TIEBitmap& bitmap, const void* data, size_t size);
