#pragma once
// libpng reading from and writing to memory instead of a FILE.
#include <png.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// The bytes a libpng reader takes its file from, and how far it has read.
struct TPngMemorySource {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
};

// png reads from source, which must outlive the reading; a read past the end
// of the bytes is a libpng error ("read past end").
void SetPngMemorySource(png_structp png, TPngMemorySource& source);
// png appends what it writes to out, which must outlive the writing.
void SetPngMemoryTarget(png_structp png, std::vector<uint8_t>& out);
