#include "platform/ui/window_list.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/forms.h"

namespace {

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  if (!Screen) return windows;
  for (int i = 0; i < Screen->FormCount(); ++i) {
    TCustomForm* form = Screen->Forms(i);
    if (form && form->HandleAllocated()) windows.push_back(form->Handle());
  }
  return windows;
}

bool SameText(const char* pattern, const std::string& text) {
  return !pattern || ::strcasecmp(pattern, text.c_str()) == 0;
}

}  // namespace

BOOL EnumWindows(WNDENUMPROC enumProc, LPARAM data) {
  if (!enumProc) return FALSE;
  // Taken first: a procedure may close a window while the list is walked.
  for (HWND window : TopLevelWindows()) {
    if (!IsWindow(window)) continue;
    if (!enumProc(window, data)) break;
  }
  return TRUE;
}

HWND FindWindow(const char* className, const char* windowName) {
  for (HWND window : TopLevelWindows()) {
    TWinControl* control = TWinControl::FindControl(window);
    if (!control) continue;
    if (SameText(className, control->ClassName()) && SameText(windowName, control->Caption())) return window;
  }
  return nullptr;
}

int GetClassName(HWND window, char* className, int maxCount) {
  TWinControl* control = TWinControl::FindControl(window);
  if (!control || !className || maxCount <= 0) return 0;
  std::string name = control->ClassName();
  int n = std::min<int>(static_cast<int>(name.size()), maxCount - 1);
  std::memcpy(className, name.data(), n);
  className[n] = '\0';
  return n;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
  TWinControl* control = TWinControl::FindControl(window);
  if (!control) return FALSE;
  if (flags & SWP_NOMOVE) {
    x = control->Left();
    y = control->Top();
  }
  if (flags & SWP_NOSIZE) {
    cx = control->Width();
    cy = control->Height();
  }
  control->SetBounds(x, y, cx, cy);
  return TRUE;
}
