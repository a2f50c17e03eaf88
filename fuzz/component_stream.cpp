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

// The properties of a fresh object of the class.
template <class T>
void ReadInto(const uint8_t* data, size_t size) {
  Read(data, size, [](TReader& r) {
    T object;
    r.ReadProperties(&object);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Read(data, size, [](TReader& r) {
    TIconListHolder holder(nullptr);
    r.ReadProperties(&holder);
  });
  ReadInto<TIconList>(data, size);
  ReadInto<TListLongint>(data, size);
  ReadInto<TListByte>(data, size);
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
