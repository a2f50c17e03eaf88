// Container parsers of camera raw files, far enough for identification: the
// TIFF directory chain with EXIF and maker notes, Kodak sub-directories, the
// CIFF heap of Canon files, the Rollei text header and the Foveon property
// list. None refuses a file: they leave make or sizes empty.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "imaging/special/raw/raw_state.h"

namespace {

constexpr int kMostDirectories = 64;
constexpr int kDeepestHeap = 8;

struct TEntry {
  uint16_t Tag, Type;
  uint32_t Count, Value;
  uint8_t Raw[4];  // the value field as stored
};

// Reads a 12-byte entry; a SHORT value (of fewer than 3, or of any count when
// shortAlways) is the first 16 bits of the field.
TEntry ReadEntry(TRawDecoderState& s, bool shortAlways) {
  uint8_t b[12];
  s.In.Read(b, 12);
  TEntry e{};
  e.Tag = RawSGet2(s, b);
  e.Type = RawSGet2(s, b + 2);
  e.Count = RawSGet4(s, b + 4);
  std::memcpy(e.Raw, b + 8, 4);
  e.Value = (e.Type == 3 && (shortAlways || e.Count < 3)) ? RawSGet2(s, b + 8) : RawSGet4(s, b + 8);
  return e;
}

// A text value: 64 bytes at the data, or the entry's own bytes when it holds
// no more than four characters.
void ReadTextValue(TRawDecoderState& s, const TEntry& e, char* field) {
  if (e.Type == 2 && e.Count <= 4) {
    std::memset(field, 0, 64);
    std::memcpy(field, e.Raw, 4);
    return;
  }
  RawReadText(s, field, 64);
}

bool EntryFits(TRawDecoderState& s, int64_t bytes) { return s.In.Tell() + bytes <= s.In.Size(); }

void ReadKodakIFD(TRawDecoderState& s, int64_t base) {
  int entries = RawGet2(s);
  while (entries-- > 0 && EntryFits(s, 12)) {
    const TEntry e = ReadEntry(s, false);
    const int64_t save = s.In.Tell();
    switch (e.Tag) {
      case 256: s.RawWidth = e.Value; break;
      case 257: s.RawHeight = e.Value; break;
      case 259: s.Compression = e.Value; break;
      case 262: s.KodakCompression = int32_t(e.Value); break;
      case 273:
        if (e.Count == 1) {
          s.DataOffset = e.Value;
        } else {
          s.In.Seek(base + e.Value);
          s.DataOffset = RawGet4(s);
        }
        break;
      case 291:
        s.CurveOffset = e.Value;
        s.CurveLength = int32_t(e.Count);
        break;
      default: break;
    }
    s.In.Seek(save);
  }
}

void ReadMakerNote(TRawDecoderState& s) {
  const uint16_t sorder = s.Order;
  int64_t base = 0;
  char buf[10];
  s.In.Read(buf, 10);
  int64_t skip;
  if (std::strncmp(buf, "Nikon", 6) == 0) {
    base = s.In.Tell();
    s.Order = RawGet2(s);
    RawGet2(s);
    skip = int64_t(RawGet4(s)) - 8;
  } else {
    skip = std::strncmp(buf, "OLYMP", 6) == 0 ? -2 : -10;
  }
  s.In.Skip(skip);
  int entries = RawGet2(s);
  while (entries-- > 0 && EntryFits(s, 12)) {
    const TEntry e = ReadEntry(s, true);
    const int64_t save = s.In.Tell();
    if (e.Tag == 12) {
      s.In.Seek(base + e.Value);
      const uint32_t d1 = RawGet4(s), d2 = RawGet4(s), d3 = RawGet4(s), d4 = RawGet4(s);
      // A zero divisor leaves the colour without a camera value.
      s.CameraRed = d2 != 0 ? float(d1) / float(d2) : 0;
      s.CameraBlue = d4 != 0 ? float(d3) / float(d4) : 0;
    } else if (e.Tag == 140) {
      s.CurveOffset = base + e.Value + 2112;
    } else if (e.Tag == 150) {
      s.CurveOffset = base + e.Value + 2;
    } else if (e.Tag == 151) {
      if (std::strcmp(s.Model, "NIKON D100 ") == 0) {
        s.In.Seek(base + e.Value + 72);
        s.CameraRed = RawGet2(s) / 256.0f;
        s.CameraBlue = RawGet2(s) / 256.0f;
      } else if (std::strcmp(s.Model, "NIKON D2H") == 0 || std::strcmp(s.Model, "NIKON D70") == 0) {
        const bool d2h = s.Model[7] == '2';
        s.In.Seek(base + e.Value + (d2h ? 10 : 20));
        const uint16_t w1 = RawGet2(s), w2 = RawGet2(s), w3 = RawGet2(s), w4 = RawGet2(s);
        s.CameraRed = w2 != 0 ? float(w1) / float(w2) : 0;
        if (d2h)
          s.CameraBlue = w3 != 0 ? float(w4) / float(w3) : 0;
        else
          s.CameraBlue = w4 != 0 ? float(w3) / float(w4) : 0;
      }
    } else if (e.Tag == 4119) {
      s.CameraRed = e.Value / 256.0f;
    } else if (e.Tag == 4120) {
      s.CameraBlue = e.Value / 256.0f;
    }
    s.In.Seek(save);
  }
  s.Order = sorder;
}

void ReadEXIFIFD(TRawDecoderState& s, int64_t base) {
  int entries = RawGet2(s);
  while (entries-- > 0 && EntryFits(s, 12)) {
    uint8_t b[12];
    s.In.Read(b, 12);
    const uint16_t tag = RawSGet2(s, b);
    const uint32_t value = RawSGet4(s, b + 8);
    const int64_t save = s.In.Tell();
    s.In.Seek(base + value);
    if (tag == 37500 && (RawStartsWith(s.Make, "NIKON") || RawStartsWith(s.Make, "OLYMPUS"))) ReadMakerNote(s);
    s.In.Seek(save);
  }
}

bool Visit(TRawDecoderState& s, int64_t at) {
  if (int(s.VisitedIFDs.size()) >= kMostDirectories) return false;
  if (std::find(s.VisitedIFDs.begin(), s.VisitedIFDs.end(), at) != s.VisitedIFDs.end()) return false;
  s.VisitedIFDs.push_back(at);
  return true;
}

}  // namespace

