#include "app/dialogs/test_icon.h"

#include "app/dialogs/modal_form.h"
#include "base/form_texts.h"
#include "base/path_utils.h"
#include "base/system_helpers.h"
#include "base/text_utils.h"
#include "icons/advanced_icon.h"
#include "platform/graphics/graphics_icon.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/windows.h"

namespace {

TfmTestIcon* gOpen = nullptr;

constexpr int kBandWidth = 90;
constexpr TColor kBandColours[4] = {0x000000, 0x808080, 0xC0C0C0, 0xFFFFFF};

bool PathTaken(const std::string& path) { return FileExists(path) || DirectoryExists(path); }

}  // namespace

TfmTestIcon::TfmTestIcon(TComponent* owner) : TForm(owner) {
  SetName("fmTestIcon");
  SetCaption("Test Icon");
  SetBorderStyle(bsSingle);
  SetBorderIcons({biSystemMenu});
  SetPosition(poMainFormCenter);
  SetClientWidth(376);
  SetClientHeight(322);
  pnTest = new TPanel(this);
  pnTest->SetParent(this);
  pnTest->SetBounds(0, 0, 376, 252);
  pnTest->SetAlign(alTop);
  pnTest->SetBevelOuter(bvNone);
  im = new TImage(this);
  im->SetParent(pnTest);
  im->SetBounds(8, 8, 360, 236);
  Bevel1 = new TBevel(this);
  Bevel1->SetParent(this);
  Bevel1->SetShape(bsTopLine);
  Bevel1->SetBounds(8, 254, 360, 2);
  lbNotIconXP = new TLabel(this);
  lbNotIconXP->SetParent(this);
  lbNotIconXP->SetAutoSize(false);
  lbNotIconXP->SetWordWrap(true);
  lbNotIconXP->SetBounds(8, 262, 270, 52);
  lbNotIconXP->SetParentFont(false);
  lbNotIconXP->Font()->SetColor(0x0000A8);
  lbNotIconXP->SetCaption("Windows XP is not detected. Thus you can see incorrect semitransparent icons.");
  btClose = new TButton(this);
  btClose->SetParent(this);
  btClose->SetBounds(292, 286, 75, 25);
  btClose->SetCaption("Close");
  btClose->SetDefault(true);
  btClose->SetCancel(true);
  btClose->SetModalResult(mrCancel);
  OnCreate = [this](TObject* s) { FormCreate(s); };
  FormCreate(this);
}

void TfmTestIcon::FormCreate(TObject*) {
  TranslateForm(this);
  TBitmap* picture = im->Picture()->Bitmap();
  picture->SetPixelFormat(pf24bit);
  picture->SetSize(im->Width(), im->Height());
  PaintBands();
  // Its own taskbar button, so the icon shows there as well.
  SetWindowLong(Handle(), GWL_EXSTYLE, GetWindowLong(Handle(), GWL_EXSTYLE) | WS_EX_APPWINDOW);
  // The warning is for systems that cannot draw semitransparent icons; every
  // system from XP on can, this one included.
  lbNotIconXP->SetVisible(!DrawsAlphaIcons());
}

void TfmTestIcon::PaintBands() {
  TCanvas* c = im->Picture()->Bitmap()->Canvas();
  for (int b = 0; b < 4; ++b) {
    c->Brush()->SetColor(kBandColours[b]);
    c->FillRect(TRect{b * kBandWidth, 0, (b + 1) * kBandWidth, im->Height()});
  }
}

void TfmTestIcon::DrawIcons() {
  if (!Icon_) return;
  TBitmap* picture = im->Picture()->Bitmap();
  HDC dc = picture->Canvas()->Handle();
  for (int b = 0; b < 4; ++b) {
    const int x = b * kBandWidth + (kBandWidth - CellWidth) / 2;
    int y = 4;
    for (int i = 0; i < Icon_->Count(); ++i) {
      TSubIcon* image = Icon_->Images().GetItem(i);
      DrawIconEx(dc, x, y, image->GetHandle(), 0, 0, 0, nullptr, DI_NORMAL);
      y += image->GetHeight() + 4;
    }
  }
  im->Invalidate();
}

std::string FreeTestIconPath(const std::string& folder) {
  std::string name = "t$$$$";
  std::string path = folder + name + ".ico";
  DeleteFile(path);
  // A file that cannot be removed (kept open elsewhere, or a folder in the way)
  // is stepped around by numbering the name.
  while (PathTaken(path)) {
    name = IncrementNumberText(name);
    path = folder + name + ".ico";
    DeleteFile(path);
  }
  return path;
}

TfmTestIcon* OpenTestIconWindow() { return gOpen; }

void ShowTestIcon(TAdvancedIcon* icon) {
  InitializeUI();
  TfmTestIcon form(Application);
  TIcon windowIcon;
  form.Icon_ = icon;
  form.CellWidth = 32;
  form.CellHeight = 32;
  const std::string path = FreeTestIconPath(GetTempDir());
  icon->SaveToFile(path);
  try {
    windowIcon.LoadFromFile(path);
  } catch (...) {
    DeleteFile(path);
    throw;
  }
  DeleteFile(path);
  form.Icon()->Assign(&windowIcon);
  form.DrawIcons();
  ShowModalTracked(form, gOpen);
}
