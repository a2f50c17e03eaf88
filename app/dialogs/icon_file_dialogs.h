#pragma once
// The icon and cursor file dialogs: our file dialog with a preview panel in its
// template area. While the user moves through the files the panel shows the
// selected one: an icon or cursor at the system icon size, a picture, a Mac
// icon, or, for files holding many icons (modules, libraries, icon collections,
// RES and DCR files), the icon grid from which one icon can be chosen. A
// caption names kind, size and colour depth, and a small button opens the
// preview at full size in a window of its own.
#include <memory>
#include <string>

#include "base/file_type_sniffer.h"
#include "icons/icon_collection.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/ui/file_dialogs.h"
#include "platform/ui/forms.h"
#include "platform/ui/grids.h"

class TPanel;
class TLabel;
class TSpeedButton;
class TImage;
class TIcoDrawGrid;
class TAdvancedIcon;
class TCursorLibrary;
class TIconLibrary;

// Caption texts of the preview.
extern std::string SPreview;        // "Preview"
extern std::string SPicture;        // "Picture"
extern std::string SFormats;        // ", formats: %d"
extern std::string SIcons;          // "Icons: %d"
extern std::string SCursors;        // "Cursors: %d"
extern std::string SItems;          // "Items: %d"
extern std::string SCannotPreview;  // "cannot preview"

// The colour-depth name of a pixel format ("2", "16", "256", "65k", "16M", ...).
std::string PixelFormatName(TPixelFormat format);
// "ICO" for sub-type 1, "CUR" for 2, else empty.
std::string IconKindText(int32_t subType);
// Kind, size and depth of a picture: "BMP 16x16x16M", "PNG 48x48", "Picture 48x48x32bpp".
std::string DescribePicture(TGraphic* graphic);
// All images of the icon side by side (or one above the other when they are
// much wider than high) on the colour, 2 pixels apart.
void DrawIconStrip(TAdvancedIcon* icon, TColor colour, TBitmap* bitmap);
// True for a file of more than 4 bytes whose attributes can be read (no folder).
bool IsPreviewableFile(const std::string& fileName);

// What the preview panel shows.
enum TPreviewKind : uint8_t { pkNothing, pkPicture, pkGrid };

// The part the icon and cursor dialogs share: the preview controls, the grid
// and the decision what to show for a file. Not used on its own.
class TPreviewFileDialog : public TOpenDialog {
public:
  explicit TPreviewFileDialog(TComponent* owner);
  ~TPreviewFileDialog() override;

  TPicture* PreviewPicture() { return FPicture.get(); }
  TPanel* PicturePanel = nullptr;
  TLabel* PictureLabel = nullptr;
  TSpeedButton* PreviewButton = nullptr;
  TPanel* PaintPanel = nullptr;
  TImage* PaintBox = nullptr;
  TIcoDrawGrid* Grid = nullptr;

  bool Execute() override;
  // The preview of a file, as a selection change makes it (for tests and the
  // dialog's own selection change).
  void PreviewFile(const std::string& fileName);
  TPreviewKind Shown() const { return FShown; }
  std::string Caption() const;
  TAdvancedIcon* PreviewIcon() { return FIcon.get(); }
  TSniffedFileType PreviewFileType() const { return FFileType; }
  // The screen's values taken at each Execute (set directly by tests).
  int IconWidth = 32;
  int IconHeight = 32;
  int ScreenDepth = 32;
  // The full-size preview window.
  void PreviewClick(TObject* sender);
  // Paints one cell of the grid (the grid's OnDrawCell).
  void GridDrawCell(TObject* sender, int col, int row, const TRect& rect, TGridDrawState state);
  void GridSelectCell(TObject* sender, int col, int row, bool& canSelect);
  // The reader of the collection that is shown (its read position).
  TIconCollectionReader& CollectionReader() { return FCollection; }
  // The full-size preview window while it is open (for tests), else nullptr.
  TForm* PreviewForm() const { return FPreviewForm; }

protected:
  void DoShow() override;
  void DoClose() override;
  void DoSelectionChange() override;
  // Another folder shows no file yet: the preview of the last one goes.
  void DoFolderChange() override;
  // Steps 1 and 2 of a run: the screen's values and the template.
  void PrepareRun();
  // The run itself, the chosen cell, and the clean-up.
  bool RunAndFinish();
  virtual int ChosenIndexStore(int index) = 0;
  // The kind-specific rows of the preview table; false to fall to the picture row.
  virtual bool PreviewSpecial(TSniffedFileType type, int32_t subType, TPreviewKind& kind) = 0;
  // The handle of a cell of a module or resource file; null when none.
  virtual HICON MakeCellHandle(int n) = 0;
  virtual void ClearLibraries() {}
  virtual void AfterPreview() {}
  // The icon-caption rows (icons, cursors, projects, Mac icons).
  TPreviewKind ShowIcon(const std::string& kind, int width, int height, int depth);
  TPreviewKind ShowPicture(TSniffedFileType type);
  TPreviewKind ShowGrid(int cells, const std::string& captionFormat);
  bool OpenCollection(const std::string& fileName);
  HICON CollectionCellHandle(int n);
  void FitPreview();
  void ShowNothing();
  void SetCaption(const std::string& text);
  // Types whose PaintBox is hidden and shown again around a fit, so that no part
  // of the previous picture stays behind a transparent one.
  virtual bool RepaintsBehind(TSniffedFileType type) const;

