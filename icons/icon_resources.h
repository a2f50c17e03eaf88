#pragma once
// The private clipboard format of icons. Its data is a whole ICO file; the
// program reads it when pasting and never puts it there itself. The loaders of
// module resources, the paste and the component streaming of TAdvancedIcon and
// TSubIcon are declared with those classes and live in icon_resources.cpp.
#include "platform/win/win_types.h"

class TAdvancedIcon;
class TResourceModule;
class TResourceDetails;

inline constexpr const char* kIconClipboardFormatName = "Quorvane Icon";

// The format's number, registered once (at start-up, or on the first call).
UINT IconClipboardFormat();

// Appends the images of this icon group resource of the module (as
// TAdvancedIcon::LoadFromPEResource does for the first group of a name): a
// name used in several languages names several groups, each with images of
// its own. True when the group's header is valid.
bool LoadIconGroupResource(TAdvancedIcon& icon, const TResourceModule& module, TResourceDetails& group);
