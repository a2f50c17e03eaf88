// libFuzzer target: the NE resource table reader must refuse any file with an
// EICLReadError and never read outside it, whatever its offsets and counts;
// the icon and cursor readers then turn its groups into icons and cursors.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "icons/module_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TCustomMemoryStream stream(data, static_cast<int64_t>(size));
  for (const bool icons : {true, false}) {
    try {
      TNEResourceFile file(stream, "fuzz");
      if (icons)
        file.ReadTable(3, 14, true);
      else
        file.ReadTable(1, 12, false);
      for (size_t g = 0; g < file.Groups().size(); ++g) {
        (void)file.GroupName(g);
        try {
          (void)file.ResourceBytes(file.Groups()[g]);
        } catch (const Exception&) {
        }
      }
    } catch (const Exception&) {
    }
  }
  const std::string path = qvfuzz::InputFile(data, size, ".icl");
  try {
    T16BitReader reader(path);
    reader.ReadNames();
    reader.ReadLibrary();
  } catch (const Exception&) {
  }
  try {
    T16BitReaderC reader(path);
    reader.ReadLibrary();
  } catch (const Exception&) {
  }
  return 0;
}
