#include "imaging/io/format_descriptor.h"

namespace {

std::vector<TIEFormatDescriptor>& List() {
  static std::vector<TIEFormatDescriptor> list;
  return list;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameNoCase(const std::string& a, size_t from, size_t to, const std::string& b) {
  if (to - from != b.size()) return false;
  for (size_t i = 0; i < b.size(); ++i)
    if (Lower(a[from + i]) != Lower(b[i])) return false;
  return true;
}

}  // namespace

void InstallFormatDescriptors(std::vector<TIEFormatDescriptor> list) { List() = std::move(list); }

std::vector<TIEFormatDescriptor>& FormatDescriptors() { return List(); }

void AddFormatDescriptor(TIEFormatDescriptor descriptor, TImageFileType after) {
  std::vector<TIEFormatDescriptor>& list = List();
  if (TIEFormatDescriptor* same = FindFormatDescriptor(descriptor.FileType)) {
    *same = std::move(descriptor);
    return;
  }
  auto at = list.begin();
  while (at != list.end() && at->FileType != after) ++at;
  if (at != list.end()) ++at;
  list.insert(at, std::move(descriptor));
}

TIEFormatDescriptor* FindFormatDescriptor(TImageFileType code) {
  for (TIEFormatDescriptor& d : List())
    if (d.FileType == code) return &d;
  return nullptr;
}

bool SuffixListHas(const std::string& suffixes, const std::string& extension) {
  std::string ext = extension;
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  if (ext.empty()) return false;
  size_t from = 0;
  while (from <= suffixes.size()) {
    size_t to = suffixes.find(';', from);
    if (to == std::string::npos) to = suffixes.size();
    if (SameNoCase(suffixes, from, to, ext)) return true;
    from = to + 1;
  }
  return false;
}
