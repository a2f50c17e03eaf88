// The per-format loads and saves of TImageLibIO: what each passes to its
// filter, how it differs from the common frame, the 12-byte stream header of
// TIFF, JPEG and PCX streams and the rebuilding of JPEG metadata markers.
#include <algorithm>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_pixel_convert.h"
#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/ie_io_thread.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_target_file.h"
#include "imaging/io/jpeg_markers.h"
#include "imaging/io/exif_block.h"
#include "imaging/io/xmp_packet.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/byte_order.h"

namespace {

constexpr int64_t kHeaderSize = 12;

// Notifies finish when the frame ends, also by an exception.
struct TFinishGuard {
  TImageLibIO& io;
  bool armed = true;
  ~TFinishGuard() {
    if (armed) io.NotifyFinishWork();
  }
};

std::string Tag5(const uint8_t* b) {
  size_t n = 0;
  while (n < 5 && b[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(b), n);
}


struct TStreamHeader {
  bool present = false;
  std::string tag;
  int64_t start = 0;
  int64_t length = 0;  // bounded by the bytes that follow the header
};

// Reads 12 bytes at the position as a stream header.
TStreamHeader ReadHeader(TStream& s) {
  TStreamHeader h;
  h.start = s.Position();
  uint8_t b[kHeaderSize];
  if (s.Read(b, kHeaderSize) != kHeaderSize) return h;
  h.present = true;
  h.tag = Tag5(b);
  const int64_t remaining = std::max<int64_t>(0, s.Size() - h.start - kHeaderSize);
  h.length = std::min<int64_t>(ReadLE32(b + 8), remaining);
  return h;
}

// Writes the header of the data from start to the stream's position.
void WriteHeader(TStream& s, int64_t start, const char* tag) {
  const int64_t end = s.Position();
  const int64_t length = end - start - kHeaderSize;
  uint8_t b[kHeaderSize] = {};
  std::memcpy(b, tag, std::strlen(tag));
  const uint32_t n = uint32_t(std::clamp<int64_t>(length, 0, 0xFFFFFFFF));
  for (int i = 0; i < 4; ++i) b[8 + i] = uint8_t(n >> (8 * i));
  s.SetPosition(start);
  s.WriteBuffer(b, kHeaderSize);
  s.SetPosition(end);
}

void WritePlaceholder(TStream& s) {
  const uint8_t zero[kHeaderSize] = {};
  s.WriteBuffer(zero, kHeaderSize);
}

}  // namespace

// ---- the load frame ----

bool TImageLibIO::CallReader(const TIEFormatDescriptor& format, TStream& s, TProgressRecord& progress, TIEMaskOut& mask,
                             bool fromStream) {
  if (!format.Read) return false;
  TStreamHeader h;
  bool headed = false;
  int64_t size = std::max<int64_t>(0, s.Size() - s.Position());
  const bool optional = format.StreamHeaderRead == iehrOptional;
  if (!format.StreamTag.empty() && fromStream && (StreamHeaders || optional)) {
    h = ReadHeader(s);
    const std::string& shortTag = format.ShortStreamTag;
    if (h.present && h.tag == format.StreamTag) {
      headed = true;
      size = h.length;
    } else if (optional) {
      // Without its tag the data is read plainly.
      s.SetPosition(h.start);
    } else if (h.present && !shortTag.empty() && h.tag.compare(0, shortTag.size(), shortTag) == 0) {
      s.SetPosition(h.start + 4);
      size = std::max<int64_t>(0, s.Size() - s.Position());
    } else {
      progress.Abort();
      return true;
    }
  }
  {
    const int buffer = fromStream ? format.StreamReadBuffer : format.FileReadBuffer;
    std::unique_ptr<TIEBufferedReadStream> buffered;
    if (buffer > 0) buffered = std::make_unique<TIEBufferedReadStream>(&s, buffer, true);
    TIEFormatReadArgs args{buffered ? *buffered : s, FIEBitmap, *FParams, progress, mask, false, size, !headed};
    format.Read(args);
  }
  if (headed) s.SetPosition(h.start + kHeaderSize + h.length);
  if (format.LoadOptions.Contains(ielTakeBackground)) {
    const TRGB c = FParams->PngBackground;
    SetBackground(uint32_t(c.r) | uint32_t(c.g) << 8 | uint32_t(c.b) << 16);
  }
  return true;
}

void TImageLibIO::LoadBody(const TIEFormatDescriptor& format, TStream& stream, const std::wstring* fileName) {
  const TIELoadOptions& o = format.LoadOptions;
  TProgressRecord progress = MakeProgress();
  FIEBitmap->RemoveAlphaChannel(false);
  TIEMaskOut mask;
  try {
    if (!CallReader(format, stream, progress, mask, fileName == nullptr)) FAborting = true;
  } catch (const std::exception&) {
    // A filter that raises has failed like one that sets the flag.
    FAborting = true;
  }
  if (mask && o.Contains(ielAlphaFromMask)) FIEBitmap->AlphaChannel()->CopyFromMask(mask.get());
  mask.reset();
  if (o.Contains(ielFixDPI)) FixDefaultDPI();
  if (o.Contains(ielAdjustDPI) && AutoAdjustDPI) AdjustDPI();
  FParams->FileName = fileName != nullptr ? *fileName : std::wstring();
  FParams->FileType = format.FileType;
  if (o.Contains(ielSyncView) && (!o.Contains(ielSyncViewByNameOnly) || fileName != nullptr)) SyncViewDPI();
  UpdateAttached();
}

void TImageLibIO::RunLoadStream(const TIEFormatDescriptor& format, TStream& stream, const std::wstring* fileName) {
  FAborting = false;
  if (!PrepareBitmap()) {
    NotifyFinishWork();
    return;
  }
  TFinishGuard finish{*this};
  if (format.LoadOptions.Contains(ielResetMetadata)) FParams->ResetMetadata();
  LoadBody(format, stream, fileName);
}

void TImageLibIO::RunLoadFile(const TIEFormatDescriptor& format, const std::wstring& name) {
  if (format.LoadOptions.Contains(ielTakeBackground)) {
    // The reader's default background is ours.
    const uint32_t c = Background();
    FParams->PngBackground = MakeRGB(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16));
  }
  const TIEOpenFailure open = format.LoadOpenFailure;
  if (open == ieofKeepFlag || open == ieofAbortQuietly) {
    if (open == ieofAbortQuietly) FAborting = true;
    TIEWideFileStream file(name, 0x20);
    RunLoadStream(format, file, &name);
    return;
  }
  FAborting = true;
  if (!PrepareBitmap()) {
    NotifyFinishWork();
    return;
  }
  TFinishGuard finish{*this};
  if (format.LoadOptions.Contains(ielResetMetadata)) FParams->ResetMetadata();
  TIEWideFileStream file(name, 0x20);
  FAborting = false;
  LoadBody(format, file, &name);
}

