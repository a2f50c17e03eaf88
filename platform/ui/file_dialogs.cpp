#include "platform/ui/file_dialogs.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/ui/com_ctrls.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/forms.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/ui/ui_paint.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> SplitBar(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(sep, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

bool MatchesAny(const std::string& name, const std::string& patterns) {
  for (std::string p : SplitBar(patterns, ';')) {
    while (!p.empty() && p.front() == ' ') p.erase(p.begin());
    if (p.empty()) continue;
    // "*.*" takes every name, with or without a dot, as Windows takes it.
    if (p == "*.*" || p == "*") return true;
    if (fnmatch(p.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
  }
  return false;
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

}  // namespace

std::string TOpenDialog::FilterPatterns(const std::string& filter, int index) {
  std::vector<std::string> parts = SplitBar(filter, '|');
  size_t at = static_cast<size_t>(index - 1) * 2 + 1;
  if (index < 1 || at >= parts.size()) return "";
  return parts[at];
}

// The dialog's form: the folder, its list, the name and type fields, and the template area.
class TFileDialogForm : public TForm {
public:
  TFileDialogForm(TOpenDialog* dialog) : TForm(nullptr), FDialog(dialog) {
    bool save = dialog->IsSaveDialog();
    SetCaption(!dialog->Title().empty() ? dialog->Title() : save ? "Save As" : "Open");
    SetBorderStyle(bsDialog);
    SetPosition(poMainFormCenter);
    int width = kStdWidth + (dialog->Template().empty() ? 0 : kTemplateWidth);
    SetClientWidth(width);
    SetClientHeight(kStdHeight);
    auto* look = new TLabel(this);
    look->SetParent(this);
    look->SetCaption("Look &in:");
    look->SetBounds(8, 12, 60, 13);
    FFolderText = new TStaticText(this);
    FFolderText->SetParent(this);
    FFolderText->SetBorderStyle(sbsSunken);
    FFolderText->SetBounds(70, 8, 362, 21);
    FUp = new TButton(this);
    FUp->SetParent(this);
    FUp->SetCaption("Up");
    FUp->SetBounds(440, 7, 72, 23);
    FUp->OnClick = [this](TObject*) { GoUp(); };
    FList = new TListBox(this);
    FList->SetParent(this);
    FList->SetBounds(8, 36, 504, 168);
    FList->SetMultiSelect(dialog->Options().Contains(ofAllowMultiSelect));
    FList->OnClick = [this](TObject*) { ListClicked(); };
    FList->OnDblClick = [this](TObject*) { ListDoubleClicked(); };
    auto* nameLabel = new TLabel(this);
    nameLabel->SetParent(this);
    nameLabel->SetCaption("File &name:");
    nameLabel->SetBounds(8, 216, 80, 13);
    FName = new TEdit(this);
    FName->SetParent(this);
    FName->SetBounds(92, 212, 340, 21);
    auto* typeLabel = new TLabel(this);
    typeLabel->SetParent(this);
    typeLabel->SetCaption("Files of &type:");
    typeLabel->SetBounds(8, 244, 80, 13);
    FType = new TComboBox(this);
    FType->SetParent(this);
    FType->SetStyle(csDropDownList);
    FType->SetBounds(92, 240, 340, 21);
    std::vector<std::string> parts = SplitBar(dialog->Filter(), '|');
    for (size_t i = 0; i + 1 < parts.size(); i += 2) FType->Items()->Add(parts[i]);
    if (FType->Items()->Count() > 0)
      FType->SetItemIndex(std::clamp(dialog->FilterIndex(), 1, FType->Items()->Count()) - 1);
    FType->OnSelect = [this](TObject*) { TypeChanged(); };
    FOk = new TButton(this);
    FOk->SetParent(this);
    FOk->SetCaption(save ? "&Save" : "&Open");
    FOk->SetDefault(true);
    FOk->SetBounds(440, 211, 72, 23);
    FOk->OnClick = [this](TObject*) { OkClicked(); };
    auto* cancel = new TButton(this);
    cancel->SetParent(this);
    cancel->SetCaption("Cancel");
    cancel->SetCancel(true);
    cancel->SetModalResult(mrCancel);
    cancel->SetBounds(440, 239, 72, 23);
    if (!dialog->Template().empty()) {
      FTemplate = new TPanel(this);
      FTemplate->SetParent(this);
      FTemplate->SetBevelOuter(bvNone);
      FTemplate->SetBounds(kStdWidth, 0, kTemplateWidth, kStdHeight);
    }
    SetActiveControl(FName);
    // The starting folder: InitialDir, else the folder of FileName, else the current one.
    std::string start = dialog->InitialDir();
    if (!IsDirectory(start)) start = fs::path(dialog->FileName()).parent_path().string();
    if (!IsDirectory(start)) {
      std::error_code ec;
      start = fs::current_path(ec).string();
    }
    FFolder = fs::path(start).lexically_normal().string();
    if (!dialog->FileName().empty()) FName->SetText(fs::path(dialog->FileName()).filename().string());
    Refill();
    OnShow = [this](TObject*) {
      FDialog->DoShow();
      FDialog->DoFolderChange();
    };
  }

  const std::string& Folder() const { return FFolder; }
  TWinControl* TemplateArea() const { return FTemplate; }
  TListBox* List() const { return FList; }
  TEdit* NameEdit() const { return FName; }
  TComboBox* TypeBox() const { return FType; }
  TButton* OkButton() const { return FOk; }

  void GoTo(const std::string& folder) {
    FFolder = fs::path(folder).lexically_normal().string();
    if (FFolder.size() > 1 && FFolder.back() == '/') FFolder.pop_back();
    Refill();
    FDialog->DoFolderChange();
  }

  void GoUp() {
    fs::path p(FFolder);
    if (p.has_parent_path() && p.parent_path() != p) GoTo(p.parent_path().string());
  }

private:
  // Wide enough for the type box to show a long filter name (the icon maker's
  // "Images (*.bmp;*.jpeg;...)") to its end.
  static constexpr int kStdWidth = 520;
  static constexpr int kStdHeight = 272;
  static constexpr int kTemplateWidth = 180;

  std::string Patterns() const {
    std::string typed = FName->Text();
    if (typed.find_first_of("*?") != std::string::npos) return typed;
    return TOpenDialog::FilterPatterns(FDialog->Filter(), FType->ItemIndex() + 1).empty()
               ? "*"
               : TOpenDialog::FilterPatterns(FDialog->Filter(), FType->ItemIndex() + 1);
  }

  void Refill() {
    FFolderText->SetCaption(FFolder);
    std::vector<std::string> folders, files;
    std::error_code ec;
    bool hidden = FDialog->Options().Contains(ofForceShowHidden);
    std::string patterns = Patterns();
    for (auto it = fs::directory_iterator(FFolder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
      std::string name = it->path().filename().string();
      if (!hidden && !name.empty() && name[0] == '.') continue;
      std::error_code e2;
      if (it->is_directory(e2)) folders.push_back(name);
      else if (MatchesAny(name, patterns)) files.push_back(name);
    }
    auto byName = [](const std::string& a, const std::string& b) {
      return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
      });
    };
    std::sort(folders.begin(), folders.end(), byName);
    std::sort(files.begin(), files.end(), byName);
    FList->Items()->BeginUpdate();
    FList->Items()->Clear();
    FFolderCount = static_cast<int>(folders.size());
    for (const auto& f : folders) FList->Items()->Add("[" + f + "]");
    for (const auto& f : files) FList->Items()->Add(f);
    FList->Items()->EndUpdate();
    FList->SetItemIndex(-1);
  }

  bool IsFolderItem(int index) const { return index >= 0 && index < FFolderCount; }
  std::string ItemName(int index) const {
    std::string s = FList->Items()->Strings(index);
    return IsFolderItem(index) ? s.substr(1, s.size() - 2) : s;
  }
  std::string Join(const std::string& name) const {
    if (!name.empty() && name[0] == '/') return name;
    return (fs::path(FFolder) / name).lexically_normal().string();
  }

  void ListClicked() {
    int i = FList->ItemIndex();
    if (i < 0 || IsFolderItem(i)) return;
    if (FList->MultiSelect() && FList->SelCount() > 1) {
      std::string names;
      for (int k = 0; k < FList->Count(); ++k)
        if (FList->Selected(k) && !IsFolderItem(k)) names += "\"" + ItemName(k) + "\" ";
      FName->SetText(names);
    } else {
      FName->SetText(ItemName(i));
    }
    FDialog->SetFileName(Join(ItemName(i)));
    FDialog->DoSelectionChange();
  }

  void ListDoubleClicked() {
    int i = FList->ItemIndex();
    if (i < 0) return;
    if (IsFolderItem(i)) GoTo(Join(ItemName(i)));
    else OkClicked();
  }

  void TypeChanged() {
    FDialog->SetFilterIndex(FType->ItemIndex() + 1);
    Refill();
    FDialog->DoTypeChange();
  }

  void Warn(const std::string& text, UINT type = MB_OK | MB_ICONWARNING) {
    MessageBox(Handle(), text.c_str(), Caption().c_str(), type);
  }

  void OkClicked() {
    std::string typed = FName->Text();
    if (typed.empty()) return;
    if (typed.find_first_of("*?") != std::string::npos) {
      Refill();
      return;
    }
    std::vector<std::string> names;
    if (typed.find('"') != std::string::npos) {
      for (size_t a = typed.find('"'); a != std::string::npos; a = typed.find('"', a + 1)) {
        size_t b = typed.find('"', a + 1);
        if (b == std::string::npos) break;
        names.push_back(Join(typed.substr(a + 1, b - a - 1)));
        a = b;
      }
    } else {
      std::string full = Join(typed);
      if (IsDirectory(full)) {
        FName->SetText("");
        GoTo(full);
        return;
      }
      if (!FDialog->DefaultExt().empty() && fs::path(full).extension().empty())
        full += "." + FDialog->DefaultExt();
      names.push_back(full);
    }
    TOpenOptions options = FDialog->Options();
    for (const std::string& full : names) {
      std::string parent = fs::path(full).parent_path().string();
      if ((options.Contains(ofPathMustExist) || options.Contains(ofFileMustExist)) && !IsDirectory(parent)) {
        Warn(full + "\nPath does not exist.\nCheck the path and try again.");
        return;
      }
      if (!FDialog->IsSaveDialog() && options.Contains(ofFileMustExist) && !Exists(full)) {
        Warn(full + "\nFile not found.\nCheck the file name and try again.");
        return;
      }
      if (FDialog->IsSaveDialog() && options.Contains(ofOverwritePrompt) && Exists(full)) {
        if (MessageBox(Handle(), (full + " already exists.\nDo you want to replace it?").c_str(), Caption().c_str(),
                       MB_YESNO | MB_ICONWARNING) != IDYES)
          return;
      }
      if (!FDialog->IsSaveDialog() && options.Contains(ofCreatePrompt) && !Exists(full)) {
        if (MessageBox(Handle(), (full + "\nThis file does not exist.\nCreate the file?").c_str(), Caption().c_str(),
                       MB_YESNO | MB_ICONQUESTION) != IDYES)
          return;
      }
    }
    std::string oldName = FDialog->FileName();
    FDialog->SetFileName(names.front());
    FDialog->Files()->Clear();
    for (const auto& n : names) FDialog->Files()->Add(n);
    if (!FDialog->DoCanClose()) {
      FDialog->SetFileName(oldName);
      return;
    }
    SetModalResult(mrOk);
  }

  TOpenDialog* FDialog;
  std::string FFolder;
  int FFolderCount = 0;
  TStaticText* FFolderText;
  TButton* FUp;
  TListBox* FList;
  TEdit* FName;
  TComboBox* FType;
  TButton* FOk;
  TPanel* FTemplate = nullptr;
};

TOpenDialog::TOpenDialog(TComponent* owner) : TCommonDialog(owner) {}
TOpenDialog::~TOpenDialog() = default;

TWinControl* TOpenDialog::TemplateParent() const { return FForm ? FForm->TemplateArea() : nullptr; }
TCustomForm* TOpenDialog::DialogForm() const { return FForm; }
TRect TOpenDialog::GetStaticRect() const { return FForm ? Rect(0, 0, 420, 272) : TRect{}; }

bool TOpenDialog::DoCanClose() {
  bool can = true;
  if (OnCanClose) OnCanClose(this, can);
  return can;
}
void TOpenDialog::DoFolderChange() {
  if (OnFolderChange) OnFolderChange(this);
}
void TOpenDialog::DoSelectionChange() {
  if (OnSelectionChange) OnSelectionChange(this);
}
void TOpenDialog::DoTypeChange() {
  if (OnTypeChange) OnTypeChange(this);
}

bool TOpenDialog::Execute() {
  InitializeUI();
  std::string before = FFileName;
  TFileDialogForm form(this);
  FForm = &form;
  FHandle = form.Handle();
  TModalResult result = mrCancel;
  try {
    result = form.ShowModal();
  } catch (...) {
    FForm = nullptr;
    FHandle = nullptr;
    throw;
  }
  DoClose();
  FForm = nullptr;
  FHandle = nullptr;
  if (result != mrOk) {
    FFileName = before;
    return false;
  }
  return true;
}

// ---- the colour dialog ----

namespace {

// The 48 basic colours of the classic colour dialog, row by row.
const COLORREF kBasicColors[48] = {
    RGB(255, 128, 128), RGB(255, 255, 128), RGB(128, 255, 128), RGB(0, 255, 128), RGB(128, 255, 255), RGB(0, 128, 255),
    RGB(255, 128, 192), RGB(255, 128, 255), RGB(255, 0, 0),     RGB(255, 255, 0),   RGB(128, 255, 0),   RGB(0, 255, 64),
    RGB(0, 255, 255),   RGB(0, 128, 192),   RGB(128, 128, 192), RGB(255, 0, 255),   RGB(128, 64, 64),   RGB(255, 128, 64),
    RGB(0, 255, 0),     RGB(0, 128, 128),   RGB(0, 64, 128),    RGB(128, 128, 255), RGB(128, 0, 64),    RGB(255, 0, 128),
    RGB(128, 0, 0),     RGB(255, 128, 0),   RGB(0, 128, 0),     RGB(0, 128, 64),    RGB(0, 0, 255),     RGB(0, 0, 160),
    RGB(128, 0, 128),   RGB(128, 0, 255),   RGB(64, 0, 0),      RGB(128, 64, 0),    RGB(0, 64, 0),      RGB(0, 64, 64),
    RGB(0, 0, 128),     RGB(0, 0, 64),      RGB(64, 0, 64),     RGB(64, 0, 128),    RGB(0, 0, 0),       RGB(128, 128, 0),
    RGB(128, 128, 64),  RGB(128, 128, 128), RGB(64, 128, 128),  RGB(192, 192, 192), RGB(64, 0, 64),     RGB(255, 255, 255)};

class TColorDialogForm : public TForm {
public:
  // The dialog's options and colour shape the form; the caller takes Chosen() back.
  explicit TColorDialogForm(TColorDialog* dialog) : TForm(nullptr) {
    SetCaption("Color");
    SetBorderStyle(bsDialog);
    SetPosition(poMainFormCenter);
    bool full = dialog->Options().Contains(cdFullOpen) && !dialog->Options().Contains(cdPreventFullOpen);
    SetClientWidth(full ? 400 : 222);
    SetClientHeight(300);
    FColor = static_cast<COLORREF>(ColorToRGB(dialog->Color())) & 0xFFFFFF;
    auto* basic = new TLabel(this);
    basic->SetParent(this);
    basic->SetCaption("&Basic colors:");
    basic->SetBounds(8, 8, 120, 13);
    FGrid = new TPaintBox(this);
    FGrid->SetParent(this);
    FGrid->SetBounds(8, 26, 8 * 26, 6 * 22);
    FGrid->OnPaint = [this](TObject*) { PaintSwatches(FGrid->Canvas(), kBasicColors, 48, 8); };
    FGrid->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int x, int y) {
      int i = (y / 22) * 8 + x / 26;
      if (i >= 0 && i < 48) Pick(kBasicColors[i]);
    };
    auto* custom = new TLabel(this);
    custom->SetParent(this);
    custom->SetCaption("&Custom colors:");
    custom->SetBounds(8, 166, 120, 13);
    for (int i = 0; i < 16; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "Color%c", 'A' + i);
      std::string v = dialog->CustomColors()->Values(key);
      FCustom[i] = v.empty() ? 0xFFFFFF : static_cast<COLORREF>(std::strtoul(v.c_str(), nullptr, 16)) & 0xFFFFFF;
    }
    FCustomBox = new TPaintBox(this);
    FCustomBox->SetParent(this);
    FCustomBox->SetBounds(8, 184, 8 * 26, 2 * 22);
    FCustomBox->OnPaint = [this](TObject*) { PaintSwatches(FCustomBox->Canvas(), FCustom, 16, 8); };
    FCustomBox->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int x, int y) {
      int i = (y / 22) * 8 + x / 26;
      if (i >= 0 && i < 16) Pick(FCustom[i]);
    };
    auto* ok = new TButton(this);
    ok->SetParent(this);
    ok->SetCaption("OK");
    ok->SetDefault(true);
    ok->SetModalResult(mrOk);
    ok->SetBounds(8, 268, 66, 23);
    auto* cancel = new TButton(this);
    cancel->SetParent(this);
    cancel->SetCaption("Cancel");
    cancel->SetCancel(true);
    cancel->SetModalResult(mrCancel);
    cancel->SetBounds(80, 268, 66, 23);
    if (!full) return;
    FSample = new TPanel(this);
    FSample->SetParent(this);
    FSample->SetBevelOuter(bvLowered);
    FSample->SetBounds(232, 26, 160, 60);
    const char* names[3] = {"&Red:", "&Green:", "Bl&ue:"};
    for (int k = 0; k < 3; ++k) {
      auto* l = new TLabel(this);
      l->SetParent(this);
      l->SetCaption(names[k]);
      l->SetBounds(232, 104 + k * 30, 50, 13);
      FEdits[k] = new TEdit(this);
      FEdits[k]->SetParent(this);
      FEdits[k]->SetBounds(290, 100 + k * 30, 60, 21);
      FEdits[k]->OnChange = [this](TObject*) { EditsChanged(); };
    }
    auto* add = new TButton(this);
    add->SetParent(this);
    add->SetCaption("&Add to Custom Colors");
    add->SetBounds(232, 196, 160, 23);
    add->OnClick = [this](TObject*) {
      FCustom[FNextCustom] = FColor;
      FNextCustom = (FNextCustom + 1) % 16;
      FCustomBox->Invalidate();
    };
    Pick(FColor);
  }

  COLORREF Chosen() const { return FColor; }
  void SaveCustomColors(TStrings* list) {
    list->Clear();
    for (int i = 0; i < 16; ++i) {
      char line[32];
      std::snprintf(line, sizeof line, "Color%c=%06X", 'A' + i, static_cast<unsigned>(FCustom[i]));
      list->Add(line);
    }
  }
  TEdit* Edit(int k) const { return FEdits[k]; }

