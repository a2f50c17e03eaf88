#pragma once
// The lines of a string list as a vector, for comparing with an expected list.
#include <string>
#include <vector>

#include "platform/rtl/strings.h"

inline std::vector<std::string> Lines(const TStrings& s) {
  std::vector<std::string> v;
  for (int i = 0; i < s.Count(); ++i) v.push_back(s[i]);
  return v;
}
using V = std::vector<std::string>;
