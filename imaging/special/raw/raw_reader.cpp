#include "imaging/special/raw/raw_reader.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_histogram_match.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/io/io_params.h"
#include "imaging/special/raw/raw_metadata.h"
#include "imaging/special/raw/raw_state.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"

namespace {

const char* const kNotRaw = "not a raw file of a known camera";
const char* const kCutShort = "raw data cut short";
const char* const kTooSmall = "the file cannot hold the picture's samples";

bool ThumbnailThere(const TIOParamsVals& p) { return p.ExifThumbnail && !p.ExifThumbnail->IsEmpty(); }

// TIFF-based raw files keep their metadata (and previews) as EXIF, which the
// library's EXIF reader turns into parameters; until it is there such files
// get no metadata pass and refuse nothing for its lack.
bool IsTIFFBased(TRawDecoderState& s) {
  uint8_t head[14];
  s.In.Seek(0);
  s.In.Read(head, 14);
  s.In.ClearShort();
  const bool order = (head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M');
  return order && std::memcmp(head + 6, "HEAPCCDR", 8) != 0;
}

void PrepareState(TRawDecoderState& s, const TIOParamsVals& p, TProgressRecord* progress) {
  ReadBits(s, -1);
  s.FreeNode = s.LeafCount = s.SecondTree = 0;
  s.Straighten = false;
  s.Gamma = float(p.RawGamma);
  s.Bright = float(p.RawBrightness);
  s.RedScale = float(p.RawRedScale);
  s.BlueScale = float(p.RawBlueScale);
  s.FourColour = p.RawFourColor;
  s.UseAutoWB = p.RawAutoWhiteBalance;
  s.UseCameraWB = p.RawCameraWhiteBalance;
  s.DocumentMode = 0;
  s.UseSecondary = 0;
  if (p.RawMatchThumbnailColors && ThumbnailThere(p)) s.Bright = 0.5f;
  s.Progress = progress;
  s.In.Seek(0);
}

// Refuses, before anything is allocated, a picture whose photosites the data
// after the offset could not hold even at the loader's tightest packing.
void CheckDataBound(TRawDecoderState& s) {
  const double available = double(std::max<int64_t>(s.In.Size() - std::max<int64_t>(s.DataOffset, 0), 0));
  const double need = double(s.Height) * double(s.Width) * RawLoaderBytesPer16(s.Loader) / 16.0;
  if (need > available) RawRefuse(kTooSmall);
}

void LoadSamples(TRawDecoderState& s, bool halfSize) {
  s.Shrink = (halfSize && s.Filters != 0) ? 1 : 0;
  s.IHeight = (s.Height + s.Shrink) >> s.Shrink;
  s.IWidth = (s.Width + s.Shrink) >> s.Shrink;
  CheckDataBound(s);
  try {
    s.Image.assign(size_t(s.IHeight * s.IWidth * 4), 0);
  } catch (const std::bad_alloc&) {
    RawOutOfMemory("ReadCameraRawStream");
  }
  s.ProgressStep = 100.0 / double(std::max<int64_t>(s.RawHeight, 1)) / 2;
  s.In.Seek(s.DataOffset);
  s.In.ClearShort();
  s.Loader(s);
  if (s.In.Short()) RawRefuse(kCutShort);
}

// The tone curve and the output rows (16-bit or 8-bit per channel).
std::unique_ptr<TIEBitmap> WriteOutput(TRawDecoderState& s, bool wide) {
  const int64_t perc = Round(double(s.Width) * double(s.Height) * (std::strcmp(s.Make, "FUJIFILM") == 0 ? 0.005 : 0.01));
  int bin = 8191;
  int64_t total = 0;
  for (; bin > 0; --bin)
    if ((total += s.Histogram[bin]) > perc) break;
  double white = bin * 16.0;
  if (white == 0) white = 1.0;
  const double scale = s.Bright * 442 / white;
  std::vector<double> tone(65536);
  tone[0] = 0;
  for (int i = 1; i < 65536; ++i) {
    tone[size_t(i)] = std::pow(2.0 * i / white, double(s.Gamma) - 1) * scale;
    if (wide) tone[size_t(i)] = tone[size_t(i)] / 255 * 65535;
  }
  const int64_t outW = s.Width - 2 * s.Trim, outH = (s.Height - 2 * s.Trim) * s.YMag;
  auto bitmap = std::make_unique<TIEBitmap>();
  const char* routine = wide ? "write_ppm16" : "write_ppm";
  if (outW <= 0 || outH <= 0 || outW > INT32_MAX || outH > INT32_MAX) RawRefuse("the picture is too small to show");
  if (!bitmap->Allocate(int(outW), int(outH), wide ? ieRGB48 : ie24RGB)) RawOutOfMemory(routine);
  std::vector<uint8_t> row;
  std::vector<uint16_t> row16;
  try {
    row.resize(size_t(outW) * 3);
    row16.resize(size_t(outW) * 3);
  } catch (const std::bad_alloc&) {
    RawOutOfMemory(routine);
  }
  const int64_t top = wide ? 65535 : 255;
  int64_t outRow = 0;
  for (int64_t r = s.Trim; r < s.Height - s.Trim; ++r) {
    for (int64_t c = s.Trim; c < s.Width - s.Trim; ++c) {
      const uint16_t* pix = s.Cell(r, c);
      const double t = tone[pix[3]];
      const size_t at = size_t(c - s.Trim) * 3;
      for (int k = 0; k < 3; ++k) {
        const int64_t v = std::min<int64_t>(Round(pix[k] * t), top);
        if (wide)
          row16[at + size_t(k)] = uint16_t(v);
        else
          row[at + size_t(k)] = uint8_t(v);
      }
    }
    for (int m = 0; m < s.YMag; ++m, ++outRow) {
      uint8_t* line = bitmap->ScanLine(int(outRow));
      if (wide)
        std::memcpy(line, row16.data(), row16.size() * 2);
      else
        CopyRGBSwapped(row.data(), line, outW);
    }
  }
  return bitmap;
}

template <int PixelBytes>
std::unique_ptr<TIEBitmap> Straighten(TIEBitmap& src) {
  const int width = src.Width(), height = src.Height();
  auto black = [](const uint8_t* p) {
    for (int i = 0; i < PixelBytes; ++i)
      if (p[i] != 0) return false;
    return true;
  };
  const uint8_t* row0 = src.ScanLine(0);
  int first = 0;
  while (first < width && black(row0 + first * PixelBytes)) ++first;
  int last = width - 1;
  while (last >= 0 && black(row0 + last * PixelBytes)) --last;
  const int end = last + 1;
  const int w = end - 1;
  const int64_t T = 2 * int64_t(width) - 2 * int64_t(first);
  const int64_t H = T - 4;
  // A black first row gives no half width: the picture stays as it is.
  if (w <= 0 || H <= 1) return nullptr;
  std::vector<uint8_t> coll(size_t(H) * size_t(w) * PixelBytes);
  auto at = [&](int64_t r, int64_t c) { return &coll[(size_t(r) * size_t(w) + size_t(c)) * PixelBytes]; };
  for (int j = 0; j < height; ++j) {
    const uint8_t* line = src.ScanLine(j);
    for (int k = 0; k < width; ++k) {
      const int64_t d = int64_t(j) + k - end + 6;
      if (d < 0 || d >= H) continue;
      const int64_t f = (int64_t(k) + w - j - 1) / 2;
      if (f < 0 || f >= w) continue;
      std::memcpy(at(d, f), line + k * PixelBytes, PixelBytes);
    }
  }
  auto out = std::make_unique<TIEBitmap>();
  if (!out->Allocate(2 * w, int(H), src.PixelFormat())) return nullptr;
  std::vector<uint8_t> buf(size_t(2 * w) * PixelBytes, 0);
  using TChannel = std::conditional_t<PixelBytes == 6, uint16_t, uint8_t>;
  constexpr int kChannels = 3;
  auto channel = [](const uint8_t* p, int c) {
    TChannel v;
    std::memcpy(&v, p + c * sizeof(TChannel), sizeof v);
    return int(v);
  };
  for (int64_t k = 1; k < H; ++k) {
    for (int64_t m = 1; m < 2 * w; ++m) {
      const uint8_t* r = at(k, m / 2);
      uint8_t* o = &buf[size_t(m) * PixelBytes];
      if ((k + m) % 2 == 0) {
        std::memcpy(o, r, PixelBytes);
      } else if (k - 1 < T - 6 && m - 1 < 2 * int64_t(w) - 2) {
        const uint8_t* side = (k & 1) ? at(k, m / 2 - 1) : at(k, m / 2 + 1);
        for (int c = 0; c < kChannels; ++c) {
          const TChannel v = TChannel((channel(at(k - 1, m / 2), c) + channel(at(k + 1, m / 2), c) + channel(r, c) +
                                       channel(side, c)) >> 2);
          std::memcpy(o + c * sizeof(TChannel), &v, sizeof v);
        }
      }
    }
    std::memcpy(out->ScanLine(int(k - 1)), buf.data(), buf.size());
  }
  // The last row has no source row of its own: it repeats the one above.
  std::memcpy(out->ScanLine(int(H - 1)), buf.data(), buf.size());
  return out;
}

// Runs identification and, unless paramsOnly, the whole decode into bitmap.
void DecodeRaw(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, bool paramsOnly, TProgressRecord& progress) {
  auto state = std::make_unique<TRawDecoderState>(stream);
  TRawDecoderState& s = *state;
  try {
    if (!IsTIFFBased(s)) ReadCIFFMetadata(s, params);
    PrepareState(s, params, &progress);
    if (IdentifyCamera(s) != 0) RawRefuse(kNotRaw);
    params.RawCamera = std::string(s.Make) + " " + s.Model + " " + s.Model2;
    params.SetDpiX(gDefaultDPIX);
    params.SetDpiY(gDefaultDPIY);
    params.FreePalette();
    params.Width = params.StoredWidth = int32_t(s.Width - 2);
    params.Height = params.StoredHeight = int32_t(s.Height - 2);
    if (!paramsOnly && bitmap != nullptr) {
      LoadSamples(s, params.RawHalfSize);
      s.Height = s.IHeight;
      s.Width = s.IWidth;
      s.QuickInterpolate = true;
      if (s.IsFoveon)
        foveon_interpolate(s);
      else
        white_balance_scale(s);
      progress.Report(70);
      if (s.Shrink) s.Filters = 0;
      s.Trim = 0;
      if (s.Filters != 0 && s.DocumentMode == 0) {
        s.Trim = 1;
        vng_interpolate(s);
      }
      convert_to_output_rgb(s);
      progress.Report(85);
      params.SetImageCount(1);
      const bool wide = params.NativePixelFormat;
      params.BitsPerSample = wide ? 16 : 8;
      params.SamplesPerPixel = 3;
      std::unique_ptr<TIEBitmap> out = WriteOutput(s, wide);
      s.Image.clear();
      s.Image.shrink_to_fit();
      progress.Report(90);
      if (s.Straighten) {
        std::unique_ptr<TIEBitmap> turned = wide ? Straighten<6>(*out) : Straighten<3>(*out);
        if (turned) out = std::move(turned);
      }
      bitmap->Assign(out.get());
      params.Width = params.StoredWidth = bitmap->Width();
      params.Height = params.StoredHeight = bitmap->Height();
    }
  } catch (const ERawRefused& r) {
    progress.Refuse(r.Reason);
  }
  if (params.RawMatchThumbnailColors && ThumbnailThere(params) && bitmap != nullptr)
    MatchHistogram(*params.ExifThumbnail, *bitmap);
  progress.Report(100);
}

}  // namespace

void ReadCameraRawStream(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, bool paramsOnly,
                         TProgressRecord& progress) {
  if (params.RawUseEmbeddedPreview) {
    params.ExifThumbnail.reset();
    params.RawUseEmbeddedPreview = false;
    const int64_t start = stream.Position();
    TProgressRecord quiet = progress;
    DecodeRaw(stream, nullptr, params, true, quiet);
    params.SetRAWUseThumbnail(true);
    if (ThumbnailThere(params)) {
      if (bitmap != nullptr && !paramsOnly) {
        bitmap->Assign(params.ExifThumbnail.get());
        params.Width = params.StoredWidth = bitmap->Width();
        params.Height = params.StoredHeight = bitmap->Height();
      }
      if (quiet.Refusal != nullptr && progress.Refusal == nullptr) progress.Refusal = quiet.Refusal;
      return;
    }
    stream.SetPosition(start);
  }
  DecodeRaw(stream, bitmap, params, paramsOnly, progress);
}

bool IsCameraRawStream(TStream& stream) {
  const int64_t start = stream.Position();
  bool result = false;
  try {
    auto state = std::make_unique<TRawDecoderState>(stream);
    ReadBits(*state, -1);
    result = IdentifyCamera(*state) == 0;
  } catch (...) {
    result = false;
  }
  stream.SetPosition(start);
  return result;
}

std::unique_ptr<TRawDecoderState> RawIdentifyAndLoad(TStream& stream, const TRawLoadOptions& options,
                                                     const char** reason) {
  auto state = std::make_unique<TRawDecoderState>(stream);
  state->FourColour = options.FourColour;
  try {
    ReadBits(*state, -1);
    if (IdentifyCamera(*state) != 0) RawRefuse(kNotRaw);
    LoadSamples(*state, options.HalfSize);
  } catch (const ERawRefused& r) {
    if (reason != nullptr) *reason = r.Reason;
    return nullptr;
  }
  return state;
}

// ---- the format ----

namespace {

void ReadCameraRawFormat(TIEFormatReadArgs& a) {
  ReadCameraRawStream(a.Stream, a.ParamsOnly ? nullptr : a.Bitmap, a.Params, a.ParamsOnly, a.Progress);
}

}  // namespace

TIEFormatDescriptor CameraRawFormat() {
  return {
      .FileType = ioRAW,
      .FullName = "Camera RAW",
      .Suffixes = "CRW;CR2;NEF;RAW;PEF;RAF;X3F;BAY;ORF;SRF;MRW;DCR;SR2",
      .Access = ieaRead,
      // Asked after every other test, the registry's own included: many
      // raw files are TIFF files, and some are only recognised by their size.
      .Probe = IsCameraRawStream,
      .ProbeOrder = kFinalProbeOrder,
      .Read = ReadCameraRawFormat,
      .ReadParams = ReadCameraRawFormat,
      .LoadOpenFailure = ieofKeepFlag,
  };
}
