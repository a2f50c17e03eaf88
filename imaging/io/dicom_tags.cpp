#include "imaging/io/dicom_tags.h"

#include <algorithm>

int TIEDICOMTags::AddTag(uint16_t group, uint16_t element, int32_t length, std::vector<uint8_t> data,
                         const std::string& vr) {
  TIEDICOMTag tag;
  tag.Group = group;
  tag.Element = element;
  if (vr.size() == 2) {
    tag.VR[0] = vr[0];
    tag.VR[1] = vr[1];
  }
  if (length >= 0) {
    tag.DataLen = length;
    tag.Data = std::move(data);
  }
  FTags.push_back(std::move(tag));
  return Count() - 1;
}

void TIEDICOMTags::Assign(const TIEDICOMTags* other) {
  if (other == nullptr || other == this) return;
  Clear();
  for (const TIEDICOMTag& t : other->FTags) {
    TIEDICOMTag copy = t;
    if (t.DataLen > 0) {
      // The value and its terminating zero, never more than the source holds.
      copy.Data.assign(t.Data.begin(), t.Data.begin() + std::min<size_t>(t.Data.size(), size_t(t.DataLen) + 1));
      copy.Data.resize(size_t(t.DataLen) + 1, 0);
    } else {
      copy.Data.clear();
    }
    FTags.push_back(std::move(copy));
  }
}
