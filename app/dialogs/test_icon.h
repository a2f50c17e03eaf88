#pragma once
// The test window "Test Icon": the icon that Save would write, shown the way
// the desktop shows it: as the window's own icon (caption and its own taskbar
// button) and with every image drawn on four background bands.
#include <string>

#include "platform/ui/forms.h"

class TAdvancedIcon;
class TPanel;
class TImage;
class TBevel;
class TLabel;
class TButton;

class TfmTestIcon : public TForm {
public:
  explicit TfmTestIcon(TComponent* owner);

  TPanel* pnTest = nullptr;
  TImage* im = nullptr;
  TBevel* Bevel1 = nullptr;
  TLabel* lbNotIconXP = nullptr;
  TButton* btClose = nullptr;

  TAdvancedIcon* Icon_ = nullptr;  // not owned
  int CellWidth = 32;
  int CellHeight = 32;

  void FormCreate(TObject* sender);
  void PaintBands();
  void DrawIcons();
};

// The name of the temporary icon file in folder: "t$$$$.ico", or, while one
// by that name cannot be removed, "t$$$$1.ico", "t$$$$2.ico" and so on.
std::string FreeTestIconPath(const std::string& folder);
// Saves the icon to a temporary .ico, loads it back as the window's icon,
// deletes the file and shows the window modally.
void ShowTestIcon(TAdvancedIcon* icon);
// The window while it is shown (for tests), else nullptr.
TfmTestIcon* OpenTestIconWindow();
