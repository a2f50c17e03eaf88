#pragma once
// The colour picker "Select Color": sixteen fixed colours that close the window
// at once, the system colours in a list, the colour dialog behind a custom
// swatch, a hexadecimal or named entry, and an eyedropper that follows the
// pointer over the whole screen (a left click outside the window, or Ctrl+P,
// takes the colour under it). The window is made on first use and kept.
#include <string>

#include "platform/graphics/graphics_types.h"
#include "platform/ui/forms.h"
#include "platform/ui/std_edits.h"

class TImageButton;
class TSpeedButton;
class TLabel;
class TButton;
class TComboBox;
class TEdit;
class TColorDialog;
class TTimer;

// The value that stands for "no colour" where the picker takes a default.
inline constexpr TColor kNoDefaultColor = static_cast<TColor>(0x1FFFFFFF);

class TfmSelectColor16Ex : public TForm {
public:
  explicit TfmSelectColor16Ex(TComponent* owner);
  ~TfmSelectColor16Ex() override;

  // The sixteen fixed colour buttons in creation order (bt1, bt4, bt3, bt8, bt2,
  // bt6, bt7, bt5, bt9, bt15, bt17, bt14, bt16, bt12, bt13, bt18).
  TImageButton* Fixed[16] = {};
  TImageButton* bt7 = nullptr;  // red
  TSpeedButton* btEx = nullptr;
  TImageButton* btColorEx = nullptr;
  TLabel* Label1 = nullptr;
  TLabel* lbTrack = nullptr;
  TImageButton* btTrack = nullptr;
  TButton* btOk = nullptr;
  TButton* btCancel = nullptr;
  TComboBox* cbSysColors = nullptr;
  TButton* btDefault = nullptr;
  TEdit* edHex = nullptr;
  TColorDialog* cd = nullptr;
  TTimer* tm = nullptr;

  TColor DefaultColor = kNoDefaultColor;
  bool Updating = false;

  void FillSystemColors();
  // The colour of the first colour button (in creation order) that is down;
  // kNoDefaultColor when none is.
  TColor GetSelectedColor();
  void SetSelectedColor(TColor value);
  void ShowColorHex();
  void PickScreenColor();
  // Selects the system colour item of the value (the framework's default
  // colour selects the first); leaves the list as it was when none matches.
  void SelectSystemColor(TColor value);

  void bt1Click(TObject* sender);
  void btExClick(TObject* sender);
  void cbSysColorsChange(TObject* sender);
  void cbSysColorsDrawItem(TWinControl* control, int index, const TRect& rect, TOwnerDrawState state);
  void btDefaultClick(TObject* sender);
  void FormActivate(TObject* sender);
  void FormClose(TObject* sender, TCloseAction& action);
  void FormKeyDown(TObject* sender, WORD& key, TShiftState shift);
  void edHexChange(TObject* sender);
  void tmTimer(TObject* sender);

private:
  // The buttons whose colour SetSelectedColor may press: the fixed ones and
  // the custom swatch, never the eyedropper whose colour follows the pointer.
  bool IsChoosableSwatch(TImageButton* button) const;
};

// The one colour question of the program. True when the user chose; color then
// holds the RGB value (a system colour handed back resolved).
bool SelectColor(TColor& color, TColor defaultColor = kNoDefaultColor);
// The picker window once it exists (for tests), else nullptr.
TfmSelectColor16Ex* SelectColorForm();
