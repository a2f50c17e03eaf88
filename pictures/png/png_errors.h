#pragma once
// The PNG picture's exception family. Each class carries its own text, so a
// caller that catches Exception shows the user the reason the picture failed.
#include <string>

#include "platform/rtl/exceptions.h"

#define QV_PNG_EXCEPTION(Name, Text)                                  \
  class Name : public Exception {                                     \
  public:                                                             \
    Name() : Exception(Text) {}                                       \
    explicit Name(std::string message) : Exception(std::move(message)) {} \
  }

QV_PNG_EXCEPTION(EPNGOutMemory,
                 "Some operation could not be performed because the system is out of resources. Close some "
                 "windows and try again.");
QV_PNG_EXCEPTION(EPngError, "The chunks must be compatible to be assigned.");
QV_PNG_EXCEPTION(EPNGInvalidFileHeader,
                 "The file being readed is not a valid \"Portable Network Graphics\" image because it contains an "
                 "invalid header. This file may be corruped, try obtaining it again.");
QV_PNG_EXCEPTION(EPNGIHDRNotFirst,
                 "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n(IHDR chunk "
                 "is not the first)");
QV_PNG_EXCEPTION(EPNGUnknownCriticalChunk,
                 "This \"Portable Network Graphics\" image contains an unknown critical part which could not be "
                 "decoded.");
QV_PNG_EXCEPTION(EPNGNoImageData, "This \"Portable Network Graphics\" image contains no data.");
QV_PNG_EXCEPTION(EPngInvalidCRC,
                 "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of data "
                 "(crc error)");
QV_PNG_EXCEPTION(EPngInvalidIHDR,
                 "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of "
                 "data (ihdr) might be corrupted");
QV_PNG_EXCEPTION(EPNGSizeExceeds,
                 "This \"Portable Network Graphics\" image is not supported because either it's width or height "
                 "exceeds the maximum size, which is 65535 pixels length.");
QV_PNG_EXCEPTION(EPNGUnknownCompression,
                 "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which could "
                 "not be decoded.");
QV_PNG_EXCEPTION(EPNGUnknownInterlace,
                 "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be "
                 "decoded.");
QV_PNG_EXCEPTION(EPNGInvalidPalette, "The \"Portable Network Graphics\" image contains an invalid palette.");
QV_PNG_EXCEPTION(EPNGMissingMultipleIDAT,
                 "This \"Portable Network Graphics\" image is invalid because it has missing image parts.");
QV_PNG_EXCEPTION(EPNGZLIBError, "Could not decompress the image because it contains invalid compressed data.");

#undef QV_PNG_EXCEPTION

// The other texts of EPngError.
inline constexpr const char* kPngNoPaletteEntryText = "There is no such palette entry.";
inline constexpr const char* kPngCannotResizeText =
    "The \"Portable Network Graphics\" image can not be resize by changing width and height properties. Try "
    "assigning the image from a bitmap.";

// zlib's text for a result code, as the decompression error shows it ("data error (-3)").
std::string PngZlibCodeText(int code);
// Raises EPNGZLIBError for a failed zlib call, with zlib's text for the code.
[[noreturn]] void RaisePngZlibError(int code);
