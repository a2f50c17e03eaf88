#pragma once
// The GIF unit's exception and the texts it raises and warns with.
#include <string>

#include "platform/rtl/exceptions.h"

// Where one text stands for several rules, the reason names the one that fired.
class GIFException : public ERefused<EInvalidGraphic> {
public:
  explicit GIFException(std::string message, const char* reason = nullptr) : ERefused(std::move(message), reason) {}
};

namespace gifmsg {
inline constexpr const char* kColorTableOverflow = "Color table overflow";
inline constexpr const char* kInvalidColorIndex = "Invalid color index";
inline constexpr const char* kColorTableEmpty = "Color table is empty";
inline constexpr const char* kPrematureEnd = "Premature end of data";
inline constexpr const char* kImageWidthTooSmall = "Image width too small for contained frames";
inline constexpr const char* kImageHeightTooSmall = "Image height too small for contained frames";
inline constexpr const char* kExceedsScreen = "Image exceeds Logical Screen size";
inline constexpr const char* kImageEmpty = "Image is empty";
inline constexpr const char* kInvalidPixelCoordinates = "Invalid pixel coordinates";
inline constexpr const char* kInvalidTrailer = "Invalid Image trailer";
inline constexpr const char* kInvalidSignature = "Invalid GIF signature";
inline constexpr const char* kUnknownBlockType = "Unknown GIF block type";
inline constexpr const char* kInvalidIntroducer = "Invalid extension introducer";
inline constexpr const char* kUnknownExtension = "Unknown extension type";
inline constexpr const char* kCircularTable = "Circular decoder table entry";
inline constexpr const char* kBitBufferUnderrun = "Decoder bit buffer under-run";
inline constexpr const char* kExtensionMismatch = "Internal error: Extension Instance does not match Extension Label";
inline constexpr const char* kAppBlockSize = "Unsupported Application Extension block size";
inline constexpr const char* kInvalidData = "Invalid GIF data";
inline constexpr const char* kUnsupportedVersion = "Unsupported GIF version";
inline constexpr const char* kColorNotInTable = "Color not in color table";
inline constexpr const char* kInvalidStreamOperation = "Invalid stream operation";
inline constexpr const char* kUnsupportedPixelFormat = "Unsupported PixelFormat";
inline constexpr const char* kInvalidDimensions = "Invalid image dimensions";
inline constexpr const char* kNoDIB = "Image has no DIB";
inline constexpr const char* kDIBAllocation = "Failed to allocate memory for GIF DIB";
inline constexpr const char* kScanLineRange = "Scan line index out of range";
inline constexpr const char* kOutOfResources = "Out of system resources";
inline constexpr const char* kNoColorTable = "No global or local color table defined";
inline constexpr const char* kObjectNotSupported = "Object type not supported for operation";
inline constexpr const char* kUnsupportedClipboard = "Unsupported clipboard format";
inline constexpr const char* kClipboardFailed = "Failed to store GIF on clipboard";
inline constexpr const char* kInvalidReduction = "Invalid reduction method";
// Our own: a frame larger than the reader will hold, and a code size the
// decoder's table cannot take.
inline constexpr const char* kFrameTooLarge = "Image is too large";
inline constexpr const char* kBadCodeSize = "Invalid LZW minimum code size";
inline constexpr const char* kLoading = "Loading...";
inline constexpr const char* kSaving = "Saving...";
inline constexpr const char* kCopying = "Copying...";
inline constexpr const char* kConverting = "Converting...";
inline constexpr const char* kRendering = "Rendering...";
inline constexpr const char* kOptimizing = "Optimizing...";
}  // namespace gifmsg
