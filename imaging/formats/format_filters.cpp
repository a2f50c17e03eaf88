#include "imaging/formats/format_filters.h"

#include "imaging/formats/bmp_filter.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/formats/metafile_probes.h"
#include "imaging/formats/png_filter.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/ie_filters.h"

void RegisterFormatFilters() {
  TIEFilterSlots& slots = IEFilters();
  // Each filter family fills its own slots here, one line a family.
  slots.ReadBMPStream = ReadBMPStream, slots.WriteBMPStream = WriteBMPStream;
  slots.ReadPNGStream = ReadPNGStream, slots.WritePNGStream = WritePNGStream, slots.IsPNGStream = IsPNGStream;
  slots.ReadJpegStream = ReadJpegStream, slots.WriteJpegStream = WriteJpegStream;
  slots.FindJpegStart = [](TStream& s, bool search) { return FindJpegStart(s, search); };
  RegisterMetafileProbes();
  InstallImageIOStartup();
}
