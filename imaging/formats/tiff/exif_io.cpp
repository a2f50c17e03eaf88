#include "imaging/formats/tiff/exif_io.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <set>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_orientation.h"
#include "imaging/formats/tiff/tiff_reader.h"
#include "imaging/formats/tiff/tiff_writer.h"
#include "imaging/io/exif_block.h"
#include "imaging/io/io_params.h"
#include "imaging/io/jpeg_markers.h"
#include "imaging/io/tiff_ifd.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace {

constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

// A progress record of its own for the inner reads and writes.
struct TInnerProgress {
  std::atomic<bool> flag{false};
  TProgressRecord rec;
  TInnerProgress() { rec.AbortFlag = &flag; }
};

// The header parses and the first directory lies inside the data.
bool HasTIFFDirectory(TStream& s) {
  const int64_t start = s.Position();
  bool ok = false;
  try {
    TIFFHeader h;
    if (ReadTIFFHeader(s, h)) {
      TIFFDirectoryContext c;
      c.LittleEndian = h.LittleEndian;
      c.Stream = &s;
      c.Base = start;
      int count = 0;
      ok = LoadTIFFDirectory(0, h.FirstOffset, c, count);
    }
  } catch (const Exception&) {
    ok = false;
  }
  s.Seek(start, soBeginning);
  return ok;
}

// Reads the tags of the TIFF at the position into scratch (as an EXIF block
// when exifBlock is set: a main directory without a picture).
void ReadTags(TStream& s, TIOParamsVals& scratch, bool exifBlock) {
  const int64_t start = s.Position();
  TInnerProgress p;
  TIEMaskOut mask;
  int pages = 0;
  ReadTIFFStream(nullptr, s, pages, scratch, p.rec, true, mask, true, true, false, exifBlock, nullptr);
  s.Seek(start, soBeginning);
}

// Decodes page index of the TIFF at the position as a thumbnail; empty when it fails.
std::unique_ptr<TIEBitmap> ReadThumbnailPage(TStream& s, int index) {
  const int64_t start = s.Position();
  TIOParamsVals scratch(nullptr);
  scratch.SetImageIndex(index);
  auto bitmap = std::make_unique<TIEBitmap>();
  TInnerProgress p;
  TIEMaskOut mask;
  int pages = 0;
  ReadTIFFStream(bitmap.get(), s, pages, scratch, p.rec, false, mask, true, true, true, true, nullptr);
  s.Seek(start, soBeginning);
  if (p.rec.Aborted() || bitmap->IsEmpty()) return nullptr;
  return bitmap;
}

// The turn that undoes an orientation's turn.
int InverseOrientation(int orientation) { return orientation == 6 ? 8 : orientation == 8 ? 6 : orientation; }

// Tags a rebuilt block writes from the parameters (or leaves out on purpose).
const std::set<int>& ParamMainTags() {
  static const std::set<int> tags = {256,   257,   258,   259,   262,   270,   271,   272,   273,   274,   277,
                                     278,   279,   282,   283,   284,   296,   305,   306,   315,   318,   319,
                                     513,   514,   529,   531,   532,   18246, 33432, 33723, 34665, 34853, 40091,
                                     40092, 40093, 40094, 40095, 700,   34675, 32932, 330,   324,   325};
  return tags;
}
const std::set<int>& ParamExifTags() {
  static const std::set<int> tags = {33434, 33437, 34850, 34855, 36864, 36867, 36868, 37122, 37377, 37378, 37379,
                                     37380, 37381, 37382, 37383, 37384, 37385, 37386, 37520, 37521, 37522, 40960,
                                     40961, 40962, 40963, 40964, 41486, 41487, 41488, 41493, 41495, 41728, 41729,
                                     41986, 41987, 41988, 41989, 41990, 41991, 41992, 41993, 41994, 41996, 42016,
                                     37510, 37500};
  return tags;
}
bool ParamGpsTag(int tag) { return (tag >= 0 && tag <= 26) || tag == 29; }