void ReadTIFFHeader(TRawDecoderState& s, int64_t base) {
  int64_t width = 0, height = 0, stripOffset = 0, firstStrip = 0;
  s.In.Seek(base);
  s.Order = RawGet2(s);
  RawGet2(s);
  while (true) {
    const uint32_t next = RawGet4(s);
    if (next == 0 || next + base >= s.In.Size()) break;
    // A chain that comes back to a directory ends there.
    if (!Visit(s, next + base)) break;
    s.In.Seek(next + base);
    int entries = RawGet2(s);
    while (entries-- > 0 && EntryFits(s, 12)) {
      TEntry e = ReadEntry(s, false);
      const int64_t save = s.In.Tell();
      s.In.Seek(base + e.Value);
      switch (e.Tag) {
        case 17: s.CameraRed = e.Value / 256.0f; break;
        case 18: s.CameraBlue = e.Value / 256.0f; break;
        case 256: width = e.Value; break;
        case 257: height = e.Value; break;
        case 271: ReadTextValue(s, e, s.Make); break;
        case 272: ReadTextValue(s, e, s.Model); break;
        case 273:
          stripOffset = e.Value;
          firstStrip = RawGet4(s);
          break;
        case 291:
          s.CurveOffset = e.Value;
          s.CurveLength = int32_t(e.Count);
          break;
        case 305: {
          char software[64];
          ReadTextValue(s, e, software);
          if (RawStartsWith(software, "Adobe")) s.Make[0] = 0;
          break;
        }
        case 324:
          std::strcpy(s.Make, "Leaf");
          s.RawWidth = width;
          s.RawHeight = height;
          s.DataOffset = e.Count < 2 ? int64_t(e.Value) : int64_t(RawGet4(s));
          break;
        case 330: {
          uint32_t count = e.Count;
          if (count > 2 && std::strcmp(s.Make, "Kodak") == 0) count = 2;
          if (count < 2) {
            ReadKodakIFD(s, base);
          } else {
            for (uint32_t i = 0; i < count; ++i) {
              const int64_t at = int64_t(e.Value) + 4 * int64_t(i) + base;
              if (at + 4 > s.In.Size()) break;  // a count of 0xFFFFFFFF ends with the data
              s.In.Seek(at);
              const int64_t sub = int64_t(RawGet4(s)) + base;
              if (!Visit(s, sub)) continue;
              s.In.Seek(sub);
              ReadKodakIFD(s, base);
            }
          }
          break;
        }
        case 33405: ReadTextValue(s, e, s.Model2); break;
        case 34665:
          if (Visit(s, base + e.Value)) ReadEXIFIFD(s, base);
          break;
        default: break;
      }
      s.In.Seek(save);
    }
  }
  if (RawStartsWith(s.Make, "OLYMPUS")) {
    s.Make[7] = 0;
    s.RawWidth = width;
    s.RawHeight = height + (height & 1);
    s.DataOffset = firstStrip;
  }
  if (std::strcmp(s.Make, "Canon") == 0 && std::strcmp(s.Model, "EOS D2000C") != 0) s.DataOffset = stripOffset;
  if (s.Make[0] == 0 && width == 680 && height == 680) {
    std::strcpy(s.Make, "Imacon");
    std::strcpy(s.Model, "Ixpress");
  }
}