void TImageLibIO::RunLoadStream(TImageFileType code, TStream& stream) {
  if (const TIEFormatDescriptor* format = FindFormatDescriptor(code)) return RunLoadStream(*format, stream, nullptr);
  FAborting = true;
  NotifyFinishWork();
}

void TImageLibIO::RunLoadFile(TImageFileType code, const std::wstring& name) {
  if (const TIEFormatDescriptor* format = FindFormatDescriptor(code)) return RunLoadFile(*format, name);
  FAborting = true;
  NotifyFinishWork();
}

// ---- the save frame ----

bool TImageLibIO::CallWriter(const TIEFormatDescriptor& format, TStream& s, TIEBitmap& bitmap, TIEMask* mask,
                             TProgressRecord& progress, bool toStream) {
  if (!format.Write) return false;
  if (format.SaveOptions.Contains(iesJpegMarkers)) RebuildJPEGMarkersForSave();
  // A single picture from here on: what the stream held before it stays.
  if (toStream && format.SaveOptions.Contains(iesTruncateStream)) s.SetSize(s.Position());
  const bool header = !format.StreamTag.empty() && toStream && StreamHeaders;
  const int64_t start = s.Position();
  if (header) WritePlaceholder(s);
  TIEFormatWriteArgs args{s, bitmap, *FParams, progress, mask};
  format.Write(args);
  // A failed write keeps the placeholder, so the data is never taken for a picture.
  if (header && !progress.Aborted()) WriteHeader(s, start, format.StreamTag.c_str());
  return true;
}

