// Reading and writing ICO and CUR data for TAdvancedIcon.
#include <algorithm>
#include <cstring>

#include "icons/advanced_icon.h"
#include "icons/sub_icon_render.h"

namespace {

enum class TDirKind { Icon, Cursor };

constexpr const char* kDirectoryCut = "the directory header is cut short";
constexpr const char* kNotADirectory = "a directory that is neither an icon's nor a cursor's";

// Where an entry's image lies, and whether the directory walk may use it.
enum class TEntryVerdict { Use, Skip, Stop };

// The rules every reader applies to an entry: an image that starts inside the
// directory read so far or at or past the end ends the walk (the rest of the
// directory cannot be trusted); one that is too small to be an image or does
// not fit in the data is passed over. why names the rule.
TEntryVerdict JudgeEntry(const TIconDirEntry& entry, int64_t base, int64_t readSoFar, int64_t size,
                         const char*& why) {
  const int64_t at = base + static_cast<int64_t>(entry.dwImageOffset);
  why = at < readSoFar ? "an image starts inside the directory" : at >= size ? "an image starts past the end" : nullptr;
  if (why) return TEntryVerdict::Stop;
  const int64_t bytes = entry.head.dwBytesInRes;
  why = bytes <= 40 ? "an image too small to be one" : bytes > size - at ? "an image runs past the end" : nullptr;
  return why ? TEntryVerdict::Skip : TEntryVerdict::Use;
}

// Keeps the first reason of a read.
void NoteRefusal(std::string& refusal, const char* why) {
  if (refusal.empty() && why) refusal = why;
}

std::unique_ptr<TSubIcon> MakeImage(TDirKind kind) {
  if (kind == TDirKind::Cursor) return std::make_unique<TFileCursorImage>();
  return std::make_unique<TFileIconImage>();
}

// Reads count entries of a directory whose header has been read; image offsets
// count from base. Images that fail are skipped unless failFast is set, when
// the first failure reaches the caller. Returns the number of images added;
// refusal gets why the first entry passed over was.
int ReadEntries(TSubIconList& images, TStream& stream, const TIconDirHeader& header, int64_t base, TDirKind kind,
                bool failFast, std::string& refusal) {
  const int64_t size = stream.Size();
  const int64_t dirStart = stream.Position();
  const int count = header.idCount;
  // A directory longer than the data cannot be real; stop where the data ends.
  int added = 0;
  for (int i = 0; i < count; ++i) {
    const int64_t entryAt = dirStart + 16LL * i;
    if (entryAt + 16 > size) {
      NoteRefusal(refusal, "the directory runs past the end");
      break;
    }
    stream.SetPosition(entryAt);
    const TIconDirEntry entry = ReadIconDirEntry(stream);
    const char* why = nullptr;
    const auto verdict = JudgeEntry(entry, base, entryAt + 16, size, why);
    NoteRefusal(refusal, why);
    if (verdict == TEntryVerdict::Stop) break;
    if (verdict == TEntryVerdict::Skip) continue;
    auto image = MakeImage(kind);
    try {
      stream.SetPosition(entryAt);
      if (kind == TDirKind::Cursor)
        image->LoadCursorDirEntry(stream, header, base);
      else
        image->LoadDirEntry(stream, base);
    } catch (const Exception& e) {
      if (refusal.empty()) refusal = RefusalOf(e);
      if (failFast) throw;
      continue;
    }
    images.Add(std::move(image));
    ++added;
  }
  stream.SetPosition(std::min<int64_t>(dirStart + 16LL * count, size));
  return added;
}

bool NeedsPngEncoding(const TAdvancedIcon& icon) {
  for (int i = 0; i < icon.Count(); ++i) {
    const TSubIcon* im = icon.Images().GetItem(i);
    if (im->StoreAsPNG() && !im->HasPNGBits()) return true;
  }
  return false;
}

// The directory counts its images, and a cursor entry holds its hotspot, in
// unsigned 16-bit words: what does not fit is refused before a byte is
// written, rather than written cut down to a file that says something else.
void CheckDirectoryFits(TSubIconList& images, uint16_t type) {
  if (images.Count() > 65535) throw Exception("Too many images in icon");
  if (type != 2) return;
  for (int i = 0; i < images.Count(); ++i) {
    const TSubIcon* im = images.GetItem(i);
    if (im->HotspotX() < 0 || im->HotspotY() < 0) throw Exception("Cursor hotspot out of range");
  }
}

void WriteDirectory(TAdvancedIcon& icon, TStream& stream, uint16_t type) {
  TSubIconList& images = icon.Images();
  CheckDirectoryFits(images, type);
  const int n = images.Count();
  const int64_t start = stream.Position();
  TIconDirHeader header;
  header.idType = type;
  header.idCount = static_cast<uint16_t>(n);
  stream.WriteBuffer(&header, sizeof header);
  for (int i = 0; i < n; ++i) {
    TSubIcon* im = images.GetItem(i);
    TIconDirEntry entry;
    entry.head = im->Head();
    entry.head.dwBytesInRes = static_cast<uint32_t>(im->Bits().size());
    // Sides of 256 and more are stored as 0, as the format wants.
    const int w = im->GetWidth(), h = im->GetHeight();
    entry.head.bWidth = w > 0 && w <= 255 ? static_cast<uint8_t>(w) : 0;
    entry.head.bHeight = h > 0 && h <= 255 ? static_cast<uint8_t>(h) : 0;
    if (type == 2) {
      entry.head.wPlanes = static_cast<uint16_t>(im->HotspotX());
      entry.head.wBitCount = im->HotspotY();
    }
    stream.WriteBuffer(&entry, sizeof entry);
  }
  for (int i = 0; i < n; ++i) {
    const uint32_t offset = static_cast<uint32_t>(stream.Position() - start);
    stream.SetPosition(start + 6 + 16LL * i + 12);
    stream.WriteValue<uint32_t>(offset);
    stream.SetPosition(start + offset);
    images.GetItem(i)->WriteBits(stream);
  }
}

}  // namespace

