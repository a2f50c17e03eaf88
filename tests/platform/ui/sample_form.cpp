#include "sample_form.h"

#include "platform/ui/actions.h"
#include "platform/ui/com_ctrls.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/img_list.h"
#include "platform/ui/menus.h"
#include "platform/ui/std_ctrls.h"

namespace {

template <class T> T* Put(TForm* form, TWinControl* parent, int left, int top, int width, int height) {
  auto* c = new T(form);
  c->SetParent(parent);
  c->SetBounds(left, top, width, height);
  return c;
}

// A 16 by 16 glyph: a green square with a white cross on a fuchsia key colour.
void MakeGlyph(TBitmap* b) {
  b->SetPixelFormat(pf24bit);
  b->SetSize(16, 16);
  TCanvas* c = b->Canvas();
  c->Brush()->SetColor(clFuchsia);
  c->FillRect(Rect(0, 0, 16, 16));
  c->Brush()->SetColor(clGreen);
  c->Pen()->SetColor(clBlack);
  c->Rectangle(2, 2, 14, 14);
  c->Pen()->SetColor(clWhite);
  c->MoveTo(4, 8);
  c->LineTo(12, 8);
  c->MoveTo(8, 4);
  c->LineTo(8, 12);
}

}  // namespace

TForm* MakeSampleForm() {
  auto* form = new TForm(Application);
  form->SetCaption("Sample");
  form->SetBorderStyle(bsSingle);
  form->SetClientWidth(480);
  form->SetClientHeight(360);

  auto* menu = new TMainMenu(form);
  for (const char* caption : {"&File", "&Edit", "&Help"}) {
    auto* item = new TMenuItem(form);
    item->SetCaption(caption);
    menu->Items()->Add(item);
  }
  form->SetMenu(menu);

  auto* status = new TStatusBar(form);
  status->SetParent(form);
  status->AddPanel()->SetText("Ready");
  status->Panels(0)->SetWidth(120);
  status->AddPanel()->SetText("32 x 32");

  auto* top = Put<TPanel>(form, form, 0, 0, 480, 34);
  top->SetAlign(alTop);
  top->SetBevelOuter(bvRaised);
  TBitmap glyph;
  MakeGlyph(&glyph);
  for (int i = 0; i < 3; ++i) {
    auto* s = Put<TSpeedButton>(form, top, 4 + i * 25, 5, 23, 22);
    s->SetGlyph(&glyph);
    s->SetGroupIndex(1);
    s->SetFlat(i != 0);
    if (i == 1) s->SetDown(true);
  }
  auto* disabledSpeed = Put<TSpeedButton>(form, top, 80, 5, 23, 22);
  disabledSpeed->SetGlyph(&glyph);
  disabledSpeed->SetEnabled(false);

  auto* label = Put<TLabel>(form, form, 12, 48, 100, 13);
  label->SetCaption("&Name of the icon:");
  auto* link = Put<TLabel>(form, form, 12, 68, 100, 13);
  link->SetCaption("www.example.com");
  link->Font()->SetColor(clBlue);
  link->Font()->SetStyle({fsUnderline});
  link->SetCursor(crHandPoint);

  auto* ok = Put<TButton>(form, form, 12, 92, 75, 25);
  ok->SetCaption("OK");
  ok->SetDefault(true);
  auto* cancel = Put<TButton>(form, form, 95, 92, 75, 25);
  cancel->SetCaption("Cancel");
  auto* off = Put<TButton>(form, form, 178, 92, 75, 25);
  off->SetCaption("Disabled");
  off->SetEnabled(false);
  auto* bit = Put<TBitBtn>(form, form, 261, 92, 90, 25);
  bit->SetGlyph(&glyph);
  bit->SetCaption("Apply");

  auto* check = Put<TCheckBox>(form, form, 12, 128, 120, 17);
  check->SetCaption("Keep aspect");
  check->SetChecked(true);
  auto* check2 = Put<TCheckBox>(form, form, 12, 150, 120, 17);
  check2->SetCaption("Grayed");
  check2->SetAllowGrayed(true);
  check2->SetState(cbGrayed);
  auto* radio1 = Put<TRadioButton>(form, form, 140, 128, 100, 17);
  radio1->SetCaption("Smooth");
  radio1->SetChecked(true);
  auto* radio2 = Put<TRadioButton>(form, form, 140, 150, 100, 17);
  radio2->SetCaption("Sharp");

  auto* group = Put<TRadioGroup>(form, form, 260, 124, 200, 70);
  group->SetCaption("Size");
  group->SetColumns(2);
  for (const char* s : {"16", "24", "32", "48"}) group->Items()->Add(s);
  group->SetItemIndex(2);

  auto* box = Put<TGroupBox>(form, form, 12, 176, 236, 84);
  box->SetCaption("Colour");
  auto* paint = Put<TPaintBox>(form, box, 10, 20, 60, 54);
  paint->OnPaint = [paint](TObject*) {
    TCanvas* c = paint->Canvas();
    for (int i = 0; i < 6; ++i) {
      c->Brush()->SetColor(static_cast<TColor>(RGB(static_cast<BYTE>(i * 50), 80, static_cast<BYTE>(250 - i * 40))));
      c->FillRect(Rect(i * 10, 0, i * 10 + 10, 54));
    }
  };
  auto* image = Put<TImage>(form, box, 80, 20, 54, 54);
  TBitmap picture;
  picture.SetPixelFormat(pf24bit);
  picture.SetSize(27, 27);
  picture.Canvas()->Brush()->SetColor(clYellow);
  picture.Canvas()->FillRect(Rect(0, 0, 27, 27));
  picture.Canvas()->Brush()->SetColor(clRed);
  picture.Canvas()->Ellipse(3, 3, 24, 24);
  image->Picture()->SetGraphic(&picture);
  image->SetStretch(true);
  auto* bevel = Put<TBevel>(form, box, 144, 20, 80, 54);
  bevel->SetShape(bsFrame);

  auto* track = Put<TTrackBar>(form, form, 260, 200, 200, 36);
  track->SetMax(10);
  track->SetPosition(3);
  auto* progress = Put<TProgressBar>(form, form, 260, 244, 200, 16);
  progress->SetPosition(60);

  auto* lowered = Put<TPanel>(form, form, 12, 268, 236, 36);
  lowered->SetBevelOuter(bvLowered);
  lowered->SetCaption("Lowered panel");
  auto* text = Put<TStaticText>(form, form, 260, 270, 120, 17);
  text->SetBorderStyle(sbsSunken);
  text->SetCaption("Static text");
  auto* updown = Put<TUpDown>(form, form, 390, 268, 16, 24);
  updown->SetPosition(5);

  form->SetActiveControl(ok);
  form->Show();
  return form;
}
