#pragma once
// Reading Macintosh icons: "icns" files, and classic resource forks (plain or
// inside an AppleDouble file) whose icon resources are told apart by the
// length of their data and which may carry an icns of their own. Every
// element becomes a framework bitmap, paired with a mask bitmap where one
// exists. There is no writer for these formats.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/graphics_bitmap.h"

class TAdvancedIcon;

// One image of a Mac icon: the picture, its 1-bit mask (white transparent) or
// nil, and the name that says where it came from ("il32/l8mk", "ic10",
// "icl8/icn#", "is32/?"; empty for the classic resources of a fork). One
// mask may serve several images.
struct TMacIconImage {
  std::unique_ptr<TBitmap> image;
  std::shared_ptr<TBitmap> mask;
  std::string name;
};
using TMacIconImages = std::vector<TMacIconImage>;

// Clears the icon and fills it with the images of the file: each is marked as
// a Mac image, the retina-sized elements as high-resolution ones, images wider
// or higher than 255 pixels are kept as PNG, and the list is sorted. Errors
// of the PNG and JPEG 2000 readers and of the file reach the caller.
void LoadMacIcon(const std::string& fileName, TAdvancedIcon& icon);
// The images of an icns file or a resource fork, in the order they are added.
void ReadMacIconFile(const std::string& fileName, TMacIconImages& images);
// The same for a file already in memory. The reader keeps what it can; when
// given, refusal gets the first rule that stopped it or passed data over ("" when
// none did).
void ReadMacIconData(const uint8_t* data, size_t size, TMacIconImages& images, std::string* refusal = nullptr);

// The classic Mac palettes as 0x00BBGGRR colours.
extern const int32_t MacPalette16[16];
const int32_t* MacPalette256();

// Decodes one run-length channel of an icns element into byte channel of the
// 32-bit pixels (pixels count, top-left first), reading from data[at] on;
// returns where the channel's data ended, and in filledOut how many pixels it
// reached (fewer than count when the data ends first).
size_t UnpackIcnsChannel(const uint8_t* data, size_t size, size_t at, uint8_t* pixels, size_t count, int channel,
                         size_t* filledOut = nullptr);
