// libFuzzer target: the registry store's file is read, written and read again;
// the second writing must give the same text as the first (a load and save is
// a fixed point), whatever the first file held.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "fuzz_support.h"
#include "platform/win/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TRegStoreTree tree;
  std::vector<std::string> problems;
  ParseRegExport(text, tree, &problems);
  const std::string once = FormatRegExport(tree);
  TRegStoreTree again;
  if (!ParseRegExport(once, again)) qvfuzz::Finding("the store's own text is refused");
  if (FormatRegExport(again) != once) qvfuzz::Finding("a load and save of the store changed it");
  return 0;
}
