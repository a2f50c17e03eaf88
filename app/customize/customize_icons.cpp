#include "app/customize/customize_icons.h"

#include <algorithm>
#include <cctype>

#include "app/config_file.h"
#include "app/customize/file_type_icons.h"
#include "app/customize/folder_icon_dialog.h"
#include "app/customize/folder_icons.h"
#include "app/customize/shell_icon_locations.h"
#include "app/data_module.h"
#include "app/dialogs/browse_folder.h"
#include "app/dialogs/icon_file_dialogs.h"
#include "app/dialogs/select_color.h"
#include "app/picture_utils.h"
#include "base/file_type_sniffer.h"
#include "app/dialogs/modal_form.h"
#include "base/form_texts.h"
#include "base/path_utils.h"
#include "base/registry_helpers.h"
#include "base/system_helpers.h"
#include "base/ui_windows.h"
#include "icons/advanced_icon.h"
#include "icons/icon_library.h"
#include "platform/graphics/graphics_icon.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/com_ctrls.h"
#include "platform/ui/com_ctrls_pages.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/img_list.h"
#include "platform/ui/menus.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/win/kernel_files.h"
#include "platform/win/system_folders.h"

namespace {

TfmCIcons* gOpen = nullptr;
constexpr const char* kDefaultMark = "#DEFAULT#";
const int kSizes[] = {16, 24, 32, 48, 64, 72};
const int kDepths[] = {4, 16, 24};

TButton* NewButton(TWinControl* parent, const char* caption, int left, int top, int width, int height,
                   TNotifyEvent click) {
  auto* b = PlaceControl<TButton>(parent, left, top, width, height);
  b->SetCaption(caption);
  b->OnClick = std::move(click);
  return b;
}

// Keeps the handle's icon in an image list (an empty image for none).
void AddIconToImageList(TCustomImageList* list, HICON icon, int index = -1) {
  TIcon picture;
  if (icon) {
    picture.SetHandle(CopyIcon(icon));
  }
  if (index < 0) {
    if (icon) list->AddIcon(&picture);
    else {
      TBitmap empty;
      empty.SetSize(list->Width(), list->Height());
      list->AddMasked(&empty, clBlack);
    }
  } else if (icon) {
    list->ReplaceIcon(index, &picture);
  } else {
    TBitmap empty;
    empty.SetSize(list->Width(), list->Height());
    list->ReplaceMasked(index, &empty, clBlack);
  }
}

std::string ControlText(TComboBox* box) { return box->Text(); }

}  // namespace

// ---------------------------------------------------------------------------
// Building

TfmCIcons::TfmCIcons(TComponent* owner) : TForm(owner) {
  SetName("fmCIcons");
  SetCaption("Customize Windows Icons");
  SetBorderStyle(bsDialog);
  SetPosition(poMainFormCenter);
  SetClientWidth(454);
  SetClientHeight(346);
  // A face of Arial's metrics, as the dialog was laid out for: in a wider one
  // the seven tabs would not fit its width.
  Font()->SetName("Arial");
  Font()->SetSize(8);
  SetKeyPreview(true);
  pc = new TPageControl(this);
  pc->SetParent(this);
  pc->SetBounds(0, 0, 454, 305);
  auto page = [this](const char* caption) {
    auto* t = new TTabSheet(this);
    t->SetPageControl(pc);
    t->SetCaption(caption);
    return t;
  };
  tsDesktop = page("Desktop");
  tsStartMenu = page("Start Menu");
  tsDrives = page("Drives");
  tsMiscIcons = page("Miscellaneous");
  tsFileTypes = page("File Types");
  tsFolders = page("Folders");
  tsParams = page("Settings");
  pc->OnChange = [this](TObject* s) { pcChange(s); };
  BuildIconPages();
  BuildSettingsPage();
  BuildFoldersPage();
  BuildFileTypesPage();
  btHelp = NewButton(this, "&Help", 8, 314, 75, 25, [this](TObject* s) { btHelpClick(s); });
  btOk = NewButton(this, "OK", 210, 314, 75, 25, [this](TObject* s) { btOkClick(s); });
  btOk->SetDefault(true);
  btCancel = NewButton(this, "Cancel", 291, 314, 75, 25, [this](TObject* s) { btCancelClick(s); });
  btCancel->SetCancel(true);
  btCancel->SetModalResult(mrCancel);
  btApply = NewButton(this, "&Apply", 372, 314, 75, 25, [this](TObject* s) { btApplyClick(s); });
  btApply->SetEnabled(false);
  OnActivate = [this](TObject* s) { FormActivate(s); };
  OnCloseQuery = [this](TObject* s, bool& can) { FormCloseQuery(s, can); };
  OnKeyDown = [this](TObject* s, WORD& key, TShiftState shift) { FormKeyDown(s, key, shift); };

  TranslateForm(this);
  FVersion = TIconTableVersion::Current();
  FIsWin95 = FVersion.IsWin95;
  FIsNT5 = FVersion.IsNT5;
  FIsXP = FVersion.IsXP;
  ReadIconMetrics();
  CopyIconState(FApplied, FPending);
  if (FIsXP) tsStartMenu->SetTabVisible(false);
  LoadIconTable();
  FillDriveList();
  // The count is a statistic no one reads: a settings file that cannot be
  // written must not keep the window from opening.
  try {
    IncrementStartCount();
  } catch (const Exception&) {
  }
  pc->SetActivePage(tsDesktop);
  pcChange(pc);
}

