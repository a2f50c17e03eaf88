#include "app/customize/folder_icon_dialog.h"

#include "app/customize/folder_icons.h"
#include "app/customize/shell_icon_locations.h"
#include "app/dialogs/browse_folder.h"
#include "app/main_window.h"
#include "app/dialogs/modal_form.h"
#include "base/form_texts.h"
#include "base/system_helpers.h"
#include "base/ui_windows.h"
#include "icons/advanced_icon.h"
#include "platform/graphics/graphics_icon.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/img_list.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"

namespace {

TfmFolderIcon* gOpen = nullptr;

}  // namespace

void SetMainImageGlyph(TSpeedButton* button, int index) {
  if (auto* main = dynamic_cast<TfmMain*>(Application ? Application->MainForm() : nullptr))
    if (main->il && index < main->il->Count()) main->il->GetBitmap(index, button->Glyph());
  if (button->Glyph()->Empty()) button->SetCaption("...");
}

TfmFolderIcon::TfmFolderIcon(TComponent* owner) : TForm(owner) {
  SetName("fmFolderIcon");
  SetCaption("Customize Folder Icon");
  SetBorderStyle(bsDialog);
  SetPosition(poMainFormCenter);
  SetClientWidth(416);
  SetClientHeight(173);
  lbFolder = PlaceControl<TLabel>(this, 8, 8, 60, 13);
  lbFolder->SetCaption("&Folder");
  edFolder = PlaceControl<TEdit>(this, 8, 24, 370, 21);
  lbFolder->SetFocusControl(edFolder);
  edFolder->OnChange = [this](TObject* s) { edFolderChange(s); };
  btFolder = PlaceControl<TSpeedButton>(this, 384, 23, 24, 23);
  btFolder->SetFlat(true);
  btFolder->SetHint("Open folder");
  btFolder->SetShowHint(true);
  SetMainImageGlyph(btFolder, kOpenFolderImage);
  btFolder->OnClick = [this](TObject* s) { btFolderClick(s); };
  lbCur = PlaceControl<TLabel>(this, 8, 60, 80, 13);
  lbCur->SetCaption("Current icon");
  imgcur48 = PlaceControl<TImage>(this, 16, 80, 48, 48);
  imgcur48->SetCenter(true);
  Label2 = PlaceControl<TLabel>(this, 112, 60, 80, 13);
  Label2->SetCaption("New icon");
  imgnew48 = PlaceControl<TImage>(this, 120, 80, 48, 48);
  imgnew48->SetCenter(true);
  btDefault = PlaceControl<TButton>(this, 226, 104, 91, 25);
  btDefault->SetCaption("&Default icon");
  btDefault->SetHint("Restore default icon");
  btDefault->SetShowHint(true);
  btDefault->SetEnabled(false);
  btDefault->OnClick = [this](TObject* s) { btDefaultClick(s); };
  btApply = PlaceControl<TButton>(this, 324, 104, 84, 25);
  btApply->SetCaption("&Apply");
  btApply->SetEnabled(false);
  btApply->OnClick = [this](TObject* s) { btApplyClick(s); };
  btCancel = PlaceControl<TButton>(this, 324, 140, 84, 25);
  btCancel->SetCaption("Close");
  btCancel->SetCancel(true);
  btCancel->SetModalResult(mrCancel);
  OnActivate = [this](TObject* s) { FormActivate(s); };
  edFolderChange(this);
}

void TfmFolderIcon::FormActivate(TObject*) { RefreshPreview(); }

void TfmFolderIcon::edFolderChange(TObject*) {
  const bool any = !Trim(edFolder->Text()).empty();
  btApply->SetEnabled(any);
  btDefault->SetEnabled(any);
  imgcur48->SetVisible(any);
  lbCur->SetEnabled(any);
}

void TfmFolderIcon::SetCurrentPreview(HICON icon) {
  auto picture = std::make_unique<TIcon>();
  picture->SetHandle(icon);
  imgcur48->Picture()->Assign(picture.get());
  const int w = icon ? imgcur48->Picture()->Width() : 48;
  imgnew48->SetWidth(w > 0 ? w : 48);
  imgnew48->SetHeight(w > 0 ? imgcur48->Picture()->Height() : 48);
}

void TfmFolderIcon::RefreshPreview() {
  const std::string folder = Trim(edFolder->Text());
  SetCurrentPreview(!folder.empty() ? GetFolderIcon(folder) : GetDefaultFolderIcon());
  if (FIcon) {
    const int w = imgnew48->Width();
    DrawBestIconImage(imgnew48->Picture(), FIcon, w, w, IsWindowsXP() ? 32 : 8, Color());
  }
}

void TfmFolderIcon::btFolderClick(TObject*) {
  std::string folder = Trim(edFolder->Text());
  if (!DirectoryExists(folder)) folder.clear();
  if (BrowseForFolder(folder, "", 0)) {
    edFolder->SetText(folder);
    RefreshPreview();
  }
}

void TfmFolderIcon::ApplyFolderIcon() {
  const std::string folder = Trim(edFolder->Text());
  if (folder.empty()) return;
  CheckFolderInModel(folder);
  CheckNotSystemFolder(folder);
  ApplyFolderWrite(folder, [&] { SetFolderIconFromIcon(folder, FIcon); });
  RefreshPreview();
}

void TfmFolderIcon::btApplyClick(TObject*) {
  btApply->SetEnabled(false);
  ApplyFolderIcon();
}

void TfmFolderIcon::btDefaultClick(TObject*) {
  ShowBusyCursor();
  try {
    const std::string folder = Trim(edFolder->Text());
    edFolder->SetText(folder);
    CheckFolderInModel(folder);
    CheckNotSystemFolder(folder);
    ApplyFolderWrite(folder, [&] { SetFolderIconFromIcon(folder, nullptr); });
    btApply->SetEnabled(true);
    RefreshPreview();
  } catch (...) {
    RestoreCursor();
    throw;
  }
  RestoreCursor();
}

TfmFolderIcon* OpenFolderIconDialog() { return gOpen; }

void ShowFolderIconDialog(TAdvancedIcon* icon) {
  InitializeUI();
  TfmFolderIcon form(Application);
  TranslateForm(&form);
  form.FIcon = icon;
  ShowModalTracked(form, gOpen);
}
