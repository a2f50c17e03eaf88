#pragma once
// The icon maker's main window: the source picture with its selection, the
// options that turn it into the base icon (resampling, transparency), the
// effects, shadows, background and style that make the result icon from it,
// the three previews and the style list with its thumbnails.
//
// The work is pending-driven: option handlers either rebuild at once or set
// RebuildPending, which the application's idle handler serves.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/config_file.h"
#include "app/rebuild_options.h"
#include "app/result_assembly.h"
#include "base/file_type_sniffer.h"
#include "icons/advanced_icon.h"
#include "icons/icon_library.h"
#include "platform/ui/forms.h"
#include "platform/ui/std_edits.h"
#include "platform/win/shell.h"

class TImageLibView;
class TPanel;
class TLabel;
class TTimer;
class TGroupBox;
class TCheckBox;
class TRadioButton;
class TTrackBar;
class TCustomListBox;
class TListBox;
class TPaintBox;
class TButton;
class TImageButton;
class TActionList;
class TAction;
class TImageList;
class TMainMenu;
class TMenuItem;

class TfmMain : public TForm {
public:
  explicit TfmMain(TComponent* owner);
  ~TfmMain() override;

  // ---- controls ----
  TImageLibView* img = nullptr;
  TPanel* pnSrc = nullptr;
  TLabel* lbSourceC = nullptr;
  TLabel* lbSource = nullptr;
  TTimer* tmErr = nullptr;
  TPanel* pnOptions = nullptr;
  TGroupBox* gbResampling = nullptr;
  TCheckBox* cbSmoothResample = nullptr;
  TCheckBox* cbShrinkToFit = nullptr;
  TCheckBox* cbZoomToFit = nullptr;
  TCheckBox* cbConstrainProportions = nullptr;
  TGroupBox* gbTransparency = nullptr;
  TRadioButton* rbAsIs = nullptr;
  TRadioButton* rbCustomColor = nullptr;
  TRadioButton* rbLeftBottom = nullptr;
  TImageButton* btIcontrColor24 = nullptr;
  TGroupBox* gbEffects = nullptr;
  TTrackBar* trHue = nullptr;
  TTrackBar* trSaturation = nullptr;
  TTrackBar* trLightness = nullptr;
  TTrackBar* trOpacity = nullptr;
  TTrackBar* trSharpness = nullptr;
  TCheckBox* cbColorize = nullptr;
  TImageButton* btColorColorize = nullptr;
  TCheckBox* cbMergeBG = nullptr;
  TImageButton* btColorMergeBG = nullptr;
  TListBox* lbStyles = nullptr;
  TGroupBox* gbResult = nullptr;
  TPaintBox* pb48 = nullptr;
  TPaintBox* pb32 = nullptr;
  TPaintBox* pb16 = nullptr;
  TCheckBox* cbStyle48 = nullptr;
  TCheckBox* cbStyle32 = nullptr;
  TCheckBox* cbStyle16 = nullptr;
  TCheckBox* cbEffects48 = nullptr;
  TCheckBox* cbEffects32 = nullptr;
  TCheckBox* cbEffects16 = nullptr;
  TCheckBox* cbShadow48 = nullptr;
  TCheckBox* cbShadow32 = nullptr;
  TCheckBox* cbShadow16 = nullptr;
  TButton* btSave = nullptr;
  TButton* btTest = nullptr;
  TImageList* il = nullptr;
  TActionList* ActionList = nullptr;
  TAction* aFileSave = nullptr;
  TAction* aTest = nullptr;
  TAction* aDisplayZoomIn = nullptr;
  TAction* aDisplayZoomOut = nullptr;
  TAction* aDisplayAutoZoom = nullptr;
  TMainMenu* mnMain = nullptr;
  TMenuItem* mnScale1 = nullptr;
  TMenuItem* mnProgramHomePage = nullptr;
  TMenuItem* mnHidden = nullptr;
  TMenuItem* mnHiddenZoomIn = nullptr;
  TMenuItem* mnHiddenZoomOut = nullptr;

  // ---- state ----
  std::unique_ptr<TBitmap> WorkBitmap;
  std::unique_ptr<TBitmap> StyleStrip;
  std::unique_ptr<TAdvancedIcon> BaseIcon;
  std::unique_ptr<TAdvancedIcon> DisplayIcon;
  std::unique_ptr<TAdvancedIcon> ResultIcon;
  std::unique_ptr<TAdvancedIcon> ThumbnailIcon;
  std::unique_ptr<TIconLibrary> StyleLibrary;
  TSniffedFileType SourceFileType = sftUnknown;
  int32_t SourceSubType = 0;
  std::string SourceExt;
  TIconResampleFilter FilterIndex = irfAuto;
  TCursor SavedCursor = 0;  // the view's cursor before colour-pick mode
  bool RebuildPending = false;
  bool ThumbnailsPending = false;
  bool Activated = false;
  TMainWindowSettings Settings;
  // Asks the user for a colour, starting from the one given; false when the
  // question is cancelled. The colour buttons of the window ask through it;
  // unset, the program's colour picker (SelectColor) asks.
  std::function<bool(TColor& colour)> ChooseColor;

