#include "app/dialogs/select_color.h"

#include "base/colour_values.h"
#include "base/form_texts.h"
#include "base/image_button.h"
#include "base/ui_windows.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/file_dialogs.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/ui/windows.h"

namespace {

TfmSelectColor16Ex* gForm = nullptr;

constexpr UINT kTrackInterval = 100;
// After the colour dialog the eyedropper waits a second, so that the click
// that closed that dialog is not taken for a pick.
constexpr UINT kAfterDialogInterval = 1000;
constexpr TColor kCustomStart = static_cast<TColor>(8555635);

struct TFixedColour {
  const char* name;
  TColor colour;
  int left, top;
};

// In creation order, which decides which button a colour presses.
const TFixedColour kFixed[16] = {
    {"bt1", clWhite, 10, 11},   {"bt4", clAqua, 133, 11},   {"bt3", clFuchsia, 92, 11}, {"bt8", clBlue, 133, 34},
    {"bt2", clYellow, 51, 11},  {"bt6", clLime, 51, 34},    {"bt7", clRed, 92, 34},     {"bt5", clSilver, 10, 34},
    {"bt9", clGray, 10, 57},    {"bt15", clTeal, 10, 80},   {"bt17", clPurple, 92, 80}, {"bt14", clNavy, 133, 57},
    {"bt16", clOlive, 51, 80},  {"bt12", clGreen, 51, 57},  {"bt13", clMaroon, 92, 57}, {"bt18", clBlack, 133, 80}};

struct TSystemColour {
  const char* name;
  TColor colour;
};

const TSystemColour kSystemColours[25] = {
    {"BtnFace", clBtnFace},           {"Window", clWindow},
    {"Menu", clMenu},                 {"MenuText", clMenuText},
    {"Background", clBackground},     {"AppWorkSpace", clAppWorkSpace},
    {"ActiveCaption", clActiveCaption}, {"InactiveCaption", clInactiveCaption},
    {"CaptionText", clCaptionText},   {"ActiveBorder", clActiveBorder},
    {"InactiveBorder", clInactiveBorder}, {"Highlight", clHighlight},
    {"HighlightText", clHighlightText}, {"BtnShadow", clBtnShadow},
    {"GrayText", clGrayText},         {"BtnText", clBtnText},
    {"InactiveCaptionText", clInactiveCaptionText}, {"BtnHighlight", clBtnHighlight},
    {"3DDkShadow", cl3DDkShadow},     {"3DLight", cl3DLight},
    {"InfoText", clInfoText},         {"InfoBk", clInfoBk},
    {"WindowFrame", clWindowFrame},   {"WindowText", clWindowText},
    {"ScrollBar", clScrollBar}};

template <class T> T* Put(TCustomForm* form, int left, int top, int width, int height) {
  auto* c = new T(form);
  c->SetParent(form);
  c->SetBounds(left, top, width, height);
  return c;
}

TImageButton* PutSwatch(TCustomForm* form, const char* name, TColor colour, int left, int top, int width, int height) {
  auto* b = Put<TImageButton>(form, left, top, width, height);
  b->SetName(name);
  b->SetDrawStyle({ibdsColored});
  b->SetColor(colour);
  b->SetGroupIndex(1);
  b->SetFlat(true);
  b->SetShowHint(true);
  return b;
}

}  // namespace

