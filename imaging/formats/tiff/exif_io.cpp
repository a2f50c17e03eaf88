#include "imaging/formats/tiff/exif_io.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_orientation.h"
#include "imaging/formats/filter_rows.h"
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
  // GPS entries the rebuilt directory lacks come back (a value of 0 is not written).
  if (gps != 0) CarryDirectory(s, h, 0, uint32_t(gps), 1, [](int) { return false; }, carried.Gps);
  std::vector<TIFFTagEntry> entries;
  uint32_t next = 0;
  if (ReadTIFFEntries(s, 0, h.FirstOffset, h.LittleEndian, entries, next) && next != 0)
    CarryDirectory(s, h, 0, next, 1, [](int tag) { return tag == 513 || tag == 514 || tag == 273 || tag == 279; },
                   carried.Thumbnail);
  return carried;
}

// The JPEG data of the block's second page (its thumbnail), empty when none.
std::vector<uint8_t> ThumbnailJpeg(const uint8_t* tiff, int64_t length) {
  TCustomMemoryStream s(tiff, length);
  TIFFHeader h;
  if (!ReadTIFFHeader(s, h)) return {};
  TIFFDirectoryContext c;
  c.LittleEndian = h.LittleEndian;
  c.Stream = &s;
  int count = 0;
  if (!LoadTIFFDirectory(1, h.FirstOffset, c, count)) return {};
  const int64_t at = GetTIFFTagInteger(c, 513, 0), n = GetTIFFTagInteger(c, 514, 0);
  if (at <= 0 || n <= 0 || at + n > length) return {};
  return std::vector<uint8_t>(tiff + at, tiff + at + n);
}

bool SamePixels(TIEBitmap* a, TIEBitmap* b) {
  const bool ea = a == nullptr || a->IsEmpty(), eb = b == nullptr || b->IsEmpty();
  if (ea || eb) return ea == eb;
  if (a->Width() != b->Width() || a->Height() != b->Height() || a->PixelFormat() != b->PixelFormat()) return false;
  for (int y = 0; y < a->Height(); ++y)
    if (std::memcmp(a->ScanLine(y), b->ScanLine(y), size_t(a->RowLen())) != 0) return false;
  return true;
}

// Appends a second page holding the thumbnail's JPEG data as it stands.
void AppendThumbnailPage(TMemoryStream& ms, const std::vector<uint8_t>& jpeg, TProgressRecord& progress,
                         const std::vector<TTIFFCarriedEntry>* carried) {
  TFilterWriter w{ms, progress};
  ms.Seek(0, soEnd);
  const int64_t J = AlignTIFFStream(w);
  w.Put(jpeg.data(), int64_t(jpeg.size()));
  TTIFFTagList tags;
  AddTIFFShortTag(tags, 259, 6);
  AddTIFFRationalTag(tags, w, 282, 72);
  AddTIFFRationalTag(tags, w, 283, 72);
  AddTIFFShortTag(tags, 296, 2);
  AddTIFFLongTag(tags, 513, uint32_t(J));
  AddTIFFLongTag(tags, 514, uint32_t(jpeg.size()));
  if (carried != nullptr && !carried->empty()) {
    // The page's own entries as read take the place of the defaults.
    tags.erase(std::remove_if(tags.begin(), tags.end(),
                              [&](const TIFFTagEntry& e) {
                                return e.Tag != 513 && e.Tag != 514 &&
                                       std::any_of(carried->begin(), carried->end(),
                                                   [&](const TTIFFCarriedEntry& c) { return c.Tag == e.Tag; });
                              }),
               tags.end());
    AddTIFFCarriedTags(tags, w, *carried);
  }
  const int64_t D = AlignTIFFStream(w);
  WriteTIFFDirectory(w, tags, 0);
  const uint8_t* m = ms.Memory();
  const uint32_t first = TIFFGet32(m + 4, true);
  const int64_t link = int64_t(first) + 2 + 12 * int64_t(TIFFGet16(m + first, true));
  uint8_t b[4];
  TIFFPut32(b, uint32_t(D), true);
  ms.Seek(link, soBeginning);
  w.Put(b, 4);
}

std::vector<uint8_t> Build(TIOParamsVals& params, bool withHeader, const TEXIFCarried* carried,
                           const std::vector<uint8_t>* keptThumbnail = nullptr) {
  TMemoryStream ms;
  TInnerProgress p;
  // The block describes the parameters' EXIF whether or not they came from a file.
  const bool had = params.HasExifData;
  params.HasExifData = true;
  WriteTIFFStream(ms, false, nullptr, p.rec, params, carried);
  params.HasExifData = had;
  if (p.rec.Aborted()) return {};
  if (keptThumbnail != nullptr && !keptThumbnail->empty()) {
    AppendThumbnailPage(ms, *keptThumbnail, p.rec, carried != nullptr ? &carried->Thumbnail : nullptr);
    if (p.rec.Aborted()) return {};
  } else if (params.ExifThumbnail && !params.ExifThumbnail->IsEmpty()) {
    TIEBitmap turned;
    turned.Assign(params.ExifThumbnail.get());
    ApplyExifOrientation(turned, InverseOrientation(params.TiffOrientation));
    TIOParamsVals scratch(nullptr);
    scratch.SetImageIndex(1);
    scratch.TiffCompression = 6;
    scratch.TiffJpegColorSpace = jcsYCbCr;
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
    // A thumbnail nobody changed keeps its JPEG data (also one we could not decode).
    std::vector<uint8_t> kept;
    if (SamePixels(asRead.ExifThumbnail.get(), params.ExifThumbnail.get()))
      kept = ThumbnailJpeg(read + 6, readLength - 6);
    return Build(params, true, &carried, &kept);
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
