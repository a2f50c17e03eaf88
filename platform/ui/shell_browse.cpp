#include "platform/ui/shell_browse.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "platform/rtl/paths.h"
#include "platform/ui/forms.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/win/system_folders.h"

namespace fs = std::filesystem;

enum TShellItemKind : uint8_t { skDesktop, skComputer, skNetwork, skFolder };

struct ITEMIDLIST {
  TShellItemKind Kind = skFolder;
  std::string Path;  // Windows path of a folder ("C:\", "C:\Program Files")
};

namespace {

std::mutex gItemLock;
std::set<const void*> gItems;

LPITEMIDLIST NewItem(TShellItemKind kind, const std::string& path) {
  auto* item = new ITEMIDLIST{kind, path};
  std::lock_guard<std::mutex> lock(gItemLock);
  gItems.insert(item);
  return item;
}

bool IsItem(const void* p) {
  std::lock_guard<std::mutex> lock(gItemLock);
  return gItems.count(p) != 0;
}

std::string DriveCaption(char letter) {
  const char root[4] = {letter, ':', '\\', 0};
  const char* kind = "Local Disk";
  switch (GetDriveType(root)) {
    case DRIVE_REMOVABLE: kind = "Removable Disk"; break;
    case DRIVE_REMOTE: kind = "Network Drive"; break;
    case DRIVE_CDROM: kind = "CD Drive"; break;
    case DRIVE_RAMDISK: kind = "RAM Disk"; break;
    default: break;
  }
  return std::string(kind) + " (" + letter + ":)";
}

// The subfolders of a model folder, sorted ignoring case. A link is listed only
// when it leads to a folder inside the one it lies in (never out of the model).
std::vector<std::string> SubFolders(const std::string& windowsPath) {
  std::vector<std::string> names;
  const fs::path folder = NativePath(windowsPath);
  std::error_code ec;
  const fs::path canonicalFolder = fs::weakly_canonical(folder, ec);
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code e2;
    if (!it->is_directory(e2)) continue;
    if (it->is_symlink(e2)) {
      const fs::path target = fs::weakly_canonical(it->path(), e2);
      auto rel = target.lexically_relative(canonicalFolder);
      if (e2 || rel.empty() || *rel.begin() == "..") continue;
    }
    const std::string name = it->path().filename().string();
    // The other drives' folders live in drive C's root; they are no folders of C.
    if (windowsPath.size() == 3 && (windowsPath[0] == 'C' || windowsPath[0] == 'c') && name == "drives") continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return ::strcasecmp(a.c_str(), b.c_str()) < 0; });
  return names;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

struct TNode {
  TShellItemKind Kind = skFolder;
  std::string Path;
  std::string Caption;
  int Depth = 0;
  bool Expanded = false;
  bool Expandable = true;
};

