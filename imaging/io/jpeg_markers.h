#pragma once
// The APPn and COM markers of a JPEG picture, kept byte for byte so that a save
// writes them back, and the IPTC records with their block format.
#include <cstdint>
#include <vector>

#include "platform/rtl/object.h"

class TIEMarkerList : public TObject {
public:
  int Count() const { return static_cast<int>(FMarkers.size()); }
  // The payload: the marker's data without the marker bytes and the length.
  const uint8_t* MarkerData(int i) const { return FMarkers.at(i).data.data(); }
  uint8_t* MarkerData(int i) { return FMarkers.at(i).data.data(); }
  int MarkerType(int i) const { return FMarkers.at(i).type; }
  int64_t MarkerLength(int i) const { return static_cast<int64_t>(FMarkers.at(i).data.size()); }
  int IndexOfType(int type) const;
  // The payload is kept whole: one too long for a JPEG segment fails when the
  // picture is written, it is never cut here.
  int AddMarker(int type, const void* data, int64_t length);
  void SetMarker(int i, int type, int64_t length, const void* data);
  void DeleteMarker(int i);
  void DeleteType(int type);
  void Clear() { FMarkers.clear(); }
  void Assign(const TIEMarkerList* other);
  int CompareMarkers(int i, int j) const;
  void SwapMarkers(int i, int j);
  // By type, ICC profile chunks in sequence order, then an EXIF marker first
  // among the APP1 markers.
  void Sort();

private:
  struct TMarker {
    int type = 0;
    std::vector<uint8_t> data;
  };
  void QuickSort(int lo, int hi);
  std::vector<TMarker> FMarkers;
};

// The largest payload a JPEG segment holds (its length field counts itself).
constexpr int64_t kMaxJpegMarkerPayload = 65533;

class TIEIPTCInfoList : public TObject {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  int RecordNumber(int i) const { return FItems.at(i).record; }
  int DatasetNumber(int i) const { return FItems.at(i).dataset; }
  const std::vector<uint8_t>& ItemData(int i) const { return FItems.at(i).data; }
  int AddItem(int record, int dataset, int64_t length, const void* data);
  // Clear is an edit (the next JPEG save rewrites APP13 without IPTC); Reset
  // empties the list for a new load or new defaults and is no edit, so an
  // APP13 block read with the picture goes back as it came.
  void Clear();
  void Reset() {
    FItems.clear();
    FChanged = false;
  }
  void Assign(const TIEIPTCInfoList* other);
  // The block in the plain form or, with photoshop set, as a Photoshop image
  // resource; empty when there are no items.
  std::vector<uint8_t> SaveToBuffer(bool photoshop) const;
  // Parses a block; true when at least one item was read. Stops at the first
  // item that does not fit, keeping those before it.
  bool LoadFromBuffer(const uint8_t* data, int64_t length);
  bool Changed() const { return FChanged; }
  void SetChanged(bool changed) { FChanged = changed; }

private:
  struct TItem {
    int record = 0;
    int dataset = 0;
    std::vector<uint8_t> data;
  };
  std::vector<TItem> FItems;
  bool FChanged = false;
};