void TImageLibIO::SaveBody(const TIEFormatDescriptor& format, TStream& stream, bool toStream) {
  const TIESaveOptions& o = format.SaveOptions;
  std::unique_ptr<TIEBitmap> converted;
  TIEBitmap* bitmap =
      o.Contains(iesConvert24) ? WriterBitmap(converted, !toStream && o.Contains(iesKeep8gInFiles)) : FIEBitmap;
  if (bitmap == nullptr) {
    FAborting = true;
    return;
  }
  std::unique_ptr<TIEMask> mask;
  if (o.Contains(iesAlphaMask) && FIEBitmap->HasAlphaChannel()) {
    mask = std::make_unique<TIEMask>();
    CopyBitmapToMask(*FIEBitmap->AlphaChannel(), *mask);
  }
  TProgressRecord progress = MakeProgress();
  try {
    if (!CallWriter(format, stream, *bitmap, mask.get(), progress, toStream)) FAborting = true;
  } catch (const std::exception&) {
    FAborting = true;
  }
}

void TImageLibIO::RunSaveStream(const TIEFormatDescriptor& format, TStream& stream) {
  FAborting = false;
  if (!PrepareBitmap()) {
    NotifyFinishWork();
    return;
  }
  TFinishGuard finish{*this};
  SaveBody(format, stream, true);
}

void TImageLibIO::RunSaveFile(const TIEFormatDescriptor& format, const std::wstring& name) {
  FAborting = true;
  // Without a picture nothing is written and nothing is replaced.
  if (!PrepareBitmap()) {
    NotifyFinishWork();
    return;
  }
  const TIEOpenFailure open = format.SaveOpenFailure;
  std::unique_ptr<TIETargetFile> target;
  {
    TFinishGuard finish{*this, open == ieofAbortAndNotify || open == ieofClearAndNotify};
    try {
      target = std::make_unique<TIETargetFile>(name);
    } catch (...) {
      if (open == ieofClearAndNotify) FAborting = false;
      throw;
    }
    finish.armed = false;
  }
  TFinishGuard finish{*this};
  FAborting = false;
  SaveBody(format, target->Stream(), false);
  FParams->FileName = name;
  FParams->FileType = format.FileType;
  if (FAborting || !target->Commit()) {
    target->Discard();
    FAborting = true;
  }
}

void TImageLibIO::RunSaveStream(TImageFileType code, TStream& stream) {
  if (const TIEFormatDescriptor* format = FindFormatDescriptor(code)) return RunSaveStream(*format, stream);
  FAborting = true;
  NotifyFinishWork();
}

void TImageLibIO::RunSaveFile(TImageFileType code, const std::wstring& name) {
  if (const TIEFormatDescriptor* format = FindFormatDescriptor(code)) return RunSaveFile(*format, name);
  FAborting = true;
  NotifyFinishWork();
}

// ---- JPEG markers before a save ----

void TImageLibIO::UpdateJPEGResolutionResource() {
  TIEMarkerList& markers = *FParams->JpegMarkers;
  const int i = markers.IndexOfType(0xED);
  if (i < 0) return;
  uint8_t* data = markers.MarkerData(i);
  const int64_t length = markers.MarkerLength(i);
  static constexpr uint8_t kResource[6] = {'8', 'B', 'I', 'M', 0x03, 0xED};
  const uint8_t* hit = std::search(data, data + length, std::begin(kResource), std::end(kResource));
  if (hit == data + length) return;
  int64_t p = (hit - data) + 6;
  if (p >= length) return;
  // The name: a length byte and its characters, padded to an even total; never
  // skipped beyond the payload.
  int64_t nameBytes = 1 + data[p];
  if (nameBytes % 2 != 0) ++nameBytes;
  p += nameBytes;
  if (p + 4 > length) return;
  const uint32_t size = ReadBE32(data + p);
  p += 4;
  if (size < 16 || p + 16 > length) return;
  // 16.16 fixed point: 300 DPI is 01 2C 00 00.
  WriteBE32(data + p, uint32_t(FParams->DpiX) << 16);
  WriteBE16(data + p + 4, 1);
  WriteBE16(data + p + 6, 1);
  WriteBE32(data + p + 8, uint32_t(FParams->DpiY) << 16);
  WriteBE16(data + p + 12, 1);
  WriteBE16(data + p + 14, 1);
}