  std::unique_ptr<TPicture> FPicture;
  std::unique_ptr<TAdvancedIcon> FIcon;
  std::string FFileName;
  TSniffedFileType FFileType = sftUnknown;
  int32_t FSubType = 0;
  TPreviewKind FShown = pkNothing;
  TIconCollectionReader FCollection;
  TForm* FPreviewForm = nullptr;
  // Why the file shown gave nothing, in its reader's words; empty when no
  // reader said.
  std::string FRefusal;
  bool FOpening = false;  // between the show and its first folder
};

class TOpenIcoDialog : public TPreviewFileDialog {
public:
  explicit TOpenIcoDialog(TComponent* owner);
  ~TOpenIcoDialog() override;

  // The icon chosen in the grid: its index; -1 when the current cell holds
  // none; 0 for a file shown as a single picture.
  int IconIndex = 0;
  // The icon picker: a negative index is a resource identifier looked up in
  // FileName; the cell IconIndex is selected the first time the grid shows.
  bool ExecuteIconIndex(int index);
  void SetGridDefaultDrawing(bool value);
  bool GridDefaultDrawing() const { return FGridDrawing; }
  // Presets FileName (or InitialDir) from the file an INI file remembers.
  void LoadLastFile(const std::string& iniFileName, const std::string& section, const std::string& key);
  bool SelectOnShow() const { return FSelectOnShow; }

  bool OpenModule(const std::string& fileName);
  bool OpenResourceFile(const std::string& fileName);

  static const char* const kDefaultFilter;

protected:
  int ChosenIndexStore(int index) override { return IconIndex = index; }
  bool PreviewSpecial(TSniffedFileType type, int32_t subType, TPreviewKind& kind) override;
  HICON MakeCellHandle(int n) override;
  void AfterPreview() override;
  void ClearLibraries() override;

private:
  // The icons of the RES file shown, imported once: a grid above 2000 cells
  // makes a cell's handle again at each paint.
  std::unique_ptr<TIconLibrary> FResIcons;
  bool FGridDrawing = true;
  bool FSelectOnShow = false;
};

class TSaveIcoDialog : public TOpenIcoDialog {
public:
  explicit TSaveIcoDialog(TComponent* owner);

protected:
  bool IsSaveDialog() const override { return true; }
};

class TOpenCurDialog : public TPreviewFileDialog {
public:
  explicit TOpenCurDialog(TComponent* owner);
  ~TOpenCurDialog() override;
  int ChosenIndex() const { return FChosen; }
  bool OpenModule(const std::string& fileName);
  bool OpenResourceFile(const std::string& fileName);
  TCursorLibrary* Cursors() { return FCursors.get(); }

  static const char* const kDefaultFilter;

protected:
  int ChosenIndexStore(int index) override { return FChosen = index; }
  bool PreviewSpecial(TSniffedFileType type, int32_t subType, TPreviewKind& kind) override;
  HICON MakeCellHandle(int n) override;
  void ClearLibraries() override;
  bool RepaintsBehind(TSniffedFileType type) const override;

private:
  std::unique_ptr<TCursorLibrary> FCursors;
  std::unique_ptr<TCursorLibrary> FResCursors;  // as FResIcons
  int FChosen = 0;
};

class TSaveCurDialog : public TOpenCurDialog {
public:
  explicit TSaveCurDialog(TComponent* owner) : TOpenCurDialog(owner) {}

protected:
  bool IsSaveDialog() const override { return true; }
};