namespace {

void ReadCameraColours(TRawDecoderState& s) {
  const uint16_t w1 = RawGet2(s);
  s.CameraRed = w1;
  if (w1 != 0) s.CameraRed = RawGet2(s) / float(w1);
  const uint16_t w3 = RawGet2(s);
  s.CameraBlue = w3;
  const uint16_t w4 = RawGet2(s);
  if (w4 != 0) s.CameraBlue = w3 / float(w4);
}

void CiffHeap(TRawDecoderState& s, int64_t offset, int64_t length, int& wbi) {
  if (s.CiffDepth >= kDeepestHeap) return;
  ++s.CiffDepth;
  static const int remap[] = {1, 2, 3, 4, 5, 1};
  static const int remap10[] = {0, 1, 3, 4, 5, 6, 0, 0, 2, 8};
  s.In.Seek(offset + length - 4);
  s.In.Seek(offset + RawGet4(s));
  int entries = RawGet2(s);
  while (entries-- > 0 && EntryFits(s, 10)) {
    const uint16_t type = RawGet2(s);
    const uint32_t len = RawGet4(s);
    const int64_t data = int64_t(RawGet4(s)) + offset;
    const int64_t save = s.In.Tell();
    s.In.Seek(data);
    if (type == 0x080a) {
      RawReadText(s, s.Make, 64);
      s.In.Seek(data + int64_t(std::strlen(s.Make)) + 1);
      RawReadText(s, s.Model, 64);
    } else if (type == 0x102a) {
      s.In.Seek(data + 14);
      wbi = RawGet2(s);
      if ((std::strcmp(s.Model, "Canon EOS DIGITAL REBEL") == 0 || std::strcmp(s.Model, "Canon EOS 300D DIGITAL") == 0) &&
          wbi == 6)
        wbi = 7;
    } else if (type == 0x102c) {
      if (std::strcmp(s.Model, "Canon PowerShot G1") == 0 || std::strcmp(s.Model, "Canon PowerShot Pro90 IS") == 0) {
        s.In.Seek(data + 120);
        s.WhiteSample[0][1] = uint16_t(RawGet2(s) << 4);
        s.WhiteSample[0][0] = uint16_t(RawGet2(s) << 4);
        s.WhiteSample[1][0] = uint16_t(RawGet2(s) << 4);
        s.WhiteSample[1][1] = uint16_t(RawGet2(s) << 4);
      } else {
        s.In.Seek(data + 100);
        if (wbi == 6 && RawGet4(s) == 0) {
          wbi = 15;
        } else {
          s.In.Seek(data + 100);
          ReadCameraColours(s);
        }
      }
    } else if (type == 0x0032) {
      if (std::strcmp(s.Model, "Canon EOS D30") == 0) {
        s.In.Seek(data + 72);
        ReadCameraColours(s);
      } else {
        s.In.Seek(data + 80 + (wbi >= 0 && wbi <= 5 ? 8 * remap[wbi] : 0));
        if (s.CameraRed == 0) ReadCameraColours(s);
      }
    } else if (type == 0x10a9) {
      if (std::strcmp(s.Model, "Canon EOS 10D") == 0 && wbi >= 0 && wbi <= 9) wbi = remap10[wbi];
      s.In.Seek(data + 2 + 8 * int64_t(wbi));
      const uint16_t w1 = RawGet2(s), w2 = RawGet2(s), w3 = RawGet2(s), w4 = RawGet2(s);
      s.CameraRed = w2 != 0 ? float(w1) / float(w2) : 0;
      s.CameraBlue = w3 != 0 ? float(w4) / float(w3) : 0;
    } else if (type == 0x1030) {
      if (wbi > 14) ReadCRWWhiteSample(s);
    } else if (type == 0x1031) {
      s.In.Seek(data + 2);
      s.RawWidth = RawGet2(s);
      s.RawHeight = RawGet2(s);
    } else if (type == 0x1835) {
      InitCRWHuffmanTrees(s, RawGet4(s));
    } else if ((type >> 8) == 0x28 || (type >> 8) == 0x30) {
      CiffHeap(s, data, len, wbi);
    }
    s.In.Seek(save);
  }
  --s.CiffDepth;
}

}  // namespace

