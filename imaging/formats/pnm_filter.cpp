#include "imaging/formats/pnm_filter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_icc.h"
#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_utils.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/byte_order.h"
#include "platform/rtl/streams.h"
#include "imaging/io/format_descriptor.h"

namespace {

// How far the probe looks: a header never needs more.
constexpr int64_t kProbeWindow = 64 * 1024;
constexpr int kProbeTokens = 501;

// A sign belongs to its number: "-1" must not read as 1.
bool IsTokenChar(uint8_t c) {
  return c == '-' || c == '+' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A byte source: the plain stream (one Read a byte) or the reader's buffer.
struct TStreamBytes {
  TStream& s;
  bool Get(uint8_t& b) { return s.Read(&b, 1) == 1; }
};
struct TBufferedBytes {
  TIEBufferedReadStream& s;
  bool Get(uint8_t& b) { return s.ReadByte(b); }
};

template <class Src>
void NextToken(Src& src, std::string& token, size_t maxLength) {
  token.clear();
  uint8_t c = 0;
  for (;;) {
    if (!src.Get(c)) return;
    if (IsTokenChar(c)) break;
    if (c == '#') {
      std::string text;
      while (src.Get(c) && c != '\n' && c != '\r')
        if (text.size() < maxLength) text.push_back(char(c));
      token = "#" + TrimString(text);
      return;
    }
  }
  do {
    if (token.size() < maxLength) token.push_back(char(c));
  } while (src.Get(c) && IsTokenChar(c));
}

struct THeader {
  std::string magic;
  int32_t width = -1, height = -1, maxValue = -1;
};

constexpr const char* kRefusedMagic = "a magic word that is not an anymap's";

bool HasMaximum(const std::string& magic) { return magic != "P1" && magic != "P4"; }
bool KnownMagic(const std::string& m) { return m.size() == 2 && m[0] == 'P' && m[1] >= '1' && m[1] <= '6'; }

// v of at most maxValue (larger values clamp) scaled to 0..top, exactly
// Trunc(v / maxValue * top).
inline uint32_t Scale(uint32_t v, uint32_t maxValue, uint32_t top) {
  if (v > maxValue) v = maxValue;
  return uint32_t(uint64_t(v) * top / maxValue);
}

class TReader {
public:
  TReader(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress)
      : FIn(&stream, 65536), FBytes{FIn}, FBitmap(bitmap), FParams(params), FProgress(progress) {}

  void Run(bool paramsOnly) {
    FParams.PxmComments.Clear();
    if (const char* refusal = ReadHeader()) return FProgress.Refuse(refusal);
    const std::string& m = FHead.magic;
    const int w = FHead.width, h = FHead.height, mx = FHead.maxValue;
    FParams.FreePalette();
    FParams.Width = FParams.StoredWidth = w;
    FParams.Height = FParams.StoredHeight = h;
    FParams.SetDpiX(gDefaultDPIX);
    FParams.SetDpiY(gDefaultDPIY);
    FProgress.Step = 100.0 / h;
    const bool wide = HasMaximum(m) && mx > 255;
    FParams.BitsPerSample = (m == "P1" || m == "P4") ? 1 : wide ? 16 : 8;
    FParams.SamplesPerPixel = (m == "P3" || m == "P6") ? 3 : 1;
    if (paramsOnly) return;

    const int64_t left = FIn.Size() - FIn.Position();
    const int64_t pixels = int64_t(w) * h;
    const int64_t sampleBytes = wide ? 2 : 1;
    int64_t needed = 0;
    TIEBitmapFormat format = ie24RGB;
    const bool native = FParams.NativePixelFormat;
    switch (m[1]) {
      case '1': needed = pixels, format = ie1g; break;                     // a character a pixel at least
      case '2': needed = pixels; break;                                    // a digit a sample at least
      case '3': needed = 3 * pixels; break;
      case '4': needed = (int64_t(w) + 7) / 8 * h, format = ie1g; break;
      case '5': needed = pixels * sampleBytes, format = wide && native ? ie16g : ie24RGB; break;
      case '6': needed = 3 * pixels * sampleBytes, format = wide && native ? ieRGB48 : ie24RGB; break;
    }
    if (!DataCanFill(needed, left)) return FProgress.Refuse(kRefusedUnfilled);
    if (!FBitmap.Allocate(w, h, format)) return FProgress.Refuse(kRefusedNoMemory);
    switch (m[1]) {
      case '1': ReadP1(); break;
      case '2':
      case '3': ReadAsciiSamples(m[1] == '3' ? 3 : 1); break;
      default: ReadBinary(m[1] - '0', wide, format); break;
    }
  }

  int64_t Position() { return FIn.Position(); }

private:
  // Null when the header is sound, else why it is refused.
  const char* ReadHeader() {
    int fields = 0;  // magic, width, height, maximum
    std::string t;
    while (FIn.Position() < FIn.Size()) {
      NextToken(FBytes, t, kPXMTokenLimit);
      if (t.empty()) break;
      if (t[0] == '#') {
        FParams.PxmComments.Add(t.substr(1));
        continue;
      }
      switch (fields++) {
        case 0: FHead.magic = t; break;
        case 1: FHead.width = StringToIntDefault(t, -1); break;
        case 2: FHead.height = StringToIntDefault(t, -1); break;
        case 3: FHead.maxValue = StringToIntDefault(t, -1); break;
      }
      if (fields == 1 && !KnownMagic(t)) return kRefusedMagic;
      if (fields == (HasMaximum(FHead.magic) ? 4 : 3)) break;
    }
    if (!KnownMagic(FHead.magic)) return kRefusedMagic;
    if (FHead.width <= 0 || FHead.height <= 0) return "a side that is missing or not a positive number";
    // A missing or zero maximum would divide by zero; above 65535 no sample fits two bytes.
    if (HasMaximum(FHead.magic) && (FHead.maxValue <= 0 || FHead.maxValue > 65535))
      return "a maximum that is missing or outside 1..65535";
    return nullptr;
  }

  void Row(int y) {
    ++FProgress.Counter;
    FRows.Row(y + 1);
  }

  // The data ended inside row y: the rows read stay, the rest is cleared.
  void Short(int y) {
    ClearBitmapRows(FBitmap, y, FBitmap.Height());
    FProgress.Refuse(kRefusedRowsCut);
  }

  void ReadP1() {
    const int w = FHead.width, h = FHead.height;
    const int64_t rowBytes = (int64_t(w) + 7) / 8;
    for (int y = 0; y < h; ++y) {
      uint8_t* row = FBitmap.ScanLine(y);
      std::memset(row, 0, size_t(rowBytes));
      for (int x = 0; x < w;) {
        uint8_t c;
        if (!FIn.ReadByte(c)) {
          // The pixels of the last row that were read stay too.
          return Short(y + 1);
        }
        if (c == '#') {
          while (FIn.ReadByte(c) && c != '\n' && c != '\r') {
          }
          continue;
        }
        if (c != '0' && c != '1') continue;
        if (c == '0') row[x >> 3] |= uint8_t(0x80 >> (x & 7));  // 0 is white, the set bit of ie1g
        ++x;
      }
      if (y + 1 < h) Row(y);
      if (FProgress.Aborted()) return;
    }
  }

  void ReadAsciiSamples(int samples) {
    const int w = FHead.width, h = FHead.height;
    const uint32_t mx = uint32_t(FHead.maxValue);
    std::string t;
    for (int y = 0; y < h; ++y) {
      uint8_t* row = FBitmap.ScanLine(y);
      std::memset(row, 0, size_t(FBitmap.RowLen()));
      for (int x = 0; x < w; ++x) {
        uint8_t v[3] = {0, 0, 0};
        for (int s = 0; s < samples; ++s) {
          do NextToken(FBytes, t, kPXMTokenLimit);
          while (!t.empty() && t[0] == '#');
          if (t.empty()) return Short(y + 1);
          const int32_t n = StringToIntDefault(t, 0);
          v[s] = uint8_t(Scale(uint32_t(std::max(n, 0)), mx, 255));
        }
        uint8_t* p = row + 3 * int64_t(x);
        if (samples == 1) {
          p[0] = p[1] = p[2] = v[0];
        } else {
          p[0] = v[2], p[1] = v[1], p[2] = v[0];
        }
      }
      Row(y);
      if (FProgress.Aborted()) return;
    }
  }

  void ReadBinary(int kind, bool wide, TIEBitmapFormat format) {
    const int w = FHead.width, h = FHead.height;
    const uint32_t mx = uint32_t(FHead.maxValue);
    const int samples = kind == 6 ? 3 : 1;
    const int64_t rowBytes = kind == 4 ? (int64_t(w) + 7) / 8 : int64_t(w) * samples * (wide ? 2 : 1);
    std::vector<uint8_t> raw(static_cast<size_t>(rowBytes));
    for (int y = 0; y < h; ++y) {
      if (FIn.Read(raw.data(), rowBytes) != rowBytes) return Short(y);
      uint8_t* row = FBitmap.ScanLine(y);
      if (kind == 4) {
        for (int64_t i = 0; i < rowBytes; ++i) row[i] = uint8_t(~raw[size_t(i)]);
      } else if (!wide) {
        const bool scale = mx != 255;
        for (int x = 0; x < w; ++x) {
          uint8_t* p = row + 3 * int64_t(x);
          const uint8_t* s = raw.data() + int64_t(x) * samples;
          uint8_t c[3];
          for (int k = 0; k < samples; ++k) c[k] = scale ? uint8_t(Scale(s[k], mx, 255)) : s[k];
          if (samples == 1) p[0] = p[1] = p[2] = c[0];
          else p[0] = c[2], p[1] = c[1], p[2] = c[0];
        }
      } else if (format == ie16g || format == ieRGB48) {
        auto* d = reinterpret_cast<uint16_t*>(row);
        for (int64_t i = 0; i < int64_t(w) * samples; ++i) {
          const uint32_t v = ReadBE16(raw.data() + 2 * i);
          d[i] = uint16_t(Scale(v, mx, 65535));
        }
      } else {
        for (int x = 0; x < w; ++x) {
          uint8_t* p = row + 3 * int64_t(x);
          const uint8_t* s = raw.data() + int64_t(x) * samples * 2;
          uint8_t c[3];
          for (int k = 0; k < samples; ++k) c[k] = uint8_t(Scale(ReadBE16(s + 2 * k), mx, 255));
          if (samples == 1) p[0] = p[1] = p[2] = c[0];
          else p[0] = c[2], p[1] = c[1], p[2] = c[0];
        }
      }
      Row(y);
      if (FProgress.Aborted()) return;
    }
  }

  TIEBufferedReadStream FIn;
  TBufferedBytes FBytes;
  TIEBitmap& FBitmap;
  TIOParamsVals& FParams;
  TProgressRecord& FProgress;
  TFilterRowProgress FRows{FProgress};
  THeader FHead;
};

// ---- writing ----

std::string CommentText(TIOParamsVals& params) {
  std::string c;
  for (int i = 0; i < params.PxmComments.Count(); ++i) c += "\n# " + params.PxmComments[i] + "\n";
  return c;
}

void WriteBody(TStream& stream, TIEBitmap& source, TIOParamsVals& params, TProgressRecord& progress) {
  if (source.IsEmpty() || source.Width() <= 0 || source.Height() <= 0) return progress.Abort();
  const TIEBitmapFormat f = source.PixelFormat();
  const int bps = params.BitsPerSample, spp = params.SamplesPerPixel;
  enum { kP4, kP5, kP6Wide, kP6Wide48, kP6 } kind;
  if ((bps == 1 && spp == 1) || f == ie1g) kind = kP4;
  else if (bps == 8 && spp == 1) kind = kP5;
  else if (bps == 16 && spp == 3 && f == ie24RGB) kind = kP6Wide;
  else if (f == ieRGB48) kind = kP6Wide48;
  else if ((bps == 8 && spp == 3) || f == ie24RGB) kind = kP6;
  else return progress.Abort();  // no anymap of that kind

  // The rows come from the source when it has the form the output needs,
  // otherwise from a converted copy.
  TIEBitmap* work = &source;
  std::unique_ptr<TIEBitmap> copy;
  auto convert = [&](TIEBitmapFormat to) {
    copy = TIEBitmap::CreateCopy(source);
    copy->SetPixelFormat(to);
    work = copy.get();
    return copy->PixelFormat() == to;
  };
  if (kind == kP4 && f != ie1g && !convert(ie1g)) return progress.Abort();
  if (kind == kP5 && f != ie24RGB && f != ie8g && !convert(ie24RGB)) return progress.Abort();
  if (kind == kP6 && f != ie24RGB && !convert(ie24RGB)) return progress.Abort();

  const int width = work->Width(), height = work->Height();
  static const char* const kMagic[] = {"P4 ", "P5 ", "P6 ", "P6 ", "P6 "};
  static const char* const kMax[] = {"", " 255", " 65535", " 65535", " 255"};
  const std::string header = std::string(kMagic[kind]) + CommentText(params) + std::to_string(width) + " " +
                             std::to_string(height) + kMax[kind] + "\n";
  TFilterWriter w{stream, progress};
  w.Put(header.data(), int64_t(header.size()));

  const int64_t outBytes = kind == kP4 ? (int64_t(width) + 7) / 8
                           : kind == kP5 ? width
                           : kind == kP6 ? 3 * int64_t(width)
                                         : 6 * int64_t(width);
  std::vector<uint8_t> out(static_cast<size_t>(outBytes));
  TIERowProfiles profiles{params.InputICC.get(), params.DefaultInputICC.get(), params.OutputICC.get()};
  progress.Step = 100.0 / height;
  TFilterRowProgress rp{progress};
  for (int y = 0; y < height && !progress.Aborted(); ++y) {
    const uint8_t* src = work->ScanLine(y);
    switch (kind) {
      case kP4:
        for (int64_t i = 0; i < outBytes; ++i) out[size_t(i)] = uint8_t(~src[i]);
        break;
      case kP5:
        if (work->PixelFormat() == ie8g) std::memcpy(out.data(), src, size_t(width));
        else ConvertRowColorSpace(src, kIccBGR, out.data(), &profiles, width, kIccGray);
        break;
      case kP6Wide:
        for (int x = 0; x < width; ++x)
          for (int k = 0; k < 3; ++k) {
            const uint8_t v = src[3 * int64_t(x) + 2 - k];
            out[6 * size_t(x) + 2 * k] = out[6 * size_t(x) + 2 * k + 1] = v;  // v x 257
          }
        break;
      case kP6Wide48: {
        const auto* s = reinterpret_cast<const uint16_t*>(src);
        for (int64_t i = 0; i < 3 * int64_t(width); ++i) {
          WriteBE16(out.data() + 2 * i, s[i]);
        }
        break;
      }
      case kP6:
        for (int x = 0; x < width; ++x) {
          out[3 * size_t(x)] = src[3 * int64_t(x) + 2];
          out[3 * size_t(x) + 1] = src[3 * int64_t(x) + 1];
          out[3 * size_t(x) + 2] = src[3 * int64_t(x)];
        }
        break;
    }
    w.Put(out.data(), outBytes);
    ++progress.Counter;
    rp.Row(y + 1);
  }
}

}  // namespace

void ReadPXMToken(TStream& stream, std::string& token, size_t maxLength) {
  TStreamBytes src{stream};
  NextToken(src, token, maxLength);
}

bool IsPXMStream(TStream& stream) {
  const int64_t start = stream.Position();
  std::vector<uint8_t> window(size_t(std::clamp<int64_t>(stream.Size() - start, 0, kProbeWindow)));
  const int64_t got = window.empty() ? 0 : stream.Read(window.data(), int64_t(window.size()));
  stream.SetPosition(start);
  if (got <= 0) return false;
  TIEMemStream mem(window.data(), got);
  TStreamBytes src{mem};
  std::string t, magic;
  int32_t width = -1, height = -1;
  int fields = 0;
  for (int i = 0; i < kProbeTokens; ++i) {
    NextToken(src, t, 64);
    if (t.empty()) break;
    if (t[0] == '#') continue;
    ++fields;
    if (fields == 1) {
      if (!KnownMagic(t)) return false;
      magic = t;
    } else if (fields == 2) {
      width = StringToIntDefault(t, -1);
    } else if (fields == 3) {
      height = StringToIntDefault(t, -1);
      if (!HasMaximum(magic)) break;
    } else {
      break;
    }
  }
  return fields >= 3 && width > 0 && height > 0;
}

void ReadPXMStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                   bool paramsOnly) {
  try {
    TReader reader(stream, bitmap, params, progress);
    reader.Run(paramsOnly);
    stream.SetPosition(reader.Position());
  } catch (...) {
    progress.Refuse(kRefusedStreamFailed);
  }
}

void WritePXMStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  try {
    WriteBody(stream, bitmap, params, progress);
  } catch (...) {
    progress.Abort();
  }
}

// ---- the format ----

namespace {

void ReadPXMFormat(TIEFormatReadArgs& a) { ReadPXMStream(a.Stream, *a.Bitmap, a.Params, a.Progress, a.ParamsOnly); }

void WritePXMFormat(TIEFormatWriteArgs& a) { WritePXMStream(a.Stream, a.Bitmap, a.Params, a.Progress); }

}  // namespace

TIEFormatDescriptor PXMFormat() {
  return {
      .FileType = ioPXM,
      .FullName = "Portable Pixmap, GrayMap, BitMap",
      .Suffixes = "PXM;PPM;PGM;PBM;PNM",
      .Access = ieaReadWrite,
      .Probe = IsPXMStream,
      .ProbeOrder = 80,
      .Read = ReadPXMFormat,
      .ReadParams = ReadPXMFormat,
      .Write = WritePXMFormat,
      .LoadOptions = {ielFixDPI, ielAdjustDPI, ielResetMetadata},
      .SaveOptions = {iesConvert24, iesKeep8gInFiles},
      .SaveOrder = 110,
      .SaveSuffixes = "PXM;PBM;PGM;PPM",
  };
}
