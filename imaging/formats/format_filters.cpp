#include "imaging/formats/format_filters.h"

#include "imaging/formats/bmp_filter.h"
#include "imaging/formats/ico_filter.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/formats/metafile_probes.h"
#include "imaging/formats/png_filter.h"
#include "imaging/formats/pnm_filter.h"
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
  RegisterMetafileProbes();
  InstallImageIOStartup();
}
