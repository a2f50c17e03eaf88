// libFuzzer target: component streams, read into the objects that define
// properties of their own (icon lists and their holder, typed lists, icons).
#include <cstddef>
#include <cstdint>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "base/typed_lists.h"
#include "icons/advanced_icon.h"
#include "icons/icon_library.h"
#include "icons/icon_list.h"
#include "platform/rtl/filer.h"

namespace {

template <class F>
void Read(const uint8_t* data, size_t size, F&& read) {
  TCustomMemoryStream stream(data, static_cast<int64_t>(size));
  TReader reader(&stream);
  try {
    read(reader);
  } catch (const Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Read(data, size, [](TReader& r) {
    TIconListHolder holder(nullptr);
    r.ReadProperties(&holder);
  });
  Read(data, size, [](TReader& r) {
    TIconList list;
    r.ReadProperties(&list);
  });
  Read(data, size, [](TReader& r) {
    TListLongint longs;
    r.ReadProperties(&longs);
  });
  Read(data, size, [](TReader& r) {
    TListByte bytes;
    r.ReadProperties(&bytes);
  });
  Read(data, size, [](TReader& r) {
    TAdvancedIcon icon;
    icon.ReadFromFiler(r);
  });
  // The typed lists' own stream forms.
  for (int kind = 0; kind < 2; ++kind) {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    try {
      if (kind == 0) {
        TListLongint longs;
        longs.LoadFromStream(stream);
      } else {
        TListByte bytes;
        bytes.LoadFromStream(stream);
      }
    } catch (const Exception&) {
    }
  }
  return 0;
}