TfmSelectColor16Ex::TfmSelectColor16Ex(TComponent* owner) : TForm(owner) {
  SetName("fmSelectColor16Ex");
  SetCaption("Select Color");
  SetBorderStyle(bsDialog);
  SetBorderIcons({});
  SetClientWidth(356);
  SetClientHeight(149);
  SetKeyPreview(true);
  // SelectColor places the window at the pointer before every showing.
  SetPosition(poDesigned);

  for (int i = 0; i < 16; ++i) {
    const TFixedColour& f = kFixed[i];
    Fixed[i] = PutSwatch(this, f.name, f.colour, f.left, f.top, 40, 22);
    Fixed[i]->OnClick = [this](TObject* s) { bt1Click(s); };
  }
  bt7 = Fixed[6];
  Fixed[0]->SetDown(true);
  btEx = Put<TSpeedButton>(this, 184, 54, 75, 25);
  btEx->SetName("btEx");
  btEx->SetCaption("Other...");
  btEx->OnClick = [this](TObject* s) { btExClick(s); };
  btColorEx = PutSwatch(this, "btColorEx", kCustomStart, 270, 54, 77, 25);
  btColorEx->OnClick = [this](TObject* s) { btExClick(s); };
  Label1 = Put<TLabel>(this, 184, 7, 100, 13);
  Label1->SetCaption("System colors:");
  lbTrack = Put<TLabel>(this, 184, 88, 112, 13);
  lbTrack->SetCaption("Pick color: Ctrl+P");
  // A little right of the label, so that its whole text shows in this font.
  btTrack = PutSwatch(this, "btTrack", kCustomStart, 300, 82, 27, 24);
  btOk = Put<TButton>(this, 184, 115, 75, 25);
  btOk->SetCaption("&OK");
  btOk->SetDefault(true);
  btOk->SetModalResult(mrOk);
  btOk->SetTabOrder(0);
  btCancel = Put<TButton>(this, 273, 115, 75, 25);
  btCancel->SetCaption("&Cancel");
  btCancel->SetCancel(true);
  btCancel->SetModalResult(mrCancel);
  btCancel->SetTabOrder(1);
  cbSysColors = Put<TComboBox>(this, 184, 25, 164, 22);
  cbSysColors->SetStyle(csOwnerDrawFixed);
  cbSysColors->SetItemHeight(16);
  cbSysColors->SetTabOrder(2);
  cbSysColors->OnChange = [this](TObject* s) { cbSysColorsChange(s); };
  cbSysColors->OnDrawItem = [this](TWinControl* c, int i, const TRect& r, TOwnerDrawState st) {
    cbSysColorsDrawItem(c, i, r, st);
  };
  btDefault = Put<TButton>(this, 94, 115, 82, 25);
  btDefault->SetCaption("&Default");
  btDefault->SetTabOrder(4);
  btDefault->OnClick = [this](TObject* s) { btDefaultClick(s); };
  edHex = Put<TEdit>(this, 10, 113, 77, 28);
  edHex->SetCharCase(ecUpperCase);
  edHex->SetParentFont(false);
  // Large, yet small enough for a whole code ("#DDDDDD") in the field.
  edHex->Font()->SetHeight(-13);
  edHex->SetTabOrder(3);
  edHex->SetText("FFFFFF");
  edHex->OnChange = [this](TObject* s) { edHexChange(s); };
  cd = new TColorDialog(this);
  cd->SetOptions({cdFullOpen, cdShowHelp});
  tm = new TTimer(this);
  tm->SetInterval(kTrackInterval);
  tm->SetEnabled(false);
  tm->OnTimer = [this](TObject* s) { tmTimer(s); };

  OnActivate = [this](TObject* s) { FormActivate(s); };
  OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
  OnKeyDown = [this](TObject* s, WORD& k, TShiftState sh) { FormKeyDown(s, k, sh); };
}

TfmSelectColor16Ex::~TfmSelectColor16Ex() {
  if (gForm == this) gForm = nullptr;
}

void TfmSelectColor16Ex::FillSystemColors() {
  cbSysColors->Items()->Clear();
  for (const TSystemColour& c : kSystemColours) cbSysColors->Items()->Add(c.name);
}

TColor TfmSelectColor16Ex::GetSelectedColor() {
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* b = dynamic_cast<TImageButton*>(Components(i)); b && b->Down()) return b->Color();
  return kNoDefaultColor;
}

bool TfmSelectColor16Ex::IsChoosableSwatch(TImageButton* button) const { return button != btTrack; }

void TfmSelectColor16Ex::SetSelectedColor(TColor value) {
  bool found = false;
  for (int i = 0; i < ComponentCount() && !found; ++i) {
    auto* b = dynamic_cast<TImageButton*>(Components(i));
    if (b && IsChoosableSwatch(b) && b->Color() == value) {
      b->SetDown(true);
      found = true;
    }
  }
  if (!found) {
    SelectSystemColor(value);
    btColorEx->SetDown(true);
  }
  btColorEx->SetColor(value);
  ShowColorHex();
}

void TfmSelectColor16Ex::SelectSystemColor(TColor value) {
  const int n = cbSysColors->Items()->Count();
  if (value == clDefault) {
    if (n > 0) cbSysColors->SetItemIndex(0);
    return;
  }
  for (int i = 0; i < n && i < 25; ++i) {
    const TColor c = kSystemColours[i].colour;
    if (c == value || ColorToRGB(c) == value) {
      cbSysColors->SetItemIndex(i);
      return;
    }
  }
}

void TfmSelectColor16Ex::ShowColorHex() {
  Updating = true;
  try {
    edHex->SetText(Format("%s%.6x", "#", static_cast<int32_t>(ColorToRGBValue(GetSelectedColor()))));
  } catch (...) {
    Updating = false;
    throw;
  }
  Updating = false;
}

