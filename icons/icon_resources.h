#pragma once
// The private clipboard format of icons. Its data is a whole ICO file; the
// program reads it when pasting and never puts it there itself. The loaders of
// module resources, the paste and the component streaming of TAdvancedIcon and
// TSubIcon are declared with those classes and live in icon_resources.cpp.
#include <string>
#include <unordered_map>

#include "platform/win/win_types.h"

class TAdvancedIcon;
class TResourceModule;
class TResourceDetails;

inline constexpr const char* kIconClipboardFormatName = "Quorvane Icon";

// The format's number, registered once (at start-up, or on the first call).
UINT IconClipboardFormat();

// The resources of one type of a module by name, the first of each name as
// TResourceModule::FindByTypeAndName finds it. Groups look their images up
// here: a module of many groups and images is then read in time that grows
// with its size, not with its size squared.
using TResourceIndex = std::unordered_map<std::string, TResourceDetails*>;
TResourceIndex IndexResourcesOfType(const TResourceModule& module, const std::string& type);

// Appends the images of this icon group resource (as
// TAdvancedIcon::LoadFromPEResource does for the first group of a name), taken
// from the icon image resources of its module: a name used in several
// languages names several groups, each with images of its own. An entry whose
// image is missing adds nothing. True when the group's header is valid.
bool LoadIconGroupResource(TAdvancedIcon& icon, const TResourceIndex& images, TResourceDetails& group);
