#pragma once
// Helpers of the GIF tests: giflib as the decoder and encoder to compare with,
// Pillow (/usr/bin/python3) and giflib's tools as outside judges, and a small
// writer of GIF streams byte by byte for the malformed cases.
#include <cstdint>
#include <string>
#include <vector>

#include "pictures/gif/gif_image.h"

namespace giftest {

struct LibFrame {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlace = false;
  std::vector<uint8_t> pixels;  // rows in display order
  std::vector<uint8_t> colors;  // local table, red green blue
  int delay = -1, disposal = -1, transparent = -1;
};

struct LibFile {
  bool ok = false;
  int error = 0;
  int width = 0, height = 0, background = 0;
  std::vector<uint8_t> colors;  // global table
  std::vector<LibFrame> frames;
  int loop = -1;
  std::vector<std::string> comments;
};

// DGifSlurp over the bytes.
LibFile SlurpWithGiflib(const std::vector<uint8_t>& bytes);

struct SpewFrame {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;
  int delay = 0;
};
// EGifSpew of frames that share one global table of 2^bits entries.
std::vector<uint8_t> SpewWithGiflib(int width, int height, int bits, const std::vector<SpewFrame>& frames);

std::vector<uint8_t> SaveToBytes(TGIFImage& image);
void LoadFromBytes(TGIFImage& image, const std::vector<uint8_t>& bytes);

bool HavePillow();
// Runs a Python script with the system's python3; its exit status, stdout in *out.
int RunPython(const std::string& script, std::string* out = nullptr);

// A frame of the given size and pixels, added to the image with a local table.
TGIFSubImage* AddIndexedFrame(TGIFImage& image, int left, int top, int width, int height,
                              const std::vector<uint8_t>& pixels, const std::vector<uint32_t>& colors);

// Builds GIF streams byte by byte.
struct GifBytes {
  std::vector<uint8_t> b;
  GifBytes& Raw(std::initializer_list<int> bytes) {
    for (int v : bytes) b.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  GifBytes& Word(int v) { return Raw({v & 0xFF, (v >> 8) & 0xFF}); }
  // "GIF89a", the screen and a global table of 2^bits grey entries (bits 0: none).
  GifBytes& Header(int width, int height, int bits);
  // An image descriptor without local table.
  GifBytes& Image(int left, int top, int width, int height, int flags = 0);
  // The code size, the codes packed LSB first at the given widths, cut into sub-blocks.
  GifBytes& Codes(int minimum, const std::vector<std::pair<int, int>>& codes, int blockSize = 255);
  GifBytes& Trailer() { return Raw({0x3B}); }
};

}  // namespace giftest
