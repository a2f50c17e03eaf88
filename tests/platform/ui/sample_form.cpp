#include "sample_form.h"

#include "platform/ui/actions.h"
#include "platform/ui/com_ctrls.h"
#include "platform/ui/com_ctrls_pages.h"
#include "platform/ui/grids.h"
#include "platform/ui/std_edits.h"
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
  form->SetClientWidth(700);
  form->SetClientHeight(420);

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

  TBitmap glyph;
  MakeGlyph(&glyph);
  auto* images = new TImageList(form);
  images->AddMasked(&glyph, clFuchsia);
  TBitmap second;
  second.Assign(&glyph);
  second.Canvas()->Brush()->SetColor(clNavy);
  second.Canvas()->FillRect(Rect(2, 2, 14, 14));
  images->AddMasked(&second, clFuchsia);
  auto* tools = Put<TToolBar>(form, form, 0, 0, 700, 28);
  tools->SetImages(images);
  for (int i = 0; i < 4; ++i) {
    auto* b = new TToolButton(form);
    b->SetParent(tools);
    if (i == 2) {
      b->SetStyle(tbsSeparator);
      continue;
    }
    b->SetImageIndex(i % 2);
    if (i == 3) b->SetEnabled(false);
  }
  TWinControl* top = tools;
  for (int i = 0; i < 3; ++i) {
    auto* s = Put<TSpeedButton>(form, top, 90 + i * 25, 3, 23, 22);
    s->SetGlyph(&glyph);
    s->SetGroupIndex(1);
    s->SetFlat(i != 0);
    if (i == 1) s->SetDown(true);
  }
  auto* disabledSpeed = Put<TSpeedButton>(form, top, 166, 3, 23, 22);
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

  auto* edit = Put<TEdit>(form, form, 490, 70, 200, 21);
  edit->SetText("icon.ico");
  auto* combo = Put<TComboBox>(form, form, 490, 98, 200, 21);
  combo->SetStyle(csDropDownList);
  for (const char* s : {"Lanczos 3", "Mitchell", "Bilinear"}) combo->Items()->Add(s);
  combo->SetItemIndex(1);
  auto* list = Put<TListBox>(form, form, 490, 126, 95, 80);
  for (const char* s : {"16 x 16", "24 x 24", "32 x 32", "48 x 48", "64 x 64", "128 x 128"}) list->Items()->Add(s);
  list->SetItemIndex(2);
  auto* memo = Put<TMemo>(form, form, 595, 126, 95, 80);
  memo->Lines()->Add("First line");
  memo->Lines()->Add("Second");
  auto* pages = Put<TPageControl>(form, form, 490, 214, 200, 130);
  const char* captions[] = {"Icons", "Grid", "Hidden"};
  TTabSheet* sheets[3];
  for (int i = 0; i < 3; ++i) {
    sheets[i] = new TTabSheet(form);
    sheets[i]->SetPageControl(pages);
    sheets[i]->SetCaption(captions[i]);
  }
  sheets[2]->SetTabVisible(false);
  auto* view = new TListView(form);
  view->SetParent(sheets[0]);
  view->SetAlign(alClient);
  auto* large = new TImageList(form);
  large->SetWidth(32);
  large->SetHeight(32);
  TBitmap big;
  big.SetPixelFormat(pf24bit);
  big.SetSize(32, 32);
  big.Canvas()->StretchDraw(Rect(0, 0, 32, 32), &glyph);
  large->AddMasked(&big, clFuchsia);
  view->SetLargeImages(large);
  view->SetHideSelection(false);
  for (const char* s : {"Plus", "Add", "New"}) {
    TListItem* item = view->Items()->Add();
    item->SetCaption(s);
    item->SetImageIndex(0);
  }
  view->Items()->Item(1)->SetSelected(true);
  auto* grid = new TDrawGrid(form);
  grid->SetParent(sheets[1]);
  grid->SetAlign(alClient);
  grid->SetColCount(4);
  grid->SetRowCount(4);
  grid->SetDefaultColWidth(40);
  grid->SetDefaultRowHeight(20);
  pages->SetActivePage(sheets[0]);

  form->SetActiveControl(ok);
  form->Show();
  return form;
}