TfmCIcons::~TfmCIcons() = default;

void TfmCIcons::BuildIconPages() {
  auto list = [this](TTabSheet* sheet, TImageList*& images) {
    images = new TImageList(this);
    images->SetWidth(32);
    images->SetHeight(32);
    auto* lv = PlaceControl<TListView>(sheet, 4, 4, 318, 268);
    lv->SetLargeImages(images);
    lv->SetReadOnly(true);
    lv->SetHideSelection(false);
    lv->OnDblClick = [this](TObject* s) { btChangeIconClick(s); };
    lv->OnKeyDown = [this](TObject* s, WORD& key, TShiftState shift) { lvDeskTopKeyDown(s, key, shift); };
    return lv;
  };
  lvDeskTop = list(tsDesktop, ilDeskTop);
  lvStartMenu = list(tsStartMenu, ilStartMenu);
  lvDrives = list(tsDrives, ilDrives);
  lvMiscIcons = list(tsMiscIcons, ilMiscIcons);
  pmlvicon = new TPopupMenu(this);
  auto item = [this](const char* caption, TNotifyEvent click) {
    auto* m = new TMenuItem(this);
    m->SetCaption(caption);
    m->OnClick = std::move(click);
    pmlvicon->Items()->Add(m);
    return m;
  };
  pmChangeIcon = item("Change...", [this](TObject* s) { btChangeIconClick(s); });
  pmColorizeIcon = item("Colorize...", [this](TObject* s) { pmColorizeIconClick(s); });
  pmSaveIconAs = item("Save Icon as...", [this](TObject* s) { pmSaveIconAsClick(s); });
  pmDefaultIcon = item("Default", [this](TObject* s) { btDefaultIconClick(s); });
  pmlvicon->OnPopup = [this](TObject* s) { pmlviconPopup(s); };
  for (TListView* lv : {lvDeskTop, lvStartMenu, lvDrives, lvMiscIcons}) lv->SetPopupMenu(pmlvicon);
  pnIconCommands = PlaceControl<TPanel>(tsDesktop, 326, 0, 120, 276);
  pnIconCommands->SetBevelOuter(bvNone);
  pnIconCommands->SetCaption("");
  btRestoreAllIcons = NewButton(pnIconCommands, "&Restore All", 8, 4, 104, 25, [this](TObject* s) { btRestoreAllIconsClick(s); });
  btSaveIcon = NewButton(pnIconCommands, "&Save as...", 8, 140, 104, 25, [this](TObject* s) { pmSaveIconAsClick(s); });
  btSaveIcon->SetHint("Save icon|Saves current icon");
  btSaveIcon->SetShowHint(true);
  btColorizeIcon = NewButton(pnIconCommands, "Colori&ze...", 8, 172, 104, 25, [this](TObject* s) { pmColorizeIconClick(s); });
  btChangeIcon = NewButton(pnIconCommands, "&Change...", 8, 212, 104, 25, [this](TObject* s) { btChangeIconClick(s); });
  btDefaultIcon = NewButton(pnIconCommands, "&Default", 8, 244, 104, 25, [this](TObject* s) { btDefaultIconClick(s); });
}

void TfmCIcons::BuildSettingsPage() {
  rgSize = PlaceControl<TRadioGroup>(tsParams, 8, 4, 208, 96);
  rgSize->SetCaption("Icon size");
  rgSize->SetColumns(2);
  for (const char* s : {"&16 x 16", "&24 x 24", "&32 x 32", "&48 x 48", "&64 x 64", "&72 x 72"}) rgSize->Items()->Add(s);
  rgSize->OnClick = [this](TObject*) {
    if (rgSize->ItemIndex() < 0) return;
    FPending.Size = kSizes[rgSize->ItemIndex()];
    EnableApply();
    FIconsChanged = true;
  };
  rgColors = PlaceControl<TRadioGroup>(tsParams, 224, 4, 216, 96);
  rgColors->SetCaption("Icon color depth");
  for (const char* s : {"16 c&olors (4 bits)", "&Hi Color (16 bits)", "&True Color (24 bits)"}) rgColors->Items()->Add(s);
  rgColors->OnClick = [this](TObject*) {
    if (rgColors->ItemIndex() < 0) return;
    FPending.BitsPerPixel = kDepths[rgColors->ItemIndex()];
    EnableApply();
    FIconsChanged = true;
  };
  gbSpace = PlaceControl<TGroupBox>(tsParams, 8, 106, 208, 76);
  gbSpace->SetCaption("Space between icons");
  auto* h = PlaceControl<TLabel>(gbSpace, 10, 22, 70, 13);
  h->SetCaption("Horizontal");
  edIconSpaceH = PlaceControl<TSpinEdit>(gbSpace, 100, 18, 90, 21);
  auto* v = PlaceControl<TLabel>(gbSpace, 10, 48, 70, 13);
  v->SetCaption("Vertical");
  edIconSpaceV = PlaceControl<TSpinEdit>(gbSpace, 100, 44, 90, 21);
  for (TSpinEdit* e : {edIconSpaceH, edIconSpaceV}) {
    e->SetMinValue(1);
    e->SetMaxValue(256);
  }
  cbShortcut = PlaceControl<TCheckBox>(tsParams, 16, 192, 200, 17);
  cbShortcut->SetCaption("Display shortcut overlays");
  gbCache = PlaceControl<TGroupBox>(tsParams, 224, 106, 216, 160);
  gbCache->SetCaption("Windows Icon Cache");
  btRebuild = NewButton(gbCache, "Rebuild", 10, 20, 80, 25, [](TObject*) { RebuildIconCache(); });
  auto* n1 = PlaceControl<TLabel>(gbCache, 10, 50, 196, 30);
  n1->SetWordWrap(true);
  n1->SetCaption("Use if Windows does not update icons");
  btRepair = NewButton(gbCache, "Repair", 10, 86, 80, 25, [](TObject*) { RepairIconCache(); });
  auto* n2 = PlaceControl<TLabel>(gbCache, 10, 116, 196, 40);
  n2->SetWordWrap(true);
  n2->SetCaption("Use if Windows displays corrupt icons (Reboot required)");
}

