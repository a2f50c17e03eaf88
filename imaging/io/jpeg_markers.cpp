#include "imaging/io/jpeg_markers.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "imaging/io/exif_block.h"
#include "platform/rtl/byte_order.h"

namespace {

constexpr int kAPP1 = 0xE1;
constexpr int kAPP2 = 0xE2;

bool IsICCChunk(const std::vector<uint8_t>& d) {
  return d.size() > 13 && std::memcmp(d.data(), "ICC_PROFILE", 12) == 0;
}

}  // namespace

// ---- TIEMarkerList ----

int TIEMarkerList::IndexOfType(int type) const {
  for (int i = 0; i < Count(); ++i)
    if (FMarkers[i].type == type) return i;
  return -1;
}

int TIEMarkerList::AddMarker(int type, const void* data, int64_t length) {
  TMarker m;
  m.type = type;
  if (length > 0 && data != nullptr) {
    const auto* p = static_cast<const uint8_t*>(data);
    m.data.assign(p, p + length);
  }
  FMarkers.push_back(std::move(m));
  return Count() - 1;
}

void TIEMarkerList::SetMarker(int i, int type, int64_t length, const void* data) {
  TMarker& m = FMarkers.at(i);
  m.type = type;
  m.data.clear();
  if (length > 0 && data != nullptr) {
    const auto* p = static_cast<const uint8_t*>(data);
    m.data.assign(p, p + length);
  }
}

void TIEMarkerList::DeleteMarker(int i) {
  (void)FMarkers.at(i);  // an index outside the list raises
  FMarkers.erase(FMarkers.begin() + i);
}

void TIEMarkerList::DeleteType(int type) {
  std::erase_if(FMarkers, [type](const TMarker& m) { return m.type == type; });
}

void TIEMarkerList::Assign(const TIEMarkerList* other) {
  if (other == nullptr || other == this) return;
  FMarkers = other->FMarkers;
}

int TIEMarkerList::CompareMarkers(int i, int j) const {
  const TMarker& a = FMarkers.at(i);
  const TMarker& b = FMarkers.at(j);
  if (a.type == kAPP2 && b.type == kAPP2 && IsICCChunk(a.data) && IsICCChunk(b.data)) return a.data[12] - b.data[12];
  return a.type - b.type;
}

void TIEMarkerList::SwapMarkers(int i, int j) { std::swap(FMarkers.at(i), FMarkers.at(j)); }

void TIEMarkerList::QuickSort(int lo, int hi) {
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    SwapMarkers(mid, hi);
    int store = lo;
    for (int k = lo; k < hi; ++k)
      if (CompareMarkers(k, hi) < 0) SwapMarkers(k, store++);
    SwapMarkers(store, hi);
    // Recurse into the smaller side so the depth stays logarithmic.
    if (store - lo < hi - store) {
      QuickSort(lo, store - 1);
      lo = store + 1;
    } else {
      QuickSort(store + 1, hi);
      hi = store - 1;
    }
  }
}

void TIEMarkerList::Sort() {
  if (Count() > 1) QuickSort(0, Count() - 1);
  const int first = IndexOfType(kAPP1);
  if (first < 0 || first == Count() - 1) return;
  for (int i = first + 1; i < Count(); ++i)
    if (FMarkers[i].type == kAPP1 && IsEXIFMarker(FMarkers[i].data.data(), MarkerLength(i))) SwapMarkers(i, first);
}

// ---- TIEIPTCInfoList ----

int TIEIPTCInfoList::AddItem(int record, int dataset, int64_t length, const void* data) {
  TItem item;
  item.record = record;
  item.dataset = dataset;
  if (length > 0 && data != nullptr) {
    const auto* p = static_cast<const uint8_t*>(data);
    item.data.assign(p, p + length);
  }
  FItems.push_back(std::move(item));
  FChanged = true;
  return Count() - 1;
}

void TIEIPTCInfoList::Clear() {
  FItems.clear();
  FChanged = true;
}

void TIEIPTCInfoList::Assign(const TIEIPTCInfoList* other) {
  if (other == nullptr) return;
  if (other != this) FItems = other->FItems;
  FChanged = true;
}

namespace {

constexpr uint8_t kPlainPrefix[7] = {0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x02};
constexpr uint8_t kPhotoshopPrefix[26] = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0',
                                          0,   '8', 'B', 'I', 'M', 0x04, 0x04, 0,  0,   0,   0,   0,   0};
constexpr uint8_t kIptcResource[6] = {'8', 'B', 'I', 'M', 0x04, 0x04};


}  // namespace

std::vector<uint8_t> TIEIPTCInfoList::SaveToBuffer(bool photoshop) const {
  if (FItems.empty()) return {};
  std::vector<uint8_t> out;
  if (photoshop)
    out.assign(std::begin(kPhotoshopPrefix), std::end(kPhotoshopPrefix));
  else
    out.assign(std::begin(kPlainPrefix), std::end(kPlainPrefix));
  uint64_t itemBytes = 0;
  for (const TItem& item : FItems) {
    if ((item.record == 2 && item.dataset == 0) || item.data.empty()) continue;
    const uint64_t n = item.data.size();
    out.push_back(0x1C);
    out.push_back(uint8_t(item.record));
    out.push_back(uint8_t(item.dataset));
    if (n < 32768) {
      out.push_back(uint8_t(n >> 8));
      out.push_back(uint8_t(n));
      itemBytes += 5 + n;
    } else {
      out.push_back(0x80);
      out.push_back(0x04);
      const size_t at = out.size();
      out.resize(at + 4);
      WriteBE32(out.data() + at, uint32_t(n));
      itemBytes += 9 + n;
    }
    out.insert(out.end(), item.data.begin(), item.data.end());
  }
  if (out.size() % 2 != 0) out.push_back(0);
  if (photoshop) WriteBE32(out.data() + 22, uint32_t(itemBytes));
  return out;
}

bool TIEIPTCInfoList::LoadFromBuffer(const uint8_t* data, int64_t length) {
  Clear();
  if (data == nullptr || length <= 0) return false;
  int64_t b = 0;
  if (length >= 13 && std::memcmp(data, "Photoshop 3.0", 13) == 0) {
    const uint8_t* end = data + length;
    const uint8_t* hit = std::search(data, end, std::begin(kIptcResource), std::end(kIptcResource));
    b = hit == end ? length : (hit - data) + 6;
  }
  while (b < length && data[b] != 0x1C) ++b;
  while (b + 1 < length && data[b + 1] == 0x1C) ++b;

  bool read = false;
  // Every header byte is inside the block, and a length runs no further than
  // the bytes that remain.
  while (b + 5 < length && data[b] == 0x1C) {
    const int record = data[b + 1];
    const int dataset = data[b + 2];
    int64_t size = 0;
    int64_t start = 0;
    if (data[b + 3] & 0x80) {
      if (b + 9 > length) break;
      size = ReadBE32(data + b + 5);
      start = b + 9;
    } else {
      size = ReadBE16(data + b + 3);
      start = b + 5;
    }
    if (size > length - start) break;
    AddItem(record, dataset, size, data + start);
    read = true;
    b = start + size;
  }
  FChanged = false;
  return read;
}