class TBrowseForm : public TForm {
public:
  TBrowseForm(BROWSEINFOA& info) : TForm(nullptr), FInfo(info) {
    SetCaption("Browse for Folder");
    SetBorderStyle(bsDialog);
    SetPosition(poMainFormCenter);
    SetClientWidth(320);
    SetClientHeight(360);
    int top = 10;
    if (info.lpszTitle && *info.lpszTitle) {
      auto* title = new TLabel(this);
      title->SetParent(this);
      title->SetWordWrap(true);
      title->SetAutoSize(false);
      title->SetBounds(12, 10, 296, 30);
      title->SetCaption(info.lpszTitle);
      top = 44;
    }
    FTree = new TListBox(this);
    FTree->SetParent(this);
    FTree->SetStyle(lbOwnerDrawFixed);
    FTree->SetItemHeight(18);
    FTree->SetBounds(12, top, 296, 312 - top);
    FTree->OnDrawItem = [this](TWinControl*, int index, const TRect& rect, TOwnerDrawState state) {
      DrawRow(index, rect, state);
    };
    FTree->OnClick = [this](TObject*) { SelectionChanged(); };
    FTree->OnDblClick = [this](TObject*) { Toggle(FTree->ItemIndex()); };
    FTree->OnKeyDown = [this](TObject*, WORD& key, TShiftState) {
      const int i = FTree->ItemIndex();
      if (i < 0) return;
      if (key == VK_RIGHT && !FRows[i].Expanded) {
        Toggle(i);
        key = 0;
      } else if (key == VK_LEFT && FRows[i].Expanded) {
        Toggle(i);
        key = 0;
      }
    };
    FOk = new TButton(this);
    FOk->SetParent(this);
    FOk->SetCaption("OK");
    FOk->SetDefault(true);
    FOk->SetModalResult(mrOk);
    FOk->SetBounds(152, 324, 75, 25);
    FCancel = new TButton(this);
    FCancel->SetParent(this);
    FCancel->SetCaption("Cancel");
    FCancel->SetCancel(true);
    FCancel->SetModalResult(mrCancel);
    FCancel->SetBounds(233, 324, 75, 25);
    BuildRoot();
    OnShow = [this](TObject*) {
      if (FInfo.lpfn) FInfo.lpfn(Handle(), BFFM_INITIALIZED, 0, FInfo.lParam);
      if (FTree->ItemIndex() < 0 && !FRows.empty()) Select(0);
      FInitialized = true;
    };
  }

  TBrowseDialogHook Hook;

  void WndProc(TMessage& message) override {
    if (Hook && Hook(message)) return;
    switch (message.Msg) {
      case BFFM_ENABLEOK:
        FOk->SetEnabled(message.LParam != 0);
        message.Result = 0;
        return;
      case BFFM_SETSELECTIONA:
        message.Result = message.WParam && message.LParam ? SelectPath(reinterpret_cast<const char*>(message.LParam)) : 0;
        return;
      default: break;
    }
    TForm::WndProc(message);
  }

  // The chosen row as an item (null when none is selected).
  LPITEMIDLIST Chosen() const {
    const int i = FTree->ItemIndex();
    if (i < 0) return nullptr;
    return NewItem(FRows[i].Kind, FRows[i].Path);
  }
  std::string ChosenCaption() const {
    const int i = FTree->ItemIndex();
    return i < 0 ? std::string() : FRows[i].Caption;
  }

  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (const TNode& n : FRows) rows.push_back(std::string(2 * n.Depth, ' ') + n.Caption);
    return rows;
  }
  int Selection() const { return FTree->ItemIndex(); }
  void Select(int row) {
    if (row < 0 || row >= static_cast<int>(FRows.size())) return;
    FTree->SetItemIndex(row);
    SelectionChanged();
  }
  void Toggle(int row) {
    if (row < 0 || row >= static_cast<int>(FRows.size()) || !FRows[row].Expandable) return;
    if (FRows[row].Expanded) Collapse(row);
    else Expand(row);
    Refill(row);
  }
  TButton* Ok() const { return FOk; }
  TButton* Cancel() const { return FCancel; }