void TImageLibIO::RebuildJPEGMarkersForSave() {
  UpdateJPEGResolutionResource();
  TIOParamsVals& p = *FParams;
  TIEMarkerList& markers = *p.JpegMarkers;
  TIEIPTCInfoList& iptc = *p.IptcInfo;
  if (iptc.Changed() || (iptc.Count() > 0 && markers.Count() == 0)) {
    const std::vector<uint8_t> block = iptc.SaveToBuffer(true);
    const int i = markers.IndexOfType(0xED);
    if (!block.empty()) {
      if (i >= 0)
        markers.SetMarker(i, 0xED, int64_t(block.size()), block.data());
      else
        markers.AddMarker(0xED, block.data(), int64_t(block.size()));
    } else if (i >= 0) {
      markers.DeleteMarker(i);
    }
  }
  // EXIF is rebuilt only where the TIFF family can build it; until then the
  // marker read from the file goes back as it came.
  const auto& buildExif = IEFilters().BuildEXIFBlock;
  if (p.HasExifData && buildExif) {
    const std::vector<uint8_t> block = buildExif(p, true);
    for (int i = 0; i < markers.Count(); ++i) {
      if (markers.MarkerType(i) == 0xE1 && IsEXIFMarker(markers.MarkerData(i), markers.MarkerLength(i))) {
        markers.DeleteMarker(i);
        break;
      }
    }
    if (!block.empty()) markers.AddMarker(0xE1, block.data(), int64_t(block.size()));
  }
  for (int i = 0; i < markers.Count(); ++i) {
    if (markers.MarkerType(i) == 0xE1 && FindXMPPacket(markers.MarkerData(i), markers.MarkerLength(i)) != nullptr) {
      markers.DeleteMarker(i);
      break;
    }
  }
  if (!p.XmpPacket.empty()) {
    const std::vector<uint8_t> block = BuildXMPMarker(p);
    markers.AddMarker(0xE1, block.data(), int64_t(block.size()));
  }
}

// ---- the operations ----

// The gate of every load and save: an asynchronous component hands the call
// to an I/O thread, which calls it again.
#define QV_DEFER(Shape, Arg, Op)                                  \
  if (DeferCall()) {                                              \
    TIEIOThread::Create##Shape(this, Arg, &TImageLibIO::Op);      \
    return;                                                       \
  }
#define QV_DEFER_COUNT(Shape, Arg, Op)                            \
  if (DeferCall()) {                                              \
    TIEIOThread::Create##Shape(this, Arg, &TImageLibIO::Op);      \
    return -1;                                                    \
  }

#define QV_LOAD_PAIR(Fmt, Code)                                  \
  void TImageLibIO::Load##Fmt##File(const std::wstring& name) {  \
    QV_DEFER(Name, name, Load##Fmt##File)                        \
    RunLoadFile(Code, name);                                     \
  }                                                              \
  void TImageLibIO::Load##Fmt##Stream(TStream& stream) {         \
    QV_DEFER(Stream, stream, Load##Fmt##Stream)                  \
    RunLoadStream(Code, stream);                                 \
  }
QV_LOAD_PAIR(JPEG, ioJPEG)
QV_LOAD_PAIR(PCX, ioPCX)
QV_LOAD_PAIR(BMP, ioBMP)
QV_LOAD_PAIR(ICO, ioICO)
QV_LOAD_PAIR(CUR, ioCUR)
QV_LOAD_PAIR(TGA, ioTGA)
QV_LOAD_PAIR(PXM, ioPXM)
QV_LOAD_PAIR(JP2, ioJP2)
QV_LOAD_PAIR(J2K, ioJ2K)
QV_LOAD_PAIR(WBMP, ioWBMP)
QV_LOAD_PAIR(DCX, ioDCX)
QV_LOAD_PAIR(PSD, ioPSD)
QV_LOAD_PAIR(DICOM, ioDICOM)
QV_LOAD_PAIR(HDP, ioHDP)
QV_LOAD_PAIR(PNG, ioPNG)
#undef QV_LOAD_PAIR

