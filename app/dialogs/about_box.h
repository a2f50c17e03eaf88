#pragma once
// The about box: the program and its maker, version and build date, the rights
// line, and two links (the program's page, the support page), each of which can
// also be copied from its context menu.
#include <string>

#include "platform/ui/forms.h"

class TPanel;
class TImage;
class TLabel;
class TBevel;
class TButton;
class TPopupMenu;
class TMenuItem;

class TfmAbout : public TForm {
public:
  explicit TfmAbout(TComponent* owner);

  TPanel* Panel1 = nullptr;
  TImage* im = nullptr;
  TImage* Image1 = nullptr;
  TLabel* lbVer = nullptr;
  TLabel* lbCR = nullptr;
  TLabel* lbWWW = nullptr;
  TLabel* lbSupport = nullptr;
  TBevel* Bevel2 = nullptr;
  TBevel* Bevel1 = nullptr;
  TButton* btOK = nullptr;
  TPopupMenu* pmCopy = nullptr;
  TMenuItem* pmCopyhyperlink = nullptr;

  void FormCreate(TObject* sender);
  void lbWWWClick(TObject* sender);
  void lbEmailClick(TObject* sender);
  void pmCopyhyperlinkClick(TObject* sender);

private:
  std::string FSupportLink;
};

void ShowAboutBox();
// The about box while it is shown (for tests), else null.
TfmAbout* OpenAboutBox();

extern const char* const kMakerSiteAddress;    // the maker's web site, with its slash
extern const char* const kProgramPageAddress;  // the program's page
extern const char* const kSupportPageAddress;
extern const char* const kSupportEmail;
extern const char* const kIndexPageAddress;