void ReadCIFFHeap(TRawDecoderState& s, int64_t offset, int64_t length) {
  int wbi = -1;
  CiffHeap(s, offset, length, wbi);
  if (wbi == 0 && std::strcmp(s.Model, "Canon EOS D30") == 0) s.CameraRed = -1;
}

// The record's words are masked with two constants of the camera format that
// this program does not carry, so the sample stays empty and camera white
// balance falls back to the file's colour ratios.
void ReadCRWWhiteSample(TRawDecoderState&) {}

void ReadRolleiHeader(TRawDecoderState& s) {
  int64_t tx = 0, ty = 0;
  s.In.Seek(0);
  while (s.In.Tell() < s.In.Size()) {
    char line[129] = {};
    s.In.Read(line, 128);
    char* eq = std::strchr(line, '=');
    const char* value = "";
    if (eq != nullptr) {
      *eq = 0;
      value = eq + 1;
    }
    const long long number = std::strtoll(value, nullptr, 10);
    if (std::strcmp(line, "HDR") == 0) s.DataOffset = number;
    if (std::strcmp(line, "X  ") == 0) s.RawWidth = number;
    if (std::strcmp(line, "Y  ") == 0) s.RawHeight = number;
    if (std::strcmp(line, "TX ") == 0) tx = number;
    if (std::strcmp(line, "TY ") == 0) ty = number;
    if (RawStartsWith(line, "EOHD")) break;
  }
  s.DataOffset += tx * ty * 2;
  std::strcpy(s.Make, "Rollei");
  std::strcpy(s.Model, "d530flex");
}

void ParseFoveon(TRawDecoderState& s) {
  s.Order = 0x4949;
  s.In.Seek(s.In.Size() - 4);
  const int64_t d = RawGet4(s);
  s.In.Seek(d);
  while (true) {
    if (s.In.Tell() + 4 > s.In.Size()) return;
    if (RawGet4(s) == 0x464D4143) break;
  }
  int64_t o = RawGet4(s);
  s.In.Seek(o + 8);
  o = o + 8 * int64_t(RawGet4(s)) + 24;
  int64_t entries = (d - o) / 2;
  // The list lies inside the file or is not there.
  if (entries < 1 || o < 0 || o + 2 * entries > s.In.Size()) return;
  std::vector<char> list;
  try {
    list.resize(size_t(entries) + 1);
  } catch (const std::bad_alloc&) {
    RawOutOfMemory("parse_foveon");
  }
  s.In.Seek(o);
  std::vector<uint8_t> words(size_t(entries) * 2);
  s.In.Read(words.data(), int64_t(words.size()));
  for (int64_t i = 0; i < entries; ++i) list[size_t(i)] = char(words[size_t(2 * i)]);
  list[size_t(entries)] = 0;
  const char* end = list.data() + entries;
  int want = 0;  // 1 make, 2 model next
  for (const char* p = list.data(); p < end; p += std::strlen(p) + 1) {
    if (want == 1) {
      std::memset(s.Make, 0, 64);
      std::memcpy(s.Make, p, std::min<size_t>(std::strlen(p), 63));
      s.Make[63] = 0;
      want = 0;
    } else if (want == 2) {
      std::memset(s.Model, 0, 64);
      std::memcpy(s.Model, p, std::min<size_t>(std::strlen(p), 63));
      s.Model[63] = 0;
      want = 0;
    }
    if (std::strcmp(p, "CAMMANUF") == 0) want = 1;
    if (std::strcmp(p, "CAMMODEL") == 0) want = 2;
  }
  s.In.Seek(248);
  s.RawWidth = RawGet4(s);
  s.RawHeight = RawGet4(s);
}
