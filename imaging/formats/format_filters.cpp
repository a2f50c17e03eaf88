#include "imaging/formats/format_filters.h"

#include "imaging/formats/bmp_filter.h"
#include "imaging/formats/gif_filter.h"
#include "imaging/formats/ico_filter.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/formats/metafile_probes.h"
#include "imaging/formats/pcx_filter.h"
#include "imaging/formats/png_filter.h"
#include "imaging/formats/pnm_filter.h"
#include "imaging/formats/psd_filter.h"
#include "imaging/formats/raw_pixel_filter.h"
#include "imaging/formats/tga_filter.h"
#include "imaging/formats/wbmp_filter.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/ie_filters.h"

void RegisterFormatFilters() {
  TIEFilterSlots& slots = IEFilters();
  // Each filter family fills its own slots here, one line a family.
  slots.ReadBMPStream = ReadBMPStream, slots.WriteBMPStream = WriteBMPStream;
  slots.ReadPNGStream = ReadPNGStream, slots.WritePNGStream = WritePNGStream, slots.IsPNGStream = IsPNGStream;
  slots.ReadJpegStream = ReadJpegStream, slots.WriteJpegStream = WriteJpegStream;
  slots.FindJpegStart = [](TStream& s, bool search) { return FindJpegStart(s, search); };
  slots.ReadICOStream = ReadICOStream, slots.ReadCURStream = ReadCURStream, slots.WriteICOStream = WriteICOStream;
  slots.IsICOStream = IsICOStream, slots.IsCURStream = IsCURStream;
  slots.ReadTGAStream = ReadTGAStream, slots.WriteTGAStream = WriteTGAStream, slots.IsTGAStream = IsTGAStream;
  slots.ReadPXMStream = ReadPXMStream, slots.WritePXMStream = WritePXMStream, slots.IsPXMStream = IsPXMStream;
  slots.ReadWBMPStream = ReadWBMPStream, slots.WriteWBMPStream = WriteWBMPStream;
  slots.ReadPCXStream = ReadPCXStream, slots.WritePCXStream = WritePCXStream, slots.IsDCXStream = IsDCXStream;
  slots.ReadDCXStream = ReadDCXStream, slots.WriteDCXStream = WriteDCXStream;
  slots.ReadRawPixelStream = ReadRawPixelStream;
  slots.ReadGIFStream = ReadGIFStream, slots.WriteGIFStream = WriteGIFStream;
  slots.GIFLZWDecompress = GIFLZWDecompress, slots.GIFLZWCompress = GIFLZWCompress;
  // Layer lists belong to the views, which fill these again with their own
  // (RegisterPSDViewLayers); here a document reads and writes without layers.
  slots.ReadPSDStream = [](TStream& s, TIEBitmap* b, TIOParamsVals& p, TList*, bool, TProgressRecord& pr) {
    ReadPSDStream(s, b, p, nullptr, false, pr);
  };
  slots.WritePSDStream = [](TStream& s, TIOParamsVals& p, TProgressRecord& pr, TList*, TIEBitmap* b) {
    WritePSDStream(s, p, pr, nullptr, b);
  };
  slots.IsPSDStream = IsPSDStream;
  RegisterMetafileProbes();
  InstallImageIOStartup();
}
