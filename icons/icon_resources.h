#pragma once
// The private clipboard format of icons. Its data is a whole ICO file; the
// program reads it when pasting and never puts it there itself. The loaders of
// module resources, the paste and the component streaming of TAdvancedIcon and
// TSubIcon are declared with those classes and live in icon_resources.cpp.
#include "platform/win/win_types.h"

inline constexpr const char* kIconClipboardFormatName = "Quorvane Icon";

// The format's number, registered once (at start-up, or on the first call).
UINT IconClipboardFormat();