void TfmCIcons::BuildFoldersPage() {
  lbFolder = PlaceControl<TLabel>(tsFolders, 8, 8, 60, 13);
  lbFolder->SetCaption("&Folder");
  edFolder = PlaceControl<TEdit>(tsFolders, 8, 24, 400, 21);
  lbFolder->SetFocusControl(edFolder);
  edFolder->OnKeyDown = [this](TObject* s, WORD& key, TShiftState shift) { edFolderKeyDown(s, key, shift); };
  btFolder = PlaceControl<TSpeedButton>(tsFolders, 414, 23, 24, 23);
  btFolder->SetFlat(true);
  btFolder->SetHint("Open folder");
  btFolder->SetShowHint(true);
  SetMainImageGlyph(btFolder, kOpenFolderImage);
  btFolder->OnClick = [this](TObject* s) { btFolderClick(s); };
  lbLDisks = PlaceControl<TLabel>(tsFolders, 8, 56, 120, 13);
  lbLDisks->SetCaption("&Local hard drives");
  cbDisk = PlaceControl<TComboBox>(tsFolders, 8, 72, 120, 21);
  cbDisk->SetStyle(csDropDownList);
  lbLDisks->SetFocusControl(cbDisk);
  cbDisk->OnChange = [this](TObject* s) { cbDiskChange(s); };
  imicon = PlaceControl<TImage>(tsFolders, 40, 120, 48, 48);
  imicon->SetCenter(true);
  btChangeF = NewButton(tsFolders, "&Change icon...", 160, 120, 110, 25, [this](TObject* s) { btChangeFClick(s); });
  btChangeF->SetHint("Change icon");
  btDefaultF = NewButton(tsFolders, "&Default icon", 160, 152, 110, 25, [this](TObject* s) { btDefaultFClick(s); });
  btDefaultF->SetHint("Restore default icon");
  cbCopyF = PlaceControl<TCheckBox>(tsFolders, 8, 196, 200, 17);
  cbCopyF->SetCaption("Copy &icon into folder");
  cbCopyF->SetChecked(true);
}

void TfmCIcons::BuildFileTypesPage() {
  Label5 = PlaceControl<TLabel>(tsFileTypes, 8, 8, 90, 13);
  Label5->SetCaption("&File extension");
  cbExt = PlaceControl<TComboBox>(tsFileTypes, 8, 24, 110, 21);
  cbExt->SetSorted(true);
  Label5->SetFocusControl(cbExt);
  cbExt->OnChange = [this](TObject* s) { cbExtChange(s); };
  Label7 = PlaceControl<TLabel>(tsFileTypes, 128, 8, 200, 13);
  Label7->SetCaption("Type name and content type");
  edDescr = PlaceControl<TEdit>(tsFileTypes, 128, 24, 310, 21);
  edDescr->SetReadOnly(true);
  edDescr->Font()->SetColor(clBlue);
  imIconFT48 = PlaceControl<TImage>(tsFileTypes, 16, 64, 48, 48);
  imIconFT16 = PlaceControl<TImage>(tsFileTypes, 80, 96, 16, 16);
  lbFromFile = PlaceControl<TLabel>(tsFileTypes, 112, 80, 100, 13);
  lbFromFile->SetCaption("Icon from file");
  lbFromFile->SetVisible(false);
  Label6 = PlaceControl<TLabel>(tsFileTypes, 8, 132, 80, 13);
  Label6->SetCaption("Icon location");
  lbFileTypeIconLocationNotFound = PlaceControl<TLabel>(tsFileTypes, 84, 132, 100, 13);
  lbFileTypeIconLocationNotFound->SetCaption("- file not found");
  lbFileTypeIconLocationNotFound->Font()->SetColor(clRed);
  lbFileTypeIconLocationNotFound->SetVisible(false);
  edFileExtIconLocation = PlaceControl<TEdit>(tsFileTypes, 8, 148, 430, 21);
  edFileExtIconLocation->SetReadOnly(true);
  edFileExtIconLocation->Font()->SetColor(clBlue);
  btSaveFileTypeIcon = NewButton(tsFileTypes, "&Save icon...", 8, 184, 110, 25, [this](TObject* s) { btSaveFileTypeIconClick(s); });
  btSaveFileTypeIcon->SetHint("Save icon|Saves current icon");
  btChangeExtIcon = NewButton(tsFileTypes, "&Change icon...", 200, 184, 110, 25, [this](TObject* s) { btChangeExtIconClick(s); });
  btChangeExtIcon->SetHint("Change icon");
  btDefaultExtIcon = NewButton(tsFileTypes, "&Default icon", 318, 184, 110, 25, [this](TObject* s) { btDefaultExtIconClick(s); });
  btDefaultExtIcon->SetHint("Restore default icon");
}

