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
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_target_file.h"
#include "imaging/io/jpeg_markers.h"
#include "imaging/io/exif_block.h"
#include "imaging/io/xmp_packet.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/byte_order.h"

// How one format's load differs from the common frame.
struct TImageLibIO::TLoadSpec {
  TImageFileType code = ioUnknown;
  bool fullAlpha = true;    // a returned mask becomes the alpha channel
  bool fixDPI = true;
  bool adjustDPI = true;
  bool syncView = true;
  bool syncViewByNameOnly = false;
  bool resetMetadata = true;
  // What a file that cannot be opened leaves: 'a' Aborting set and finish
  // notified, 'b' Aborting set without notification, 'c' Aborting unchanged.
  char open = 'a';
  // Calls the filter; false when its slot is empty.
  bool (*read)(TImageLibIO& io, TStream& stream, TIEBitmap& bitmap, TProgressRecord& progress, TIEMaskOut& mask,
               bool fromStream) = nullptr;
};

// How one format's save differs from the common frame.
struct TImageLibIO::TSaveSpec {
  TImageFileType code = ioUnknown;
  bool convert = false;  // the writer gets a 24-bit copy unless the picture is ie24RGB or ie1g
  bool keep8g = false;   // ie8g is kept too
  bool alphaMask = false;
  char open = 'a';       // 'a', 'b', 'c' as for loads; 'd' Aborting cleared and finish notified
  bool (*write)(TImageLibIO& io, TStream& stream, TIEBitmap& bitmap, TIEMask* mask, TProgressRecord& progress,
                bool toStream) = nullptr;
};

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

// ---- readers ----

bool ReadTIFF(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut& mask, bool fromStream) {
  const auto& slot = IEFilters().ReadTIFFStream;
  if (!slot) return false;
  const bool header = fromStream && io.StreamHeaders;
  TStreamHeader h;
  if (header) {
    h = ReadHeader(s);
    if (!h.present || h.tag != "TIFF") {
      pr.Abort();
      return true;
    }
  }
  int pages = 0;
  {
    TIEBufferedReadStream buffered(&s, 8192, true);
    slot(&bmp, buffered, pages, io.Params(), pr, false, mask, !header, false, false, false, false);
  }
  if (header) s.SetPosition(h.start + kHeaderSize + h.length);
  io.Params().TiffImageCount = pages;
  return true;
}

bool ReadJPEG(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool fromStream) {
  const auto& slot = IEFilters().ReadJpegStream;
  if (!slot) return false;
  TIOParamsVals& p = io.Params();
  if (!fromStream) {
    TIEBufferedReadStream buffered(&s, 65536, true);
    slot(buffered, nullptr, &bmp, p.NativePixelFormat, -1, true, true, false, true, false, false, pr, p);
    return true;
  }
  // A stream may carry the 12-byte header; without its tag the data is read plainly.
  TStreamHeader h = ReadHeader(s);
  const bool headed = h.present && h.tag == "JFIF";
  if (!headed) s.SetPosition(h.start);
  slot(s, nullptr, &bmp, p.NativePixelFormat, -1, true, true, false, true, false, false, pr, p);
  if (headed) s.SetPosition(h.start + kHeaderSize + h.length);
  return true;
}

bool ReadPCX(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool fromStream) {
  const auto& slot = IEFilters().ReadPCXStream;
  if (!slot) return false;
  if (!(fromStream && io.StreamHeaders)) {
    slot(s, bmp, io.Params(), false, pr, std::max<int64_t>(0, s.Size() - s.Position()));
    return true;
  }
  TStreamHeader h = ReadHeader(s);
  if (!h.present || h.tag.compare(0, 3, "PCX") != 0) {
    pr.Abort();
    return true;
  }
  if (h.tag == "PCX2") {
    slot(s, bmp, io.Params(), false, pr, h.length);
    s.SetPosition(h.start + kHeaderSize + h.length);
  } else {
    // The older 4-byte "PCX" header: the data runs to the end of the stream.
    s.SetPosition(h.start + 4);
    slot(s, bmp, io.Params(), false, pr, std::max<int64_t>(0, s.Size() - s.Position()));
  }
  return true;
}