private:
  void BuildRoot() {
    const ITEMIDLIST* root = FInfo.pidlRoot;
    if (FInfo.ulFlags & BIF_BROWSEFORCOMPUTER || (root && root->Kind == skNetwork)) {
      FRows.push_back({skNetwork, "", "Entire Network", 0, true, false});
    } else if (root && root->Kind == skFolder) {
      FRows.push_back({skFolder, root->Path, root->Path, 0, false, true});
      Expand(0);
    } else {
      int depth = 0;
      if (!root || root->Kind == skDesktop) FRows.push_back({skDesktop, "", "Desktop", depth++, true, true});
      FRows.push_back({skComputer, "", "My Computer", depth, false, true});
      Expand(static_cast<int>(FRows.size()) - 1);
    }
    Refill(-1);
  }

  void Expand(int row) {
    TNode& node = FRows[row];
    std::vector<TNode> children;
    if (node.Kind == skComputer) {
      const DWORD drives = GetLogicalDrives();
      for (int i = 0; i < 26; ++i)
        if (drives & (1u << i)) {
          const char letter = static_cast<char>('A' + i);
          children.push_back({skFolder, std::string(1, letter) + ":\\", DriveCaption(letter), node.Depth + 1});
        }
    } else if (node.Kind == skFolder) {
      for (const std::string& name : SubFolders(node.Path))
        children.push_back({skFolder, JoinPath(node.Path, name), name, node.Depth + 1});
    }
    node.Expanded = true;
    if (children.empty() && node.Kind == skFolder) node.Expandable = false;
    FRows.insert(FRows.begin() + row + 1, children.begin(), children.end());
  }

  void Collapse(int row) {
    size_t end = static_cast<size_t>(row) + 1;
    while (end < FRows.size() && FRows[end].Depth > FRows[row].Depth) ++end;
    FRows.erase(FRows.begin() + row + 1, FRows.begin() + static_cast<long>(end));
    FRows[row].Expanded = false;
  }

  void Refill(int keep) {
    FTree->Items()->BeginUpdate();
    FTree->Items()->Clear();
    for (const TNode& n : FRows) FTree->Items()->Add(n.Caption);
    FTree->Items()->EndUpdate();
    if (keep >= 0) FTree->SetItemIndex(keep);
  }

  // Opens the tree down to the folder and selects it; TRUE when it was found.
  LRESULT SelectPath(const std::string& path) {
    std::string want = path;
    std::replace(want.begin(), want.end(), '/', '\\');
    if (want.size() < 2 || want[1] != ':') return 0;
    if (want.size() == 2) want += '\\';
    int row = -1;
    for (size_t i = 0; i < FRows.size(); ++i)
      if (FRows[i].Kind == skFolder && ::strncasecmp(FRows[i].Path.c_str(), want.c_str(), 3) == 0 &&
          FRows[i].Path.size() == 3) {
        row = static_cast<int>(i);
        break;
      }
    if (row < 0) return 0;
    while (::strcasecmp(FRows[row].Path.c_str(), want.c_str()) != 0) {
      if (!FRows[row].Expanded) Expand(row);
      int next = -1;
      for (size_t i = static_cast<size_t>(row) + 1; i < FRows.size() && FRows[i].Depth > FRows[row].Depth; ++i) {
        const std::string& p = FRows[i].Path;
        if (FRows[i].Depth == FRows[row].Depth + 1 && ::strncasecmp(p.c_str(), want.c_str(), p.size()) == 0 &&
            (want.size() == p.size() || want[p.size()] == '\\')) {
          next = static_cast<int>(i);
          break;
        }
      }
      if (next < 0) {
        Refill(FTree->ItemIndex());
        return 0;
      }
      row = next;
    }
    Refill(row);
    SelectionChanged();
    return 1;
  }

  void SelectionChanged() {
    const int i = FTree->ItemIndex();
    if (i < 0) return;
    if (FInfo.ulFlags & BIF_RETURNONLYFSDIRS) FOk->SetEnabled(FRows[i].Kind == skFolder);
    if (FInfo.pszDisplayName) {
      const std::string& caption = FRows[i].Caption;
      const size_t n = std::min<size_t>(caption.size(), MAX_PATH - 1);
      std::memcpy(FInfo.pszDisplayName, caption.data(), n);
      FInfo.pszDisplayName[n] = 0;
    }
    if (FInfo.lpfn) {
      LPITEMIDLIST item = NewItem(FRows[i].Kind, FRows[i].Path);
      FInfo.lpfn(Handle(), BFFM_SELCHANGED, reinterpret_cast<LPARAM>(item), FInfo.lParam);
      CoTaskMemFree(item);
    }
  }

  void DrawRow(int index, const TRect& rect, TOwnerDrawState state) {
    TCanvas* c = FTree->Canvas();
    const TNode& node = FRows[index];
    const bool selected = state.Contains(odSelected);
    c->Brush()->SetColor(clWindow);
    c->FillRect(rect);
    int x = rect.left + 4 + node.Depth * 16;
    const int mid = (rect.top + rect.bottom) / 2;
    // The box that opens or closes a node.
    if (node.Expandable && node.Kind != skDesktop) {
      c->Pen()->SetColor(clGray);
      c->Brush()->SetColor(clWindow);
      c->Rectangle(x, mid - 4, x + 9, mid + 5);
      c->Pen()->SetColor(clBlack);
      c->MoveTo(x + 2, mid);
      c->LineTo(x + 7, mid);
      if (!node.Expanded) {
        c->MoveTo(x + 4, mid - 2);
        c->LineTo(x + 4, mid + 3);
      }
    }
    x += 13;
    // A small picture of the item: a folder, a drive or a screen.
    c->Pen()->SetColor(clBlack);
    if (node.Kind == skFolder && node.Path.size() == 3) {
      c->Brush()->SetColor(clSilver);
      c->Rectangle(x, mid - 4, x + 16, mid + 5);
      c->Brush()->SetColor(clLime);
      c->Rectangle(x + 11, mid, x + 14, mid + 3);
    } else if (node.Kind == skFolder) {
      c->Brush()->SetColor(static_cast<TColor>(0x4CC8F0));
      c->Rectangle(x, mid - 6, x + 7, mid - 2);
      c->Rectangle(x, mid - 4, x + 16, mid + 6);
    } else {
      c->Brush()->SetColor(node.Kind == skDesktop ? clTeal : clNavy);
      c->Rectangle(x + 1, mid - 6, x + 15, mid + 4);
      c->Brush()->SetColor(clSilver);
      c->Rectangle(x + 4, mid + 4, x + 12, mid + 7);
    }
    x += 20;
    const int textWidth = c->TextWidth(node.Caption);
    TRect textRect = Rect(x, rect.top + 1, x + textWidth + 4, rect.bottom - 1);
    c->Brush()->SetColor(selected ? clHighlight : clWindow);
    c->FillRect(textRect);
    c->Font()->SetColor(selected ? clHighlightText : clWindowText);
    c->TextOut(x + 2, rect.top + (rect.bottom - rect.top - c->TextHeight("Wg")) / 2, node.Caption);
  }

  BROWSEINFOA& FInfo;
  std::vector<TNode> FRows;
  TListBox* FTree = nullptr;
  TButton* FOk = nullptr;
  TButton* FCancel = nullptr;
  bool FInitialized = false;
};