// ---------------------------------------------------------------------------
// Settings

void TfmCIcons::ReadIconMetrics() {
  const std::string size = ReadRegistryString(HKEY_CURRENT_USER, std::string(kWindowMetricsKey) + "\\Shell Icon Size");
  const std::string depth = ReadRegistryString(HKEY_CURRENT_USER, std::string(kWindowMetricsKey) + "\\Shell Icon BPP");
  FApplied.Size = StrToIntDef(size.empty() ? "32" : size, 0);
  FApplied.BitsPerPixel = StrToIntDef(depth.empty() ? "4" : depth, 0);
  FApplied.Metrics.cbSize = sizeof(ICONMETRICSA);
  SystemParametersInfo(SPI_GETICONMETRICS, sizeof(ICONMETRICSA), &FApplied.Metrics, 0);
  FApplied.ShortcutOverlay = GetShortcutOverlay();
  auto indexOf = [](const int* values, int count, int v) {
    for (int i = 0; i < count; ++i)
      if (values[i] == v) return i;
    return -1;
  };
  rgSize->SetItemIndex(indexOf(kSizes, 6, FApplied.Size));
  rgColors->SetItemIndex(indexOf(kDepths, 3, FApplied.BitsPerPixel));
  edIconSpaceH->OnChange = nullptr;
  edIconSpaceV->OnChange = nullptr;
  cbShortcut->OnClick = nullptr;
  edIconSpaceH->SetValue(FApplied.Metrics.iHorzSpacing);
  edIconSpaceV->SetValue(FApplied.Metrics.iVertSpacing);
  cbShortcut->SetChecked(FApplied.ShortcutOverlay);
  edIconSpaceH->OnChange = [this](TObject*) {
    FPending.Metrics.iHorzSpacing = edIconSpaceH->Value();
    EnableApply();
    FIconsChanged = true;
  };
  edIconSpaceV->OnChange = [this](TObject*) {
    FPending.Metrics.iVertSpacing = edIconSpaceV->Value();
    EnableApply();
    FIconsChanged = true;
  };
  cbShortcut->OnClick = [this](TObject*) {
    FPending.ShortcutOverlay = cbShortcut->Checked();
    EnableApply();
    FIconsChanged = true;
  };
}

void TfmCIcons::ApplyIconMetrics() {
  FRestartNeeded = false;
  bool changed = false, rebuild = false, refresh = false;
  const std::string key = std::string(kWindowMetricsKey) + "\\";
  if (FPending.Size != 0 && FPending.Size != FApplied.Size) {
    WriteRegistryString(HKEY_CURRENT_USER, key + "Shell Icon Size", std::to_string(FPending.Size));
    changed = true;
  }
  if (FPending.BitsPerPixel != 0 && FPending.BitsPerPixel != FApplied.BitsPerPixel) {
    WriteRegistryString(HKEY_CURRENT_USER, key + "Shell Icon BPP", std::to_string(FPending.BitsPerPixel));
    changed = true;
    FRestartNeeded = true;
  }
  const bool hChanged = FPending.Metrics.iHorzSpacing != 0 && FPending.Metrics.iHorzSpacing != FApplied.Metrics.iHorzSpacing;
  const bool vChanged = FPending.Metrics.iVertSpacing != 0 && FPending.Metrics.iVertSpacing != FApplied.Metrics.iVertSpacing;
  if (hChanged || vChanged) {
    ICONMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfo(SPI_GETICONMETRICS, sizeof metrics, &metrics, 0);
    metrics.iHorzSpacing = FPending.Metrics.iHorzSpacing;
    metrics.iVertSpacing = FPending.Metrics.iVertSpacing;
    SystemParametersInfo(SPI_SETICONMETRICS, sizeof metrics, &metrics, SPIF_SENDCHANGE);
    changed = true;
  }
  if (FPending.ShortcutOverlay != FApplied.ShortcutOverlay) {
    SetShortcutOverlay(FPending.ShortcutOverlay);
    changed = rebuild = refresh = true;
  }
  if (rebuild) RebuildIconCache();
  if (changed) BroadcastIniChange();
  if (refresh) RefreshDesktop();
  CopyIconState(FPending, FApplied);
}

