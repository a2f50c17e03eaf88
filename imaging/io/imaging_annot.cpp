#include "imaging/io/imaging_annot.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_dib_exchange.h"
#include "platform/rtl/byte_order.h"

namespace {

void SetLE32(uint8_t* p, uint32_t x) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(x >> (8 * i));
}

constexpr int kScreenPixelsPerInch = 96;

using TBlocks = std::map<std::string, std::vector<uint8_t>>;

// Reads the named block at pos; false when its header or data runs past the end.
bool ReadNamedBlock(const uint8_t* data, int64_t length, int64_t& pos, uint32_t format, TBlocks& blocks) {
  if (pos + 12 > length) return false;
  size_t nameLen = 0;
  while (nameLen < 8 && data[pos + int64_t(nameLen)] != 0) ++nameLen;
  std::string name(reinterpret_cast<const char*>(data + pos), nameLen);
  const int64_t size = ReadLE32(data + pos + 8);
  int64_t start = pos + 12 + (format == 0 ? 4 : 0);
  if (start > length || size > length - start) return false;
  blocks[name].assign(data + start, data + start + size);
  pos = start + size;
  return true;
}

void FinishMark(TIEImagingAnnot& annotations, const uint8_t* attributes, const TBlocks& blocks) {
  const uint32_t type = ReadLE32(attributes);
  if (int32_t(type) < 1) return;
  TIEImagingObject& object = annotations.Add();
  std::memcpy(object.Attributes, attributes, kWangAttributeSize);
  if (type == 3 || type == 4) {
    auto it = blocks.find("OiAnoDat");
    if (it != blocks.end() && it->second.size() >= 8) {
      const std::vector<uint8_t>& b = it->second;
      const uint64_t count = std::min<uint64_t>(ReadLE32(b.data() + 4), (b.size() - 8) / 8);
      for (uint64_t i = 0; i < count; ++i)
        object.Points.emplace_back(int32_t(ReadLE32(b.data() + 8 + 8 * i)), int32_t(ReadLE32(b.data() + 12 + 8 * i)));
    }
  } else if (type >= 7 && type <= 10) {
    auto it = blocks.find("OiAnText");
    if (it != blocks.end() && it->second.size() >= 16) {
      const std::vector<uint8_t>& b = it->second;
      const uint64_t textLen = std::min<uint64_t>(ReadLE32(b.data() + 12), b.size() - 16);
      std::string text(reinterpret_cast<const char*>(b.data() + 16), size_t(textLen));
      object.Text = text.substr(0, text.find('\0'));
      int32_t scale = int32_t(ReadLE32(b.data() + 8));
      if (scale == 0) scale = 7500;
      // The height is kept at a creation scale of 7500, cut toward zero at each step.
      const long double a = std::trunc(1000.0L / scale * object.FontHeight());
      const long double h = -std::trunc(-a * 7.5L);
      if (std::fabs(h) < 2147483647.0L) object.SetFontHeight(int32_t(h));
    }
  } else if (type == 1) {
    auto it = blocks.find("OiDIB");
    if (it != blocks.end()) {
      auto image = std::make_unique<TIEBitmap>();
      if (DIBToIEBitmap(it->second.data(), it->second.size(), *image) > 0) object.Image = std::move(image);
    }
  }
}

void WriteNamedBlock(std::vector<uint8_t>& out, uint32_t recordType, const char* name, const void* data, size_t size) {
  AppendLE32(out, recordType);
  AppendLE32(out, 12);
  char padded[8] = {};
  std::memcpy(padded, name, std::min<size_t>(std::strlen(name), 8));
  out.insert(out.end(), padded, padded + 8);
  AppendLE32(out, uint32_t(size));
  const auto* p = static_cast<const uint8_t*>(data);
  out.insert(out.end(), p, p + size);
}

void WriteTextBlock(std::vector<uint8_t>& out, uint32_t recordType, const char* name, const std::string& text) {
  WriteNamedBlock(out, recordType, name, text.c_str(), text.size() + 1);
}

}  // namespace

// ---- objects ----

TIEImagingObject::TIEImagingObject() = default;
TIEImagingObject::~TIEImagingObject() = default;
uint32_t TIEImagingObject::MarkType() const { return ReadLE32(Attributes); }
int32_t TIEImagingObject::FontHeight() const { return int32_t(ReadLE32(Attributes + kWangFontHeightOffset)); }
void TIEImagingObject::SetMarkType(uint32_t type) { SetLE32(Attributes, type); }
void TIEImagingObject::SetFontHeight(int32_t height) { SetLE32(Attributes + kWangFontHeightOffset, uint32_t(height)); }

