#include "tests/imaging/special/dicom/dicom_test_util.h"

#include "imaging/special/dicom/dicom_reader.h"
#include "platform/rtl/streams.h"

namespace qvtest {

namespace {
bool LongLength(const char* vr) {
  const std::string v = vr;
  return v == "OB" || v == "OW" || v == "SQ" || v == "UN" || v == "UT" || v == "OF";
}
}  // namespace

TDicomWriter::TDicomWriter(const std::string& ts, bool preamble) {
  if (preamble) {
    FOut.assign(128, 0);
    FOut.insert(FOut.end(), {'D', 'I', 'C', 'M'});
  }
  if (!ts.empty()) Text(2, 0x0010, "UI", ts);
  FExplicit = ts != "1.2.840.10008.1.2";
  FBig = ts == "1.2.840.10008.1.2.2";
}

void TDicomWriter::Put16(uint16_t v, bool big) {
  if (big) FOut.insert(FOut.end(), {uint8_t(v >> 8), uint8_t(v)});
  else FOut.insert(FOut.end(), {uint8_t(v), uint8_t(v >> 8)});
}

void TDicomWriter::Put32(uint32_t v, bool big) {
  if (big) FOut.insert(FOut.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
  else FOut.insert(FOut.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

void TDicomWriter::Tag(uint16_t group, uint16_t element) {
  const bool big = FBig && group != 2;
  Put16(group, big);
  Put16(element, big);
}

void TDicomWriter::Length(uint16_t group, const char* vr, uint32_t length) {
  const bool big = FBig && group != 2;
  if (group == 0xFFFE) return Put32(length, big);
  if (FExplicit || group == 2) {
    FOut.push_back(uint8_t(vr[0]));
    FOut.push_back(uint8_t(vr[1]));
    if (LongLength(vr)) {
      FOut.insert(FOut.end(), {0, 0});
      Put32(length, big);
    } else {
      Put16(uint16_t(length), big);
    }
  } else {
    Put32(length, big);
  }
}

TDicomWriter& TDicomWriter::Element(uint16_t group, uint16_t element, const char* vr, const Bytes& value) {
  Tag(group, element);
  Length(group, vr, uint32_t(value.size()));
  FOut.insert(FOut.end(), value.begin(), value.end());
  return *this;
}

TDicomWriter& TDicomWriter::US(uint16_t group, uint16_t element, uint16_t v) {
  Tag(group, element);
  Length(group, "US", 2);
  Put16(v, FBig && group != 2);
  return *this;
}

TDicomWriter& TDicomWriter::Words(uint16_t group, uint16_t element, const char* vr, const std::vector<uint16_t>& words) {
  Tag(group, element);
  Length(group, vr, uint32_t(words.size() * 2));
  for (uint16_t w : words) Put16(w, FBig && group != 2);
  return *this;
}

TDicomWriter& TDicomWriter::Text(uint16_t group, uint16_t element, const char* vr, std::string text) {
  if (text.size() % 2) text.push_back(std::string(vr) == "UI" ? '\0' : ' ');
  return Element(group, element, vr, Bytes(text.begin(), text.end()));
}

TDicomWriter& TDicomWriter::Undefined(uint16_t group, uint16_t element, const char* vr) {
  Tag(group, element);
  Length(group, vr, 0xFFFFFFFF);
  return *this;
}

TDicomWriter& TDicomWriter::Item(uint32_t length) {
  Tag(0xFFFE, 0xE000);
  Put32(length, FBig);
  return *this;
}

TDicomWriter& TDicomWriter::ItemEnd() {
  Tag(0xFFFE, 0xE00D);
  Put32(0, FBig);
  return *this;
}

TDicomWriter& TDicomWriter::SequenceEnd() {
  Tag(0xFFFE, 0xE0DD);
  Put32(0, FBig);
  return *this;
}

TDicomWriter& TDicomWriter::Raw(const Bytes& bytes) {
  FOut.insert(FOut.end(), bytes.begin(), bytes.end());
  return *this;
}

TDicomWriter& TDicomWriter::Picture(int columns, int rows, int bitsAllocated, int bitsStored, const char* photometric,
                                    int samples, int pixelRepresentation) {
  US(0x28, 0x0002, uint16_t(samples));
  Text(0x28, 0x0004, "CS", photometric);
  US(0x28, 0x0010, uint16_t(rows));
  US(0x28, 0x0011, uint16_t(columns));
  US(0x28, 0x0100, uint16_t(bitsAllocated));
  US(0x28, 0x0101, uint16_t(bitsStored));
  US(0x28, 0x0102, uint16_t(bitsStored - 1));
  US(0x28, 0x0103, uint16_t(pixelRepresentation));
  return *this;
}

TDicomWriter& TDicomWriter::Encapsulated(const std::vector<Bytes>& fragments, const std::vector<uint32_t>& offsets) {
  Undefined(0x7FE0, 0x0010, "OB");
  Item(uint32_t(offsets.size() * 4));
  for (uint32_t o : offsets) Put32(o, false);
  for (const Bytes& f : fragments) {
    Item(uint32_t(f.size()));
    Raw(f);
  }
  return SequenceEnd();
}

void ReadDicomBytes(const Bytes& file, TDicomRead& r, bool paramsOnly) {
  TMemoryStream s;
  s.WriteBuffer(file.data(), int64_t(file.size()));
  s.SetPosition(0);
  ReadDICOMStream(s, *r.params, r.bitmap.get(), paramsOnly, r.progress);
}

Bytes RleFrame(const std::vector<Bytes>& segments) {
  Bytes out(64, 0);
  out[0] = uint8_t(segments.size());
  for (size_t k = 0; k < segments.size(); ++k) {
    const uint32_t at = uint32_t(out.size());
    for (int i = 0; i < 4; ++i) out[4 + 4 * k + i] = uint8_t(at >> (8 * i));
    const Bytes& s = segments[k];
    // Literal runs of up to 128 bytes, then repeats where two bytes match.
    size_t i = 0;
    while (i < s.size()) {
      size_t run = 1;
      while (i + run < s.size() && s[i + run] == s[i] && run < 128) ++run;
      if (run >= 2) {
        out.push_back(uint8_t(1 - int(run)));
        out.push_back(s[i]);
      } else {
        size_t n = 1;
        while (i + n < s.size() && n < 128 && !(i + n + 1 < s.size() && s[i + n] == s[i + n + 1])) ++n;
        out.push_back(uint8_t(n - 1));
        out.insert(out.end(), s.begin() + long(i), s.begin() + long(i + n));
        run = n;
      }
      i += run;
    }
    if (out.size() % 2) out.push_back(0x80);  // a no-op byte keeps segments even
  }
  return out;
}

}  // namespace qvtest
