#include "imaging/formats/jpeg_filter.h"

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_icc.h"
#include "imaging/core/ie_orientation.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/io/data_bound.h"
#include "imaging/io/ie_filters.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "imaging/io/jpeg_markers.h"
#include "imaging/io/xmp_packet.h"
#include "platform/rtl/byte_order.h"
#include "platform/rtl/streams.h"
#include "imaging/io/format_descriptor.h"

namespace {

constexpr size_t kJpegBufferSize = 65536;

// The codec's error record, with what the reader needs to leave it: the flag
// to set and the place to jump back to. No C++ object with a destructor lives
// between the setjmp and the codec calls it guards.
struct TJpegError {
  jpeg_error_mgr pub;
  TProgressRecord* progress = nullptr;
  jmp_buf jump;
  int warnings = 0;
  int lastWarning = 0;
  // The entropy decoder needed bits that the data did not have: what it gives
  // from there on is made up, not read.
  bool dataRanOut = false;
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  if (err->progress) err->progress->Refuse(kRefusedByCodec);
  longjmp(err->jump, 1);
}

void JpegEmitMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  if (level == -1) {
    ++err->warnings;
    err->lastWarning = cinfo->err->msg_code;
    if (cinfo->err->msg_code == JWRN_HIT_MARKER) err->dataRanOut = true;
  }
}

void JpegOutputMessage(j_common_ptr) {}

struct TJpegSource {
  jpeg_source_mgr pub;
  TStream* stream = nullptr;
  TProgressRecord* progress = nullptr;
  bool startOfFile = true;
  JOCTET buffer[kJpegBufferSize];
};

void InitSource(j_decompress_ptr cinfo) { reinterpret_cast<TJpegSource*>(cinfo->src)->startOfFile = true; }