// Reads the entries of a directory as little-endian carried entries, skipping
// the tags skip says the parameters hold; sub-directories (the
// interoperability directory) are read whole.
void CarryDirectory(TStream& s, const TIFFHeader& h, int64_t base, uint32_t offset, int depth,
                    const std::function<bool(int)>& skip, std::vector<TTIFFCarriedEntry>& out) {
  TIFFDirectoryContext c;
  c.LittleEndian = h.LittleEndian;
  c.Stream = &s;
  c.Base = base;
  int count = 0;
  if (depth > 2 || !LoadTIFFDirectory(0, offset, c, count)) return;
  for (const TIFFTagEntry& e : c.Entries) {
    if (skip(e.Tag)) continue;
    TTIFFCarriedEntry k;
    k.Tag = e.Tag;
    k.Type = e.Type;
    k.Count = e.Count;
    if (e.Tag == 40965 || e.Tag == 34665 || e.Tag == 34853) {
      k.IsDirectory = true;
      CarryDirectory(s, h, base, TIFFGet32(e.Value, h.LittleEndian), depth + 1, [](int) { return false; }, k.Sub);
      if (k.Sub.empty()) continue;
    } else {
      k.Data = ReadTIFFTagBlock(c, e.Tag);
      if (int64_t(k.Data.size()) != TIFFValueBytes(e) || k.Data.size() > 65535) continue;
      if (!h.LittleEndian) TIFFSwapValues(k.Data.data(), e.Type, e.Count);
    }
    out.push_back(std::move(k));
  }
}

TEXIFCarried CarriedEntries(const uint8_t* tiff, int64_t length) {
  TEXIFCarried carried;
  TCustomMemoryStream s(tiff, length);
  TIFFHeader h;
  if (!ReadTIFFHeader(s, h)) return carried;
  TIFFDirectoryContext main;
  main.LittleEndian = h.LittleEndian;
  main.Stream = &s;
  int count = 0;
  if (!LoadTIFFDirectory(0, h.FirstOffset, main, count)) return carried;
  CarryDirectory(s, h, 0, h.FirstOffset, 1, [](int tag) { return ParamMainTags().count(tag) > 0; }, carried.Main);
  const int64_t exif = GetTIFFTagInteger(main, 34665, 0), gps = GetTIFFTagInteger(main, 34853, 0);
  if (exif != 0)
    CarryDirectory(s, h, 0, uint32_t(exif), 1, [](int tag) { return ParamExifTags().count(tag) > 0; }, carried.Exif);
  if (gps != 0) CarryDirectory(s, h, 0, uint32_t(gps), 1, ParamGpsTag, carried.Gps);
  return carried;
}

std::vector<uint8_t> Build(TIOParamsVals& params, bool withHeader, const TEXIFCarried* carried) {
  TMemoryStream ms;
  TInnerProgress p;
  // The block describes the parameters' EXIF whether or not they came from a file.
  const bool had = params.HasExifData;
  params.HasExifData = true;
  WriteTIFFStream(ms, false, nullptr, p.rec, params, carried);
  params.HasExifData = had;
  if (p.rec.Aborted()) return {};
  if (params.ExifThumbnail && !params.ExifThumbnail->IsEmpty()) {
    TIEBitmap turned;
    turned.Assign(params.ExifThumbnail.get());
    ApplyExifOrientation(turned, InverseOrientation(params.TiffOrientation));
    TIOParamsVals scratch(nullptr);
    scratch.SetImageIndex(1);
    scratch.TiffCompression = 6;
    scratch.TiffJpegColorSpace = 2;
    scratch.SetDpiX(72);
    scratch.SetDpiY(72);
    ms.SetPosition(0);
    TInnerProgress q;
    WriteTIFFStream(ms, true, &turned, q.rec, scratch);
    if (q.rec.Aborted()) return {};
  }
  std::vector<uint8_t> out;
  if (withHeader) out.assign(kExifHeader, kExifHeader + 6);
  const uint8_t* m = ms.Memory();
  out.insert(out.end(), m, m + ms.Size());
  return out;
}

}  // namespace

bool ParseEXIFMarker(const uint8_t* data, int64_t length, TIOParamsVals& params) {
  if (data == nullptr || length < 14 || std::memcmp(data, kExifHeader, 6) != 0) return false;
  TCustomMemoryStream s(data + 6, length - 6);
  if (!HasTIFFDirectory(s)) return false;
  TIOParamsVals scratch(nullptr);
  try {
    ReadTags(s, scratch, true);
  } catch (const Exception&) {
    return false;
  }
  CopyEXIFParams(scratch, params, false);
  params.HasExifData = true;
  params.ExifThumbnail.reset();
  params.ExifThumbnail = ReadThumbnailPage(s, 1);
  if (!params.ExifThumbnail) params.ExifThumbnail = std::make_unique<TIEBitmap>();
  else ApplyExifOrientation(*params.ExifThumbnail, params.ExifOrientation);
  return true;
}

