#include "platform/graphics/icon_directory.h"

TIconDirHeader ParseIconDirHeader(const uint8_t* data) {
  TIconDirHeader h;
  h.idReserved = ReadLE16(data);
  h.idType = ReadLE16(data + 2);
  h.idCount = ReadLE16(data + 4);
  return h;
}

TIconDirEntry ParseIconDirEntry(const uint8_t* data) {
  TIconDirEntry e;
  e.head.bWidth = data[0];
  e.head.bHeight = data[1];
  e.head.bColorCount = data[2];
  e.head.bReserved = data[3];
  e.head.wPlanes = ReadLE16(data + 4);
  e.head.wBitCount = ReadLEI16(data + 6);
  e.head.dwBytesInRes = ReadLE32(data + 8);
  e.dwImageOffset = ReadLE32(data + 12);
  return e;
}

TIconDirHeader ReadIconDirHeader(TStream& stream) {
  uint8_t bytes[kIconDirHeaderBytes];
  stream.ReadBuffer(bytes, kIconDirHeaderBytes);
  return ParseIconDirHeader(bytes);
}

TIconDirEntry ReadIconDirEntry(TStream& stream) {
  uint8_t bytes[kIconDirEntryBytes];
  stream.ReadBuffer(bytes, kIconDirEntryBytes);
  return ParseIconDirEntry(bytes);
}

const char* IconDirRefusalName(TIconDirRefusal reason) {
  switch (reason) {
    case idrNone: return "";
    case idrHeaderCutShort: return "the directory header is cut short";
    case idrNotDirectory: return "a directory of another type";
    case idrNoImages: return "a directory without images";
    case idrTooManyImages: return "more images than a directory may hold";
    case idrEntriesCutShort: return "the directory runs past the end";
  }
  return "";
}

TIconDirRefusal ReadIconDirectory(TStream& stream, TIconDirHeader& header, std::vector<TIconDirEntry>& entries,
                                  uint32_t maxEntries, bool refuseTooMany) {
  entries.clear();
  uint8_t h[kIconDirHeaderBytes];
  if (stream.Size() - stream.Position() < kIconDirHeaderBytes || stream.Read(h, kIconDirHeaderBytes) != kIconDirHeaderBytes)
    return idrHeaderCutShort;
  header = ParseIconDirHeader(h);
  if (header.idReserved != 0 || (header.idType != 1 && header.idType != 2)) return idrNotDirectory;
  if (header.idCount == 0) return idrNoImages;
  if (header.idCount > maxEntries && refuseTooMany) return idrTooManyImages;
  const uint32_t wanted = header.idCount < maxEntries ? header.idCount : maxEntries;
  // The count comes from the file: nothing is allocated before the bytes are known to be there.
  if (int64_t{kIconDirEntryBytes} * wanted > stream.Size() - stream.Position()) return idrEntriesCutShort;
  std::vector<uint8_t> raw(size_t{kIconDirEntryBytes} * wanted);
  if (stream.Read(raw.data(), int64_t(raw.size())) != int64_t(raw.size())) return idrEntriesCutShort;
  entries.reserve(wanted);
  for (uint32_t i = 0; i < wanted; ++i) entries.push_back(ParseIconDirEntry(raw.data() + size_t{kIconDirEntryBytes} * i));
  return idrNone;
}