std::mutex gDialogLock;
std::map<HWND, TBrowseForm*> gDialogs;

TBrowseForm* DialogOf(HWND window) {
  std::lock_guard<std::mutex> lock(gDialogLock);
  auto it = gDialogs.find(window);
  return it == gDialogs.end() ? nullptr : it->second;
}

}  // namespace

HRESULT SHGetSpecialFolderLocation(HWND, int folder, LPITEMIDLIST* pidl) {
  if (!pidl) return E_INVALIDARG;
  *pidl = nullptr;
  switch (folder) {
    case CSIDL_DESKTOP: *pidl = NewItem(skDesktop, ""); return S_OK;
    case CSIDL_DRIVES: *pidl = NewItem(skComputer, ""); return S_OK;
    case CSIDL_NETWORK: *pidl = NewItem(skNetwork, ""); return S_OK;
    default: return E_INVALIDARG;
  }
}

BOOL SHGetPathFromIDList(LPCITEMIDLIST pidl, char* path) {
  if (!path) return FALSE;
  path[0] = 0;
  if (!pidl || !IsItem(pidl) || pidl->Kind != skFolder || pidl->Path.size() >= MAX_PATH) return FALSE;
  std::memcpy(path, pidl->Path.c_str(), pidl->Path.size() + 1);
  return TRUE;
}

void* CoTaskMemAlloc(size_t size) { return std::malloc(size ? size : 1); }