private:
  void PaintSwatches(TCanvas* c, const COLORREF* colors, int count, int columns) {
    for (int i = 0; i < count; ++i) {
      TRect r = Rect((i % columns) * 26 + 2, (i / columns) * 22 + 2, (i % columns) * 26 + 24, (i / columns) * 22 + 20);
      if (colors[i] == FColor) c->DrawFocusRect(InflateRect(r, 2, 2));
      TRect f = r;
      DrawSunkenBox(c, f, static_cast<TColor>(colors[i]));
    }
  }

  void Pick(COLORREF color) {
    FColor = color & 0xFFFFFF;
    FUpdating = true;
    if (FEdits[0]) {
      FEdits[0]->SetText(std::to_string(GetRValue(FColor)));
      FEdits[1]->SetText(std::to_string(GetGValue(FColor)));
      FEdits[2]->SetText(std::to_string(GetBValue(FColor)));
    }
    FUpdating = false;
    if (FSample) FSample->SetColor(static_cast<TColor>(FColor));
    FGrid->Invalidate();
    FCustomBox->Invalidate();
  }

  void EditsChanged() {
    if (FUpdating) return;
    int v[3];
    for (int k = 0; k < 3; ++k) v[k] = std::clamp(std::atoi(FEdits[k]->Text().c_str()), 0, 255);
    FColor = RGB(static_cast<BYTE>(v[0]), static_cast<BYTE>(v[1]), static_cast<BYTE>(v[2]));
    if (FSample) FSample->SetColor(static_cast<TColor>(FColor));
    FGrid->Invalidate();
  }

  COLORREF FColor;
  COLORREF FCustom[16];
  int FNextCustom = 0;
  bool FUpdating = false;
  TPaintBox* FGrid;
  TPaintBox* FCustomBox;
  TPanel* FSample = nullptr;
  TEdit* FEdits[3] = {nullptr, nullptr, nullptr};
};

}  // namespace

