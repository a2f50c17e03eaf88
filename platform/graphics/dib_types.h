#pragma once
// On-disk and in-memory structures of device-independent bitmaps, with their
// documented layouts (packed where the file format packs them).
#include <cstdint>

#include "platform/win/win_types.h"
#include "platform/rtl/byte_order.h"

QV_ASSERT_LITTLE_ENDIAN_HOST();

#pragma pack(push, 1)
struct BITMAPFILEHEADER {
  WORD bfType = 0x4D42;  // "BM"
  DWORD bfSize = 0;
  WORD bfReserved1 = 0;
  WORD bfReserved2 = 0;
  DWORD bfOffBits = 0;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

struct BITMAPCOREHEADER {
  DWORD bcSize = 12;
  WORD bcWidth = 0;
  WORD bcHeight = 0;
  WORD bcPlanes = 1;
  WORD bcBitCount = 0;
};
static_assert(sizeof(BITMAPCOREHEADER) == 12);

struct BITMAPINFOHEADER {
  DWORD biSize = 40;
  LONG biWidth = 0;
  LONG biHeight = 0;  // positive: rows bottom-up; negative: top-down
  WORD biPlanes = 1;
  WORD biBitCount = 0;
  DWORD biCompression = 0;
  DWORD biSizeImage = 0;
  LONG biXPelsPerMeter = 0;
  LONG biYPelsPerMeter = 0;
  DWORD biClrUsed = 0;
  DWORD biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct CIEXYZ {
  LONG ciexyzX = 0, ciexyzY = 0, ciexyzZ = 0;
};
struct CIEXYZTRIPLE {
  CIEXYZ ciexyzRed, ciexyzGreen, ciexyzBlue;
};

struct BITMAPV4HEADER {
  DWORD bV4Size = 108;
  LONG bV4Width = 0;
  LONG bV4Height = 0;
  WORD bV4Planes = 1;
  WORD bV4BitCount = 0;
  DWORD bV4V4Compression = 0;
  DWORD bV4SizeImage = 0;
  LONG bV4XPelsPerMeter = 0;
  LONG bV4YPelsPerMeter = 0;
  DWORD bV4ClrUsed = 0;
  DWORD bV4ClrImportant = 0;
  DWORD bV4RedMask = 0;
  DWORD bV4GreenMask = 0;
  DWORD bV4BlueMask = 0;
  DWORD bV4AlphaMask = 0;
  DWORD bV4CSType = 0;
  CIEXYZTRIPLE bV4Endpoints;
  DWORD bV4GammaRed = 0;
  DWORD bV4GammaGreen = 0;
  DWORD bV4GammaBlue = 0;
};
static_assert(sizeof(BITMAPV4HEADER) == 108);

struct BITMAPV5HEADER {
  DWORD bV5Size = 124;
  LONG bV5Width = 0;
  LONG bV5Height = 0;
  WORD bV5Planes = 1;
  WORD bV5BitCount = 0;
  DWORD bV5Compression = 0;
  DWORD bV5SizeImage = 0;
  LONG bV5XPelsPerMeter = 0;
  LONG bV5YPelsPerMeter = 0;
  DWORD bV5ClrUsed = 0;
  DWORD bV5ClrImportant = 0;
  DWORD bV5RedMask = 0;
  DWORD bV5GreenMask = 0;
  DWORD bV5BlueMask = 0;
  DWORD bV5AlphaMask = 0;
  DWORD bV5CSType = 0;
  CIEXYZTRIPLE bV5Endpoints;
  DWORD bV5GammaRed = 0;
  DWORD bV5GammaGreen = 0;
  DWORD bV5GammaBlue = 0;
  DWORD bV5Intent = 0;
  DWORD bV5ProfileData = 0;
  DWORD bV5ProfileSize = 0;
  DWORD bV5Reserved = 0;
};
static_assert(sizeof(BITMAPV5HEADER) == 124);

struct RGBQUAD {
  BYTE rgbBlue = 0;
  BYTE rgbGreen = 0;
  BYTE rgbRed = 0;
  BYTE rgbReserved = 0;
};
static_assert(sizeof(RGBQUAD) == 4);

struct RGBTRIPLE {
  BYTE rgbtBlue = 0;
  BYTE rgbtGreen = 0;
  BYTE rgbtRed = 0;
};
static_assert(sizeof(RGBTRIPLE) == 3);

// A header followed by its colour table (RGBQUAD[] or, for BI_BITFIELDS, three masks).
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

// biCompression values.
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;
constexpr DWORD BI_JPEG = 4;
constexpr DWORD BI_PNG = 5;

// Bytes in one DWORD-aligned row of a DIB.
constexpr int64_t DibRowBytes(int64_t width, int bitCount) { return ((width * bitCount + 31) / 32) * 4; }