boolean FillInput(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<TJpegSource*>(cinfo->src);
  int64_t got = 0;
  try {
    got = src->stream->Read(src->buffer, int64_t(kJpegBufferSize));
  } catch (...) {
    got = 0;
  }
  if (got <= 0) {
    // Nothing at all is an error; an early end becomes an EOI and a warning.
    if (src->startOfFile && src->progress) src->progress->Abort();
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    got = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = size_t(got);
  src->startOfFile = false;
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<TJpegSource*>(cinfo->src);
  if (count <= 0) return;
  while (size_t(count) > src->pub.bytes_in_buffer) {
    count -= long(src->pub.bytes_in_buffer);
    FillInput(cinfo);
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= size_t(count);
}

void TermSource(j_decompress_ptr) {}

void BindSource(j_decompress_ptr cinfo, TJpegSource& src, TStream& stream) {
  src.pub.init_source = InitSource;
  src.pub.fill_input_buffer = FillInput;
  src.pub.skip_input_data = SkipInput;
  src.pub.resync_to_restart = jpeg_resync_to_restart;
  src.pub.term_source = TermSource;
  src.pub.bytes_in_buffer = 0;
  src.pub.next_input_byte = nullptr;
  src.stream = &stream;
  cinfo->src = &src.pub;
}

// Values outside the three leave the codec's own default.
void SetDctMethod(J_DCT_METHOD& method, TIOJpegDctMethod wanted) {
  switch (wanted) {
    case jdmAccurateInteger: method = JDCT_ISLOW; break;
    case jdmFastInteger: method = JDCT_IFAST; break;
    case jdmFloatingPoint: method = JDCT_FLOAT; break;
  }
}

// Everything the guarded part of a read needs, made before its setjmp.
struct TJpegRead {
  jpeg_decompress_struct cinfo;
  TJpegError err;
  TJpegSource source;
  std::vector<uint8_t> row;
  TIEBitmap* bitmap = nullptr;
  TIOParamsVals* params = nullptr;
  TProgressRecord* progress = nullptr;
  bool native = false, invertCMYK = false, rawYCbCr = false, paramsOnly = false;
  int64_t dataBytes = 0;  // from the start of the picture to the end of the stream
  int linesToRead = -1;
  int rows = 0;
  bool rgbStored = false;
  bool readAll = false;  // every row decoded, the decompression still to finish
  bool finished = false;
  // Rows go through the picture's profile (or the default one) when the
  // library's reader colour management is on.
  bool colorManaged = false;
  TIERowProfiles profiles;
};

void SwapRedBlue(uint8_t* row, int width) {
  for (int x = 0; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
}

// The guarded decode: returns false after a codec error.
bool DecodeGuarded(TJpegRead& r, TStream* tables, TStream& stream) {
  j_decompress_ptr cinfo = &r.cinfo;
  TIOParamsVals& params = *r.params;
  TProgressRecord& progress = *r.progress;
  if (setjmp(r.err.jump)) return false;
  if (tables && tables != &stream && !r.paramsOnly) {
    BindSource(cinfo, r.source, *tables);
    jpeg_read_header(cinfo, FALSE);
  }
  BindSource(cinfo, r.source, stream);
  if (progress.Aborted()) return false;
  jpeg_save_markers(cinfo, JPEG_COM, 0xFFFF);
  for (int m = 0; m < 16; ++m) jpeg_save_markers(cinfo, JPEG_APP0 + m, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  if (progress.Aborted()) return false;

  params.SetImageCount(1);
  params.BitsPerSample = 8;
  cinfo->out_color_space = cinfo->jpeg_color_space;
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE: params.JpegColorSpace = jcsGrey, params.SamplesPerPixel = 1; break;
    case JCS_RGB:
      params.JpegColorSpace = jcsRGB, params.SamplesPerPixel = 3;
      r.rgbStored = true;
      break;
    case JCS_YCbCr:
      params.JpegColorSpace = jcsYCbCr, params.SamplesPerPixel = 3;
      cinfo->out_color_space = JCS_EXT_BGR;
      break;
    case JCS_CMYK: params.JpegColorSpace = jcsCMYK, params.SamplesPerPixel = 4; break;
    case JCS_YCCK:
      params.JpegColorSpace = jcsYCCK, params.SamplesPerPixel = 4;
      cinfo->out_color_space = JCS_CMYK;
      break;
    default:
      // Two components, or more than four: nothing this reader can show.
      progress.Refuse("a colour space that is not shown");
      return false;
  }
  if (r.rawYCbCr) cinfo->out_color_space = JCS_YCbCr;
  SetDctMethod(cinfo->dct_method, params.JpegDctMethod);

  if (cinfo->density_unit == 0 || cinfo->density_unit == 1) {
    params.SetDpiX(cinfo->X_density);
    params.SetDpiY(cinfo->Y_density);
  } else if (cinfo->density_unit == 2) {
    params.SetDpiX(int(cinfo->X_density * 2.54));
    params.SetDpiY(int(cinfo->Y_density * 2.54));
  }
  params.FreePalette();
  params.JpegProgressive = jpeg_has_multiple_scans(cinfo) != 0;
  params.StoredWidth = int32_t(cinfo->image_width);
  params.StoredHeight = int32_t(cinfo->image_height);

  int denom = 1;
  switch (params.JpegScale) {
    case jscAuto:
      if (params.Width > 0 && params.Height > 0) {
        for (int n = 3; n >= 0; --n) {
          if (int64_t(cinfo->image_width >> n) >= params.Width && int64_t(cinfo->image_height >> n) >= params.Height) {
            denom = 1 << n;
            break;
          }
        }
      }
      break;
    case jscHalf: denom = 2; break;
    case jscQuarter: denom = 4; break;
    case jscEighth: denom = 8; break;
    default: denom = 1; break;
  }
  cinfo->scale_num = 1;
  cinfo->scale_denom = unsigned(denom);
  params.JpegScaleUsed = denom;

  if (r.paramsOnly) {
    params.Width = int32_t(cinfo->image_width);
    params.Height = int32_t(cinfo->image_height);
    return true;
  }
  // Before the codec sizes its buffers (a progressive picture's coefficients
  // are held whole): a few bytes claiming a huge picture are refused.
  if (!PictureFitsData(cinfo->image_width, cinfo->image_height, r.dataBytes, kRatioJpeg, progress)) return false;
  jpeg_start_decompress(cinfo);
  if (progress.Aborted()) return false;
  const int w = int(cinfo->output_width), h = int(cinfo->output_height);
  params.Width = w;
  params.Height = h;
  const J_COLOR_SPACE out = cinfo->out_color_space;
  TIEBitmapFormat format = ie24RGB;
  if (r.native) {
    if (out == JCS_GRAYSCALE) format = ie8g;
    else if (out == JCS_CMYK) format = ieCMYK;
  }
  TIEBitmap& bitmap = *r.bitmap;
  if (!bitmap.Allocate(w, h, format)) {
    progress.Refuse(kRefusedNoMemory);
    return false;
  }
  r.row.resize(size_t(w) * 4 + 16);  // std::vector never throws across the codec: the size is small
  int lines = r.linesToRead < 0 ? h : r.linesToRead;
  int last = -1;
  while (int(cinfo->output_scanline) < h && r.rows < lines && !progress.Aborted() && !r.err.dataRanOut) {
    const int y = int(cinfo->output_scanline);
    uint8_t* dest = bitmap.ScanLine(y);
    JSAMPROW target = dest;
    const bool colour = out == JCS_RGB || out == JCS_EXT_BGR;
    const bool viaBuffer = (out == JCS_GRAYSCALE && format != ie8g) || (out == JCS_CMYK && format != ieCMYK) ||
                           (colour && r.colorManaged);
    if (viaBuffer) target = r.row.data();
    const int got = int(jpeg_read_scanlines(cinfo, &target, 1));
    if (out == JCS_GRAYSCALE && format != ie8g) {
      for (int x = 0; x < w; ++x) dest[3 * x] = dest[3 * x + 1] = dest[3 * x + 2] = r.row[size_t(x)];
    } else if (out == JCS_CMYK) {
      uint8_t* px = format == ieCMYK ? dest : r.row.data();
      if (r.invertCMYK)
        for (int i = 0; i < 4 * w; ++i) px[i] = uint8_t(255 - px[i]);
      if (format != ieCMYK) ConvertRowColorSpace(r.row.data(), kIccInvCMYK, dest, &r.profiles, w, kIccBGR);
    } else if (colour && r.colorManaged) {
      ConvertRowColorSpace(r.row.data(), r.rgbStored ? kIccRGB : kIccBGR, dest, &r.profiles, w, kIccBGR);
    } else if (r.rgbStored && (out == JCS_RGB || out == JCS_YCbCr)) {
      SwapRedBlue(dest, w);
    }
    r.rows += got;
    progress.Counter += got;
    if (progress.ProgressEvent && h > 0) {
      const int per = int(int64_t(r.rows) * 100 / h);
      if (per != last) {
        last = per;
        progress.Report(per);
      }
    }
  }
  // A stream that ended early stops the picture where its data stopped; the
  // rows the codec would make up are not taken for the picture's.
  if (r.err.dataRanOut && r.rows < h) {
    ClearBitmapRows(bitmap, r.rows > 0 ? r.rows - 1 : 0, h);
    progress.Refuse(kRefusedRowsCut);
  }
  if (r.rows < lines) progress.Refuse(kRefusedRowsCut);
  r.readAll = !progress.Aborted() && int(cinfo->output_scanline) >= h;
  return true;
}

// Finishing frees the codec's saved markers with the rest of the picture's
// memory: the caller takes them before.
bool FinishGuarded(TJpegRead& r) {
  if (setjmp(r.err.jump)) return false;
  jpeg_finish_decompress(&r.cinfo);
  r.finished = true;
  return true;
}

void KeepMarkers(TJpegRead& r) {
  TIOParamsVals& params = *r.params;
  if (!params.JpegMarkers) params.JpegMarkers = std::make_unique<TIEMarkerList>();
  params.JpegMarkers->Clear();
  bool firstApp0 = true;
  for (jpeg_saved_marker_ptr m = r.cinfo.marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 && firstApp0) {
      firstApp0 = false;
      continue;
    }
    params.JpegMarkers->AddMarker(m->marker, m->data, int64_t(m->data_length));
  }
}

// A JFIF density of 1 by 1 says nothing: the EXIF resolution, when there is
// one, gives the DPI instead.
void TakeExifResolution(TIOParamsVals& params, int32_t dpiX, int32_t dpiY) {
  if (dpiX != 1 || dpiY != 1) {
    params.SetDpiX(dpiX);
    params.SetDpiY(dpiY);
    return;
  }
  const double f = params.ExifResolutionUnit == 3 ? 2.54 : 1;
  const double x = params.ExifXResolution * f, y = params.ExifYResolution * f;
  // An EXIF block without a usable resolution leaves the DPI as the header gave them.
  if (!(x >= 1 && y >= 1 && x < INT32_MAX && y < INT32_MAX)) {
    params.SetDpiX(dpiX);
    params.SetDpiY(dpiY);
    return;
  }
  params.SetDpiX(int32_t(x));
  params.SetDpiY(int32_t(y));
}

void ReadMetadataMarkers(TIOParamsVals& params, TIEBitmap* bitmap, bool decoded) {
  TIEMarkerList& list = *params.JpegMarkers;
  for (int i = 0; i < list.Count(); ++i) {
    if (list.MarkerType(i) != 0xED) continue;
    if (!params.IptcInfo) params.IptcInfo = std::make_unique<TIEIPTCInfoList>();
    if (params.IptcInfo->LoadFromBuffer(list.MarkerData(i), list.MarkerLength(i))) break;
  }
  const auto& parseExif = IEFilters().ParseEXIFMarker;
  if (parseExif) {
    const int32_t dpiX = params.DpiX, dpiY = params.DpiY;
    for (int i = 0; i < list.Count(); ++i) {
      if (list.MarkerType(i) != 0xE1 || !parseExif(list.MarkerData(i), list.MarkerLength(i), params)) continue;
      TakeExifResolution(params, dpiX, dpiY);
      if (params.JpegApplyOrientation && decoded && bitmap && !bitmap->IsEmpty()) {
        ApplyExifOrientation(*bitmap, params.ExifOrientation);
        params.SetEXIFOrientation(1);
        params.Width = bitmap->Width();
        params.Height = bitmap->Height();
      }
      break;
    }
  }
  for (int i = 0; i < list.Count(); ++i) {
    if (list.MarkerType(i) != 0xE1) continue;
    if (FindXMPPacket(list.MarkerData(i), list.MarkerLength(i))) {
      ParseXMPMarker(list.MarkerData(i), list.MarkerLength(i), params);
      break;
    }
  }
}

bool ReadBytes(TStream& s, uint8_t* p, int64_t n) { return s.Read(p, n) == n; }

}  // namespace

namespace {

// A parameters-only read parses the EXIF block, which may carry a thumbnail;
// when it does the thumbnail is the picture and nothing is decoded. Either way
// the stream goes back to where this read began, not to its start: the JPEG
// may stand anywhere in it.
bool ReadExifThumbnail(TStream& stream, TStream* tablesStream, TIEBitmap& bitmap, const TJpegReadOptions& options,
                       TProgressRecord& progress, TIOParamsVals& params) {
  int64_t begin = 0;
  try {
    begin = stream.Position();
  } catch (...) {
    return false;
  }
  params.ExifThumbnail.reset();
  params.SetUseEXIFThumbnail(false);
  const int32_t askedWidth = params.Width, askedHeight = params.Height;
  TJpegReadOptions markersOnly = options;
  markersOnly.NativeFormat = params.NativePixelFormat;
  markersOnly.LinesToRead = -1;
  markersOnly.ReadICC = false;
  markersOnly.ReadMetadata = true;
  markersOnly.ParamsOnly = true;
  ReadJpegStream(stream, tablesStream, &bitmap, markersOnly, progress, params);
  params.SetUseEXIFThumbnail(true);
  try {
    stream.SetPosition(begin);
    if (params.ExifThumbnail && !params.ExifThumbnail->IsEmpty()) {
      bitmap.Assign(params.ExifThumbnail.get());
      return true;
    }
  } catch (...) {
    progress.Abort();
    return true;
  }
  params.Width = params.StoredWidth = askedWidth;
  params.Height = params.StoredHeight = askedHeight;
  return false;
}

}  // namespace

int64_t FindJpegStart(TStream& stream, bool search) {
  const int64_t start = stream.Position();
  int64_t found = -1;
  uint8_t b[3];
  for (int64_t p = start; p < start + (search ? 150 : 1); ++p) {
    stream.SetPosition(p);
    if (!ReadBytes(stream, b, 3)) break;
    if (b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) {
      found = p;
      break;
    }
  }
  stream.SetPosition(start);
  return found;
}

int64_t GetJpegStreamLength(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t b = 0;
  int64_t end = -1;
  while (ReadBytes(stream, &b, 1)) {
    if (b != 0xFF) continue;
    if (!ReadBytes(stream, &b, 1)) break;
    if (b == 0xD9) {
      end = stream.Position();
      break;
    }
    if ((b >= 0xC0 && b <= 0xCF) || (b >= 0xDA && b <= 0xFE)) {
      uint8_t l[2];
      if (!ReadBytes(stream, l, 2)) break;
      const int len = ReadBE16(l);
      // A length below 2 would step back for ever: the data ends here.
      if (len < 2) break;
      stream.Seek(len - 2, soCurrent);
      if (stream.Position() > stream.Size()) break;
    }
  }
  if (end < 0) end = std::min(stream.Position(), stream.Size());
  stream.SetPosition(start);
  return end - start;
}

void ReadJpegICCProfile(TStream& stream, TIOParamsVals& params) {
  const int64_t start = stream.Position();
  std::vector<std::vector<uint8_t>> slots;
  int expected = -1, read = 0;
  try {
    uint8_t b = 0;
    while (ReadBytes(stream, &b, 1)) {
      if (b != 0xFF) continue;
      if (!ReadBytes(stream, &b, 1)) break;
      const uint8_t m = b;
      if (m <= 0xBF || (m >= 0xD0 && m <= 0xD8) || m == 0xFF) {
        if (m == 0xFF) stream.Seek(-1, soCurrent);
        continue;
      }
      const bool skip = m == 0xC4 || m == 0xC8 || m == 0xCC || (m >= 0xDA && m <= 0xE1) || m >= 0xE3;
      if (!skip && m != 0xE2) break;
      uint8_t l[2];
      if (!ReadBytes(stream, l, 2)) break;
      const int len = ReadBE16(l);
      if (len < 2) break;  // would never move on
      if (skip) {
        stream.Seek(len - 2, soCurrent);
        if (stream.Position() > stream.Size()) break;
        continue;
      }
      std::vector<uint8_t> seg(size_t(len - 2));
      if (!ReadBytes(stream, seg.data(), len - 2)) break;
      // Too short for the chunk header, or a sequence number outside 1..count: passed over.
      if (seg.size() < 14 || std::memcmp(seg.data(), "ICC_PROFILE", 12) != 0) continue;
      const int s = seg[12], c = seg[13];
      if (s < 1 || s > c) continue;
      if (int(slots.size()) < c) slots.resize(size_t(c));
      slots[size_t(s - 1)].assign(seg.begin() + 14, seg.end());
      expected = c;
      if (++read >= expected) break;
    }
  } catch (...) {
  }
  std::vector<uint8_t> profile;
  for (const auto& s : slots) profile.insert(profile.end(), s.begin(), s.end());
  if (!profile.empty()) {
    if (TIEICC* icc = params.GetInputICC()) icc->LoadFromBuffer(profile.data(), int64_t(profile.size()));
  }
  stream.SetPosition(start);
}

int32_t ReadJpegStream(TStream& stream, TStream* tablesStream, TIEBitmap* bitmap, const TJpegReadOptions& options,
                       TProgressRecord& progress, TIOParamsVals& params) {
  if (params.JpegUseExifThumbnail && bitmap && ReadExifThumbnail(stream, tablesStream, *bitmap, options, progress, params))
    return 0;
  params.JpegWarningCount = 0;
  params.JpegLastWarning = 0;
  const bool paramsOnly = options.ParamsOnly || !bitmap;
  try {
    const int64_t at = FindJpegStart(stream);
    if (at < 0) {
      progress.Refuse("no start of image");
      return 0;
    }
    stream.SetPosition(at);
    if (options.ReadICC) ReadJpegICCProfile(stream, params);
    auto r = std::make_unique<TJpegRead>();
    r->bitmap = bitmap;
    r->params = &params;
    r->progress = &progress;
    r->native = options.NativeFormat;
    r->invertCMYK = options.InvertCMYK;
    r->rawYCbCr = options.RawYCbCr;
    r->paramsOnly = paramsOnly;
    r->dataBytes = stream.Size() - at;
    r->linesToRead = options.LinesToRead;
    r->colorManaged = ReaderProfileManagement;
    if (r->colorManaged) r->profiles = {params.InputICC.get(), params.DefaultInputICC.get(), params.GetOutputICC()};
    r->source.progress = &progress;
    r->cinfo.err = jpeg_std_error(&r->err.pub);
    r->err.pub.error_exit = JpegErrorExit;
    r->err.pub.emit_message = JpegEmitMessage;
    r->err.pub.output_message = JpegOutputMessage;
    r->err.progress = &progress;
    jpeg_create_decompress(&r->cinfo);
    r->row.reserve(bitmap ? 16 : 0);
    const bool ok = DecodeGuarded(*r, tablesStream, stream);
    if (!ok) progress.Abort();
    KeepMarkers(*r);
    // Pixels that went through the picture's profile no longer need it: it is
    // marked applied and its markers are not written again.
    if (options.ApplyICC && r->colorManaged && params.InputICC && params.InputICC->HasTransform()) {
      params.InputICC->FreeTransform();
      params.JpegMarkers->DeleteType(0xE2);
    }
    if (r->readAll && !FinishGuarded(*r)) progress.Abort();
    if (!r->finished) jpeg_abort_decompress(&r->cinfo);
    // The codec reads ahead in whole buffers: give back what it did not use.
    const int64_t unused = int64_t(r->source.pub.bytes_in_buffer);
    if (r->cinfo.src == &r->source.pub && unused > 0 && r->source.stream == &stream)
      stream.Seek(-unused, soCurrent);
    jpeg_destroy_decompress(&r->cinfo);
    params.JpegWarningCount = r->err.warnings;
    params.JpegLastWarning = r->err.lastWarning;
    if (options.ReadMetadata) ReadMetadataMarkers(params, bitmap, !paramsOnly && r->rows > 0);
    return r->rows;
  } catch (...) {
    progress.Abort();
    return 0;
  }
}

namespace {

struct TJpegDest {
  jpeg_destination_mgr pub;
  TStream* stream = nullptr;
  TProgressRecord* progress = nullptr;
  JOCTET buffer[kJpegBufferSize];
};

void DestWrite(TJpegDest* d, size_t n) {
  int64_t put = 0;
  try {
    put = d->stream->Write(d->buffer, int64_t(n));
  } catch (...) {
    put = -1;
  }
  if (put != int64_t(n)) d->progress->Abort();
}

void InitDest(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TJpegDest*>(cinfo->dest);
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = kJpegBufferSize;
}

boolean EmptyDest(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TJpegDest*>(cinfo->dest);
  DestWrite(d, kJpegBufferSize);
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = kJpegBufferSize;
  return TRUE;
}

void TermDest(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TJpegDest*>(cinfo->dest);
  const size_t n = kJpegBufferSize - d->pub.free_in_buffer;
  if (n > 0) DestWrite(d, n);
}

struct TJpegWrite {
  jpeg_compress_struct cinfo;
  TJpegError err;
  TJpegDest dest;
  std::vector<uint8_t> row;
};

// The codec's text for a message code with each placeholder standing as "?";
// its notice and version give nothing, a code outside its table "Corrupted".
std::string JpegMessageText(const jpeg_error_mgr& err) {
  const int code = err.msg_code;
  if (code == JMSG_COPYRIGHT || code == JMSG_VERSION) return {};
  if (!err.jpeg_message_table || code < 0 || code > err.last_jpeg_message || !err.jpeg_message_table[code])
    return "Corrupted";
  std::string text;
  for (const char* p = err.jpeg_message_table[code]; *p; ++p) {
    if (*p != '%') {
      text += *p;
    } else if (p[1] == '%') {
      text += '%';
      ++p;
    } else {
      // Flags, width, precision and length up to the conversion letter.
      while (p[1] && !std::isalpha(uint8_t(p[1]))) ++p;
      while (p[1] && (p[1] == 'l' || p[1] == 'h')) ++p;
      if (p[1]) ++p;
      text += '?';
    }
  }
  return text;
}

void WriteErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  if (err->progress) err->progress->Abort();
  longjmp(err->jump, 1);
}

bool EncodeGuarded(TJpegWrite& w, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  j_compress_ptr cinfo = &w.cinfo;
  if (setjmp(w.err.jump)) return false;
  const int width = bitmap.Width(), height = bitmap.Height();
  cinfo->dest = &w.dest.pub;
  w.dest.pub.init_destination = InitDest;
  w.dest.pub.empty_output_buffer = EmptyDest;
  w.dest.pub.term_destination = TermDest;
  cinfo->image_width = JDIMENSION(width);
  cinfo->image_height = JDIMENSION(height);
  J_COLOR_SPACE space = JCS_RGB;
  bool cmyk = false;
  switch (params.JpegColorSpace) {
    case jcsGrey: space = JCS_GRAYSCALE; break;
    case jcsYCbCr: space = JCS_YCbCr; break;
    case jcsCMYK: space = JCS_CMYK, cmyk = true; break;
    case jcsYCCK: space = JCS_YCCK, cmyk = true; break;
    default: space = JCS_RGB; break;
  }
  cinfo->in_color_space = cmyk ? JCS_CMYK : (space == JCS_RGB ? JCS_RGB : JCS_EXT_BGR);
  cinfo->input_components = cmyk ? 4 : 3;
  jpeg_set_defaults(cinfo);
  jpeg_set_colorspace(cinfo, space);
  cinfo->density_unit = 1;
  cinfo->X_density = UINT16(params.DpiX != 0 ? params.DpiX : gDefaultDPIX);
  cinfo->Y_density = UINT16(params.DpiY != 0 ? params.DpiY : gDefaultDPIY);
  SetDctMethod(cinfo->dct_method, params.JpegDctMethod);
  cinfo->optimize_coding = params.JpegOptimalHuffman ? TRUE : FALSE;
  cinfo->smoothing_factor = params.JpegSmoothing;
  jpeg_set_quality(cinfo, params.JpegQuality, TRUE);
  if (space == JCS_YCbCr) {
    const int h[3] = {2, 2, 1}, v[3] = {1, 2, 1};
    if (params.JpegChromaSubsampling <= 2) {
      cinfo->comp_info[0].h_samp_factor = h[params.JpegChromaSubsampling];
      cinfo->comp_info[0].v_samp_factor = v[params.JpegChromaSubsampling];
      for (int c = 1; c < 3; ++c) cinfo->comp_info[c].h_samp_factor = cinfo->comp_info[c].v_samp_factor = 1;
    }
  }
  if (space == JCS_CMYK) cinfo->write_JFIF_header = TRUE;
  if (params.JpegProgressive) jpeg_simple_progression(cinfo);
  jpeg_start_compress(cinfo, TRUE);
  if (TIEICC* icc = params.GetInputICC(); icc && icc->IsValid() && !icc->Applied()) AddJpegICCMarkers(params);
  if (params.JpegMarkers) {
    TIEMarkerList& list = *params.JpegMarkers;
    list.Sort();
    for (int i = 0; i < list.Count(); ++i) {
      if (list.MarkerType(i) == 0xEE) continue;  // the codec writes its own Adobe marker
      jpeg_write_marker(cinfo, list.MarkerType(i), list.MarkerData(i), unsigned(list.MarkerLength(i)));
    }
  }
  int last = -1;
  while (int(cinfo->next_scanline) < height && !progress.Aborted()) {
    const int y = int(cinfo->next_scanline);
    JSAMPROW src = bitmap.ScanLine(y);
    if (cmyk) {
      ConvertRowColorSpace(src, 1, w.row.data(), nullptr, width, 2);
      src = w.row.data();
    } else if (space == JCS_RGB) {
      std::memcpy(w.row.data(), src, size_t(width) * 3);
      SwapRedBlue(w.row.data(), width);
      src = w.row.data();
    }
    jpeg_write_scanlines(cinfo, &src, 1);
    ++progress.Counter;
    if (progress.ProgressEvent) {
      const int per = int(int64_t(y + 1) * 100 / height);
      if (per != last) {
        last = per;
        progress.Report(per);
      }
    }
  }
  if (!progress.Aborted()) jpeg_finish_compress(cinfo);
  return true;
}

}  // namespace

