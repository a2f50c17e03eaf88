// Feeds arbitrary bytes to the TIFF structure editor, writes what it read
// back and reads that again: it may read nothing, never crash or loop.
#include <cstddef>
#include <cstdint>

#include "imaging/io/tiff_handler.h"
#include "platform/rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TCustomMemoryStream s(data, static_cast<int64_t>(size));
  TIETIFFHandler h;
  if (!h.ReadStream(s)) return 0;
  for (int p = 0; p < h.PageCount(); ++p) {
    TIETIFFTagList* page = h.Page(p);
    for (size_t e = 0; e < page->Entries.size(); ++e) h.GetValue(*page, int(e), 0);
  }
  TMemoryStream out;
  h.WriteStream(out, -1);
  out.SetPosition(0);
  TIETIFFHandler again;
  again.ReadStream(out);
  return 0;
}
