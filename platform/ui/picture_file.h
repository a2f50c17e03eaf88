#pragma once
// Saving what a form shows: a bitmap written as a PNG file (RGB, 8 bits per
// channel; the unused fourth byte of screen pixels is dropped).
#include <string>

class TBitmap;

// Raises EFCreateError when the file cannot be written; a file being replaced
// stays as it was when the write fails.
void SavePicturePng(TBitmap* bitmap, const std::string& fileName);
