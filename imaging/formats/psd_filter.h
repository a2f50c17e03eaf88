#pragma once
// Adobe Photoshop documents (version 1): the merged image, the image
// resources the library understands (resolution, IPTC, JPEG thumbnail, ICC
// profile, transparency index, XMP) and the layers with their transparency
// channels and user masks.
//
// The filter sits below the views, so it hands layers over as plain records;
// the views turn them into their layers and back (imaging/views/psd_view_layers.h).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_resample.h"
#include "imaging/io/format_descriptor.h"

class TIEBitmap;
class TIOParamsVals;
class TStream;
struct TProgressRecord;

// One layer as the file holds it. Reading fills Owned and points Bitmap at
// it; writing reads Bitmap (the caller's, left unchanged).
struct TPSDLayerRecord {
  std::unique_ptr<TIEBitmap> Owned;
  TIEBitmap* Bitmap = nullptr;
  int32_t PosX = 0, PosY = 0;
  int32_t Transparency = 255;
  bool Visible = true;
  bool Cropped = false;
  // A user mask: the layer before it in the list is the one it masks.
  bool IsMask = false;
  std::string Name;
  // The size the layer is shown at (0: the bitmap's own); a layer shown at
  // another size is written resampled to it.
  int32_t DisplayWidth = 0, DisplayHeight = 0;
  TResampleFilter ResampleFilter = rfNone;
  bool UseResampleFilter = false;
};
using TPSDLayerList = std::vector<TPSDLayerRecord>;

// The colour modes of the file header.
enum TPSDColorMode : uint16_t {
  psdModeBitmap = 0,
  psdModeGray = 1,
  psdModeIndexed = 2,
  psdModeRGB = 3,
  psdModeCMYK = 4,
  psdModeMultichannel = 7,
  psdModeDuotone = 8,
  psdModeLab = 9
};

// True for signature "8BPS", version 1, 1 to 24 channels, depth 1 to 16 and a
// colour mode below 10; the position is restored.
bool IsPSDStream(TStream& stream);
// bitmap nil reads the parameters only; layers (or nil) receives the layers
// when loadLayers is set, and then the merged image is read only when there
// were none.
void ReadPSDStream(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, TPSDLayerList* layers, bool loadLayers,
                   TProgressRecord& progress);
// bitmap is the merged image; layers may be nil or empty.
void WritePSDStream(TStream& stream, TIOParamsVals& params, TProgressRecord& progress, const TPSDLayerList* layers,
                    TIEBitmap* bitmap);

// Copies of the layers ready to write: masks stay as they are, every other
// layer is resampled to its display size (with its own filter when it asks
// for one) and converted to the document's format. The first layer gives the
// format when there is no bitmap; an unwritable format gives an empty list.
TPSDLayerList PreparePSDLayers(TIEBitmap* bitmap, const TPSDLayerList& layers);
// PackBits: runs of 4 to 128 equal bytes as 1 - n and the byte, other bytes as
// literal packets of at most 128. Returns the bytes written; out holds
// count + count / 128 + 1 bytes.
int PackBitsEncodeRow(const uint8_t* row, int count, uint8_t* out);

// The Photoshop format for the input/output component. Its loads and saves go
// through the layer service of the ie_filters slots, which the views fill with
// their layered reader and writer; the component itself passes no layers.
TIEFormatDescriptor PSDFormat();
