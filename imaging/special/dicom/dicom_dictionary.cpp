#include "imaging/special/dicom/dicom_dictionary.h"

#include <algorithm>
#include <iterator>

namespace {

const TDICOMDictionaryEntry kDictionary[] = {
#include "imaging/special/dicom/dicom_dictionary_table.inc"
};

}  // namespace

const TDICOMDictionaryEntry* DICOMDictionary() { return kDictionary; }

size_t DICOMDictionarySize() { return std::size(kDictionary); }

std::string DICOMElementVR(uint16_t group, uint16_t element) {
  // Overlay and curve groups repeat: 6002 describes a second overlay as 6000
  // does the first.
  if ((group & 0xFF01) == 0x6000 || (group & 0xFF01) == 0x5000) group &= 0xFF00;
  const uint32_t key = uint32_t(group) << 16 | element;
  const auto* end = kDictionary + std::size(kDictionary);
  const auto* found = std::lower_bound(kDictionary, end, key, [](const TDICOMDictionaryEntry& e, uint32_t k) {
    return (uint32_t(e.Group) << 16 | e.Element) < k;
  });
  if (found == end || found->Group != group || found->Element != element) return "xs";
  return std::string(found->VR, 2);
}
