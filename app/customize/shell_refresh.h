#pragma once
// Making the shell show changed icons: the broadcast of a settings change, the
// desktop's refresh, the rebuilding and repair of the icon cache, the restart
// of Windows; and the shell's icon settings (size, depth, spacing, shortcut
// overlay) that the customiser's Settings page edits.
#include <string>

#include "platform/win/desktop_settings.h"

struct TCustomIconState {
  int32_t Size = 0;          // "Shell Icon Size"; 0 = not set
  int32_t BitsPerPixel = 0;  // "Shell Icon BPP"; 0 = not set
  ICONMETRICSA Metrics{};
  bool ShortcutOverlay = false;
};
void CopyIconState(const TCustomIconState& source, TCustomIconState& target);

inline constexpr const char* kWindowMetricsKey = "Control Panel\\Desktop\\WindowMetrics";

// WM_WININICHANGE (0, 0) sent to every top-level window.
void BroadcastIniChange();
// The Active Desktop object does not exist in the Windows model: always false.
bool ApplyActiveDesktop();
// Active Desktop, else the Program Manager's refresh command, else the broadcast.
void RefreshDesktop();
std::string GetShellIconCacheFile();
void RebuildIconCache();
// Deletes the cache file (a message when it cannot) and asks for a restart.
void RepairIconCache();
void AskRestartWindows();
// Asks Windows to restart, without forcing other programs to close.
bool RestartWindows();
bool EnablePrivilege(const std::string& name, bool on);
bool GetShortcutOverlay();
bool SetShortcutOverlay(bool on);
