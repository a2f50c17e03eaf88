// libFuzzer target: icon and cursor libraries from a file (PE, NE, ICL, and
// the scan for images when the resources give none), RES and DCR imports.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "icons/icon_library.h"
#include "icons/res_module.h"
#include "platform/rtl/exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string exe = qvfuzz::InputFile(data, size, ".dll");
  auto quietly = [](auto&& call) {
    try {
      call();
    } catch (const Exception&) {
    }
  };
  quietly([&] {
    TIconLibrary library;
    library.LoadFromFile(exe);
    library.MergeScannedIcons(0);
  });
  quietly([&] {
    TIconLibrary library;
    library.LoadWithReaders(exe);
  });
  quietly([&] {
    TCursorLibrary library;
    library.LoadFromFile(exe);
  });
  const std::string res = qvfuzz::InputFile(data, size, ".res");
  quietly([&] {
    TIconLibrary library;
    ImportResIcons(res, library);
  });
  quietly([&] {
    TCursorLibrary library;
    ImportResCursors(res, library);
  });
  return 0;
}
