// libFuzzer target: RES files read into a resource module and imported as
// icons and cursors must fail with an exception of their own at worst, never
// read outside the data or loop.
#include <cstddef>
#include <cstdint>

#include "icons/icon_library.h"
#include "icons/res_module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    TResModule module;
    module.LoadFromStream(stream);
    TMemoryStream out;
    module.SaveToStream(out);
  } catch (const Exception&) {
  }
  try {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    TIconLibrary icons;
    ImportResStreamIcons(stream, icons);
    stream.SetPosition(0);
    TCursorLibrary cursors;
    ImportResStreamCursors(stream, cursors);
  } catch (const Exception&) {
  }
  try {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    TMemoryStream res;
    ConvertDcrToRes(stream, res);
    TIconLibrary icons;
    ImportDcrBitmapIcon(res, icons);
  } catch (const Exception&) {
  }
  return 0;
}