bool ReadBMP(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut& mask, bool) {
  const auto& slot = IEFilters().ReadBMPStream;
  if (!slot) return false;
  slot(s, bmp, 0, io.Params(), pr, false, false, mask, !io.Params().BmpAlphaChannel);
  return true;
}

bool ReadICO(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut& mask, bool) {
  const auto& slot = IEFilters().ReadICOStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), false, pr, mask, false);
  return true;
}

bool ReadCUR(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut& mask, bool) {
  const auto& slot = IEFilters().ReadCURStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), false, pr, mask, false);
  return true;
}

bool ReadPNG(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool) {
  const auto& slot = IEFilters().ReadPNGStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), false, pr);
  const TRGB c = io.Params().PngBackground;
  io.SetBackground(uint32_t(c.r) | uint32_t(c.g) << 8 | uint32_t(c.b) << 16);
  return true;
}

bool ReadTGA(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut& mask, bool) {
  const auto& slot = IEFilters().ReadTGAStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr, false, mask, false);
  return true;
}

bool ReadPXM(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool) {
  const auto& slot = IEFilters().ReadPXMStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr, false);
  return true;
}

bool ReadJ2000(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool) {
  const auto& slot = IEFilters().ReadJ2000Stream;
  if (!slot) return false;
  slot(s, &bmp, io.Params(), false, pr);
  return true;
}

bool ReadWBMP(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool) {
  const auto& slot = IEFilters().ReadWBMPStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr, false);
  return true;
}

bool ReadDCX(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool) {
  const auto& slot = IEFilters().ReadDCXStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), false, pr);
  return true;
}

bool ReadRAW(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool) {
  const auto& slot = IEFilters().ReadCameraRawStream;
  if (!slot) return false;
  slot(s, &bmp, io.Params(), false, pr);
  return true;
}

bool ReadRawPixels(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool) {
  const auto& slot = IEFilters().ReadRawPixelStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr);
  return true;
}

bool ReadPSD(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool) {
  const auto& slot = IEFilters().ReadPSDStream;
  if (!slot) return false;
  // Layers go to a view's layer list; without one the merged picture is read.
  slot(s, &bmp, io.Params(), nullptr, false, pr);
  return true;
}

bool ReadDICOM(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool) {
  const auto& slot = IEFilters().ReadDICOMStream;
  if (!slot) return false;
  slot(s, &bmp, io.Params(), false, pr);
  return true;
}

bool ReadHDP(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TProgressRecord& pr, TIEMaskOut&, bool) {
  const auto& slot = IEFilters().ReadHDPhotoStream;
  if (!slot) return false;
  slot(s, &bmp, io.Params(), false, pr);
  return true;
}

// ---- writers ----

bool WriteTIFF(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool toStream) {
  const auto& slot = IEFilters().WriteTIFFStream;
  if (!slot) return false;
  const bool header = toStream && io.StreamHeaders;
  const int64_t start = s.Position();
  if (header) WritePlaceholder(s);
  slot(s, false, &bmp, pr, io.Params());
  // A failed write keeps the placeholder, so the data is never taken for a picture.
  if (header && !pr.Aborted()) WriteHeader(s, start, "TIFF");
  return true;
}

bool WriteGIF(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WriteGIFStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr);
  return true;
}

bool WriteJPEG(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool toStream) {
  const auto& slot = IEFilters().WriteJpegStream;
  if (!slot) return false;
  io.RebuildJPEGMarkersForSave();
  const bool header = toStream && io.StreamHeaders;
  const int64_t start = s.Position();
  if (header) WritePlaceholder(s);
  slot(s, bmp, io.Params(), pr);
  if (header && !pr.Aborted()) WriteHeader(s, start, "JFIF");
  return true;
}

