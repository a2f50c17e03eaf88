// Splits arbitrary text as an address to download: it may refuse, never crash,
// and what it accepts keeps the rules (a port in 1..65535, a path from "/").
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "imaging/io/url_download.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string address(reinterpret_cast<const char*>(data), size);
  TIEURLParts parts;
  std::string why;
  if (SplitURL(address, parts, why)) {
    if (parts.Port < 1 || parts.Port > 65535) qvfuzz::Finding("port out of range");
    if (parts.Path.empty() || parts.Path[0] != '/') qvfuzz::Finding("path without its slash");
    if (parts.Host.empty()) qvfuzz::Finding("no host");
    if (parts.Kind < 1 || parts.Kind > 3) qvfuzz::Finding("kind");
  } else if (why.empty()) {
    qvfuzz::Finding("refused without a reason");
  }
  return 0;
}
