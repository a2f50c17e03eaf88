#pragma once
// "Customize Windows Icons": the icons Windows draws for its own objects on
// four list pages (Desktop, Start Menu, Drives, Miscellaneous), the icon of a
// file type, of a folder or drive, and the shell's icon settings. Changes wait
// for Apply (or OK); Cancel and the close box drop them.
#include <memory>
#include <string>

#include "app/customize/icon_table.h"
#include "app/customize/shell_refresh.h"
#include "platform/ui/forms.h"

class TPageControl;
class TTabSheet;
class TListView;
class TListItem;
class TImageList;
class TPanel;
class TButton;
class TPopupMenu;
class TMenuItem;
class TLabel;
class TEdit;
class TComboBox;
class TImage;
class TCheckBox;
class TRadioGroup;
class TSpinEdit;
class TGroupBox;
class TSpeedButton;
class TSaveIcoDialog;
class TAdvancedIcon;

class TfmCIcons : public TForm {
public:
  explicit TfmCIcons(TComponent* owner);
  ~TfmCIcons() override;

  TPageControl* pc = nullptr;
  TTabSheet *tsDesktop = nullptr, *tsStartMenu = nullptr, *tsDrives = nullptr, *tsMiscIcons = nullptr;
  TTabSheet *tsFileTypes = nullptr, *tsFolders = nullptr, *tsParams = nullptr;
  TListView *lvDeskTop = nullptr, *lvStartMenu = nullptr, *lvDrives = nullptr, *lvMiscIcons = nullptr;
  TImageList *ilDeskTop = nullptr, *ilStartMenu = nullptr, *ilDrives = nullptr, *ilMiscIcons = nullptr;
  TPanel* pnIconCommands = nullptr;
  TButton *btRestoreAllIcons = nullptr, *btSaveIcon = nullptr, *btColorizeIcon = nullptr, *btChangeIcon = nullptr,
          *btDefaultIcon = nullptr;
  TPopupMenu* pmlvicon = nullptr;
  TMenuItem *pmChangeIcon = nullptr, *pmColorizeIcon = nullptr, *pmSaveIconAs = nullptr, *pmDefaultIcon = nullptr;
  TButton *btHelp = nullptr, *btOk = nullptr, *btCancel = nullptr, *btApply = nullptr;
  // Settings page.
  TRadioGroup *rgSize = nullptr, *rgColors = nullptr;
  TGroupBox *gbSpace = nullptr, *gbCache = nullptr;
  TSpinEdit *edIconSpaceH = nullptr, *edIconSpaceV = nullptr;
  TCheckBox* cbShortcut = nullptr;
  TButton *btRebuild = nullptr, *btRepair = nullptr;
  // Folders page.
  TLabel *lbFolder = nullptr, *lbLDisks = nullptr;
  TEdit* edFolder = nullptr;
  TSpeedButton* btFolder = nullptr;
  TComboBox* cbDisk = nullptr;
  TImage* imicon = nullptr;
  TButton *btChangeF = nullptr, *btDefaultF = nullptr;
  TCheckBox* cbCopyF = nullptr;
  // File Types page.
  TLabel *Label5 = nullptr, *Label7 = nullptr, *Label6 = nullptr, *lbFromFile = nullptr,
         *lbFileTypeIconLocationNotFound = nullptr;
  TComboBox* cbExt = nullptr;
  TEdit *edDescr = nullptr, *edFileExtIconLocation = nullptr;
  TImage *imIconFT48 = nullptr, *imIconFT16 = nullptr;
  TButton *btSaveFileTypeIcon = nullptr, *btChangeExtIcon = nullptr, *btDefaultExtIcon = nullptr;

  TCustomIconState FApplied, FPending;
  TCustomIconList FIcons;
  TIconTableVersion FVersion;
  bool FIsWin95 = false, FIsNT5 = false, FIsXP = false;
  bool FRestartNeeded = false;
  bool FActivated = false;
  TSaveIcoDialog* FSaveDialog = nullptr;
  TColor FColorizeColor = clBlue;
  bool FForceRebuild = false;
  std::string FFolderIconFile;
  int32_t FFolderIconIndex = 0;
  std::string FExtIconFile;
  int32_t FExtIconIndex = 0;
  bool FIconsChanged = false, FFolderChanged = false, FFileTypeChanged = false;

  // Handlers.
  void FormActivate(TObject* sender);
  void FormCloseQuery(TObject* sender, bool& canClose);
  void FormKeyDown(TObject* sender, WORD& key, TShiftState shift);
  void pcChange(TObject* sender);
  void btChangeIconClick(TObject* sender);
  void lvDeskTopKeyDown(TObject* sender, WORD& key, TShiftState shift);
  void btDefaultIconClick(TObject* sender);
  void btRestoreAllIconsClick(TObject* sender);
  void pmSaveIconAsClick(TObject* sender);
  void pmColorizeIconClick(TObject* sender);
  void pmlviconPopup(TObject* sender);
  void btHelpClick(TObject* sender);
  void btApplyClick(TObject* sender);
  void btOkClick(TObject* sender);
  void btCancelClick(TObject* sender);
  void edFolderKeyDown(TObject* sender, WORD& key, TShiftState shift);
  void btFolderClick(TObject* sender);
  void cbDiskChange(TObject* sender);
  void btChangeFClick(TObject* sender);
  void btDefaultFClick(TObject* sender);
  void cbExtChange(TObject* sender);
  void btChangeExtIconClick(TObject* sender);
  void btDefaultExtIconClick(TObject* sender);
  void btSaveFileTypeIconClick(TObject* sender);

  // Operations.
  void ReadIconMetrics();
  void ApplyIconMetrics();
  void LoadIconTable();
  void ApplyIconTable();
  void FillDriveList();
  void IncrementStartCount();
  void ShowFolderIcon();
  void SetFolderPreview(HICON icon);
  void ApplyFolderIcon();
  void ShowFileTypeIcon();
  void ApplyFileTypeIcon();
  TListView* GetActiveListView();
  // The selected entry of the active list page, or null.
  TCustomIconFileInfo* SelectedEntry();
  // The location an entry's Change, Save as and Colorize start from.
  static std::string CurrentLocation(const TCustomIconFileInfo& entry);
  void EnableApply();

private:
  void BuildIconPages();
  void BuildSettingsPage();
  void BuildFoldersPage();
  void BuildFileTypesPage();
  void FillPages();
  void ShowEntryIcon(TCustomIconFileInfo& entry, const std::string& location, bool useDefault);
  std::unique_ptr<TAdvancedIcon> LoadEntryIcon(const TCustomIconFileInfo& entry);
  TListView* ListOfPage(const std::string& page);
};

// The file name Save as proposes for an entry: its caption without the
// characters a file name cannot hold, and ".ico".
std::string ProposedIconFileName(const std::string& caption);

void ShowCustomizeWindowsDialog();
// The window while it is shown (for tests), else null.
TfmCIcons* OpenCustomizeWindowsDialog();