int TImageLibIO::LoadTIFFFile(const std::wstring& name) {
  QV_DEFER_COUNT(NameFunc, name, LoadTIFFFile)
  RunLoadFile(ioTIFF, name);
  return FParams->TiffImageCount;
}
int TImageLibIO::LoadTIFFStream(TStream& stream) {
  QV_DEFER_COUNT(StreamFunc, stream, LoadTIFFStream)
  RunLoadStream(ioTIFF, stream);
  return FParams->TiffImageCount;
}
int TImageLibIO::LoadGIFFile(const std::wstring& name) {
  QV_DEFER_COUNT(NameFunc, name, LoadGIFFile)
  TIEWideFileStream file(name, 0x20);
  const int frames = ReadGIFStream(file);
  FParams->FileName = name;
  return frames;
}
int TImageLibIO::LoadGIFStream(TStream& stream) {
  QV_DEFER_COUNT(StreamFunc, stream, LoadGIFStream)
  return ReadGIFStream(stream);
}

void TImageLibIO::LoadRAWFile(const std::wstring& name) {
  QV_DEFER(Name, name, LoadRAWFile)
  RunLoadFile(ioRAW, name);
}
void TImageLibIO::LoadRAWStream(TStream& stream) {
  QV_DEFER(Stream, stream, LoadRAWStream)
  // A format from outside may have taken the suffix.
  const TImageFileType code = GetFileTypeByExtension("RAW");
  if (code != ioRAW) {
    LoadStreamAsType(stream, code);
    return;
  }
  RunLoadStream(ioRAW, stream);
}

void TImageLibIO::LoadRawBitmapFile(const std::wstring& name) {
  if (name.empty()) return;
  QV_DEFER(Name, name, LoadRawBitmapFile)
  RunLoadFile(ioBMPRAW, name);
}
void TImageLibIO::LoadRawBitmapStream(TStream& stream) {
  QV_DEFER(Stream, stream, LoadRawBitmapStream)
  RunLoadStream(ioBMPRAW, stream);
}

void TImageLibIO::LoadMetafileStream(TStream& stream, int width, bool withAlpha, int height) {
  FAborting = false;
  TFinishGuard finish{*this};
  TMetafile metafile;
  try {
    metafile.LoadFromStream(stream);
  } catch (const Exception&) {
    // Not a metafile, or a damaged header: nothing is rendered.
    FAborting = true;
    return;
  }
  RenderMetafile(&metafile, width, withAlpha, height);
  FParams->FileName.clear();
}

void TImageLibIO::LoadMetafileFile(const std::wstring& name, int width, bool withAlpha, int height) {
  if (DeferCall()) {
    TIEIOThread::CreateMetafile(this, name, width, withAlpha, height, &TImageLibIO::LoadMetafileFile);
    return;
  }
  TIEWideFileStream file(name, 0x20);
  LoadMetafileStream(file, width, withAlpha, height);
  FParams->FileName = name;
}

void TImageLibIO::LoadLayeredFile(const std::wstring& name, TImageFileType type) {
  // Layer and object files are read by the views, which are not here yet.
  FAborting = true;
  FParams->FileType = type;
  NotifyFinishWork();
}

void TImageLibIO::LoadLayeredStream(TStream& stream, TImageFileType type) { FParams->FileType = type; }

#define QV_SAVE_PAIR(Fmt, Code)                                  \
  void TImageLibIO::Save##Fmt##File(const std::wstring& name) {  \
    QV_DEFER(Name, name, Save##Fmt##File)                        \
    RunSaveFile(Code, name);                                     \
  }                                                              \
  void TImageLibIO::Save##Fmt##Stream(TStream& stream) {         \
    QV_DEFER(Stream, stream, Save##Fmt##Stream)                  \
    RunSaveStream(Code, stream);                                 \
  }