bool WritePCX(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool toStream) {
  const auto& slot = IEFilters().WritePCXStream;
  if (!slot) return false;
  const bool header = toStream && io.StreamHeaders;
  const int64_t start = s.Position();
  if (header) WritePlaceholder(s);
  slot(s, bmp, io.Params(), pr);
  if (header && !pr.Aborted()) WriteHeader(s, start, "PCX2");
  return true;
}

bool WriteBMP(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WriteBMPStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr, io.Params().BmpAlphaChannel);
  return true;
}

bool WriteICO(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WriteICOStream;
  if (!slot) return false;
  TIOParamsVals& p = io.Params();
  std::vector<std::pair<int, int>> sizes;
  std::vector<int> bitCounts;
  for (int i = 0; i < 16 && p.IcoSizes[i].Width > 0; ++i) {
    sizes.emplace_back(p.IcoSizes[i].Width, p.IcoSizes[i].Height);
    bitCounts.push_back(p.IcoBitCounts[i]);
  }
  slot(s, bmp, p, pr, sizes, bitCounts);
  return true;
}

bool WritePNG(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask* mask, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WritePNGStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), mask, pr);
  return true;
}

bool WriteTGA(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask* mask, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WriteTGAStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr, mask);
  return true;
}

bool WritePXM(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WritePXMStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr);
  return true;
}

bool WriteJP2(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WriteJ2000Stream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), 0, pr);
  return true;
}

bool WriteJ2K(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WriteJ2000Stream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), 1, pr);
  return true;
}

bool WriteWBMP(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WriteWBMPStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr);
  return true;
}

bool WritePS(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WritePSStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr);
  return true;
}

bool WritePDF(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WritePDFStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr);
  return true;
}

bool WriteDCX(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool toStream) {
  const auto& slot = IEFilters().WriteDCXStream;
  if (!slot) return false;
  // A single-page DCX from here on: what the stream held before the DCX stays.
  if (toStream) s.SetSize(s.Position());
  slot(s, bmp, io.Params(), pr);
  return true;
}

bool WritePSD(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WritePSDStream;
  if (!slot) return false;
  slot(s, io.Params(), pr, nullptr, &bmp);
  return true;
}

bool WriteHDP(TImageLibIO& io, TStream& s, TIEBitmap& bmp, TIEMask*, TProgressRecord& pr, bool) {
  const auto& slot = IEFilters().WriteHDPhotoStream;
  if (!slot) return false;
  slot(s, bmp, io.Params(), pr);
  return true;
}

}  // namespace

// The tables of the per-format operations, by code.
struct TIOFormatTable {
  using L = TImageLibIO::TLoadSpec;
  using S = TImageLibIO::TSaveSpec;
  //            code       A      D      J      V      Vname  M     open read
  static constexpr L kTIFF{ioTIFF, true, true, true, true, false, true, 'c', ReadTIFF};
  static constexpr L kJPEG{ioJPEG, false, true, true, true, false, true, 'a', ReadJPEG};
  static constexpr L kPCX{ioPCX, false, true, true, true, false, true, 'c', ReadPCX};
  static constexpr L kBMP{ioBMP, true, true, true, true, false, true, 'c', ReadBMP};
  static constexpr L kICO{ioICO, true, true, true, true, false, true, 'b', ReadICO};
  static constexpr L kCUR{ioCUR, true, true, true, true, false, true, 'b', ReadCUR};
  static constexpr L kPNG{ioPNG, false, true, true, true, false, true, 'a', ReadPNG};
  static constexpr L kTGA{ioTGA, true, true, true, true, true, true, 'a', ReadTGA};
  static constexpr L kPXM{ioPXM, false, true, true, false, false, true, 'a', ReadPXM};
  static constexpr L kJP2{ioJP2, false, true, true, true, false, true, 'a', ReadJ2000};
  static constexpr L kJ2K{ioJ2K, false, true, true, true, false, true, 'a', ReadJ2000};
  static constexpr L kWBMP{ioWBMP, false, true, false, false, false, true, 'a', ReadWBMP};
  static constexpr L kDCX{ioDCX, false, true, true, true, false, true, 'c', ReadDCX};
  static constexpr L kRAW{ioRAW, false, true, true, true, false, true, 'c', ReadRAW};
  static constexpr L kRawPixels{ioBMPRAW, false, false, false, false, false, true, 'c', ReadRawPixels};
  static constexpr L kPSD{ioPSD, false, true, true, true, false, true, 'c', ReadPSD};
  static constexpr L kDICOM{ioDICOM, false, false, false, false, false, true, 'a', ReadDICOM};
  static constexpr L kHDP{ioHDP, false, true, true, true, false, true, 'c', ReadHDP};

