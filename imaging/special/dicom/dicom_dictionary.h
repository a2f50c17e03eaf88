#pragma once
// The DICOM data dictionary as the reader needs it: the value representation
// of every element of the standard (data elements and command elements of
// group 0000). "xs" stands where more than one representation is allowed (US
// or SS, OB or OW) and "!!" for items and delimiters.
#include <cstddef>
#include <cstdint>
#include <string>

struct TDICOMDictionaryEntry {
  uint16_t Group;
  uint16_t Element;
  char VR[2];
};

// The table, ordered by group and then element.
const TDICOMDictionaryEntry* DICOMDictionary();
size_t DICOMDictionarySize();

// The representation of (group, element); "xs" for one the table does not
// hold. The repeating groups 5000-50FF and 6000-60FF (even) read as their
// first group.
std::string DICOMElementVR(uint16_t group, uint16_t element);
