// libFuzzer target: the file-type sniffer and the executable probes read any
// file without reading past it.
#include <cstddef>
#include <cstdint>

#include "base/file_type_sniffer.h"
#include "fuzz_support.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = qvfuzz::InputFile(data, size, ".bin");
  try {
    TSniffedFileType code;
    int32_t sub = 0;
    DetectFileType(file, code, sub);
    bool is64 = false;
    (void)CountIconGroupsInFile(file, is64);
    (void)FileHasIconGroups(file);
  } catch (const Exception&) {
  }
  auto probe = [&](auto&& call) {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    try {
      call(stream);
    } catch (const Exception&) {
    }
  };
  probe([&](TStream& s) { (void)IsTgaHeader(s, static_cast<int64_t>(size)); });
  probe([&](TStream& s) { (void)HasMacIconTag(s, static_cast<int64_t>(size)); });
  probe([](TStream& s) { (void)HasMacResourceMap(s); });
  probe([](TStream& s) { (void)GetJpegComponentCount(s); });
  probe([](TStream& s) {
    TExeResourceTable table;
    (void)LocateResourceTable(s, table);
  });
  return 0;
}
