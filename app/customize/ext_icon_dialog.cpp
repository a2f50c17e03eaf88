#include "app/customize/ext_icon_dialog.h"

#include "app/customize/file_type_icons.h"
#include "app/customize/shell_icon_locations.h"
#include "app/dialogs/modal_form.h"
#include "base/form_texts.h"
#include "base/system_helpers.h"
#include "icons/advanced_icon.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"

namespace {

TfmExtIcon* gOpen = nullptr;

int PreviewDepth() { return IsWindowsXP() ? 32 : 8; }

}  // namespace

std::string FileTypeDescription(const std::string& typeName, const std::string& contentType) {
  return contentType.empty() ? typeName : typeName + " - " + contentType;
}

TfmExtIcon::TfmExtIcon(TComponent* owner) : TForm(owner) {
  SetName("fmExtIcon");
  SetCaption("Customize File Extension Icon");
  SetBorderStyle(bsDialog);
  SetPosition(poMainFormCenter);
  SetClientWidth(399);
  SetClientHeight(173);
  lbFolder = PlaceControl<TLabel>(this, 8, 8, 80, 13);
  lbFolder->SetCaption("&File extension");
  cbExt = PlaceControl<TComboBox>(this, 8, 24, 97, 21);
  cbExt->SetSorted(true);
  lbFolder->SetFocusControl(cbExt);
  cbExt->OnChange = [this](TObject* s) { cbExtChange(s); };
  Label1 = PlaceControl<TLabel>(this, 116, 8, 160, 13);
  Label1->SetCaption("Type name and content type");
  edDescr = PlaceControl<TEdit>(this, 116, 24, 275, 21);
  edDescr->SetReadOnly(true);
  edDescr->Font()->SetColor(clBlue);
  lbCur = PlaceControl<TLabel>(this, 8, 60, 70, 13);
  lbCur->SetCaption("Current icon");
  lbFromFile = PlaceControl<TLabel>(this, 80, 60, 70, 13);
  lbFromFile->SetCaption("- from file");
  lbFromFile->SetVisible(false);
  imgcur48 = PlaceControl<TImage>(this, 16, 80, 48, 48);
  imgcur16 = PlaceControl<TImage>(this, 72, 112, 16, 16);
  Label2 = PlaceControl<TLabel>(this, 150, 60, 70, 13);
  Label2->SetCaption("New icon");
  imgnew48 = PlaceControl<TImage>(this, 158, 80, 48, 48);
  imgnew16 = PlaceControl<TImage>(this, 214, 112, 16, 16);
  btDefault = PlaceControl<TButton>(this, 210, 140, 91, 25);
  btDefault->SetCaption("&Default icon");
  btDefault->SetHint("Restore default icon");
  btDefault->SetShowHint(true);
  btDefault->SetEnabled(false);
  btDefault->OnClick = [this](TObject* s) { btDefaultClick(s); };
  btApply = PlaceControl<TButton>(this, 307, 80, 84, 25);
  btApply->SetCaption("&Apply");
  btApply->SetEnabled(false);
  btApply->OnClick = [this](TObject* s) { btApplyClick(s); };
  btCancel = PlaceControl<TButton>(this, 307, 140, 84, 25);
  btCancel->SetCaption("Close");
  btCancel->SetCancel(true);
  btCancel->SetModalResult(mrCancel);
  OnActivate = [this](TObject* s) { FormActivate(s); };
}

void TfmExtIcon::FormActivate(TObject*) {
  ListRegisteredExtensions(cbExt->Items());
  cbExt->SetText("");
  ShowNewIcon();
}

void TfmExtIcon::ShowNewIcon() {
  if (!FIcon) return;
  const int w = imgnew48->Width();
  DrawBestIconImage(imgnew48->Picture(), FIcon, w, w, PreviewDepth(), Color());
  DrawBestIconImage(imgnew16->Picture(), FIcon, 16, 16, PreviewDepth(), Color());
}

void TfmExtIcon::cbExtChange(TObject*) { ShowCurrentIcon(); }

void TfmExtIcon::ShowCurrentIcon() {
  const std::string ext = Trim(cbExt->Text());
  btApply->SetEnabled(!ext.empty());
  btDefault->SetEnabled(!ext.empty());
  imgcur48->Picture()->Assign(nullptr);
  imgcur16->Picture()->Assign(nullptr);
  lbFromFile->SetVisible(false);
  if (ext.empty()) {
    edDescr->SetText("");
    return;
  }
  std::string location, typeName, contentType, file, indexText;
  bool fromFile = false;
  GetFileTypeIcon(ext, location, typeName, contentType);
  SplitIconLocation(location, file, indexText, fromFile);
  edDescr->SetText(FileTypeDescription(typeName, contentType));
  if (!file.empty() && FileExists(file)) {
    TAdvancedIcon icon;
    LoadIconFromLocation(file, indexText, &icon);
    if (icon.Count() > 0) {
      DrawBestIconImage(imgcur48->Picture(), &icon, 48, 48, PreviewDepth(), Color());
      DrawBestIconImage(imgcur16->Picture(), &icon, 16, 16, PreviewDepth(), Color());
    }
  }
  lbFromFile->SetVisible(fromFile);
}

void TfmExtIcon::ApplyExtIcon() {
  InstallFileTypeIcon(FIcon, cbExt->Text());
  ShowCurrentIcon();
}

void TfmExtIcon::RestoreExtIcon() {
  RestoreInstalledFileTypeIcon(cbExt->Text());
  ShowCurrentIcon();
  imgnew48->Picture()->Assign(nullptr);
  imgnew16->Picture()->Assign(nullptr);
}

void TfmExtIcon::btApplyClick(TObject*) { ApplyExtIcon(); }

void TfmExtIcon::btDefaultClick(TObject*) { RestoreExtIcon(); }

TfmExtIcon* OpenExtIconDialog() { return gOpen; }

void ShowExtIconDialog(TAdvancedIcon* icon) {
  InitializeUI();
  TfmExtIcon form(Application);
  TranslateForm(&form);
  form.FIcon = icon;
  ShowModalTracked(form, gOpen);
}
