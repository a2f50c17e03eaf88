#pragma once
// One record per picture format: what the registry lists (code, name,
// suffixes, dialog page, directions), how detection recognises it, the entry
// points of its filter and how the component's load and save frames treat it.
// Each filter defines its own record in its own file; the formats layer lists
// them once (format_filters.cpp) and installs that list here at start-up, so
// this component finds a format by code, suffix or content without knowing
// any filter.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/io/io_types.h"
#include "platform/rtl/tset.h"

class TIEBitmap;
class TIEMask;
class TIOParamsVals;
class TStream;

using TIEMaskOut = std::unique_ptr<TIEMask>;

// What a reader gets for one load or one parameters-only read.
struct TIEFormatReadArgs {
  TStream& Stream;
  // The picture to fill; for a parameters-only read a scratch picture the
  // reader may leave alone.
  TIEBitmap* Bitmap;
  TIOParamsVals& Params;
  TProgressRecord& Progress;
  TIEMaskOut& AlphaMask;  // a reader may return the alpha channel as a mask here
  bool ParamsOnly;
  // Bytes of the picture from the position: a stream header's length, else
  // what the stream holds from the position (the whole stream for parameters).
  int64_t Size;
  // Offsets of the data count from the position (false after a stream header).
  bool FromPosition;
};

// What a writer gets for one save.
struct TIEFormatWriteArgs {
  TStream& Stream;
  TIEBitmap& Bitmap;   // 24-bit copy for the formats that ask for it
  TIOParamsVals& Params;
  TProgressRecord& Progress;
  TIEMask* AlphaMask;  // the alpha channel as a mask, for the formats that ask for it
};

// True when the stream at its position holds the format; the caller restores
// the position.
using TIEFormatProbe = std::function<bool(TStream& stream)>;
using TIEFormatRead = std::function<void(TIEFormatReadArgs& args)>;
using TIEFormatWrite = std::function<void(TIEFormatWriteArgs& args)>;

// Probes from this order up search forward through the data instead of testing
// a signature at the position; detection asks them after every other test.
constexpr int kLateProbeOrder = 1000;

// Pages of the parameters dialog.
constexpr uint16_t iedpJPEG = 4, iedpTIFF = 8, iedpGIF = 16, iedpBMP = 32, iedpPCX = 64, iedpPNG = 128,
                   iedpTGA = 256, iedpJ2000 = 512;

enum TIEFormatAccess : uint8_t { ieaNone, ieaRead, ieaWrite, ieaReadWrite };

// Who reads the format's files.
enum TIEFormatFrame : uint8_t {
  ieffFilter,    // the format's own reader and writer, inside the component's frame
  ieffMetafile,  // the component renders it through the platform's metafile
  ieffLayers,    // the views read and write it (layer and object files)
};

// How the load frame treats the format.
enum TIELoadOption : uint8_t {
  ielAlphaFromMask,       // a mask the reader returns becomes the alpha channel
  ielFixDPI,              // a resolution of 0 becomes the default one
  ielAdjustDPI,           // AutoAdjustDPI applies
  ielSyncView,            // the attached view takes the resolution
  ielSyncViewByNameOnly,  // ... only after a load from a named file
  ielResetMetadata,       // the parameter set's metadata is cleared first
  ielTakeBackground,      // the picture's background colour (PngBackground) becomes the component's
};
using TIELoadOptions = TSet<TIELoadOption>;

// How the save frame treats the format.
enum TIESaveOption : uint8_t {
  iesConvert24,        // the writer gets a 24-bit copy unless the picture is 24-bit or 1-bit
  iesKeep8gInFiles,    // ... and 8-bit grey is kept when saving to a file
  iesAlphaMask,        // the writer gets the alpha channel as a mask
  iesJpegMarkers,      // the parameter set's JPEG markers are rebuilt first (IPTC, EXIF, XMP)
  iesTruncateStream,   // a stream save drops what followed its position
};
using TIESaveOptions = TSet<TIESaveOption>;

// What a load or save leaves when its file cannot be opened (the exception
// passes on to the caller in every case).
enum TIEOpenFailure : uint8_t {
  ieofAbortAndNotify,  // Aborting set, finish notified
  ieofAbortQuietly,    // Aborting set, no notification
  ieofKeepFlag,        // Aborting as it was, no notification
  ieofClearAndNotify,  // Aborting cleared, finish notified (saves only)
};

// How a stream read treats the 12-byte header (tag, length) that streams of
// several pictures carry.
enum TIEStreamHeaderRead : uint8_t {
  iehrRequired,  // with StreamHeaders set the header must be there with the tag
  iehrOptional,  // every stream read skips a header with the tag when there is one
};

struct TIEFormatDescriptor {
  // ---- the registry ----
  TImageFileType FileType = ioUnknown;
  std::string FullName{};
  std::string Suffixes{};  // upper case, without dots, separated by ";"
  TIEFormatAccess Access = ieaNone;
  uint16_t DialogPage = 0;
  // Empty: always listed; else listed only while it answers true.
  std::function<bool()> Available{};

  // ---- detection ----
  TIEFormatProbe Probe{};
  // Detection asks the probes from the lowest order up (0: never asked).
  int ProbeOrder = 0;
  // The probe is asked only when more bytes than this follow the position.
  int64_t ProbeMinSize = 0;

  // ---- the filter ----
  TIEFormatFrame Frame = ieffFilter;
  TIEFormatRead Read{};        // empty: loads fail
  TIEFormatRead ReadParams{};  // empty: parameters-only reads fail
  TIEFormatWrite Write{};      // empty: saves fail

  // ---- the load frame ----
  TIELoadOptions LoadOptions{ielFixDPI, ielAdjustDPI, ielSyncView, ielResetMetadata};
  TIEOpenFailure LoadOpenFailure = ieofAbortAndNotify;
  int FileReadBuffer = 0;    // bytes of read-ahead over a file (0: none)
  int StreamReadBuffer = 0;  // ... and over a caller's stream, after its header

  // ---- the save frame ----
  TIESaveOptions SaveOptions{};
  TIEOpenFailure SaveOpenFailure = ieofAbortAndNotify;
  // SaveFile takes the first format, from the lowest order up (0: none), that
  // has the requested code or one of these suffixes (upper case, ";").
  int SaveOrder = 0;
  std::string SaveSuffixes{};

  // ---- stream headers ----
  std::string StreamTag{};  // empty: streams carry no header
  TIEStreamHeaderRead StreamHeaderRead = iehrRequired;
  // An older header of 4 bytes, a tag starting with this and no length: the
  // data runs to the end of the stream.
  std::string ShortStreamTag{};
};

// The installed list, in registration order.
void InstallFormatDescriptors(std::vector<TIEFormatDescriptor> list);
std::vector<TIEFormatDescriptor>& FormatDescriptors();
// Adds a format that a layer above the formats serves (the specialised
// readers): it replaces a descriptor of the same code where there is one,
// else it goes right after the descriptor with the code `after` (at the end
// when that is not listed), so the registry keeps its order.
void AddFormatDescriptor(TIEFormatDescriptor descriptor, TImageFileType after);
// The first descriptor with the code, or nil.
TIEFormatDescriptor* FindFormatDescriptor(TImageFileType code);
// True when one of the ";"-separated suffixes equals the extension (any case,
// with or without its dot).
bool SuffixListHas(const std::string& suffixes, const std::string& extension);