// ---------------------------------------------------------------------------
// The icon table pages

TListView* TfmCIcons::ListOfPage(const std::string& page) {
  if (page == "D") return lvDeskTop;
  if (page == "M") return lvMiscIcons;
  if (page == "Dr") return lvDrives;
  if (page == "S") return lvStartMenu;
  return nullptr;
}

void TfmCIcons::LoadIconTable() {
  ::LoadIconTable(FIcons, FVersion);
  FillPages();
}

void TfmCIcons::FillPages() {
  for (TListView* lv : {lvDeskTop, lvStartMenu, lvDrives, lvMiscIcons}) lv->Items()->Clear();
  for (TImageList* il : {ilDeskTop, ilStartMenu, ilDrives, ilMiscIcons}) il->Clear();
  for (const auto& e : FIcons) {
    HICON icon = ExtractIconFromLocation(e->IconLocation);
    if (!icon) icon = GetFallbackIcon();
    TListView* lv = ListOfPage(e->Rec->Page);
    if (!lv) {
      if (icon) DestroyIcon(icon);
      continue;
    }
    auto* images = static_cast<TCustomImageList*>(lv->LargeImages());
    AddIconToImageList(images, icon);
    TListItem* item = lv->Items()->Add();
    item->SetImageIndex(images->Count() - 1);
    item->SetCaption(e->DisplayCaption);
    item->SetData(e.get());
    e->Item = item;
    if (icon) DestroyIcon(icon);
  }
  for (TListView* lv : {lvDeskTop, lvStartMenu, lvDrives, lvMiscIcons})
    if (lv->Items()->Count() > 0) lv->SetItemIndex(0);
}

void TfmCIcons::ApplyIconTable() {
  ::ApplyIconTable(FIcons, FVersion, FForceRebuild);
  FForceRebuild = false;
}

TListView* TfmCIcons::GetActiveListView() {
  TTabSheet* page = pc->ActivePage();
  for (TListView* lv : {lvDeskTop, lvStartMenu, lvDrives, lvMiscIcons})
    if (lv->Parent() == page) return lv;
  return nullptr;
}

TCustomIconFileInfo* TfmCIcons::SelectedEntry() {
  TListView* lv = GetActiveListView();
  if (!lv || !lv->Selected()) return nullptr;
  return static_cast<TCustomIconFileInfo*>(lv->Selected()->Data());
}

std::string TfmCIcons::CurrentLocation(const TCustomIconFileInfo& entry) {
  if (entry.NewLocation == kDefaultMark) return entry.DefaultLocation;
  if (!entry.NewLocation.empty()) return entry.NewLocation;
  return entry.IconLocation;
}

void TfmCIcons::EnableApply() { btApply->SetEnabled(true); }

void TfmCIcons::ShowEntryIcon(TCustomIconFileInfo& entry, const std::string& location, bool useDefault) {
  HICON icon = ExtractIconFromLocation(location);
  if (!icon && useDefault) icon = GetFallbackIcon();
  if (entry.Item) {
    TListView* lv = entry.Item->ListView();
    AddIconToImageList(static_cast<TCustomImageList*>(lv->LargeImages()), icon, entry.Item->ImageIndex());
    lv->Invalidate();
  }
  if (icon) DestroyIcon(icon);
}

void TfmCIcons::btChangeIconClick(TObject*) {
  TCustomIconFileInfo* entry = SelectedEntry();
  if (!entry) return;
  std::string file;
  int index = 0;
  ParseIconLocation(CurrentLocation(*entry), file, index);
  auto dialog = std::make_unique<TOpenIcoDialog>(Application);
  dialog->SetFileName(file);
  if (dialog->ExecuteIconIndex(index)) {
    entry->NewLocation = dialog->FileName() + "," + std::to_string(dialog->IconIndex);
    EnableApply();
    FIconsChanged = true;
    ShowEntryIcon(*entry, entry->NewLocation, false);
  }
}

void TfmCIcons::lvDeskTopKeyDown(TObject* sender, WORD& key, TShiftState) {
  if (key == VK_RETURN) {
    btChangeIconClick(sender);
    key = 0;
  }
}

void TfmCIcons::btDefaultIconClick(TObject*) {
  TCustomIconFileInfo* entry = SelectedEntry();
  if (!entry) return;
  entry->NewLocation = kDefaultMark;
  EnableApply();
  FIconsChanged = true;
  ShowEntryIcon(*entry, entry->DefaultLocation, true);
}

void TfmCIcons::btRestoreAllIconsClick(TObject*) {
  TListView* lv = GetActiveListView();
  if (!lv) return;
  for (int i = 0; i < lv->Items()->Count(); ++i) {
    auto* entry = static_cast<TCustomIconFileInfo*>(lv->Items()->Item(i)->Data());
    if (!entry) continue;
    entry->NewLocation = kDefaultMark;
    EnableApply();
    FIconsChanged = true;
    ShowEntryIcon(*entry, entry->DefaultLocation, true);
  }
}

