#include "imaging/io/format_detect.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <filesystem>

#include "imaging/core/ie_streams.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/format_descriptor.h"
#include "imaging/io/ie_filters.h"
#include "platform/rtl/paths.h"

namespace {

// Restores the stream position when a test ends, however it ends.
class TPositionGuard {
public:
  explicit TPositionGuard(TStream& s) : FStream(s), FPosition(s.Position()) {}
  ~TPositionGuard() {
    try {
      FStream.SetPosition(FPosition);
    } catch (...) {
    }
  }

private:
  TStream& FStream;
  int64_t FPosition;
};

// Reads n bytes at start; false when fewer are there.
bool ReadAt(TStream& s, int64_t start, uint8_t* buffer, int64_t n) {
  s.SetPosition(start);
  return s.Read(buffer, n) == n;
}

// The first five bytes as text that ends at the first zero byte.
bool TagIs(const uint8_t* b, const char* tag) {
  const size_t n = std::strlen(tag);
  return std::memcmp(b, tag, n) == 0 && b[n] == 0;
}

bool Probe(const TIEStreamTest& test, TStream& s, int64_t start) {
  if (!test) return false;
  s.SetPosition(start);
  const bool hit = test(s);
  s.SetPosition(start);
  return hit;
}

TImageFileType DetectByContent(TStream& s, int64_t start) {
  // Sizes and positions are 64-bit: a stream over 2 GB is tested like any other.
  const int64_t size = s.Size() - start;
  uint8_t b[128];
  if (size > 12 && ReadAt(s, start, b, 12) && TagIs(b, "JFIF")) return ioJPEG;
  if (size > 13 && ReadAt(s, start, b, 13) && std::memcmp(b, "GIF", 3) == 0) return ioGIF;
  if (size > 12 && ReadAt(s, start, b, 12) && TagIs(b, "PCX2")) return ioPCX;
  if (size > 4 && ReadAt(s, start, b, 4) && std::memcmp(b, "PCX", 4) == 0) return ioPCX;
  if (size > 14 && ReadAt(s, start, b, 14) && b[0] == 'B' && b[1] == 'M') return ioBMP;
  if (size > 128 && ReadAt(s, start, b, 128) && b[0] == 0x0A && b[1] <= 5) return ioPCX;
  if (size > 12 && ReadAt(s, start, b, 12) && TagIs(b, "TIFF")) return ioTIFF;

  // The formats' own tests, from the lowest order up; those that search
  // forward through the data (ProbeOrder from kLateProbeOrder) come after the
  // views' stream tests, so a picture of another kind that embeds one is not
  // taken for it.
  std::vector<const TIEFormatDescriptor*> probes;
  for (const TIEFormatDescriptor& d : FormatDescriptors())
    if (d.Probe && d.ProbeOrder > 0 && d.ProbeOrder < kFinalProbeOrder) probes.push_back(&d);
  std::stable_sort(probes.begin(), probes.end(),
                   [](const TIEFormatDescriptor* x, const TIEFormatDescriptor* y) { return x->ProbeOrder < y->ProbeOrder; });
  auto asks = [&](const TIEFormatDescriptor* d) { return size > d->ProbeMinSize && Probe(d->Probe, s, start); };
  size_t next = 0;
  for (; next < probes.size() && probes[next]->ProbeOrder < kLateProbeOrder; ++next)
    if (asks(probes[next])) return probes[next]->FileType;
  const TIEFilterSlots& f = IEFilters();
  if (Probe(IsAVIStream, s, start)) return ioAVI;
  if (Probe(f.IsIEVStream, s, start)) return ioIEV;
  if (Probe(f.IsLayersStream, s, start)) return ioLYR;
  if (Probe(f.IsALLStream, s, start)) return ioALL;
  for (; next < probes.size(); ++next)
    if (asks(probes[next])) return probes[next]->FileType;

  for (int i = 0; i < FileFormatCount(); ++i) {
    TIEFileFormatInfo* e = FileFormatAt(i);
    if (!e->TryFunction) continue;
    s.SetPosition(start);
    if (e->TryFunction(s, e->FileType)) return e->FileType;
  }
  return ioUnknown;
}

}  // namespace

bool IsAVIStream(TStream& stream) {
  try {
    TPositionGuard guard(stream);
    uint8_t riff[4], skip[4], avi[4];
    if (stream.Read(riff, 4) != 4 || stream.Read(skip, 4) != 4 || stream.Read(avi, 4) != 4) return false;
    return std::memcmp(riff, "RIFF", 4) == 0 && std::memcmp(avi, "AVI ", 4) == 0;
  } catch (...) {
    return false;
  }
}

TImageFileType DetectStreamFileType(TStream& stream) {
  int64_t start = 0;
  try {
    start = stream.Position();
  } catch (...) {
    return ioUnknown;
  }
  TImageFileType result = ioUnknown;
  try {
    result = DetectByContent(stream, start);
    for (const TIEFormatDescriptor& d : FormatDescriptors()) {
      if (result != ioUnknown) break;
      if (d.Probe && d.ProbeOrder >= kFinalProbeOrder && Probe(d.Probe, stream, start)) result = d.FileType;
    }
  } catch (...) {
    result = ioUnknown;
  }
  try {
    stream.SetPosition(start);
  } catch (...) {
  }
  return result;
}

std::wstring UTF8ToWide(const std::string& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<uint8_t>(text[i]);
    uint32_t cp = 0xFFFD;
    size_t n = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      n = 3;
    } else if ((c & 0xF8) == 0xF0) {
      n = 4;
    }
    if (n > 1) {
      if (i + n > text.size()) {
        n = 1;
      } else {
        cp = c & (0xFF >> (n + 1));
        for (size_t k = 1; k < n; ++k) {
          const auto cc = static_cast<uint8_t>(text[i + k]);
          if ((cc & 0xC0) != 0x80) {
            cp = 0xFFFD;
            n = k;
            break;
          }
          cp = (cp << 6) | (cc & 0x3F);
        }
      }
    }
    out += static_cast<wchar_t>(cp);
    i += n;
  }
  return out;
}

std::string LowerExtension(const std::wstring& fileName) {
  const std::string name = WideToUTF8(fileName);
  const size_t slash = name.find_last_of("/\\:");
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return ext;
}

TImageFileType DetectFileTypeByName(const std::wstring& fileName, bool verify) {
  if (fileName.empty()) return ioUnknown;
  TImageFileType content = ioUnknown;
  try {
    if (!FileExistsW(fileName)) return ioUnknown;
    TIEWideFileStream file(fileName, 0x20);  // read, others may read
    content = DetectStreamFileType(file);
  } catch (...) {
    content = ioUnknown;
  }
  TIEFileFormatInfo* entry = FindFileFormatByExtension(LowerExtension(fileName));
  if (entry != nullptr && entry->FileType == ioRAW && content == ioTIFF) content = ioRAW;
  if (entry != nullptr && !entry->InternalFormat) return entry->FileType;
  if (verify && content != ioUnknown) {
    if (entry == nullptr) return ioUnknown;
    if (content == ioICO || content == ioCUR) return entry->FileType;
    return entry->FileType == content ? content : ioUnknown;
  }
  return content;
}

TImageFileType DetectFileTypeByName(const std::string& fileName, bool verify) {
  return DetectFileTypeByName(UTF8ToWide(fileName), verify);
}