std::vector<uint8_t> BuildEXIFBlock(TIOParamsVals& params, bool withHeader) {
  try {
    return Build(params, withHeader, nullptr);
  } catch (const Exception&) {
    return {};
  }
}

std::vector<uint8_t> EXIFMarkerForSave(TIOParamsVals& params, const uint8_t* read, int64_t readLength) {
  try {
    TIOParamsVals asRead(nullptr);
    if (read == nullptr || !ParseEXIFMarker(read, readLength, asRead)) return Build(params, true, nullptr);
    // What the block read says, built the way ours are: unchanged parameters
    // give the same bytes, and the block goes back as it came.
    if (Build(asRead, true, nullptr) == Build(params, true, nullptr)) return std::vector<uint8_t>(read, read + readLength);
    const TEXIFCarried carried = CarriedEntries(read + 6, readLength - 6);
    return Build(params, true, &carried);
  } catch (const Exception&) {
    return {};
  }
}

int64_t FindTIFFHeader(TStream& stream) {
  const int64_t start = stream.Position();
  int64_t found = -1;
  try {
    const int64_t size = stream.Size();
    std::vector<uint8_t> b(size_t(std::clamp<int64_t>(size - start, 0, 131072)));
    const int64_t n = b.empty() ? 0 : stream.Read(b.data(), int64_t(b.size()));
    for (int64_t i = 0; i + 8 <= n; ++i) {
      const bool le = b[size_t(i)] == 'I' && b[size_t(i) + 1] == 'I';
      const bool be = b[size_t(i)] == 'M' && b[size_t(i) + 1] == 'M';
      if (!le && !be) continue;
      const uint16_t version = TIFFGet16(&b[size_t(i) + 2], le);
      const uint32_t first = TIFFGet32(&b[size_t(i) + 4], le);
      if ((version == 42 || version == 0x4F52 || version == 0x5352) && int64_t(first) < size - (start + i)) {
        found = i;
        break;
      }
    }
  } catch (const Exception&) {
    found = -1;
  }
  stream.Seek(start, soBeginning);
  return found;
}

bool ReadRawEXIF(TStream& stream, TIOParamsVals& params) {
  const int64_t start = stream.Position();
  if (!HasTIFFDirectory(stream)) return false;
  TIOParamsVals scratch(nullptr);
  try {
    ReadTags(stream, scratch, true);
    CopyEXIFParams(scratch, params, false);
    params.HasExifData = true;
    std::unique_ptr<TIEBitmap> pages[2] = {ReadThumbnailPage(stream, 0), ReadThumbnailPage(stream, 1)};
    const auto usable = [&](int i) {
      TIEBitmap* b = pages[i].get();
      TIEBitmap* other = pages[1 - i].get();
      return b != nullptr && b->Width() > 0 && (other == nullptr || b->Width() < other->Width()) && !b->IsAllZero();
    };
    params.ExifThumbnail = std::make_unique<TIEBitmap>();
    if (usable(0)) params.ExifThumbnail = std::move(pages[0]);
    else if (usable(1)) params.ExifThumbnail = std::move(pages[1]);
  } catch (const Exception&) {
    stream.Seek(start, soBeginning);
    return false;
  }
  stream.Seek(start, soBeginning);
  return true;
}

bool ReadTIFFEXIF(TStream& stream, TIOParamsVals& params) {
  const int64_t start = stream.Position();
  if (!HasTIFFDirectory(stream)) return false;
  TIOParamsVals scratch(nullptr);
  try {
    ReadTags(stream, scratch, false);
  } catch (const Exception&) {
    stream.Seek(start, soBeginning);
    return false;
  }
  CopyEXIFParams(scratch, params, false);
  params.HasExifData = scratch.HasExifData;
  params.XmpPacket = scratch.XmpPacket;
  if (scratch.IptcInfo && params.IptcInfo) params.IptcInfo->Assign(scratch.IptcInfo.get());
  stream.Seek(start, soBeginning);
  return true;
}