std::unique_ptr<TAdvancedIcon> TfmCIcons::LoadEntryIcon(const TCustomIconFileInfo& entry) {
  std::string file;
  int index = 0;
  if (!ParseIconLocation(CurrentLocation(entry), file, index) || !FileExists(file)) return nullptr;
  TSniffedFileType type = 0;
  int32_t sub = 0;
  DetectFileType(file, type, sub);
  if (type == sftIconOrCursor) {
    auto icon = std::make_unique<TAdvancedIcon>();
    if (!icon->LoadFromFile(file)) return nullptr;
    return icon;
  }
  return PickLibraryIcon(file, index);
}

void TfmCIcons::pmSaveIconAsClick(TObject*) {
  if (!FSaveDialog) {
    FSaveDialog = new TSaveIcoDialog(this);
    FSaveDialog->SetFilter("Icons (*.ico)|*.ico|All files (*.*)|*.*");
  }
  FSaveDialog->SetFilterIndex(1);
  TCustomIconFileInfo* entry = SelectedEntry();
  if (!entry) return;
  FSaveDialog->SetFileName(ExtractFilePath(FSaveDialog->FileName()) + ProposedIconFileName(entry->DisplayCaption));
  if (!FSaveDialog->Execute()) return;
  std::string target = FSaveDialog->FileName();
  if (FSaveDialog->FilterIndex() == 1) target = ApplyDefaultExtension(target, "ico");
  std::unique_ptr<TAdvancedIcon> icon = LoadEntryIcon(*entry);
  if (!icon) {
    ShowMessage("Invalid icon. Can not save");
    return;
  }
  SaveIconReplacing(*icon, target, FILE_ATTRIBUTE_NORMAL);
}

void TfmCIcons::pmColorizeIconClick(TObject*) {
  TCustomIconFileInfo* entry = SelectedEntry();
  if (!entry) return;
  TColor colour = FColorizeColor;
  if (!SelectColor(colour)) return;
  FColorizeColor = static_cast<TColor>(ColorToRGB(colour));
  ShowBusyCursor();
  try {
    std::unique_ptr<TAdvancedIcon> icon = LoadEntryIcon(*entry);
    if (!icon) {
      RestoreCursor();
      ShowMessage("Invalid icon. Can not save");
      return;
    }
    ColorizeIcon(icon.get(), FColorizeColor);
    const std::string folder = kInstalledIconsFolder;
    ForceDirectories(folder);
    const std::string file = folder + "\\" + MakeColorizedIconName(*entry->Rec) + ".ico";
    SaveIconReplacing(*icon, file, FILE_ATTRIBUTE_NORMAL);
    entry->NewLocation = file + ",0";
    if (SameText(entry->IconLocation, entry->NewLocation)) FForceRebuild = true;
    EnableApply();
    FIconsChanged = true;
    ShowEntryIcon(*entry, entry->NewLocation, false);
  } catch (...) {
    RestoreCursor();
    throw;
  }
  RestoreCursor();
}

void TfmCIcons::pmlviconPopup(TObject*) {
  const bool any = SelectedEntry() != nullptr;
  for (TMenuItem* m : {pmChangeIcon, pmDefaultIcon, pmSaveIconAs, pmColorizeIcon}) m->SetEnabled(any);
}

void TfmCIcons::pcChange(TObject*) {
  TTabSheet* page = pc->ActivePage();
  if (page == tsDesktop || page == tsStartMenu || page == tsDrives || page == tsMiscIcons) pnIconCommands->SetParent(page);
  if (page == tsFolders) ShowFolderIcon();
  if (page == tsFileTypes) ShowFileTypeIcon();
}

// ---------------------------------------------------------------------------
// Window

void TfmCIcons::FormActivate(TObject*) {
  if (!FActivated) {
    FActivated = true;
    FColorizeColor = clBlue;
    Application->SetHelpFile(GetApplicationDir() + "help.chm");
    Application->SetTitle("Quorvane");
  }
  ShowFolderIcon();
}

void TfmCIcons::FormCloseQuery(TObject*, bool&) {
  if (ModalResult() == mrOk && btApply->Enabled()) btApplyClick(this);
}

void TfmCIcons::FormKeyDown(TObject*, WORD& key, TShiftState) {
  if (key == VK_F1) {
    btHelpClick(this);
    key = 0;
  } else if (key == VK_F5) {
    LoadIconTable();
    pcChange(pc);
    key = 0;
  }
}

void TfmCIcons::btHelpClick(TObject*) { ShowHelp(); }

void TfmCIcons::btApplyClick(TObject*) {
  if (FIconsChanged) {
    ApplyIconMetrics();
    ApplyIconTable();
    FIconsChanged = false;
  }
  if (FFolderChanged) {
    ApplyFolderIcon();
    FFolderChanged = false;
  }
  if (FFileTypeChanged) {
    ApplyFileTypeIcon();
    FFileTypeChanged = false;
  }
  btApply->SetEnabled(false);
  if (FRestartNeeded) AskRestartWindows();
}

