#include "base/ui_windows.h"

#include <filesystem>

#include "base/form_texts.h"
#include "base/path_utils.h"
#include "base/ui_helpers.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/com_ctrls_pages.h"
#include "platform/ui/cursors.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/file_dialogs.h"
#include "platform/ui/menus.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/win/internet.h"
#include "platform/win/resources.h"
#include "platform/win/shell.h"

void ShowErrorList(const std::vector<std::string>& errors) {
  InitializeUI();
  TForm form(Application);
  form.SetName("fmErrList");
  form.SetCaption("Errors");
  form.SetBounds(0, 0, 444, 218);
  form.SetPosition(poMainFormCenter);
  auto* bottom = new TPanel(&form);
  bottom->SetParent(&form);
  bottom->SetHeight(23);
  bottom->SetAlign(alBottom);
  bottom->SetBevelOuter(bvNone);
  auto* close = new TButton(&form);
  close->SetParent(bottom);
  close->SetCaption("Close");
  close->SetDefault(true);
  close->SetCancel(true);
  close->SetModalResult(mrOk);
  close->SetBounds(bottom->Width() - 75, 0, 75, 23);
  close->SetAnchors({akTop, akRight});
  auto* memo = new TMemo(&form);
  memo->SetName("me");
  memo->SetParent(&form);
  memo->SetAlign(alClient);
  memo->SetReadOnly(true);
  memo->SetScrollBars(ssBoth);
  memo->SetWordWrap(false);
  for (const std::string& e : errors) memo->Lines()->Add(e);
  form.ShowModal();
}

void ShowBusyCursor() {
  InitializeUI();
  Screen->SetCursor(crHourGlass);
  Application->ProcessMessages();
}

void RestoreCursor() {
  InitializeUI();
  Screen->SetCursor(crDefault);
  Application->ProcessMessages();
}

namespace {
TSize ScreenSize() { return TSize{Screen->Width(), Screen->Height()}; }
}  // namespace

void PlaceFormLeftOfCursor(TCustomForm* form) {
  TPoint at = FormPositionLeftOfCursor(Mouse->CursorPos(), form->Width(), form->Height(), ScreenSize());
  form->SetBounds(at.x, at.y, form->Width(), form->Height());
}

void PlaceFormAtCursor(TCustomForm* form) {
  TPoint at = FormPositionAtCursor(Mouse->CursorPos(), form->Width(), form->Height(), ScreenSize());
  form->SetBounds(at.x, at.y, form->Width(), form->Height());
}

void FitImageInPanel(TControl* image, TWinControl* panel, int pictureWidth, int pictureHeight, int margin) {
  TRect bounds{};
  bool stretch = false;
  FitPictureInArea(panel->ClientRect(), pictureWidth, pictureHeight, margin, bounds, stretch);
  image->SetBoundsRect(bounds);
  if (auto* i = dynamic_cast<TImage*>(image)) i->SetStretch(stretch);
}

void ShowHelp() {
  InitializeUI();
  std::string help = Application->HelpFile();
  if (LowerCase(ExtractFileExt(help)) == ".chm") {
    auto result = reinterpret_cast<intptr_t>(ShellExecute(nullptr, "open", help.c_str(), nullptr, nullptr, SW_SHOW));
    if (result > 32) return;
  }
  std::string hlp = ChangeFileExt(help, ".hlp");
  if (!help.empty() && FileExists(hlp)) {
    Application->SetHelpFile(hlp);
    // With a contents file the help opens at its contents, else at context 10.
    Application->HelpCommand(FileExists(ChangeFileExt(hlp, ".cnt")) ? 0x000B : 0x0001,
                             FileExists(ChangeFileExt(hlp, ".cnt")) ? 1006 : 10);
    return;
  }
  std::string readme = GetApplicationDir() + "readme.txt";
  if (FileExists(readme)) {
    ShellExecute(nullptr, "open", readme.c_str(), nullptr, nullptr, SW_SHOW);
    return;
  }
  MessageBox(nullptr, "Help is not implemented", Application->Title().c_str(), MB_OK | MB_ICONINFORMATION);
}

std::string GetSelectedFilterExt(TOpenDialog* dialog) { return GetFilterExt(dialog->Filter(), dialog->FilterIndex()); }

void LoadToolCursors() {
  InitializeUI();
  static const char* const kNames[] = {"CRMOVEALL", "CRMOVEALLARROW", "CRMOVECOPY", "CRCROSS", "COLORPICK",
                                       "PEN", "BRUSH", "FLOOD", "COLORREPLACE", "RECT", "RECTF", "ELLIPSE",
                                       "ELLIPSEF", "LINE", "CURVE", "CROSSCHESS", "BUTTON", "SPRAY", "ROUNDRECT",
                                       "ROUNDRECTF"};
  for (int i = 0; i < 20; ++i) {
    if (HCURSOR c = LoadCursor(HInstance, kNames[i])) Screen->SetCursors(-25 - i, c);
  }
}

void* OpenInternetSession(const std::string& userAgent) {
  return InternetOpen(userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
}

void InstallFormTextAccess() {
  TFormTextAccess access;
  access.RoleOf = [](TComponent* c) -> TFormTextRole {
    if (dynamic_cast<TButton*>(c) || dynamic_cast<TSpeedButton*>(c)) return ftrButton;
    if (dynamic_cast<TCustomRadioGroup*>(c)) return ftrRadioGroup;
    if (dynamic_cast<TComboBox*>(c)) return ftrComboBox;
    if (dynamic_cast<TMenuItem*>(c) || dynamic_cast<TCustomLabel*>(c) || dynamic_cast<TCheckBox*>(c) ||
        dynamic_cast<TRadioButton*>(c) || dynamic_cast<TCustomGroupBox*>(c) || dynamic_cast<TStaticText*>(c) ||
        dynamic_cast<TTabSheet*>(c))
      return ftrCaptioned;
    if (dynamic_cast<TControl*>(c)) return ftrControl;
    return ftrNone;
  };
  access.SetCaption = [](TComponent* c, const std::string& caption) {
    if (auto* item = dynamic_cast<TMenuItem*>(c)) item->SetCaption(caption);
    else if (auto* control = dynamic_cast<TControl*>(c)) control->SetCaption(caption);
  };
  access.SetHint = [](TComponent* c, const std::string& hint) {
    if (auto* item = dynamic_cast<TMenuItem*>(c)) item->SetHint(hint);
    else if (auto* control = dynamic_cast<TControl*>(c)) control->SetHint(hint);
  };
  access.SetItems = [](TComponent* c, const std::vector<std::string>& items) {
    TStrings* list = nullptr;
    if (auto* g = dynamic_cast<TCustomRadioGroup*>(c)) list = g->Items();
    else if (auto* b = dynamic_cast<TComboBox*>(c)) list = b->Items();
    if (!list) return;
    // The chosen entry stays chosen when the texts are replaced.
    int index = -1;
    if (auto* g = dynamic_cast<TCustomRadioGroup*>(c)) index = g->ItemIndex();
    if (auto* b = dynamic_cast<TComboBox*>(c)) index = b->ItemIndex();
    list->BeginUpdate();
    list->Clear();
    for (const auto& s : items) list->Add(s);
    list->EndUpdate();
    if (auto* g = dynamic_cast<TCustomRadioGroup*>(c)) g->SetItemIndex(index);
    if (auto* b = dynamic_cast<TComboBox*>(c)) b->SetItemIndex(index);
  };
  SetFormTextAccess(access);
}