bool TAdvancedIcon::ReadCursorDirectoryHeader(TStream& stream, TIconDirHeader& header) {
  header = ReadIconDirHeader(stream);
  if (header.idReserved != 0 || (header.idType != 1 && header.idType != 2)) return false;
  // Room for no more entries than the data can hold.
  const int64_t fits = (stream.Size() - stream.Position()) / 16;
  Images().SetCapacity(Count() + static_cast<int>(std::min<int64_t>(header.idCount, fits)));
  return true;
}

bool TAdvancedIcon::ReadDirectoryHeader(TStream& stream, int& count) {
  TIconDirHeader header;
  const bool ok = ReadCursorDirectoryHeader(stream, header);
  count = ok ? header.idCount : 0;
  return ok;
}

// A whole ICO or CUR stream, read into an icon of its own: this one takes
// its images only when the stream gives what the caller needs (a directory, and
// with needImages at least one image), and is left as it was otherwise.
static bool ReadTopDirectory(TAdvancedIcon& icon, TStream& stream, TDirKind kind, bool cursorEntries,
                             bool needImages, std::string& refusal) {
  refusal.clear();
  if (stream.Size() - stream.Position() < 6) {
    refusal = kDirectoryCut;
    return false;
  }
  std::unique_ptr<TAdvancedIcon> read = icon.Create();
  TIconDirHeader header;
  if (!read->ReadCursorDirectoryHeader(stream, header)) {
    refusal = kNotADirectory;
    return false;
  }
  ReadEntries(read->Images(), stream, header, 0, kind, cursorEntries, refusal);
  if (needImages && read->Count() == 0) {
    NoteRefusal(refusal, "a directory without images");
    return false;
  }
  icon.Clear();
  icon.Images().TakeAllImages(read.get());
  return true;
}

bool TAdvancedIcon::LoadFromStream(TStream& stream) {
  return ReadTopDirectory(*this, stream, TDirKind::Icon, false, true, FLastRefusal);
}

