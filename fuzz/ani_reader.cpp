// Feeds arbitrary bytes to the animated cursor readers: TAnimatedCursor (read,
// then written and read again), the cursor as a GIF picture, and the frame scan
// of a file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "icons/ani_cursor_image.h"
#include "icons/animated_cursor.h"
#include "icons/sub_icon_render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    TAnimatedCursor cursor;
    try {
      cursor.LoadFromStream(stream);
      TMemoryStream out;
      cursor.SaveToStream(out);
      out.SetPosition(0);
      TAnimatedCursor back;
      back.LoadFromStream(out);
    } catch (const Exception&) {
    }
  }
  {
    TCustomMemoryStream stream(data, static_cast<int64_t>(size));
    TAniCursorImage picture;
    picture.SetBackground(kNoBackground);
    try {
      picture.LoadFromStream(stream);
      TMemoryStream out;
      if (!picture.GetEmpty()) picture.SaveToStream(out);
    } catch (const Exception&) {
    }
  }
  static const std::string path = "/tmp/qv_fuzz_ani_" + std::to_string(getpid()) + ".ani";
  TMemoryStream file;
  file.WriteBuffer(data, static_cast<int64_t>(size));
  file.SaveToFile(path);
  TAdvancedIcon icon;
  TIconList list;
  try {
    icon.LoadFromAniFile(path, 0, nullptr);
    icon.LoadFromAniFile(path, 2, &list);
  } catch (const Exception&) {
  }
  return 0;
}