void AddJpegICCMarkers(TIOParamsVals& params) {
  if (!params.JpegMarkers) params.JpegMarkers = std::make_unique<TIEMarkerList>();
  params.JpegMarkers->DeleteType(0xE2);
  TIEICC* icc = params.GetInputICC();
  if (!icc) return;
  const std::vector<uint8_t>& raw = icc->Raw();
  const size_t n = (raw.size() + 31999) / 32000;
  if (n == 0 || n > 255) return;
  for (size_t i = 0; i < n; ++i) {
    const size_t take = std::min<size_t>(32000, raw.size() - i * 32000);
    std::vector<uint8_t> chunk = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, uint8_t(i + 1), uint8_t(n)};
    chunk.insert(chunk.end(), raw.begin() + long(i * 32000), raw.begin() + long(i * 32000 + take));
    params.JpegMarkers->AddMarker(0xE2, chunk.data(), int64_t(chunk.size()));
  }
}

void WriteJpegStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  if (bitmap.IsEmpty() || bitmap.Width() <= 0 || bitmap.Height() <= 0) return progress.Abort();
  std::unique_ptr<TIEBitmap> copy;
  TIEBitmap* src = &bitmap;
  if (bitmap.PixelFormat() != ie24RGB) {
    copy = TIEBitmap::CreateCopy(bitmap);
    copy->SetPixelFormat(ie24RGB);
    src = copy.get();
  }
  auto w = std::make_unique<TJpegWrite>();
  w->row.resize(size_t(src->Width()) * 4 + 16);
  w->cinfo.err = jpeg_std_error(&w->err.pub);
  w->err.pub.error_exit = WriteErrorExit;
  w->err.pub.emit_message = JpegEmitMessage;
  w->err.pub.output_message = JpegOutputMessage;
  w->err.progress = &progress;
  w->dest.stream = &stream;
  w->dest.progress = &progress;
  jpeg_create_compress(&w->cinfo);
  const bool ok = EncodeGuarded(*w, *src, params, progress);
  const std::string message = ok ? std::string() : JpegMessageText(w->err.pub);
  jpeg_destroy_compress(&w->cinfo);
  if (!ok) throw EIEJpegException(message);
}

