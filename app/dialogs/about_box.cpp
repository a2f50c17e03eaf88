#include "app/dialogs/about_box.h"

#include "app/dialogs/modal_form.h"
#include "app/main_window.h"
#include "app/picture_utils.h"
#include "base/app_messages.h"
#include "base/form_texts.h"
#include "base/path_utils.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/menus.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/win/shell.h"

const char* const kMakerSiteAddress = "https://www.marrowin.com/";
const char* const kProgramPageAddress = "https://www.marrowin.com/quorvane/";
const char* const kSupportPageAddress = "https://www.marrowin.com/support.htm";
const char* const kSupportEmail = "support@marrowin.com";
const char* const kIndexPageAddress = "https://www.marrowin.com/index.htm";

namespace {

TfmAbout* gOpen = nullptr;
const char* const kRightsLine = "Copyright (c) 2026 Marrowin";
const char* const kBuildDate = __DATE__;

TLabel* LinkLabel(TfmAbout* form, int left, int top, const std::string& hint) {
  auto* l = new TLabel(form);
  l->SetParent(form);
  l->SetLeft(left);
  l->SetTop(top);
  l->Font()->SetColor(clBlue);
  l->Font()->SetStyle({fsUnderline});
  l->SetCursor(crHandPoint);
  l->SetHint(hint);
  l->SetShowHint(true);
  return l;
}

}  // namespace

TfmAbout::TfmAbout(TComponent* owner) : TForm(owner) {
  SetName("fmAbout");
  SetBorderStyle(bsDialog);
  SetBorderIcons({biSystemMenu});
  SetClientWidth(412);
  SetClientHeight(255);
  Font()->SetName("MS Sans Serif");
  Font()->SetSize(8);
  Font()->SetColor(clBlack);
  SetPosition(poMainFormCenter);
  Panel1 = new TPanel(this);
  Panel1->SetParent(this);
  Panel1->SetBounds(6, 7, 169, 242);
  Panel1->SetBevelInner(bvLowered);
  Panel1->SetBevelOuter(bvNone);
  Panel1->SetCaption("");
  im = new TImage(Panel1);
  im->SetParent(Panel1);
  im->SetBounds(1, 1, 167, 240);
  im->SetAutoSize(true);
  im->SetCursor(crHandPoint);
  im->SetShowHint(true);
  LoadBitmapResource(im->Picture()->Bitmap(), "ABOUTPICTURE");
  im->OnClick = [this](TObject* s) { lbWWWClick(s); };
  Image1 = new TImage(this);
  Image1->SetParent(this);
  Image1->SetBounds(186, 6, 167, 27);
  Image1->SetAutoSize(true);
  LoadBitmapResource(Image1->Picture()->Bitmap(), "ABOUTLOGO");
  lbVer = new TLabel(this);
  lbVer->SetParent(this);
  lbVer->SetLeft(187);
  lbVer->SetTop(35);
  lbCR = new TLabel(this);
  lbCR->SetParent(this);
  lbCR->SetLeft(187);
  lbCR->SetTop(50);
  pmCopy = new TPopupMenu(this);
  pmCopyhyperlink = new TMenuItem(this);
  pmCopyhyperlink->SetCaption("&Copy shortcut");
  pmCopyhyperlink->SetHint("|Copy shortcut to clipboard");
  pmCopyhyperlink->OnClick = [this](TObject* s) { pmCopyhyperlinkClick(s); };
  pmCopy->Items()->Add(pmCopyhyperlink);
  lbWWW = LinkLabel(this, 188, 70, "Click here to download the latest version");
  lbWWW->SetPopupMenu(pmCopy);
  lbWWW->OnClick = [this](TObject* s) { lbWWWClick(s); };
  lbSupport = LinkLabel(this, 188, 86, "Click here to send a message to authors");
  lbSupport->SetCaption("Send message to support team");
  lbSupport->SetPopupMenu(pmCopy);
  lbSupport->OnClick = [this](TObject* s) { lbEmailClick(s); };
  Bevel2 = new TBevel(this);
  Bevel2->SetParent(this);
  Bevel2->SetBounds(187, 105, 216, 9);
  Bevel2->SetShape(bsBottomLine);
  Bevel1 = new TBevel(this);
  Bevel1->SetParent(this);
  Bevel1->SetBounds(2, 169, 349, 0);
  Bevel1->SetShape(bsTopLine);
  btOK = new TButton(this);
  btOK->SetParent(this);
  btOK->SetBounds(307, 221, 95, 27);
  btOK->SetCaption("OK");
  btOK->SetCancel(true);
  btOK->SetModalResult(mrCancel);
  OnCreate = [this](TObject* s) { FormCreate(s); };
}

void TfmAbout::FormCreate(TObject*) {
  SetCaption(std::string(AppMessages.About) + " Marrowin " + kProgramName);
  TranslateForm(this);
  lbCR->SetCaption(kRightsLine);
  lbVer->SetCaption(Format("Version %s (%s)", std::string(kProgramVersion), std::string(kBuildDate)));
  FSupportLink = std::string("mailto:") + kSupportEmail;
  lbWWW->SetHint(lbWWW->Hint() + "|" + kMakerSiteAddress);
  im->SetHint(lbWWW->Hint());
  lbWWW->SetCaption(RemoveTrailingSlash(kMakerSiteAddress));
  lbSupport->SetHint(lbSupport->Hint() + "|" + kSupportPageAddress);
}

void TfmAbout::lbWWWClick(TObject*) { ShellExecute(Handle(), nullptr, kProgramPageAddress, nullptr, nullptr, SW_SHOWNORMAL); }

void TfmAbout::lbEmailClick(TObject*) { ShellExecute(Handle(), nullptr, kSupportPageAddress, nullptr, nullptr, SW_SHOWNORMAL); }

void TfmAbout::pmCopyhyperlinkClick(TObject*) {
  SetClipboardText(pmCopy->PopupComponent() == lbWWW ? std::string(kIndexPageAddress) : FSupportLink);
}

TfmAbout* OpenAboutBox() { return gOpen; }

void ShowAboutBox() {
  InitializeUI();
  TfmAbout form(nullptr);
  form.AfterConstruction();
  ShowModalTracked(form, gOpen);
}
