#pragma once
// "Customize File Extension Icon": installs the icon just made as the icon of a
// file type, or puts the type's previous icon back.
#include "platform/ui/forms.h"

class TAdvancedIcon;
class TLabel;
class TEdit;
class TComboBox;
class TImage;
class TButton;

class TfmExtIcon : public TForm {
public:
  explicit TfmExtIcon(TComponent* owner);

  TLabel* lbFolder = nullptr;
  TComboBox* cbExt = nullptr;
  TLabel* Label1 = nullptr;
  TEdit* edDescr = nullptr;
  TLabel* lbCur = nullptr;
  TImage* imgcur48 = nullptr;
  TImage* imgcur16 = nullptr;
  TLabel* lbFromFile = nullptr;
  TLabel* Label2 = nullptr;
  TImage* imgnew48 = nullptr;
  TImage* imgnew16 = nullptr;
  TButton* btDefault = nullptr;
  TButton* btApply = nullptr;
  TButton* btCancel = nullptr;
  TAdvancedIcon* FIcon = nullptr;  // not owned

  void FormActivate(TObject* sender);
  void cbExtChange(TObject* sender);
  void btApplyClick(TObject* sender);
  void btDefaultClick(TObject* sender);
  void ShowCurrentIcon();
  void ShowNewIcon();
  void ApplyExtIcon();
  void RestoreExtIcon();
};

void ShowExtIconDialog(TAdvancedIcon* icon);
TfmExtIcon* OpenExtIconDialog();
// "Type name - content type", or the type name alone.
std::string FileTypeDescription(const std::string& typeName, const std::string& contentType);