  //            code     convert keep8g alpha  open write
  static constexpr S sTIFF{ioTIFF, false, false, false, 'a', WriteTIFF};
  static constexpr S sGIF{ioGIF, false, false, false, 'a', WriteGIF};
  static constexpr S sJPEG{ioJPEG, true, false, false, 'd', WriteJPEG};
  static constexpr S sPCX{ioPCX, true, false, false, 'a', WritePCX};
  static constexpr S sBMP{ioBMP, false, false, false, 'b', WriteBMP};
  static constexpr S sICO{ioICO, true, false, false, 'a', WriteICO};
  static constexpr S sPNG{ioPNG, false, false, true, 'a', WritePNG};
  static constexpr S sTGA{ioTGA, true, false, true, 'a', WriteTGA};
  static constexpr S sPXMFile{ioPXM, true, true, false, 'a', WritePXM};
  static constexpr S sPXMStream{ioPXM, true, false, false, 'a', WritePXM};
  static constexpr S sJP2{ioJP2, true, false, false, 'a', WriteJP2};
  static constexpr S sJ2K{ioJ2K, true, false, false, 'a', WriteJ2K};
  static constexpr S sWBMP{ioWBMP, true, false, false, 'a', WriteWBMP};
  static constexpr S sPS{ioPS, true, false, false, 'c', WritePS};
  static constexpr S sPDF{ioPDF, true, false, false, 'c', WritePDF};
  static constexpr S sDCX{ioDCX, false, false, false, 'b', WriteDCX};
  static constexpr S sPSD{ioPSD, false, false, false, 'b', WritePSD};
  static constexpr S sHDP{ioHDP, false, false, false, 'b', WriteHDP};
};

// ---- the load frame ----

void TImageLibIO::LoadBody(const TLoadSpec& spec, TStream& stream, const std::wstring* fileName) {
  TProgressRecord progress = MakeProgress();
  FIEBitmap->RemoveAlphaChannel(false);
  TIEMaskOut mask;
  try {
    if (!spec.read(*this, stream, *FIEBitmap, progress, mask, fileName == nullptr)) FAborting = true;
  } catch (const std::exception&) {
    // A filter that raises has failed like one that sets the flag.
    FAborting = true;
  }
  if (mask && spec.fullAlpha) FIEBitmap->AlphaChannel()->CopyFromMask(mask.get());
  mask.reset();
  if (spec.fixDPI) FixDefaultDPI();
  if (spec.adjustDPI && AutoAdjustDPI) AdjustDPI();
  FParams->FileName = fileName != nullptr ? *fileName : std::wstring();
  FParams->FileType = spec.code;
  if (spec.syncView && (!spec.syncViewByNameOnly || fileName != nullptr)) SyncViewDPI();
  UpdateAttached();
}

void TImageLibIO::RunLoadStream(const TLoadSpec& spec, TStream& stream, const std::wstring* fileName) {
  FAborting = false;
  if (!PrepareBitmap()) {
    NotifyFinishWork();
    return;
  }
  TFinishGuard finish{*this};
  if (spec.resetMetadata) FParams->ResetMetadata();
  LoadBody(spec, stream, fileName);
}

