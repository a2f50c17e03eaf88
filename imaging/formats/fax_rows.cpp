#include "imaging/formats/fax_rows.h"

#include "imaging/io/io_types.h"

std::vector<uint8_t> EncodeFaxBitmap(TIEBitmap&, int, TProgressRecord& progress) {
  progress.Abort();
  return {};
}
