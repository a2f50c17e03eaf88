#include "app/dialogs/browse_folder.h"

#include "platform/rtl/exceptions.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/forms.h"
#include "platform/ui/shell_browse.h"
#include "platform/ui/window_list.h"
#include "platform/ui/windows.h"
#include "platform/win/system_info.h"

namespace {

constexpr WORD kHelpButtonId = 0xFFFF;
constexpr int HELP_CONTEXT = 1;

int CALLBACK_BrowseProc(HWND window, UINT msg, LPARAM lParam, LPARAM data) {
  return reinterpret_cast<TBrowseFolderDlg*>(data)->BrowseCallback(window, msg, lParam);
}

}  // namespace

TBrowseFolderDlg::TBrowseFolderDlg(TComponent* owner) : TComponent(owner) {}

TBrowseFolderDlg::~TBrowseFolderDlg() = default;

bool TBrowseFolderDlg::Execute() {
  LPITEMIDLIST root = nullptr;
  if (FBrowseKind == bfComputers) {
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_NETWORK, &root))) throw Exception("OLE error");
  } else if (!FDesktopRoot) {
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &root))) throw Exception("OLE error");
  }
  BROWSEINFOA info{};
  info.hwndOwner = Application && Application->MainForm() ? Application->MainForm()->Handle() : nullptr;
  info.pidlRoot = root;
  info.pszDisplayName = FDisplayName;
  info.lpszTitle = FDialogText.empty() ? nullptr : FDialogText.c_str();
  info.ulFlags = FBrowseKind == bfComputers ? BIF_BROWSEFORCOMPUTER : BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
  info.lpfn = CALLBACK_BrowseProc;
  info.lParam = reinterpret_cast<LPARAM>(this);
  const HWND active = GetActiveWindow();
  LPITEMIDLIST chosen = nullptr;
  try {
    chosen = SHBrowseForFolder(&info);
  } catch (...) {
    FHandle = nullptr;
    FHooked = false;
    if (active) SetForegroundWindow(active);
    CoTaskMemFree(root);
    throw;
  }
  FHandle = nullptr;
  FHooked = false;
  if (active) SetForegroundWindow(active);
  CoTaskMemFree(root);
  if (!chosen) return false;
  if (FBrowseKind == bfComputers) {
    FFolderName = FDisplayName;
  } else {
    char path[260] = {};
    if (!SHGetPathFromIDList(chosen, path)) {
      CoTaskMemFree(chosen);
      throw Exception("A call to an OS function failed");
    }
    std::string folder = path;
    // "C:\" keeps its backslash; other folders lose theirs.
    if (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    FFolderName = folder;
  }
  FSelectedName = FFolderName;
  FImageIndex = info.iImage;
  CoTaskMemFree(chosen);
  return true;
}

void TBrowseFolderDlg::CentreWindow(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  int left = r.left, top = r.top;
  TCustomForm* main = Application ? Application->MainForm() : nullptr;
  if (FPosition == dpMainFormCenter && main) {
    left = (main->Left() + main->Left() + main->Width()) / 2 - w / 2;
    top = (main->Top() + main->Top() + main->Height()) / 2 - h / 2;
  } else {
    left = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    top = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  }
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  if (left + w > sw) left = sw - w;
  if (top + h > sh) top = sh - h;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
}

int TBrowseFolderDlg::BrowseCallback(HWND window, UINT msg, LPARAM lParam) {
  if (msg == BFFM_INITIALIZED) {
    if (FPosition != dpDefault) CentreWindow(window);
    FHandle = window;
    FHooked = SetBrowseDialogHook(window, [this](TMessage& m) { return BrowserMessage(m); }) != FALSE;
    if (FBrowseKind == bfComputers || DirectoryExists(FFolderName))
      SendMessage(window, BFFM_SETSELECTIONA, 1, reinterpret_cast<LPARAM>(FFolderName.c_str()));
    if (FHelpContext != 0 && FindBrowseDialogButton(window)) {
      AddBrowseDialogButton(window, "Help", kHelpButtonId, 12);
      UpdateWindow(window);
    }
    if (OnInitialized) OnInitialized(this);
  } else if (msg == BFFM_SELCHANGED) {
    FHandle = window;
    if (FBrowseKind == bfComputers) {
      FSelectedName = FDisplayName;
    } else {
      char path[260] = {};
      if (SHGetPathFromIDList(reinterpret_cast<LPCITEMIDLIST>(lParam), path)) {
        FSelectedName = path;
        SendMessage(window, BFFM_ENABLEOK, 0, DirectoryExists(FSelectedName) ? 1 : 0);
      } else {
        FSelectedName.clear();
        SendMessage(window, BFFM_ENABLEOK, 0, 0);
      }
    }
    if (OnSelChanged) OnSelChanged(this);
  }
  return 0;
}

bool TBrowseFolderDlg::BrowserMessage(TMessage& message) {
  if (message.Msg == WM_COMMAND && message.WParam == kHelpButtonId && (message.LParam >> 16) == 0 &&
      FHelpContext != 0) {
    ShowHelpTopic(FHelpContext);
    return true;
  }
  if (message.Msg == WM_NCDESTROY) FHandle = nullptr;
  return false;
}

void TBrowseFolderDlg::ShowHelpTopic(int context) {
  if (Application) Application->HelpCommand(HELP_CONTEXT, context);
}

bool BrowseForFolder(std::string& folder, const std::string& text, int helpContext) {
  auto* dialog = new TBrowseFolderDlg(Application);
  bool result = false;
  try {
    dialog->SetDialogText(text);
    dialog->SetFolderName(folder);
    dialog->SetHelpContext(helpContext);
    result = dialog->Execute();
    if (result) folder = dialog->FolderName();
  } catch (...) {
    delete dialog;
    throw;
  }
  delete dialog;
  return result;
}