void TImageLibIO::RunLoadFile(const TLoadSpec& spec, const std::wstring& name) {
  if (spec.open == 'c' || spec.open == 'b') {
    if (spec.open == 'b') FAborting = true;
    TIEWideFileStream file(name, 0x20);
    RunLoadStream(spec, file, &name);
    return;
  }
  FAborting = true;
  if (!PrepareBitmap()) {
    NotifyFinishWork();
    return;
  }
  TFinishGuard finish{*this};
  if (spec.resetMetadata) FParams->ResetMetadata();
  TIEWideFileStream file(name, 0x20);
  FAborting = false;
  LoadBody(spec, file, &name);
}

// ---- the save frame ----

void TImageLibIO::SaveBody(const TSaveSpec& spec, TStream& stream, bool toStream) {
  std::unique_ptr<TIEBitmap> converted;
  TIEBitmap* bitmap = spec.convert ? WriterBitmap(converted, spec.keep8g) : FIEBitmap;
  if (bitmap == nullptr) {
    FAborting = true;
    return;
  }
  std::unique_ptr<TIEMask> mask;
  if (spec.alphaMask && FIEBitmap->HasAlphaChannel()) {
    mask = std::make_unique<TIEMask>();
    CopyBitmapToMask(*FIEBitmap->AlphaChannel(), *mask);
  }
  TProgressRecord progress = MakeProgress();
  try {
    if (!spec.write(*this, stream, *bitmap, mask.get(), progress, toStream)) FAborting = true;
  } catch (const std::exception&) {
    FAborting = true;
  }
}

void TImageLibIO::RunSaveStream(const TSaveSpec& spec, TStream& stream) {
  FAborting = false;
  if (!PrepareBitmap()) {
    NotifyFinishWork();
    return;
  }
  TFinishGuard finish{*this};
  SaveBody(spec, stream, true);
}

void TImageLibIO::RunSaveFile(const TSaveSpec& spec, const std::wstring& name) {
  FAborting = true;
  // Without a picture nothing is written and nothing is replaced.
  if (!PrepareBitmap()) {
    NotifyFinishWork();
    return;
  }
  std::unique_ptr<TIETargetFile> target;
  {
    TFinishGuard finish{*this, spec.open == 'a' || spec.open == 'd'};
    try {
      target = std::make_unique<TIETargetFile>(name);
    } catch (...) {
      if (spec.open == 'd') FAborting = false;
      throw;
    }
    finish.armed = false;
  }
  TFinishGuard finish{*this};
  FAborting = false;
  SaveBody(spec, target->Stream(), false);
  FParams->FileName = name;
  FParams->FileType = spec.code;
  if (FAborting || !target->Commit()) {
    target->Discard();
    FAborting = true;
  }
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
  const uint32_t size = uint32_t(data[p]) << 24 | uint32_t(data[p + 1]) << 16 | uint32_t(data[p + 2]) << 8 | data[p + 3];
  p += 4;
  if (size < 16 || p + 16 > length) return;
  auto put32 = [&](int64_t at, uint32_t v) {
    data[at] = uint8_t(v >> 24);
    data[at + 1] = uint8_t(v >> 16);
    data[at + 2] = uint8_t(v >> 8);
    data[at + 3] = uint8_t(v);
  };
  auto put16 = [&](int64_t at, uint16_t v) {
    data[at] = uint8_t(v >> 8);
    data[at + 1] = uint8_t(v);
  };
  // 16.16 fixed point: 300 DPI is 01 2C 00 00.
  put32(p, uint32_t(FParams->DpiX) << 16);
  put16(p + 4, 1);
  put16(p + 6, 1);
  put32(p + 8, uint32_t(FParams->DpiY) << 16);
  put16(p + 12, 1);
  put16(p + 14, 1);
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

#define QV_LOAD_PAIR(Name, Spec)                                                                          \
  void TImageLibIO::Load##Name##File(const std::wstring& name) { RunLoadFile(TIOFormatTable::Spec, name); } \
  void TImageLibIO::Load##Name##Stream(TStream& stream) { RunLoadStream(TIOFormatTable::Spec, stream, nullptr); }
QV_LOAD_PAIR(JPEG, kJPEG)
QV_LOAD_PAIR(PCX, kPCX)
QV_LOAD_PAIR(BMP, kBMP)
QV_LOAD_PAIR(ICO, kICO)
QV_LOAD_PAIR(CUR, kCUR)
QV_LOAD_PAIR(TGA, kTGA)
QV_LOAD_PAIR(PXM, kPXM)
QV_LOAD_PAIR(JP2, kJP2)
QV_LOAD_PAIR(J2K, kJ2K)
QV_LOAD_PAIR(WBMP, kWBMP)
QV_LOAD_PAIR(DCX, kDCX)
QV_LOAD_PAIR(PSD, kPSD)
QV_LOAD_PAIR(DICOM, kDICOM)
QV_LOAD_PAIR(HDP, kHDP)
#undef QV_LOAD_PAIR

int TImageLibIO::LoadTIFFFile(const std::wstring& name) {
  RunLoadFile(TIOFormatTable::kTIFF, name);
  return FParams->TiffImageCount;
}
int TImageLibIO::LoadTIFFStream(TStream& stream) {
  RunLoadStream(TIOFormatTable::kTIFF, stream, nullptr);
  return FParams->TiffImageCount;
}
int TImageLibIO::LoadGIFFile(const std::wstring& name) {
  TIEWideFileStream file(name, 0x20);
  const int frames = ReadGIFStream(file);
  FParams->FileName = name;
  return frames;
}
int TImageLibIO::LoadGIFStream(TStream& stream) { return ReadGIFStream(stream); }

void TImageLibIO::LoadPNGFile(const std::wstring& name) {
  // The reader's default background is ours.
  const uint32_t c = Background();
  FParams->PngBackground = MakeRGB(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16));
  RunLoadFile(TIOFormatTable::kPNG, name);
}
void TImageLibIO::LoadPNGStream(TStream& stream) { RunLoadStream(TIOFormatTable::kPNG, stream, nullptr); }

