// The element table against DCMTK's data dictionary (dicom.dic of the
// libdcmtk package): every element there has its representation here and
// nothing here is missing there.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "imaging/special/dicom/dicom_dictionary.h"

namespace {

std::string DcmtkDictionary() {
  for (const char* dir : {"/usr/share/libdcmtk17", "/usr/share/libdcmtk16", "/usr/share/libdcmtk18", "/usr/share/dcmtk"}) {
    const std::string path = std::string(dir) + "/dicom.dic";
    if (std::filesystem::exists(path)) return path;
  }
  return {};
}

// DCMTK's pseudo representations as the table holds them.
std::string Mapped(const std::string& vr) {
  if (vr == "xs" || vr == "ox" || vr == "lt" || vr == "px") return "xs";
  if (vr == "up") return "UL";
  if (vr == "na") return "!!";
  return vr;
}

TEST(DICOMDictionaryOracle, EveryElementOfDcmtksDictionary) {
  const std::string path = DcmtkDictionary();
  if (path.empty()) GTEST_SKIP() << "DCMTK's dicom.dic is not installed (libdcmtk)";
  std::ifstream in(path);
  std::map<uint32_t, std::string> theirs;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string tag, vr;
    std::getline(fields, tag, '\t');
    std::getline(fields, vr, '\t');
    // (gggg,eeee) only; ranges of groups keep their first group, the others
    // (element ranges, the retired variable pixel data) are not in the table.
    if (tag.size() == 16 && tag.substr(5, 1) == "-" && (tag.substr(1, 4) == "6000" || tag.substr(1, 4) == "5000"))
      tag = tag.substr(0, 5) + tag.substr(10);
    if (tag.size() != 11) continue;
    const uint32_t key = uint32_t(std::stoul(tag.substr(1, 4), nullptr, 16)) << 16 | std::stoul(tag.substr(6, 4), nullptr, 16);
    theirs[key] = Mapped(vr);
  }
  ASSERT_GT(theirs.size(), 4000u);
  theirs[0xFFFFFFFF] = "xs";
  const TDICOMDictionaryEntry* d = DICOMDictionary();
  EXPECT_EQ(DICOMDictionarySize(), theirs.size());
  size_t shown = 0;
  for (size_t i = 0; i < DICOMDictionarySize(); ++i) {
    const uint32_t key = uint32_t(d[i].Group) << 16 | d[i].Element;
    const auto found = theirs.find(key);
    if (found == theirs.end()) {
      if (shown++ < 10) ADD_FAILURE() << std::hex << key << " is not in DCMTK's dictionary";
      continue;
    }
    if (found->second != std::string(d[i].VR, 2) && shown++ < 10)
      ADD_FAILURE() << std::hex << key << ": " << std::string(d[i].VR, 2) << " vs " << found->second;
  }
  for (const auto& [key, vr] : theirs)
    if (DICOMElementVR(uint16_t(key >> 16), uint16_t(key)) != vr && shown++ < 10)
      ADD_FAILURE() << std::hex << key << " looks up as " << DICOMElementVR(uint16_t(key >> 16), uint16_t(key))
                    << ", DCMTK says " << vr;
}

}  // namespace
