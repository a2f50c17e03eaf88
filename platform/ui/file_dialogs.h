#pragma once
// The common dialogs of our own: open and save file dialogs (with a template
// area beside the standard controls that the program fills, for previews), the
// colour dialog and the folder chooser.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/graphics_types.h"
#include "platform/rtl/object.h"
#include "platform/rtl/strings.h"
#include "platform/rtl/tset.h"
#include "platform/win/win_types.h"

class TCustomForm;
class TWinControl;
class TFileDialogForm;

enum TOpenOption : uint8_t {
  ofReadOnly, ofOverwritePrompt, ofHideReadOnly, ofNoChangeDir, ofShowHelp, ofNoValidate, ofAllowMultiSelect,
  ofExtensionDifferent, ofPathMustExist, ofFileMustExist, ofCreatePrompt, ofShareAware, ofNoReadOnlyReturn,
  ofNoTestFileCreate, ofNoNetworkButton, ofNoLongNames, ofOldStyleDialog, ofNoDereferenceLinks,
  ofEnableIncludeNotify, ofEnableSizing, ofDontAddToRecent, ofForceShowHidden
};
using TOpenOptions = TSet<TOpenOption>;
using TCloseQueryEvent = std::function<void(TObject* sender, bool& canClose)>;

class TCommonDialog : public TComponent {
public:
  explicit TCommonDialog(TComponent* owner) : TComponent(owner) {}
  int HelpContext() const { return FHelpContext; }
  void SetHelpContext(int value) { FHelpContext = value; }
  // The dialog's window while it runs, else null.
  HWND Handle() const { return FHandle; }
  virtual bool Execute() = 0;
  TNotifyEvent OnShow;
  TNotifyEvent OnClose;

protected:
  virtual void DoShow() {
    if (OnShow) OnShow(this);
  }
  virtual void DoClose() {
    if (OnClose) OnClose(this);
  }
  HWND FHandle = nullptr;

private:
  int FHelpContext = 0;
};

class TOpenDialog : public TCommonDialog {
public:
  explicit TOpenDialog(TComponent* owner);
  ~TOpenDialog() override;

  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& value) { FFileName = value; }
  // The chosen files (one unless ofAllowMultiSelect).
  TStrings* Files() { return &FFiles; }
  // "Description|pattern;pattern|Description|pattern..."
  const std::string& Filter() const { return FFilter; }
  void SetFilter(const std::string& value) { FFilter = value; }
  // 1-based index of the chosen filter.
  int FilterIndex() const { return FFilterIndex; }
  void SetFilterIndex(int value) { FFilterIndex = value; }
  // Added to a typed name without extension (without the dot, e.g. "ico").
  const std::string& DefaultExt() const { return FDefaultExt; }
  void SetDefaultExt(const std::string& value) { FDefaultExt = value; }
  const std::string& InitialDir() const { return FInitialDir; }
  void SetInitialDir(const std::string& value) { FInitialDir = value; }
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& value) { FTitle = value; }
  TOpenOptions Options() const { return FOptions; }
  void SetOptions(TOpenOptions value) { FOptions = value; }
  // A non-empty template name gives the dialog an area right of its standard
  // controls that the program fills (TemplateParent while the dialog runs).
  const std::string& Template() const { return FTemplate; }
  void SetTemplate(const std::string& value) { FTemplate = value; }
  // While the dialog runs: the control that holds the template area, and the
  // rectangle of the standard controls in the dialog's client area.
  TWinControl* TemplateParent() const;
  TRect GetStaticRect() const;
  TCustomForm* DialogForm() const;

  // Runs the dialog; true with FileName (and Files) set when the user chose.
  bool Execute() override;

  TCloseQueryEvent OnCanClose;
  TNotifyEvent OnFolderChange;
  TNotifyEvent OnSelectionChange;
  TNotifyEvent OnTypeChange;

  // The patterns of a filter entry (1-based), as "*.ico;*.cur".
  static std::string FilterPatterns(const std::string& filter, int index);

protected:
  friend class TFileDialogForm;
  virtual bool DoCanClose();
  virtual void DoFolderChange();
  virtual void DoSelectionChange();
  virtual void DoTypeChange();
  virtual bool IsSaveDialog() const { return false; }

private:
  std::string FFileName;
  TStringList FFiles;
  std::string FFilter;
  int FFilterIndex = 1;
  std::string FDefaultExt;
  std::string FInitialDir;
  std::string FTitle;
  TOpenOptions FOptions{ofHideReadOnly, ofEnableSizing};
  std::string FTemplate;
  TFileDialogForm* FForm = nullptr;
};

class TSaveDialog : public TOpenDialog {
public:
  explicit TSaveDialog(TComponent* owner) : TOpenDialog(owner) {}

protected:
  bool IsSaveDialog() const override { return true; }
};

enum TColorDialogOption : uint8_t { cdFullOpen, cdPreventFullOpen, cdShowHelp, cdSolidColor, cdAnyColor };
using TColorDialogOptions = TSet<TColorDialogOption>;

class TColorDialog : public TCommonDialog {
public:
  explicit TColorDialog(TComponent* owner) : TCommonDialog(owner) {}
  TColor Color() const { return FColor; }
  void SetColor(TColor value) { FColor = value; }
  TColorDialogOptions Options() const { return FOptions; }
  void SetOptions(TColorDialogOptions value) { FOptions = value; }
  // "ColorA=RRGGBB" .. "ColorP=RRGGBB" (hex 0xBBGGRR as the framework stores them).
  TStrings* CustomColors() { return &FCustomColors; }
  bool Execute() override;

private:
  TColor FColor = clBlack;
  TColorDialogOptions FOptions;
  TStringList FCustomColors;
};

// The folder chooser: the tree below root as a list to walk; true with
// directory set to the chosen folder when the user pressed OK.
bool SelectDirectory(const std::string& caption, const std::string& root, std::string& directory);