void TImageLibIO::LoadRAWFile(const std::wstring& name) { RunLoadFile(TIOFormatTable::kRAW, name); }
void TImageLibIO::LoadRAWStream(TStream& stream) {
  // A format from outside may have taken the suffix.
  const TImageFileType code = GetFileTypeByExtension("RAW");
  if (code != ioRAW) {
    LoadStreamAsType(stream, code);
    return;
  }
  RunLoadStream(TIOFormatTable::kRAW, stream, nullptr);
}

void TImageLibIO::LoadRawBitmapFile(const std::wstring& name) {
  if (name.empty()) return;
  RunLoadFile(TIOFormatTable::kRawPixels, name);
}
void TImageLibIO::LoadRawBitmapStream(TStream& stream) { RunLoadStream(TIOFormatTable::kRawPixels, stream, nullptr); }

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

#define QV_SAVE_PAIR(Name, FileSpec, StreamSpec)                                                               \
  void TImageLibIO::Save##Name##File(const std::wstring& name) { RunSaveFile(TIOFormatTable::FileSpec, name); } \
  void TImageLibIO::Save##Name##Stream(TStream& stream) { RunSaveStream(TIOFormatTable::StreamSpec, stream); }
QV_SAVE_PAIR(TIFF, sTIFF, sTIFF)
QV_SAVE_PAIR(GIF, sGIF, sGIF)
QV_SAVE_PAIR(JPEG, sJPEG, sJPEG)
QV_SAVE_PAIR(PCX, sPCX, sPCX)
QV_SAVE_PAIR(BMP, sBMP, sBMP)
QV_SAVE_PAIR(ICO, sICO, sICO)
QV_SAVE_PAIR(PNG, sPNG, sPNG)
QV_SAVE_PAIR(TGA, sTGA, sTGA)
QV_SAVE_PAIR(PXM, sPXMFile, sPXMStream)
QV_SAVE_PAIR(JP2, sJP2, sJP2)
QV_SAVE_PAIR(J2K, sJ2K, sJ2K)
QV_SAVE_PAIR(WBMP, sWBMP, sWBMP)
QV_SAVE_PAIR(PS, sPS, sPS)
QV_SAVE_PAIR(PDF, sPDF, sPDF)
QV_SAVE_PAIR(DCX, sDCX, sDCX)
QV_SAVE_PAIR(PSD, sPSD, sPSD)
QV_SAVE_PAIR(HDP, sHDP, sHDP)
#undef QV_SAVE_PAIR

