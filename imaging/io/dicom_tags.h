#pragma once
// The data elements a DICOM reader found, kept in the parameter set.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/object.h"

struct TIEDICOMTag {
  uint16_t Group = 0;
  uint16_t Element = 0;
  char VR[2] = {0, 0};  // zero when not given
  std::vector<uint8_t> Data;  // the value and one zero byte after it; empty for none
  int32_t DataLen = 0;
};

class TIEDICOMTags : public TObject {
public:
  int Count() const { return static_cast<int>(FTags.size()); }
  const TIEDICOMTag& Tag(int i) const { return FTags.at(i); }
  void Clear() { FTags.clear(); }
  // Takes over data (the value of length bytes, as the reader holds it with a
  // zero after it). The value representation is kept only when it has exactly
  // two characters; a negative length stores no data.
  int AddTag(uint16_t group, uint16_t element, int32_t length, std::vector<uint8_t> data, const std::string& vr);
  void Assign(const TIEDICOMTags* other);

private:
  std::vector<TIEDICOMTag> FTags;
};
