#include "imaging/formats/format_filters.h"

#include "imaging/formats/bmp_filter.h"
#include "imaging/formats/gif_filter.h"
#include "imaging/formats/ico_filter.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/formats/metafile_probes.h"
#include "imaging/formats/pcx_filter.h"
#include "imaging/formats/pdf_filter.h"
#include "imaging/formats/pending_formats.h"
#include "imaging/formats/ps_filter.h"
#include "imaging/formats/png_filter.h"
#include "imaging/formats/pnm_filter.h"
#include "imaging/formats/psd_filter.h"
#include "imaging/formats/raw_pixel_filter.h"
#include "imaging/formats/tga_filter.h"
#include "imaging/formats/tiff/exif_io.h"
#include "imaging/formats/tiff/tiff_ccitt.h"
#include "imaging/formats/tiff/tiff_filter.h"
#include "imaging/formats/tiff/tiff_lzw.h"
#include "imaging/formats/tiff/tiff_reader.h"
#include "imaging/formats/wbmp_filter.h"
#include "imaging/io/file_formats.h"
#include "imaging/core/ie_startup.h"
#include "imaging/io/ie_filters.h"

std::vector<TIEFormatDescriptor> FormatFilterList() {
  // One line a format. A new filter defines its descriptor in its own file and
  // adds it here, where the registry should list it. DICOM and JPEG 2000 are
  // served from above this layer and join the list at start-up
  // (RegisterSpecialFormats), each in its place.
  return {
      TIFFFormat(),
      GIFFormat(),
      JPEGFormat(),
      PCXFormat(),
      BMPFormat(),
      RawPixelFormat(),
      ICOFormat(),
      CURFormat(),
      PNGFormat(),
      WMFFormat(),
      EMFFormat(),
      TGAFormat(),
      PXMFormat(),
      WBMPFormat(),
      PSFormat(),
      PDFFormat(),
      DCXFormat(),
      PSDFormat(),
      IEVFormat(),
      LYRFormat(),
      ALLFormat(),
  };
}

void RegisterFormatFilters() {
  InstallFormatDescriptors(FormatFilterList());
  // The PSD format reads and writes through the layer hooks, which the views
  // fill again with their own (RegisterPSDViewLayers); here a document reads
  // and writes without layers.
  TIEFilterSlots& slots = IEFilters();
  slots.GIFLZWDecompress = GIFLZWDecompress, slots.GIFLZWCompress = GIFLZWCompress;
  slots.ReadPSDStream = [](TStream& s, TIEBitmap* b, TIOParamsVals& p, TList*, bool, TProgressRecord& pr) {
    ReadPSDStream(s, b, p, nullptr, false, pr);
  };
  slots.WritePSDStream = [](TStream& s, TIOParamsVals& p, TProgressRecord& pr, TList*, TIEBitmap* b) {
    WritePSDStream(s, p, pr, nullptr, b);
  };
  slots.RebuildEXIFMarker = EXIFMarkerForSave;
  slots.TIFFLZWDecompress = TIFFLZWDecompress, slots.TIFFLZWCompress = TIFFLZWCompress;
  SetLibraryStartupStep(iessCCITTTrees, BuildCCITTTrees, FreeCCITTTrees);
  InstallImageIOStartup();
}
