#pragma once
// Structure checks of written PostScript and PDF documents, shared by the
// writer tests and the writers' fuzz target: each cross-reference offset
// points at its object, each stream's /Length is its data, and each DSC
// %%BeginData count reaches its %%EndData.
#include <cstdlib>
#include <string>

namespace qvtest {

// Empty when the PDF holds together, else what is wrong.
inline std::string CheckPDFStructure(const std::string& pdf) {
  const size_t sx = pdf.rfind("startxref\n");
  if (sx == std::string::npos) return "no startxref";
  const size_t xref = std::strtoull(pdf.c_str() + sx + 10, nullptr, 10);
  if (pdf.compare(xref, 5, "xref\n") != 0) return "startxref does not point at xref";
  size_t p = xref + 5;
  char* end = nullptr;
  std::strtoul(pdf.c_str() + p, &end, 10);  // first object: 0
  const size_t count = std::strtoul(end, &end, 10);
  p = size_t(end - pdf.c_str()) + 1;
  p += 20;  // the free entry
  for (size_t n = 1; n < count; ++n, p += 20) {
    if (p + 20 > pdf.size()) return "cross-reference table cut short";
    const size_t offset = std::strtoull(pdf.c_str() + p, nullptr, 10);
    const std::string head = std::to_string(n) + " 0 obj";
    if (pdf.compare(offset, head.size(), head) != 0) return "entry " + std::to_string(n) + " misses its object";
  }
  for (size_t s = pdf.find("/Length "); s != std::string::npos; s = pdf.find("/Length ", s + 1)) {
    const size_t length = std::strtoull(pdf.c_str() + s + 8, nullptr, 10);
    const size_t data = pdf.find(">>\nstream\n", s);
    if (data == std::string::npos) return "a /Length without its stream";
    const size_t start = data + 10;
    if (pdf.compare(start + length, 10, "\nendstream") != 0) return "a /Length that is not its stream's";
  }
  return "";
}

// Empty when every %%BeginData count is right, else what is wrong.
inline std::string CheckDSCDataCounts(const std::string& ps) {
  const std::string key = "%%BeginData:";
  for (size_t s = ps.find(key); s != std::string::npos; s = ps.find(key, s + 1)) {
    const size_t count = std::strtoull(ps.c_str() + s + key.size(), nullptr, 10);
    const size_t lineEnd = ps.find("\r\n", s);
    if (lineEnd == std::string::npos) return "a %%BeginData line without its end";
    if (ps.compare(lineEnd + 2 + count, 9, "%%EndData") != 0) return "a %%BeginData count that misses %%EndData";
  }
  return "";
}

}  // namespace qvtest