void TfmSelectColor16Ex::PickScreenColor() {
  btColorEx->SetColor(ScreenPixel(Mouse->CursorPos()));
  btColorEx->SetDown(true);
  ShowColorHex();
}

void TfmSelectColor16Ex::bt1Click(TObject*) { SetModalResult(mrOk); }

void TfmSelectColor16Ex::btExClick(TObject*) {
  tm->SetEnabled(false);
  cd->SetColor(btColorEx->Color());
  if (cd->Execute()) {
    btColorEx->SetColor(cd->Color());
    btColorEx->SetDown(true);
    cbSysColors->SetItemIndex(-1);
    ShowColorHex();
  }
  tm->SetInterval(kAfterDialogInterval);
  tm->SetEnabled(true);
}

void TfmSelectColor16Ex::cbSysColorsChange(TObject*) {
  const int i = cbSysColors->ItemIndex();
  btColorEx->SetDown(true);
  if (i >= 0 && i < 25) btColorEx->SetColor(kSystemColours[i].colour);
  ShowColorHex();
}

void TfmSelectColor16Ex::cbSysColorsDrawItem(TWinControl*, int index, const TRect& rect, TOwnerDrawState) {
  TCanvas* c = cbSysColors->Canvas();
  c->FillRect(rect);
  if (index < 0 || index >= 25) return;
  const TColor brush = c->Brush()->Color();
  c->Brush()->SetColor(kSystemColours[index].colour);
  c->FillRect(TRect{rect.left, rect.top, rect.left + 30, rect.bottom});
  c->Brush()->SetColor(brush);
  if (index < cbSysColors->Items()->Count()) c->TextOut(rect.left + 32, rect.top, cbSysColors->Items()->Strings(index));
}

void TfmSelectColor16Ex::btDefaultClick(TObject*) { SetSelectedColor(DefaultColor); }

void TfmSelectColor16Ex::FormActivate(TObject*) { tm->SetEnabled(true); }

void TfmSelectColor16Ex::FormClose(TObject*, TCloseAction&) { tm->SetEnabled(false); }

void TfmSelectColor16Ex::FormKeyDown(TObject*, WORD& key, TShiftState shift) {
  if (key == 'P' && shift == TShiftState{ssCtrl}) PickScreenColor();
}

void TfmSelectColor16Ex::edHexChange(TObject*) {
  if (Updating) return;
  const std::string t = Trim(edHex->Text());
  TColor colour = clBlack;
  if (!t.empty() && !IdentToColor("cl" + t, colour)) {
    const std::string hex = t[0] == '#' ? "$" + t.substr(1) : "$" + t;
    int32_t n = 0;
    if (!TryStrToInt(hex, n)) return;
    colour = static_cast<TColor>(ColorToRGBValue(static_cast<TColor>(n)));
  }
  btColorEx->SetColor(colour);
  btColorEx->SetDown(true);
}

void TfmSelectColor16Ex::tmTimer(TObject*) {
  const bool pressed = GetAsyncKeyState(VK_LBUTTON) != 0;
  const TPoint p = Mouse->CursorPos();
  const bool inside = p.x >= Left() && p.y >= Top() && p.x < Left() + Width() && p.y < Top() + Height();
  lbTrack->SetVisible(!inside);
  btTrack->SetVisible(!inside);
  if (!inside) btTrack->SetColor(ScreenPixel(p));
  if (tm->Interval() != kTrackInterval) {
    tm->SetInterval(kTrackInterval);
    return;
  }
  if (pressed && !inside) PickScreenColor();
}

TfmSelectColor16Ex* SelectColorForm() { return gForm; }

bool SelectColor(TColor& color, TColor defaultColor) {
  InitializeUI();
  if (!gForm) {
    gForm = new TfmSelectColor16Ex(Application);
    TranslateForm(gForm);
  }
  TfmSelectColor16Ex& f = *gForm;
  PlaceFormAtCursor(&f);
  f.DefaultColor = defaultColor;
  f.btDefault->SetEnabled(defaultColor != kNoDefaultColor);
  f.btDefault->SetVisible(f.btDefault->Enabled());
  f.FillSystemColors();
  f.SetSelectedColor(color);
  f.Updating = false;
  const TModalResult result = f.ShowModal();
  if (result == mrOk) color = ColorToRGB(f.GetSelectedColor());
  f.Hide();
  return result == mrOk;
}
