#pragma once
// "Customize Folder Icon": gives a folder (or drive) the icon just made, or
// takes its custom icon away.
#include "platform/ui/forms.h"

class TAdvancedIcon;
class TLabel;
class TEdit;
class TSpeedButton;
class TImage;
class TButton;

class TfmFolderIcon : public TForm {
public:
  explicit TfmFolderIcon(TComponent* owner);

  TLabel* lbFolder = nullptr;
  TEdit* edFolder = nullptr;
  TSpeedButton* btFolder = nullptr;
  TLabel* lbCur = nullptr;
  TImage* imgcur48 = nullptr;
  TLabel* Label2 = nullptr;
  TImage* imgnew48 = nullptr;
  TButton* btDefault = nullptr;
  TButton* btApply = nullptr;
  TButton* btCancel = nullptr;
  TAdvancedIcon* FIcon = nullptr;  // not owned

  void FormActivate(TObject* sender);
  void edFolderChange(TObject* sender);
  void btFolderClick(TObject* sender);
  void btApplyClick(TObject* sender);
  void btDefaultClick(TObject* sender);
  void RefreshPreview();
  void SetCurrentPreview(HICON icon);
  void ApplyFolderIcon();
};

void ShowFolderIconDialog(TAdvancedIcon* icon);
// The dialog while it is shown (for tests), else null.
TfmFolderIcon* OpenFolderIconDialog();
// The open-folder picture of the main window's image list (the first of buttons.png).
constexpr int kOpenFolderImage = 0;
// The main window's image at the index as a button glyph (nothing without a main window).
void SetMainImageGlyph(TSpeedButton* button, int index);