QV_SAVE_PAIR(TIFF, ioTIFF)
QV_SAVE_PAIR(GIF, ioGIF)
QV_SAVE_PAIR(JPEG, ioJPEG)
QV_SAVE_PAIR(PCX, ioPCX)
QV_SAVE_PAIR(BMP, ioBMP)
QV_SAVE_PAIR(ICO, ioICO)
QV_SAVE_PAIR(PNG, ioPNG)
QV_SAVE_PAIR(TGA, ioTGA)
QV_SAVE_PAIR(PXM, ioPXM)
QV_SAVE_PAIR(JP2, ioJP2)
QV_SAVE_PAIR(J2K, ioJ2K)
QV_SAVE_PAIR(WBMP, ioWBMP)
QV_SAVE_PAIR(PS, ioPS)
QV_SAVE_PAIR(PDF, ioPDF)
QV_SAVE_PAIR(DCX, ioDCX)
QV_SAVE_PAIR(PSD, ioPSD)
QV_SAVE_PAIR(HDP, ioHDP)
#undef QV_SAVE_PAIR
#undef QV_DEFER
#undef QV_DEFER_COUNT

// ---- by code, for the dispatch ----

bool TImageLibIO::LoadByCode(TImageFileType code, const std::wstring* name, TStream* stream) {
  const TIEFormatDescriptor* format = FindFormatDescriptor(code);
  if (format == nullptr || !(format->Access == ieaRead || format->Access == ieaReadWrite)) return false;
  // The dispatch's choice is deferred as the format's own operation would be.
  if (DeferCall()) {
    if (name != nullptr)
      TIEIOThread::CreateNameType(this, *name, code, &TImageLibIO::LoadFileByCode);
    else
      TIEIOThread::CreateStreamType(this, *stream, code, &TImageLibIO::LoadStreamByCode);
    return true;
  }
  switch (format->Frame) {
    case ieffMetafile:
      if (name != nullptr) LoadMetafileFile(*name, -1, true, -1); else LoadMetafileStream(*stream, -1, true, -1);
      return true;
    case ieffLayers:
      if (name != nullptr) LoadLayeredFile(*name, code); else LoadLayeredStream(*stream, code);
      return true;
    case ieffFilter:
      break;
  }
  // A GIF shows the frame a viewer would, composed from the frames before it.
  if (code == ioGIF) {
    if (name != nullptr) LoadGIFFile(*name); else LoadGIFStream(*stream);
    return true;
  }
  if (name != nullptr) {
    if (code == ioBMPRAW && name->empty()) return true;
    RunLoadFile(*format, *name);
  } else if (code == ioRAW) {
    LoadRAWStream(*stream);
  } else {
    RunLoadStream(*format, *stream, nullptr);
  }
  return true;
}

bool TImageLibIO::SaveByCode(TImageFileType code, const std::wstring* name, TStream* stream) {
  // The formats the component saves itself are those SaveFile chooses among.
  const TIEFormatDescriptor* format = FindFormatDescriptor(code);
  if (format == nullptr || format->SaveOrder <= 0) return false;
  if (DeferCall()) {
    if (name != nullptr)
      TIEIOThread::CreateNameType(this, *name, code, &TImageLibIO::SaveFileByCode);
    else
      TIEIOThread::CreateStreamType(this, *stream, code, &TImageLibIO::SaveStreamByCode);
    return true;
  }
  if (name != nullptr)
    RunSaveFile(*format, *name);
  else
    RunSaveStream(*format, *stream);
  return true;
}

void TImageLibIO::LoadFileByCode(const std::wstring& name, TImageFileType code) { LoadByCode(code, &name, nullptr); }
void TImageLibIO::LoadStreamByCode(TStream& stream, TImageFileType code) { LoadByCode(code, nullptr, &stream); }
void TImageLibIO::SaveFileByCode(const std::wstring& name, TImageFileType code) { SaveByCode(code, &name, nullptr); }
void TImageLibIO::SaveStreamByCode(TStream& stream, TImageFileType code) { SaveByCode(code, nullptr, &stream); }
