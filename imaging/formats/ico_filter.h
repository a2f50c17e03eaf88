#pragma once
// Windows icons and cursors through the imaging library: reading one image of
// an ICO (BMP or PNG images) or CUR file into a library bitmap with an 8-bit
// alpha mask, writing a bitmap as a multi-image icon, probing streams for
// icon and cursor directories, and turning icon handles into icon streams and
// bitmaps.
#include <string>
#include <utility>
#include <vector>

#include "imaging/io/ie_filters.h"
#include "platform/graphics/gdi.h"

class TIEBitmap;
class TIOParamsVals;
class TMemoryStream;
class TStream;
struct TProgressRecord;

// True when the stream holds an icon (type 1) or cursor (type 2) directory
// whose entries all point past it; the position is restored.
bool IsICOStream(TStream& stream);
bool IsCURStream(TStream& stream);

// Image IcoImageIndex (CurImageIndex) from the position. An index out of range
// reads nothing and is no error.
void ReadICOStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                   TProgressRecord& progress, TIEMaskOut& alphaMask, bool ignoreAlpha);
void ReadCURStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                   TProgressRecord& progress, TIEMaskOut& alphaMask, bool ignoreAlpha);
// One image per element of sizes (width, height) at the depth of the same
// element of bitCounts (1, 4, 8, 24, 32; 0 takes the parameters' depth).
void WriteICOStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                    const std::vector<std::pair<int, int>>& sizes, const std::vector<int>& bitCounts);

// ---- icon handles ----
// The header of a device-independent copy of a bitmap asked for with a number
// of colours (2 gives 1 bit, 3..16 give 4 bits, 17..256 give 32 bits, any other
// the bitmap's own depth).
void GetBitmapInfo(HBITMAP bitmap, BITMAPINFOHEADER& header, int colors);
void GetIconBitsSize(HBITMAP bitmap, int& headerSize, int& bitsSize, int colors);
// header must hold headerSize bytes and bits bitsSize bytes (GetIconBitsSize).
bool GetIconBits(HBITMAP bitmap, HPALETTE palette, void* header, int colors, void* bits);
// A one-image icon file of the handle's bitmaps; false (nothing written) when
// the handle has none.
bool IconHandleToStream(TMemoryStream& stream, HICON icon);
// The same; false also when an exception occurred.
bool TryIconHandleToStream(TMemoryStream& stream, HICON icon);
// The icon's picture with its transparency as alpha channel; the bitmap is
// left as it was when that fails.
bool IconHandleToBitmap(HICON icon, TIEBitmap& bitmap);
// The large icon the shell shows for the file; nil when there is none.
HICON GetFileIconHandle(const std::string& fileName);
bool LoadFileIconBitmap(const std::string& fileName, TIEBitmap& bitmap);

// The sizes and bit counts a save writes: the parameter set's lists up to their
// first entry without a width.
void IcoSaveSizes(const TIOParamsVals& params, std::vector<std::pair<int, int>>& sizes, std::vector<int>& bitCounts);

// The Windows Icon and Windows Cursor formats for the input/output component.
TIEFormatDescriptor ICOFormat();
TIEFormatDescriptor CURFormat();