TIEImagingObject& TIEImagingAnnot::Add() {
  FObjects.push_back(std::make_unique<TIEImagingObject>());
  return *FObjects.back();
}

void TIEImagingAnnot::Assign(const TIEImagingAnnot* other) {
  if (other == nullptr || other == this) return;
  Clear();
  for (const auto& o : other->FObjects) {
    TIEImagingObject& copy = Add();
    std::memcpy(copy.Attributes, o->Attributes, kWangAttributeSize);
    copy.Points = o->Points;
    copy.Text = o->Text;
    if (o->Image) copy.Image = TIEBitmap::CreateCopy(*o->Image);
  }
}

// ---- the block ----

void LoadImagingAnnot(TIEImagingAnnot& annotations, const uint8_t* data, int64_t length) {
  if (data == nullptr || length < 8) return;
  const uint32_t format = ReadLE32(data + 4);
  int64_t pos = 8;
  TBlocks defaults, current;
  uint8_t attributes[kWangAttributeSize] = {};
  while (pos + 8 <= length) {
    const uint32_t type = ReadLE32(data + pos);
    const int64_t size = ReadLE32(data + pos + 4);
    pos += 8;
    if (type == 2) {
      if (!ReadNamedBlock(data, length, pos, format, defaults)) break;
    } else if (type == 5) {
      FinishMark(annotations, attributes, current);
      current.clear();
      if (pos + kWangAttributeSize > length) {
        std::memset(attributes, 0, sizeof attributes);
        break;
      }
      std::memcpy(attributes, data + pos, kWangAttributeSize);
      pos += kWangAttributeSize;
    } else if (type == 6) {
      if (!ReadNamedBlock(data, length, pos, format, current)) break;
    } else {
      if (size > length - pos) break;
      pos += size;
    }
  }
  FinishMark(annotations, attributes, current);
  annotations.SetUserChanged(false);
}

std::vector<uint8_t> SaveImagingAnnot(TIEImagingAnnot& annotations) {
  if (annotations.Count() == 0) return {};
  std::vector<uint8_t> out;
  AppendLE32(out, 0);
  AppendLE32(out, 1);
  WriteTextBlock(out, 2, "OiGroup", "0");
  WriteTextBlock(out, 2, "OiIndex", "1");
  for (int i = 0; i < annotations.Count(); ++i) {
    TIEImagingObject& object = annotations.Objects(i);
    AppendLE32(out, 5);
    AppendLE32(out, kWangAttributeSize);
    out.insert(out.end(), object.Attributes, object.Attributes + kWangAttributeSize);
    const uint32_t type = object.MarkType();
    if (type == 1) {
      std::vector<uint8_t> rotation;
      AppendLE32(rotation, 1);
      AppendLE32(rotation, 1000);
      for (int k = 0; k < 4; ++k) AppendLE32(rotation, kScreenPixelsPerInch);
      rotation.resize(56, 0);
      WriteNamedBlock(out, 6, "OiAnoDat", rotation.data(), rotation.size());
      std::vector<uint8_t> dib;
      if (object.Image) dib = CopyBitmapToPackedDIB(*object.Image, 0, 0, 0, 0, 200, 200);
      WriteNamedBlock(out, 6, "OiDIB", dib.data(), dib.size());
    } else if (type == 3 || type == 4) {
      std::vector<uint8_t> points;
      AppendLE32(points, uint32_t(object.Points.size()));
      AppendLE32(points, uint32_t(object.Points.size()));
      for (const auto& [x, y] : object.Points) {
        AppendLE32(points, uint32_t(x));
        AppendLE32(points, uint32_t(y));
      }
      WriteNamedBlock(out, 6, "OiAnoDat", points.data(), points.size());
    } else if (type >= 7 && type <= 10) {
      std::vector<uint8_t> text;
      AppendLE32(text, 0);
      AppendLE32(text, 1000);
      AppendLE32(text, 7500);
      AppendLE32(text, uint32_t(object.Text.size() + 1));
      text.insert(text.end(), object.Text.begin(), object.Text.end());
      text.push_back(0);
      WriteNamedBlock(out, 6, "OiAnText", text.data(), text.size());
    }
    WriteTextBlock(out, 6, "OiGroup", "0");
    WriteTextBlock(out, 6, "OiIndex", std::to_string(i));
  }
  return out;
}