void CoTaskMemFree(void* block) {
  if (!block) return;
  {
    std::lock_guard<std::mutex> lock(gItemLock);
    auto it = gItems.find(block);
    if (it != gItems.end()) {
      gItems.erase(it);
      delete static_cast<ITEMIDLIST*>(block);
      return;
    }
  }
  std::free(block);
}

int LiveItemIdLists() {
  std::lock_guard<std::mutex> lock(gItemLock);
  return static_cast<int>(gItems.size());
}

LPITEMIDLIST SHBrowseForFolder(BROWSEINFOA* info) {
  if (!info) return nullptr;
  InitializeUI();
  TBrowseForm form(*info);
  const HWND window = form.Handle();
  {
    std::lock_guard<std::mutex> lock(gDialogLock);
    gDialogs[window] = &form;
  }
  TModalResult result = mrCancel;
  try {
    result = form.ShowModal();
  } catch (...) {
    std::lock_guard<std::mutex> lock(gDialogLock);
    gDialogs.erase(window);
    throw;
  }
  // The caller's hook hears the window go, as a subclass would.
  TMessage destroy{WM_NCDESTROY, 0, 0, 0};
  if (form.Hook) form.Hook(destroy);
  {
    std::lock_guard<std::mutex> lock(gDialogLock);
    gDialogs.erase(window);
  }
  if (result != mrOk) return nullptr;
  LPITEMIDLIST chosen = form.Chosen();
  info->iImage = 0;
  if (info->pszDisplayName) {
    const std::string caption = form.ChosenCaption();
    const size_t n = std::min<size_t>(caption.size(), MAX_PATH - 1);
    std::memcpy(info->pszDisplayName, caption.data(), n);
    info->pszDisplayName[n] = 0;
  }
  return chosen;
}

BOOL SetBrowseDialogHook(HWND browser, TBrowseDialogHook hook) {
  TBrowseForm* form = DialogOf(browser);
  if (!form) return FALSE;
  form->Hook = std::move(hook);
  return TRUE;
}

HWND AddBrowseDialogButton(HWND browser, const std::string& caption, WORD id, int left) {
  TBrowseForm* form = DialogOf(browser);
  if (!form) return nullptr;
  TButton* first = form->Ok();
  auto* button = new TButton(form);
  button->SetParent(form);
  button->SetCaption(caption);
  button->Font()->Assign(first->Font());
  button->SetBounds(left, first->Top(), first->Width(), first->Height());
  button->OnClick = [browser, id](TObject*) { SendMessage(browser, WM_COMMAND, id, 0); };
  return button->Handle();
}

HWND FindBrowseDialogButton(HWND browser) {
  TBrowseForm* form = DialogOf(browser);
  return form ? form->Ok()->Handle() : nullptr;
}

HWND ActiveBrowseDialog() {
  std::lock_guard<std::mutex> lock(gDialogLock);
  return gDialogs.empty() ? nullptr : gDialogs.rbegin()->first;
}

std::vector<std::string> BrowseDialogRows(HWND browser) {
  TBrowseForm* form = DialogOf(browser);
  return form ? form->Rows() : std::vector<std::string>{};
}

int BrowseDialogSelection(HWND browser) {
  TBrowseForm* form = DialogOf(browser);
  return form ? form->Selection() : -1;
}

void BrowseDialogSelectRow(HWND browser, int row) {
  if (TBrowseForm* form = DialogOf(browser)) form->Select(row);
}

void BrowseDialogToggleRow(HWND browser, int row) {
  if (TBrowseForm* form = DialogOf(browser)) form->Toggle(row);
}

bool BrowseDialogOkEnabled(HWND browser) {
  TBrowseForm* form = DialogOf(browser);
  return form && form->Ok()->Enabled();
}

void BrowseDialogPress(HWND browser, bool ok) {
  if (TBrowseForm* form = DialogOf(browser)) form->SetModalResult(ok ? mrOk : mrCancel);
}