// ---- the format ----

namespace {

void ReadJpegFormat(TIEFormatReadArgs& a) {
  // A load takes the colour profile and the metadata and converts to the
  // working format; a parameters-only read decodes no pixels.
  TJpegReadOptions options;
  options.NativeFormat = a.Params.NativePixelFormat;
  options.ParamsOnly = a.ParamsOnly;
  ReadJpegStream(a.Stream, nullptr, a.ParamsOnly ? nullptr : a.Bitmap, options, a.Progress, a.Params);
}

void WriteJpegFormat(TIEFormatWriteArgs& a) { WriteJpegStream(a.Stream, a.Bitmap, a.Params, a.Progress); }

// A JPEG may follow a little junk: the start of image is searched for.
bool ProbeJpeg(TStream& stream) { return FindJpegStart(stream, true) >= 0; }

}  // namespace

TIEFormatDescriptor JPEGFormat() {
  return {
      .FileType = ioJPEG,
      .FullName = "JPEG Bitmap",
      .Suffixes = "JPG;JPEG;JPE;JIF",
      .Access = ieaReadWrite,
      .DialogPage = iedpJPEG,
      .Probe = ProbeJpeg,
      .ProbeOrder = kLateProbeOrder,
      .Read = ReadJpegFormat,
      .ReadParams = ReadJpegFormat,
      .Write = WriteJpegFormat,
      .FileReadBuffer = 65536,
      .SaveOptions = {iesConvert24, iesJpegMarkers},
      .SaveOpenFailure = ieofClearAndNotify,
      .SaveOrder = 10,
      .SaveSuffixes = "JPG;JPEG;JPE;JIF",
      .StreamTag = "JFIF",
      .StreamHeaderRead = iehrOptional,
  };
}