  // ---- framework events ----
  void FormCreate(TObject* sender);
  void FormActivate(TObject* sender);
  void FormDestroy(TObject* sender);
  void FormClose(TObject* sender, TCloseAction& action);
  void AppIdle(TObject* sender, bool& done);
  void AppException(TObject* sender, const std::exception& e);
  void tmErrTimer(TObject* sender);

  // ---- operations ----
  void ProcessPendingUpdates();
  // True when the file gave a picture; the red message tells the user otherwise,
  // and the window keeps the picture it had. Of a file holding many icons
  // (module, icon library, collection, RES file) the icon at iconIndex loads.
  bool LoadSourceImage(const std::string& fileName, int iconIndex = 0);
  void RebuildBaseIcon();
  void AutoZoomAndRebuild();
  void AutoZoom();
  // The square of 140 view pixels around the view's centre.
  void SelectStartRectangle();
  TIconResampleFilter GetResampleFilter(int width, int height, int targetWidth, int targetHeight);
  void PresetSharpness();
  void ShowSourceMessage(const std::string& text);
  // The picture (or its selection) as a pf24bit or pf32bit bitmap.
  void CopyViewImageToBitmap(TBitmap& bitmap);
  // The options of the Resampling and Transparency groups.
  TBaseIconOptions BaseIconOptions();
  void UpdateResultIcon();
  // The effect, shadow, colorize, background and style controls as the result
  // assembly reads them.
  TResultOptions ResultOptions();
  void RenderStyleThumbnails();
  void LoadSettings();
  void SaveSettings();
  // Where "data\styles.icl" and "data\example.jpg" are looked for (the
  // program's folder, with its trailing separator).
  const std::string& ProgramFolder() const { return FProgramFolder; }
  static void SetProgramFolder(const std::string& folder);
  // The text of the red source message (empty when none shows).
  std::string SourceMessage() const;
  // How many times the base icon was built (for tests of the pending work).
  int RebuildCount() const { return FRebuildCount; }
  // The window is in colour-pick mode exactly while the view shows the
  // colour-pick cursor; the base icon is not rebuilt meanwhile.
  bool InColorPickMode() const;

  // ---- handlers ----
  void pb48Paint(TObject* sender);
  void lbStylesDrawItem(TWinControl* control, int index, const TRect& rect, TOwnerDrawState state);
  void lbStylesClick(TObject* sender);
  void trHueChange(TObject* sender);
  void cbColorizeClick(TObject* sender);
  void cbMergeBGClick(TObject* sender);
  void cbStyle48Click(TObject* sender);
  void btColorColorizeClick(TObject* sender);
  void btColorMergeBGClick(TObject* sender);
  void imgSelectionChange(TObject* sender);
  void ResamplingOptionClick(TObject* sender);
  void TransparencyClick(TObject* sender);
  void pnSrcClick(TObject* sender);
  void imgPaint(TObject* sender);
  void aDisplayZoomInExecute(TObject* sender);
  void aDisplayZoomOutExecute(TObject* sender);
  void aDisplayAutoZoomExecute(TObject* sender);
  void mnScale1Click(TObject* sender);
  void mnProgramHomePageClick(TObject* sender);
  void aResultUpdate(TObject* sender);
  void WMDropFiles(TMessage& message);
  // Fills the image list il from "buttons.png" (else the built-in strip);
  // with invalidate the whole window repaints.
  void LoadButtonImages(bool invalidate);