void TfmCIcons::btOkClick(TObject*) {
  if (btApply->Enabled()) btApplyClick(this);
  Close();
}

void TfmCIcons::btCancelClick(TObject*) { SetModalResult(mrCancel); }

void TfmCIcons::FillDriveList() {
  const unsigned fixed[] = {DRIVE_FIXED};
  ListDrives(cbDisk->Items(), fixed, 0, true);
}

void TfmCIcons::IncrementStartCount() {
  std::unique_ptr<TConfigFile> config = TConfigFile::Open();
  const int32_t count = config->ReadInteger("Stat", "CountStart", 0);
  config->WriteInteger("Stat", "CountStart", count < 0 ? 1 : count + 1);
}

// ---------------------------------------------------------------------------
// Folders page

void TfmCIcons::SetFolderPreview(HICON icon) {
  TIcon picture;
  picture.SetHandle(icon);
  imicon->Picture()->Assign(&picture);
}

void TfmCIcons::ShowFolderIcon() {
  const std::string folder = Trim(edFolder->Text());
  if (!folder.empty()) {
    GetFolderIconLocation(folder, FFolderIconFile, FFolderIconIndex);
    SetFolderPreview(GetFolderIcon(folder));
  } else {
    SetFolderPreview(GetDefaultFolderIcon());
  }
}

void TfmCIcons::edFolderKeyDown(TObject*, WORD& key, TShiftState) {
  cbDisk->SetItemIndex(-1);
  if (key == VK_RETURN) ShowFolderIcon();
}

void TfmCIcons::btFolderClick(TObject*) {
  std::string folder = Trim(edFolder->Text());
  if (!DirectoryExists(folder)) folder.clear();
  if (!BrowseForFolder(folder, "", 0)) return;
  CheckNotSystemFolder(folder);
  edFolder->SetText(folder);
  ShowFolderIcon();
  cbDisk->SetItemIndex(-1);
}

void TfmCIcons::cbDiskChange(TObject*) {
  const std::string drive = cbDisk->Text();
  if (drive.empty()) return;
  edFolder->SetText(drive);
  ShowFolderIcon();
}