// ---- by code, for the dispatch ----

bool TImageLibIO::LoadByCode(TImageFileType code, const std::wstring* name, TStream* stream) {
  using T = TIOFormatTable;
  const TLoadSpec* spec = nullptr;
  switch (code) {
    case ioTIFF: spec = &T::kTIFF; break;
    case ioGIF:
      if (name != nullptr) LoadGIFFile(*name); else LoadGIFStream(*stream);
      return true;
    case ioJPEG: spec = &T::kJPEG; break;
    case ioPCX: spec = &T::kPCX; break;
    case ioBMP: spec = &T::kBMP; break;
    case ioICO: spec = &T::kICO; break;
    case ioCUR: spec = &T::kCUR; break;
    case ioTGA: spec = &T::kTGA; break;
    case ioPXM: spec = &T::kPXM; break;
    case ioJP2: spec = &T::kJP2; break;
    case ioJ2K: spec = &T::kJ2K; break;
    case ioWBMP: spec = &T::kWBMP; break;
    case ioDCX: spec = &T::kDCX; break;
    case ioBMPRAW: spec = &T::kRawPixels; break;
    case ioPSD: spec = &T::kPSD; break;
    case ioDICOM: spec = &T::kDICOM; break;
    case ioHDP: spec = &T::kHDP; break;
    case ioPNG:
      if (name != nullptr) LoadPNGFile(*name); else LoadPNGStream(*stream);
      return true;
    case ioRAW:
      if (name != nullptr) LoadRAWFile(*name); else LoadRAWStream(*stream);
      return true;
    case ioWMF:
    case ioEMF:
      if (name != nullptr) LoadMetafileFile(*name, -1, true, -1); else LoadMetafileStream(*stream, -1, true, -1);
      return true;
    case ioIEV:
    case ioLYR:
    case ioALL:
      if (name != nullptr) LoadLayeredFile(*name, code); else LoadLayeredStream(*stream, code);
      return true;
    default:
      return false;
  }
  if (name != nullptr) {
    if (code == ioBMPRAW && name->empty()) return true;
    RunLoadFile(*spec, *name);
  } else {
    RunLoadStream(*spec, *stream, nullptr);
  }
  return true;
}

bool TImageLibIO::SaveByCode(TImageFileType code, const std::wstring* name, TStream* stream) {
  using T = TIOFormatTable;
  const TSaveSpec* spec = nullptr;
  switch (code) {
    case ioTIFF: spec = &T::sTIFF; break;
    case ioGIF: spec = &T::sGIF; break;
    case ioJPEG: spec = &T::sJPEG; break;
    case ioPCX: spec = &T::sPCX; break;
    case ioBMP: spec = &T::sBMP; break;
    case ioICO: spec = &T::sICO; break;
    case ioPNG: spec = &T::sPNG; break;
    case ioTGA: spec = &T::sTGA; break;
    case ioPXM: spec = name != nullptr ? &T::sPXMFile : &T::sPXMStream; break;
    case ioJP2: spec = &T::sJP2; break;
    case ioJ2K: spec = &T::sJ2K; break;
    case ioWBMP: spec = &T::sWBMP; break;
    case ioPS: spec = &T::sPS; break;
    case ioPDF: spec = &T::sPDF; break;
    case ioDCX: spec = &T::sDCX; break;
    case ioPSD: spec = &T::sPSD; break;
    case ioHDP: spec = &T::sHDP; break;
    default: return false;
  }
  if (name != nullptr)
    RunSaveFile(*spec, *name);
  else
    RunSaveStream(*spec, *stream);
  return true;
}