bool TColorDialog::Execute() {
  InitializeUI();
  TColorDialogForm form(this);
  FHandle = form.Handle();
  DoShow();
  TModalResult result = form.ShowModal();
  DoClose();
  FHandle = nullptr;
  if (result != mrOk) return false;
  FColor = static_cast<TColor>(form.Chosen());
  form.SaveCustomColors(&FCustomColors);
  return true;
}

// ---- the folder chooser ----

bool SelectDirectory(const std::string& caption, const std::string& root, std::string& directory) {
  InitializeUI();
  TForm form(nullptr);
  form.SetCaption(caption.empty() ? "Browse for Folder" : caption);
  form.SetBorderStyle(bsDialog);
  form.SetPosition(poMainFormCenter);
  form.SetClientWidth(300);
  form.SetClientHeight(320);
  std::string top = root.empty() ? "/" : fs::path(root).lexically_normal().string();
  std::string current = IsDirectory(directory) ? fs::path(directory).lexically_normal().string() : top;
  if (current.rfind(top, 0) != 0) current = top;
  auto* path = new TStaticText(&form);
  path->SetParent(&form);
  path->SetBorderStyle(sbsSunken);
  path->SetBounds(8, 8, 284, 21);
  auto* list = new TListBox(&form);
  list->SetParent(&form);
  list->SetBounds(8, 36, 284, 240);
  auto* ok = new TButton(&form);
  ok->SetParent(&form);
  ok->SetCaption("OK");
  ok->SetDefault(true);
  ok->SetModalResult(mrOk);
  ok->SetBounds(136, 288, 75, 23);
  auto* cancel = new TButton(&form);
  cancel->SetParent(&form);
  cancel->SetCaption("Cancel");
  cancel->SetCancel(true);
  cancel->SetModalResult(mrCancel);
  cancel->SetBounds(217, 288, 75, 23);
  auto fill = [&] {
    path->SetCaption(current);
    list->Items()->BeginUpdate();
    list->Items()->Clear();
    if (current != top) list->Items()->Add("..");
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(current, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
      std::error_code e2;
      std::string name = it->path().filename().string();
      if (!name.empty() && name[0] != '.' && it->is_directory(e2)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const auto& n : names) list->Items()->Add(n);
    list->Items()->EndUpdate();
  };
  list->OnDblClick = [&](TObject*) {
    int i = list->ItemIndex();
    if (i < 0) return;
    std::string name = list->Items()->Strings(i);
    current = name == ".." ? fs::path(current).parent_path().string() : (fs::path(current) / name).string();
    fill();
  };
  list->OnKeyDown = [&](TObject* sender, WORD& key, TShiftState) {
    if (key == VK_RETURN && list->ItemIndex() >= 0) {
      list->OnDblClick(sender);
      key = 0;
    }
  };
  fill();
  form.SetActiveControl(list);
  if (form.ShowModal() != mrOk) return false;
  // A folder picked in the list (not opened) is the choice; else the one shown.
  int i = list->ItemIndex();
  std::string chosen = current;
  if (i >= 0 && list->Items()->Strings(i) != "..") chosen = (fs::path(current) / list->Items()->Strings(i)).string();
  directory = chosen;
  return true;
}