void TfmCIcons::btChangeFClick(TObject*) {
  if (Trim(edFolder->Text()).empty()) return;
  std::string folder = Trim(edFolder->Text());
  if (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  CheckFolderInModel(folder);
  CheckNotSystemFolder(folder);
  std::string file;
  int index = 0;
  GetFolderIconLocation(folder, file, index);
  auto dialog = std::make_unique<TOpenIcoDialog>(Application);
  dialog->SetFileName(file);
  if (!dialog->ExecuteIconIndex(index)) return;
  SetFolderPreview(ExtractIconFromFile(dialog->FileName(), dialog->IconIndex));
  FFolderIconFile = dialog->FileName();
  FFolderIconIndex = dialog->IconIndex;
  EnableApply();
  FFolderChanged = true;
}

void TfmCIcons::btDefaultFClick(TObject*) {
  const std::string folder = Trim(edFolder->Text());
  if (folder.empty()) return;
  FFolderIconFile.clear();
  SetFolderPreview(IsDriveRoot(folder) ? GetDefaultDriveIcon(folder) : GetDefaultFolderIcon());
  EnableApply();
  FFolderChanged = true;
}

void TfmCIcons::ApplyFolderIcon() {
  const std::string folder = Trim(edFolder->Text());
  if (folder.empty()) return;
  CheckFolderInModel(folder);
  CheckNotSystemFolder(folder);
  ApplyFolderWrite(folder, [&] { SetFolderIcon(folder, FFolderIconFile, FFolderIconIndex, cbCopyF->Checked()); });
}

// ---------------------------------------------------------------------------
// File Types page

namespace {

void ShowFileTypeIconPreview(TImage* image48, TImage* image16, const std::string& file, TColor colour,
                             const std::string& indexText) {
  image48->Picture()->Assign(nullptr);
  image16->Picture()->Assign(nullptr);
  if (file.empty() || !FileExists(file)) return;
  TAdvancedIcon icon;
  LoadIconFromLocation(file, indexText, &icon);
  const int depth = IsWindowsXP() ? 32 : 8;
  if (icon.Count() == 0) return;
  if (icon.GetBestImage(48, 48, depth)) DrawBestIconImage(image48->Picture(), &icon, 48, 48, depth, colour);
  if (icon.GetBestImage(16, 16, depth)) DrawBestIconImage(image16->Picture(), &icon, 16, 16, depth, colour);
}

}  // namespace

void TfmCIcons::ShowFileTypeIcon() {
  if (cbExt->Items()->Count() == 0) {
    ListRegisteredExtensions(cbExt->Items());
    cbExt->SetText("");
  }
  lbFileTypeIconLocationNotFound->SetVisible(false);
  const std::string ext = ControlText(cbExt);
  std::string location, typeName, contentType;
  if (!ext.empty() && cbExt->Items()->IndexOf(ext) >= 0) GetFileTypeIcon(ext, location, typeName, contentType);
  else location = GetUnknownFileTypeIcon();
  std::string file, indexText;
  bool fromFile = false;
  SplitIconLocation(location, file, indexText, fromFile);
  edFileExtIconLocation->SetText(location);
  edDescr->SetText(contentType.empty() ? typeName : typeName + " - " + contentType);
  ShowFileTypeIconPreview(imIconFT48, imIconFT16, file, Color(), indexText);
  lbFromFile->SetVisible(fromFile);
  lbFileTypeIconLocationNotFound->SetVisible(!file.empty() && !FileExists(file));
  btChangeExtIcon->SetEnabled(!ext.empty());
  btDefaultExtIcon->SetEnabled(!ext.empty());
}

void TfmCIcons::cbExtChange(TObject*) {
  ShowFileTypeIcon();
  FFileTypeChanged = false;
}

void TfmCIcons::btChangeExtIconClick(TObject*) {
  std::string ext = Trim(ControlText(cbExt));
  if (ext.empty()) return;
  if (ext[0] != '.') ext = "." + ext;
  CheckExtensionAllowed(ext);
  std::string location, typeName, contentType, file, indexText;
  bool fromFile = false;
  GetFileTypeIcon(ext, location, typeName, contentType);
  SplitIconLocation(location, file, indexText, fromFile);
  auto dialog = std::make_unique<TOpenIcoDialog>(Application);
  dialog->SetFileName(file);
  if (!dialog->ExecuteIconIndex(StrToIntDef(indexText, 0))) return;
  ShowFileTypeIconPreview(imIconFT48, imIconFT16, dialog->FileName(), Color(), std::to_string(dialog->IconIndex));
  if (!imIconFT16->Picture()->Graphic() || imIconFT16->Picture()->Graphic()->Empty()) {
    FExtIconFile.clear();
    FExtIconIndex = 0;
  } else {
    FExtIconFile = dialog->FileName();
    FExtIconIndex = dialog->IconIndex;
  }
  edFileExtIconLocation->SetText(FExtIconIndex != 0 ? FExtIconFile + "," + std::to_string(FExtIconIndex) : FExtIconFile);
  lbFromFile->SetVisible(false);
  lbFileTypeIconLocationNotFound->SetVisible(false);
  EnableApply();
  FFileTypeChanged = true;
}

void TfmCIcons::btDefaultExtIconClick(TObject*) {
  const std::string location = GetDefaultFileTypeIcon(ControlText(cbExt));
  std::string file, indexText;
  bool fromFile = false;
  SplitIconLocation(location, file, indexText, fromFile);
  ShowFileTypeIconPreview(imIconFT48, imIconFT16, file, Color(), indexText);
  lbFromFile->SetVisible(fromFile);
  lbFileTypeIconLocationNotFound->SetVisible(!file.empty() && !FileExists(file));
  edFileExtIconLocation->SetText(location);
  FExtIconFile = kDefaultMark;
  FExtIconIndex = 0;
  EnableApply();
  FFileTypeChanged = true;
}

void TfmCIcons::btSaveFileTypeIconClick(TObject*) {
  std::string file, indexText;
  bool fromFile = false;
  SplitIconLocation(edFileExtIconLocation->Text(), file, indexText, fromFile);
  TAdvancedIcon icon;
  LoadIconFromLocation(file, indexText, &icon);
  if (!dm || !dm->SaveIconDialog) return;
  if (!dm->SaveIconDialog->Execute()) return;
  std::string name = AppendExtension(dm->SaveIconDialog->FileName(), GetLowerExtension("x." + GetSelectedFilterExt(dm->SaveIconDialog)));
  ExportSubIcon(&icon, icon.GetBestImage(48, 48, 24), dm->SaveIconDialog, name);
}

void TfmCIcons::ApplyFileTypeIcon() {
  const std::string ext = ControlText(cbExt);
  if (Trim(ext).empty()) return;
  std::string before, after, typeName, contentType;
  GetFileTypeIcon(ext, before, typeName, contentType);
  SetFileTypeIcon(FExtIconFile, FExtIconIndex, ext);
  GetFileTypeIcon(ext, after, typeName, contentType);
  if (after != before) RebuildIconCache();
  RefreshDesktop();
}

// ---------------------------------------------------------------------------

std::string ProposedIconFileName(const std::string& caption) {
  // A caption comes from the registry and may hold anything; a path separator
  // in it would name another folder.
  std::string name;
  for (char c : caption)
    if (std::string("\\/:*?\"<>|").find(c) == std::string::npos && static_cast<unsigned char>(c) >= 0x20) name += c;
  return name + ".ico";
}

TfmCIcons* OpenCustomizeWindowsDialog() { return gOpen; }

void ShowCustomizeWindowsDialog() {
  InitializeUI();
  TfmCIcons form(Application);
  TCustomForm* main = Application->MainForm();
  if (main) {
    main->Hide();
    main->SetEnabled(false);
  }
  try {
    ShowModalTracked(form, gOpen);
  } catch (...) {
    if (main) {
      main->SetEnabled(true);
      main->Show();
    }
    throw;
  }
  if (main) {
    main->SetEnabled(true);
    main->Show();
  }
}