  // ---- commands, options and tools (main_actions.cpp) ----
  TAction* aFileOpen = nullptr;
  TAction* aFileExit = nullptr;
  TAction* aEditCopy = nullptr;
  TAction* aEditPaste = nullptr;
  TAction* aEditSelectAll = nullptr;
  TAction* aRotate90 = nullptr;
  TAction* aRotate270 = nullptr;
  TAction* aFlipH = nullptr;
  TAction* aFlipV = nullptr;
  TAction* aPickTransparentColor = nullptr;
  TAction* aDrawSelection = nullptr;
  TAction* aDrawSelectTrColor = nullptr;
  TAction* aDefault = nullptr;
  TAction* aCustomizeFolders = nullptr;
  TAction* aCustomizeFileTypes = nullptr;
  TAction* aHelpContents = nullptr;
  TAction* aHelpAbout = nullptr;
  TAction* aHelpHomePage = nullptr;
  TAction* aHelpReadyIcons = nullptr;
  // In the list without handlers, menu or toolbar items.
  TAction* aDrawTransparent = nullptr;
  TAction* aRollR = nullptr;
  TAction* aRollL = nullptr;
  TAction* aRollU = nullptr;
  TAction* aRollD = nullptr;
  TAction* aDrawSmooth = nullptr;
  TMenuItem* mnToolsCaptureImage = nullptr;
  TMenuItem* mnResamplingFilter = nullptr;
  TMenuItem* mnCustomizeWin = nullptr;
  TMenuItem* mnScale200 = nullptr;
  TMenuItem* mnScale400 = nullptr;
  TMenuItem* mnScale800 = nullptr;
  TMenuItem* mnScale1000 = nullptr;
  TMenuItem* mnScale1600 = nullptr;
  TMenuItem* mnArbitrary = nullptr;
  TMenuItem* Feedback1 = nullptr;
  TMenuItem* mnHiddenPaste = nullptr;
  TMenuItem* mnHiddenCopy = nullptr;
  TPanel* pnBar = nullptr;
  // The toolbar's buttons in order, separators left out.
  std::vector<TImageButton*> ToolButtons;
  TButton* btDefault = nullptr;
  TButton* btSelrf = nullptr;
  TImageButton* btPickColor = nullptr;

  void BuildCommandSet();
  void aFileOpenExecute(TObject* sender);
  void aFileSaveExecute(TObject* sender);
  void aFileExitExecute(TObject* sender);
  void aEditCopyExecute(TObject* sender);
  void aEditPasteExecute(TObject* sender);
  void aEditPasteUpdate(TObject* sender);
  void aEditSelectAllExecute(TObject* sender);
  void aRotate90Execute(TObject* sender);
  void aRotate270Execute(TObject* sender);
  void aFlipHExecute(TObject* sender);
  void aFlipVExecute(TObject* sender);
  void aDisplayAutoZoomUpdate(TObject* sender);
  void UpdateScaleMenu();
  void aDefaultExecute(TObject* sender);
  void mnToolsCaptureImageClick(TObject* sender);
  void aTestExecute(TObject* sender);
  void aHelpContentsExecute(TObject* sender);
  void aHelpHomePageExecute(TObject* sender);
  void aHelpReadyIconsExecute(TObject* sender);
  void Feedback1Click(TObject* sender);
  void btSelrfClick(TObject* sender);
  void aDrawSelectTrColorExecute(TObject* sender);
  void aPickTransparentColorExecute(TObject* sender);
  void aPickTransparentColorUpdate(TObject* sender);
  void aDrawSelectionExecute(TObject* sender);
  void aDrawSelectionUpdate(TObject* sender);
  void imgMouseDown(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
  void imgMouseMove(TObject* sender, TShiftState shift, int x, int y);
  void imgMouseUp(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
  void imgMouseInResizingGrip(TObject* sender, int grip);
  TColor PickColorAt(int x, int y);
  void EndPickColor(int x, int y);
  // The source picture came from a file (its name) or not (pasted, captured);
  // Save proposes a name from it.
  void NoteSource(const std::string& fileName);
  // The name the next Save proposes.
  std::string SaveProposal();
  // The message the desktop gives when it refuses a screen capture.
  static const char* const kCaptureRefused;

private:
  // The window's commands (main_window_commands.cpp): the image list, the
  // actions, the main menu and their shortcuts.
  void BuildCommands();
  void SetCommandShortcuts();
  void BuildControls();
  void BuildOptionPanel();
  void BuildResultGroup(TWinControl* parent, int top);
  bool LoadIntoView(const std::string& fileName, int iconIndex);
  // A colour button's question: the chosen colour goes to the button and its
  // check box is ticked.
  void PickButtonColour(TImageButton* button, TCheckBox* box);
  std::string FProgramFolder;
  bool FRebuilding = false;
  bool FSourceLoaded = false;  // a file gave the view its picture
  int FRebuildCount = 0;
  std::unique_ptr<TConfigFile> FConfig;
  // The source for Save's proposal (main_actions.cpp).
  std::string FSourceName;
  bool FSourceNoted = false;
  bool FSourceChangedSinceSave = false;
};

// The screen cursor of colour-pick mode (the "COLORPICK" cursor resource).
constexpr TCursor crColorPick = -29;

// The main window of the running program.
extern TfmMain* fmMain;

// The program's name and version as the title bar and the about box show them.
extern const char* const kProgramName;
extern const char* const kProgramVersion;
extern const char* const kProgramHomePage;
