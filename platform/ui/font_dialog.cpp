#include "platform/ui/font_dialog.h"

#include <algorithm>
#include <cstdio>

#include "platform/graphics/font_engine.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/forms.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"

namespace {

struct TNamedColor {
  const char* name;
  TColor color;
};
constexpr TNamedColor kColors[] = {
    {"Black", clBlack}, {"Maroon", clMaroon}, {"Green", clGreen},   {"Olive", clOlive},
    {"Navy", clNavy},   {"Purple", clPurple}, {"Teal", clTeal},     {"Gray", clGray},
    {"Silver", clSilver}, {"Red", clRed},     {"Lime", clLime},     {"Yellow", clYellow},
    {"Blue", clBlue},   {"Fuchsia", clFuchsia}, {"Aqua", clAqua},   {"White", clWhite},
};

class TFontDialogForm : public TForm {
public:
  explicit TFontDialogForm(TFont* font) : TForm(nullptr) {
    SetCaption("Font");
    SetBorderStyle(bsDialog);
    SetPosition(poMainFormCenter);
    SetClientWidth(392);
    SetClientHeight(300);
    FChosen.Assign(font);
    Label("&Font:", 8, 8);
    FFamilies = new TListBox(this);
    FFamilies->SetParent(this);
    FFamilies->SetBounds(8, 26, 200, 170);
    for (const std::string& f : fontengine::InstalledFamilies()) FFamilies->Items()->Add(f);
    // The family the font is drawn with, when its own name is not installed.
    int at = FFamilies->Items()->IndexOf(font->Name());
    if (at < 0) at = FFamilies->Items()->IndexOf(fontengine::ResolveFamily(font->Name()));
    FFamilies->SetItemIndex(at);
    FFamilies->OnClick = [this](TObject*) { Changed(); };
    Label("&Size:", 216, 8);
    FSize = new TSpinEdit(this);
    FSize->SetParent(this);
    FSize->SetBounds(216, 26, 64, 21);
    FSize->SetMinValue(1);
    FSize->SetMaxValue(1638);
    FSize->SetValue(std::max(1, font->Size()));
    FSize->OnChange = [this](TObject*) { Changed(); };
    const char* styles[4] = {"&Bold", "&Italic", "&Underline", "Stri&keout"};
    for (int i = 0; i < 4; ++i) {
      FStyle[i] = new TCheckBox(this);
      FStyle[i]->SetParent(this);
      FStyle[i]->SetCaption(styles[i]);
      FStyle[i]->SetBounds(216, 58 + i * 22, 100, 17);
      FStyle[i]->SetChecked(font->Style().Contains(static_cast<TFontStyle>(i)));
      FStyle[i]->OnClick = [this](TObject*) { Changed(); };
    }
    Label("&Color:", 216, 150);
    FColor = new TComboBox(this);
    FColor->SetParent(this);
    FColor->SetStyle(csDropDownList);
    FColor->SetBounds(216, 168, 168, 21);
    int colorIndex = -1;
    for (size_t i = 0; i < std::size(kColors); ++i) {
      FColor->Items()->Add(kColors[i].name);
      if (ColorToRGB(kColors[i].color) == ColorToRGB(font->Color())) colorIndex = static_cast<int>(i);
    }
    // A colour that has no name keeps its place as "Custom".
    if (colorIndex < 0) {
      FColor->Items()->Add("Custom");
      colorIndex = FColor->Items()->Count() - 1;
    }
    FColor->SetItemIndex(colorIndex);
    FColor->OnChange = [this](TObject*) { Changed(); };
    FColor->OnSelect = [this](TObject*) { Changed(); };
    FSample = new TPanel(this);
    FSample->SetParent(this);
    FSample->SetBevelOuter(bvLowered);
    FSample->SetBounds(8, 204, 376, 56);
    FSample->SetCaption("AaBbYyZz");
    FSample->SetColor(clWindow);
    auto* ok = new TButton(this);
    ok->SetParent(this);
    ok->SetCaption("OK");
    ok->SetDefault(true);
    ok->SetModalResult(mrOk);
    ok->SetBounds(228, 270, 75, 23);
    auto* cancel = new TButton(this);
    cancel->SetParent(this);
    cancel->SetCaption("Cancel");
    cancel->SetCancel(true);
    cancel->SetModalResult(mrCancel);
    cancel->SetBounds(309, 270, 75, 23);
    Changed();
  }
  TFont* Chosen() { return &FChosen; }
  TListBox* Families() { return FFamilies; }

private:
  void Label(const char* text, int x, int y) {
    auto* l = new TLabel(this);
    l->SetParent(this);
    l->SetCaption(text);
    l->SetBounds(x, y, 120, 13);
  }
  // The controls' state becomes the chosen font and its sample.
  void Changed() {
    if (FFamilies->ItemIndex() >= 0) FChosen.SetName(FFamilies->Items()->Strings(FFamilies->ItemIndex()));
    FChosen.SetSize(FSize->Value());
    TFontStyles s;
    for (int i = 0; i < 4; ++i)
      if (FStyle[i]->Checked()) s.Include(static_cast<TFontStyle>(i));
    FChosen.SetStyle(s);
    const int c = FColor->ItemIndex();
    if (c >= 0 && c < static_cast<int>(std::size(kColors))) FChosen.SetColor(kColors[c].color);
    FSample->Font()->Assign(&FChosen);
    FSample->Invalidate();
  }
  TFont FChosen;
  TListBox* FFamilies = nullptr;
  TSpinEdit* FSize = nullptr;
  TCheckBox* FStyle[4] = {};
  TComboBox* FColor = nullptr;
  TPanel* FSample = nullptr;
};

}  // namespace

TFontDialog::TFontDialog(TComponent* owner) : TCommonDialog(owner), FFont(std::make_unique<TFont>()) {}
TFontDialog::~TFontDialog() = default;

bool TFontDialog::Execute() {
  InitializeUI();
  TFontDialogForm form(FFont.get());
  FHandle = form.Handle();
  DoShow();
  TModalResult result = form.ShowModal();
  DoClose();
  FHandle = nullptr;
  if (result != mrOk) return false;
  FFont->Assign(form.Chosen());
  return true;
}