bool TAdvancedIcon::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  TMemoryStream stream;
  stream.LoadFromStream(file);
  stream.SetPosition(0);
  if (LoadFromStream(stream)) return true;
  // Some old writers left a one-image file without a proper header.
  if (stream.Size() < 22) return false;
  stream.SetPosition(0);
  const uint16_t first = stream.ReadValue<uint16_t>();
  stream.SetPosition(18);
  const uint32_t headerSize = stream.ReadValue<uint32_t>();
  if (first != 1 || headerSize != 40) return false;
  auto image = std::make_unique<TSubIcon>();
  try {
    image->LoadFromSingleEntryFile(stream);
  } catch (const Exception&) {
    return false;
  }
  if (!image->HasBits()) return false;
  FLastRefusal.clear();
  Clear();
  Images().Add(std::move(image));
  return true;
}

bool TAdvancedIcon::LoadCursorFromStream(TStream& stream) {
  return ReadTopDirectory(*this, stream, TDirKind::Cursor, true, false, FLastRefusal);
}

// An icon or cursor directory inside a larger stream: entry offsets count from
// where the directory starts, not from the start of the stream.
static bool ReadEmbeddedDirectory(TAdvancedIcon& icon, TStream& stream, TDirKind kind, std::string& refusal) {
  refusal.clear();
  const int64_t base = stream.Position();
  if (stream.Size() - base < 6) {
    refusal = kDirectoryCut;
    return false;
  }
  TIconDirHeader header;
  if (!icon.ReadCursorDirectoryHeader(stream, header)) {
    refusal = kNotADirectory;
    return false;
  }
  ReadEntries(icon.Images(), stream, header, base, kind, false, refusal);
  return true;
}

bool TAdvancedIcon::ReadEmbeddedIcon(TStream& stream) {
  return ReadEmbeddedDirectory(*this, stream, TDirKind::Icon, FLastRefusal);
}

bool TAdvancedIcon::ReadEmbeddedCursor(TStream& stream) {
  return ReadEmbeddedDirectory(*this, stream, TDirKind::Cursor, FLastRefusal);
}

void TAdvancedIcon::SaveToStream(TStream& stream) {
  if (Count() == 0) return;
  for (int i = 0; i < Count(); ++i) {
    TSubIcon* im = Images().GetItem(i);
    // An image without bits would make an entry that no reader accepts.
    if (!im->HasBits()) throw Exception(kInvalidImage);
  }
  if (NeedsPngEncoding(*this)) {
    // Flagged images are written compressed; the icon in memory keeps its DIBs.
    TAdvancedIcon encoded;
    encoded.Images().SetCapacity(Count());
    for (int i = 0; i < Count(); ++i) {
      TSubIcon* im = Images().GetItem(i);
      auto copy = std::make_unique<TFileIconImage>();
      if (im->StoreAsPNG() && !im->HasPNGBits())
        EncodePNG(*im, *copy);
      else
        copy->Assign(im);
      encoded.Images().Add(std::move(copy));
    }
    encoded.SaveToStream(stream);
    return;
  }
  WriteDirectory(*this, stream, 1);
}

void TAdvancedIcon::SaveToFile(const std::string& fileName) {
  if (Count() == 0) throw Exception("No images in icon");
  TMemoryStream data;
  SaveToStream(data);
  SaveBytesToFile(fileName, data.Memory(), data.Size());
}

void TAdvancedIcon::SaveCursorToStream(TStream& stream) {
  if (Count() == 0) return;
  for (int i = 0; i < Count(); ++i)
    if (!Images().GetItem(i)->HasBits()) throw Exception(kInvalidImage);
  WriteDirectory(*this, stream, 2);
}

void TAdvancedIcon::SaveCursorToFile(const std::string& fileName) {
  if (Count() == 0) throw Exception("No images in cursor");
  TMemoryStream data;
  SaveCursorToStream(data);
  SaveBytesToFile(fileName, data.Memory(), data.Size());
}
