#include "app/dialogs/icon_file_dialogs.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "app/dialogs/icon_grid.h"
#include "app/picture_transfer.h"
#include "app/picture_utils.h"
#include "base/path_utils.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/blend.h"
#include "base/toolbox/resampler.h"
#include "base/ui_windows.h"
#include "icons/advanced_icon.h"
#include "icons/icon_library.h"
#include "icons/icon_project.h"
#include "icons/mac_icons.h"
#include "icons/pe_module.h"
#include "icons/res_module.h"
#include "icons/sub_icon_render.h"
#include "imaging/io/image_lib_io.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/inifiles.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/std_ctrls.h"
#include "platform/win/kernel_files.h"
#include "platform/win/resources.h"
#include "platform/win/shell.h"
#include "platform/win/system_info.h"

std::string SPreview = "Preview";
std::string SPicture = "Picture";
std::string SFormats = ", formats: %d";
std::string SIcons = "Icons: %d";
std::string SCursors = "Cursors: %d";
std::string SItems = "Items: %d";
std::string SCannotPreview = "cannot preview";

const char* const TOpenIcoDialog::kDefaultFilter =
    "Icon files (*.ico;*.icl;*.nil;*.exe;*.dll;*.cpl;*.ocx;*.vbx)|*.exe;*.dll;*.ico;*.cpl;*.icl;*.nil;*.ocx;*.vbx;*.il;"
    "*.icc;*.icpr|Libraries (*.icl;*.nil;*.dll;*.exe;*.cpl;*.ocx;*.vbx)|*.exe;*.dll;*.cpl;*.icl;*.nil;*.ocx;*.vbx;*.il;"
    "*.icc|Icons (*.ico)|*.ico|Cursors (*.cur)|*.cur|All files(*.*)|*.*";

const char* const TOpenCurDialog::kDefaultFilter =
    "Cursor files (*.cur;*.ani;*.exe;*.dll;*.cl;*.cpl;*.ocx;*.vbx)|*.exe;*.dll;*.cpl;*.ocx;*.vbx;*.cur;*.cl;*.ani;*.res|"
    "Icons (*.ico)|*.ico;*.icpr|Animated cursors (*.ani)|*.ani|Static cursors (*.cur)|*.cur|"
    "Cursors and icons (*.cur;*.ani;*.ico)|*.cur;*.ani;*.ico;*.icpr|"
    "Libraries (*.dll;*.exe;*.cpl;*.ocx;*.vbx;*.cl)|*.exe;*.dll;*.cpl;*.ocx;*.vbx;*.cl|"
    "Resources of development tools (*.dcr;*.res)|*.dcr;*.res|All files (*.*)|*.*";

namespace {

constexpr int kGridCell = 32;
constexpr int kMacPreviewSize = 128;
constexpr int kIconDrawnLimit = 126;

std::string PixelFormatNameOf(TGraphic* graphic) {
  auto* bitmap = dynamic_cast<TBitmap*>(graphic);
  return bitmap ? "x" + PixelFormatName(bitmap->PixelFormat()) : "";
}

// The kind the class name gives right after its leading "T".
std::string KindOfClass(TGraphic* graphic) {
  std::string name = graphic->ClassName();
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto after = [&](const char* word) { return name.compare(1, std::char_traits<char>::length(word), word) == 0; };
  for (const char* k : {"GIF", "JPEG", "ANI", "PSD", "PNG", "XBM", "TGA", "TIFF"})
    if (after(k)) return k;
  if (after("WAP")) return "WBMP";
  if (after("XPM")) return "XPM";
  return "Picture";
}

// Reads a picture the framework's registry does not know (JPEG, PCX
// and the other formats of the imaging library) into a bitmap.
bool LoadThroughLibrary(const std::string& fileName, TPicture& picture) {
  TIEBitmap ie;
  auto io = TImageLibIO::CreateForBitmap(&ie);
  io->LoadFile(fileName);
  if (io->Aborting() || ie.IsEmpty()) return false;
  TBitmap bitmap;
  IEBitmapToBitmap32(ie, bitmap);
  picture.Assign(&bitmap);
  return true;
}

// The kind of a picture read through the imaging library, by its sniffed type.
std::string LibraryKind(TSniffedFileType type) {
  switch (type) {
    case sftJpeg:
    case sftJpegCmyk: return "JPEG";
    case sftTiff: return "TIFF";
    case sftTarga: return "TGA";
    case sftPcx: return "PCX";
    default: return "Picture";
  }
}

}  // namespace

std::string PixelFormatName(TPixelFormat format) {
  switch (format) {
    case pfDevice: return "Device";
    case pf1bit: return "2";
    case pf4bit: return "16";
    case pf8bit: return "256";
    case pf15bit: return "15bpp";
    case pf16bit: return "65k";
    case pf24bit: return "16M";
    case pf32bit: return "32bpp";
    default: return "Custom";
  }
}

std::string IconKindText(int32_t subType) { return subType == 1 ? "ICO" : subType == 2 ? "CUR" : ""; }

std::string DescribePicture(TGraphic* graphic) {
  if (!graphic) return SPicture;
  std::string kind;
  std::string depth = PixelFormatNameOf(graphic);
  if (graphic->ClassName() == "TBitmap") kind = "BMP";
  else if (dynamic_cast<TMetafile*>(graphic)) kind = "WMF";
  else if (dynamic_cast<TIconProject*>(graphic)) kind = "ICPR";
  else kind = KindOfClass(graphic);
  if (kind == "XPM") depth = "x16M";
  return kind + " " + Format("%dx%d", graphic->Width(), graphic->Height()) + depth;
}

void DrawIconStrip(TAdvancedIcon* icon, TColor colour, TBitmap* bitmap) {
  const int n = icon->Count();
  int w = 0, h = 0, sumW = 0, sumH = 0;
  for (int i = 0; i < n; ++i) {
    TSubIcon* im = icon->Images().GetItem(i);
    w = std::max(w, im->GetWidth());
    h = std::max(h, im->GetHeight());
    sumW += im->GetWidth();
    sumH += im->GetHeight();
  }
  const bool horizontal = w < 2 * h;
  bitmap->SetPixelFormat(pf24bit);
  if (horizontal) bitmap->SetSize(sumW + 2 * n - 1, h);
  else bitmap->SetSize(w, sumH + 2 * n - 1);
  bitmap->Canvas()->Brush()->SetColor(colour);
  bitmap->Canvas()->FillRect(TRect{0, 0, bitmap->Width(), bitmap->Height()});
  int along = 0;
  for (int i = 0; i < n; ++i) {
    TSubIcon* im = icon->Images().GetItem(i);
    const int x = horizontal ? along + 2 * i : (w - im->GetWidth()) / 2;
    const int y = horizontal ? (h - im->GetHeight()) / 2 : along + 2 * i;
    along += horizontal ? im->GetWidth() : im->GetHeight();
    if (im->GetWidth() > kIconDrawnLimit || im->GetHeight() > kIconDrawnLimit || im->GetBitsPerPixel() == 32)
      DrawSubIcon(bitmap->Canvas(), x, y, *im, colour);
    else
      DrawIconEx(bitmap->Canvas()->Handle(), x, y, im->GetHandle(), 0, 0, 0, nullptr, DI_NORMAL);
  }
}

bool IsPreviewableFile(const std::string& fileName) {
  if (fileName.empty()) return false;
  const DWORD attributes = GetFileAttributes(fileName.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  return FileSizeOf(fileName) > 4;
}

// ---------------------------------------------------------------------------

TPreviewFileDialog::TPreviewFileDialog(TComponent* owner) : TOpenDialog(owner) {
  SetOptions({ofHideReadOnly, ofEnableSizing});
  SetFilterIndex(1);
  FPicture = std::make_unique<TPicture>();
  PicturePanel = new TPanel(this);
  PicturePanel->SetName("PicturePanel");
  PicturePanel->SetBounds(204, 5, 169, 200);
  PicturePanel->SetCaption("");
  PicturePanel->SetBevelOuter(bvNone);
  PicturePanel->SetBorderWidth(6);
  PicturePanel->SetTabOrder(1);
  PictureLabel = new TLabel(this);
  PictureLabel->SetName("PictureLabel");
  PictureLabel->SetParent(PicturePanel);
  PictureLabel->SetBounds(6, 6, 157, 23);
  PictureLabel->SetAlign(alTop);
  PictureLabel->SetAutoSize(false);
  PictureLabel->SetCaption(SPicture);
  PreviewButton = new TSpeedButton(this);
  PreviewButton->SetName("PreviewButton");
  PreviewButton->SetParent(PicturePanel);
  PreviewButton->SetBounds(77, 1, 23, 22);
  PreviewButton->SetEnabled(false);
  LoadBitmapResource(PreviewButton->Glyph(), "PREVIEWGLYPH");
  PreviewButton->SetHint(SPreview);
  PreviewButton->SetParentShowHint(false);
  PreviewButton->SetShowHint(true);
  PreviewButton->OnClick = [this](TObject* s) { PreviewClick(s); };
  PaintPanel = new TPanel(this);
  PaintPanel->SetName("PaintPanel");
  PaintPanel->SetParent(PicturePanel);
  PaintPanel->SetBounds(6, 29, 157, 145);
  PaintPanel->SetAlign(alClient);
  PaintPanel->SetBevelInner(bvRaised);
  PaintPanel->SetBevelOuter(bvLowered);
  PaintPanel->SetCaption("");
  PaintPanel->SetTabOrder(0);
  PaintBox = new TImage(this);
  PaintBox->SetName("PaintBox");
  PaintBox->SetParent(PaintPanel);
  PaintBox->SetBounds(0, 0, 153, 141);
  PaintBox->OnDblClick = [this](TObject* s) { PreviewClick(s); };
  Grid = new TIcoDrawGrid(this);
  Grid->SetName("Grid");
  Grid->SetParent(PicturePanel);
  Grid->SetVisible(false);
  Grid->SetBounds(6, 29, 157, 145);
  Grid->SetAlign(alClient);
  Grid->SetTabOrder(0);
  Grid->SetDefaultColWidth(kGridCell);
  Grid->SetDefaultRowHeight(kGridCell);
  Grid->SetFixedCols(0);
  Grid->SetFixedRows(0);
  Grid->SetOptions({});
  Grid->SetColCount(157 / kGridCell);
  Grid->OnDrawCell = [this](TObject* s, int c, int r, const TRect& rect, TGridDrawState st) {
    GridDrawCell(s, c, r, rect, st);
  };
  Grid->OnSelectCell = [this](TObject* s, int c, int r, bool& can) { GridSelectCell(s, c, r, can); };
  FIcon = std::make_unique<TAdvancedIcon>();
}

TPreviewFileDialog::~TPreviewFileDialog() {
  if (Grid) FreeIconHandles(Grid->Handles);
}

std::string TPreviewFileDialog::Caption() const { return PictureLabel->Caption(); }

void TPreviewFileDialog::SetCaption(const std::string& text) { PictureLabel->SetCaption(text); }

void TPreviewFileDialog::PrepareRun() {
  IconWidth = GetSystemMetrics(SM_CXICON);
  IconHeight = GetSystemMetrics(SM_CYICON);
  ScreenDepth = ScreenBitsPerPixel();
  SetTemplate(Options().Contains(ofOldStyleDialog) ? "" : "DLGTEMPLATE");
}

bool TPreviewFileDialog::RunAndFinish() {
  bool result = false;
  try {
    result = TOpenDialog::Execute();
  } catch (...) {
    FreeIconHandles(Grid->Handles);
    ClearLibraries();
    throw;
  }
  if (!IsSaveDialog()) ChosenIndexStore(Grid->Visible() ? Grid->CurrentIndex() : 0);
  FreeIconHandles(Grid->Handles);
  ClearLibraries();
  PaintBox->Picture()->SetGraphic(nullptr);
  FPicture->SetGraphic(nullptr);
  SetInitialDir("");
  return result;
}

bool TPreviewFileDialog::Execute() {
  PrepareRun();
  return RunAndFinish();
}

void TPreviewFileDialog::DoShow() {
  const TRect stc = GetStaticRect();
  if (TWinControl* area = TemplateParent()) {
    // The template area starts at the right edge of the standard controls.
    const TRect client = area->ClientRect();
    (void)stc;
    PicturePanel->SetBounds(0, client.top + 4, client.right, client.bottom - 4 - 10);
    PicturePanel->SetParent(area);
  }
  PreviewButton->SetLeft(PaintPanel->Left() + PaintPanel->Width() - PreviewButton->Width() - 2);
  FPicture->SetGraphic(nullptr);
  FOpening = true;
  TOpenDialog::DoShow();
}

void TPreviewFileDialog::DoClose() {
  TOpenDialog::DoClose();
  if (FPreviewForm) FPreviewForm = nullptr;
  PicturePanel->SetParent(nullptr);
  Application->CancelHint();
}

void TPreviewFileDialog::DoSelectionChange() {
  PreviewFile(FileName());
  TOpenDialog::DoSelectionChange();
}

void TPreviewFileDialog::DoFolderChange() {
  // The folder the dialog opens in keeps what the run before left; a folder
  // the user goes to shows no file yet.
  if (!std::exchange(FOpening, false)) ShowNothing();
  TOpenDialog::DoFolderChange();
}

void TPreviewFileDialog::ShowNothing() {
  PaintPanel->SetVisible(true);
  Grid->SetVisible(false);
  SetCaption(SPicture);
  PreviewButton->SetEnabled(false);
  FPicture->SetGraphic(nullptr);
  PaintBox->Picture()->SetGraphic(nullptr);
  FShown = pkNothing;
}

TPreviewKind TPreviewFileDialog::ShowIcon(const std::string& kind, int width, int height, int depth) {
  const int n = FIcon->Count();
  if (n == 1) SetCaption(kind + " " + FIcon->Images().GetItem(0)->GetDescription());
  else SetCaption(Format(kind + SFormats, n));
  if (n == 0) {
    PreviewButton->SetEnabled(false);
    return pkNothing;
  }
  DrawBestIconImage(FPicture.get(), FIcon.get(), width, height, depth, PaintPanel->Color());
  PreviewButton->SetEnabled(true);
  return pkPicture;
}

TPreviewKind TPreviewFileDialog::ShowPicture(TSniffedFileType type) {
  FIcon->Clear();
  try {
    std::string kind;
    try {
      FPicture->LoadFromFile(FFileName);
    } catch (const std::exception&) {
      // The formats the registry does not know go through the imaging library.
      if (!LoadThroughLibrary(FFileName, *FPicture)) throw;
      kind = LibraryKind(type);
    }
    TGraphic* g = FPicture->Graphic();
    if (!g || g->Width() <= 0 || g->Height() <= 0) return pkNothing;
    SetCaption(kind.empty() ? DescribePicture(g) : kind + Format(" %dx%d", g->Width(), g->Height()));
    auto* bitmap = dynamic_cast<TBitmap*>(g);
    if (type == sftPng) {
      TBitmap flat;
      ResizeAndFill(&flat, g->Width(), g->Height(), ColorToRGB(PaintPanel->Color()));
      flat.Canvas()->Draw(0, 0, g);
      FPicture->Assign(&flat);
    } else if (bitmap && bitmap->PixelFormat() == pf32bit) {
      TBitmap flat;
      flat.SetPixelFormat(pf24bit);
      flat.SetSize(bitmap->Width(), bitmap->Height());
      FlattenOnColor(bitmap, &flat, static_cast<uint32_t>(ColorToRGB(PaintPanel->Color())));
      FPicture->Assign(&flat);
    }
    PreviewButton->SetEnabled(true);
    return pkPicture;
  } catch (const std::exception&) {
    FPicture->SetGraphic(nullptr);
    return pkNothing;
  }
}

TPreviewKind TPreviewFileDialog::ShowGrid(int cells, const std::string& captionFormat) {
  PreviewButton->SetEnabled(false);
  SetCaption(Format(captionFormat, cells));
  return pkGrid;
}

namespace {

// Why a module gave no icons, when its reader refuses it (a 64-bit image):
// the reader's own words, so the preview says more than nothing.
std::string ModuleRefusal(const std::string& fileName) {
  bool is64Bit = false;
  CountIconGroupsInFile(fileName, is64Bit);
  if (!is64Bit) return "";
  try {
    TPEResourceModule module;
    module.LoadFromFile(fileName);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

}  // namespace

void TPreviewFileDialog::PreviewFile(const std::string& fileName) {
  FFileName = fileName;
  FRefusal.clear();
  TPreviewKind kind = pkNothing;
  bool failed = false;
  if (IsPreviewableFile(fileName)) {
    DetectFileType(fileName, FFileType, FSubType);
    try {
      if (!PreviewSpecial(FFileType, FSubType, kind)) kind = ShowPicture(FFileType);
    } catch (const std::exception&) {
      // A damaged icon, module, collection or resource file: the preview says
      // so, and browsing goes on without an error box.
      failed = true;
      kind = pkNothing;
    }
  }
  FShown = kind;
  if (kind == pkPicture) {
    PaintPanel->SetVisible(true);
    Grid->SetVisible(false);
    FitPreview();
  } else if (kind == pkGrid) {
    PaintPanel->SetVisible(false);
    Grid->SetVisible(true);
    Grid->Invalidate();
  } else {
    ShowNothing();
    if (!FRefusal.empty()) SetCaption(FRefusal);
    else if (failed) SetCaption(SCannotPreview);
  }
  AfterPreview();
}

bool TPreviewFileDialog::RepaintsBehind(TSniffedFileType type) const {
  return type == sftUnknown || type == sftAnimatedCursor || type == sftGif || type == sftPng || type == sftTarga ||
         type == sftIconProject;
}

void TPreviewFileDialog::FitPreview() {
  TGraphic* g = FPicture->Graphic();
  if (!g) return;
  if (RepaintsBehind(FFileType)) {
    PaintBox->SetVisible(false);
    PicturePanel->Repaint();
    PaintBox->SetVisible(true);
  }
  FitImageInPanel(PaintBox, PaintPanel, g->Width(), g->Height(), 2);
  if (PaintBox->Height() == 0 && g->Height() > 0) PaintBox->SetHeight(1);
  if (PaintBox->Width() == 0 && g->Width() > 0) PaintBox->SetWidth(1);
  if (auto* b = dynamic_cast<TBitmap*>(g); b && b->PixelFormat() == pf4bit) b->SetPixelFormat(pf24bit);
  const bool larger = g->Width() > PaintBox->Width() || g->Height() > PaintBox->Height();
  if (larger && FFileType != sftAnimatedCursor && FFileType != sftGif && !dynamic_cast<TMetafile*>(g)) {
    TBitmap full, fitted;
    full.SetPixelFormat(pf24bit);
    ResizeAndFill(&full, g->Width(), g->Height(), ColorToRGB(PaintPanel->Color()));
    full.Canvas()->Draw(0, 0, g);
    fitted.SetPixelFormat(pf24bit);
    fitted.SetSize(PaintBox->Width(), PaintBox->Height());
    ResampleBitmap24(&full, &fitted, irfMitchell);
    PaintBox->Picture()->Assign(&fitted);
    return;
  }
  PaintBox->Picture()->Assign(FPicture.get());
}

void TPreviewFileDialog::PreviewClick(TObject*) {
  TForm form(this);
  form.SetName("PreviewForm");
  form.SetCaption(SPreview);
  form.SetBorderStyle(bsSizeToolWin);
  form.SetPosition(poScreenCenter);
  form.SetKeyPreview(true);
  form.OnKeyPress = [&form](TObject*, char& key) {
    if (key == 27) form.SetModalResult(mrCancel);
  };
  auto* panel = new TPanel(&form);
  panel->SetName("Panel");
  panel->SetParent(&form);
  panel->SetAlign(alClient);
  panel->SetBevelOuter(bvNone);
  panel->SetBorderStyle(bsSingle);
  panel->SetBorderWidth(5);
  panel->SetColor(PaintPanel->Color());
  panel->SetCaption("");
  auto* image = new TImage(&form);
  image->SetName("Image");
  image->SetParent(panel);
  image->SetAlign(alClient);
  image->SetStretch(true);
  if (FIcon->Count() > 0) {
    TBitmap strip;
    DrawIconStrip(FIcon.get(), panel->Color(), &strip);
    FPicture->Assign(&strip);
  }
  image->Picture()->Assign(FPicture.get());
  TGraphic* g = FPicture->Graphic();
  if (g && g->Width() > 0) {
    form.SetClientWidth(form.ClientWidth() + g->Width() - panel->ClientWidth() + 10);
    form.SetClientHeight(form.ClientHeight() + g->Height() - panel->ClientHeight() + 10);
  }
  FPreviewForm = &form;
  try {
    form.ShowModal();
  } catch (...) {
    FPreviewForm = nullptr;
    throw;
  }
  FPreviewForm = nullptr;
}

void TPreviewFileDialog::GridSelectCell(TObject*, int col, int row, bool& canSelect) {
  canSelect = col + row * Grid->ColCount() < Grid->CellCount();
}

void TPreviewFileDialog::GridDrawCell(TObject*, int col, int row, const TRect& rect, TGridDrawState state) {
  const int n = col + row * Grid->ColCount();
  TCanvas* canvas = Grid->Canvas();
  if (!Grid->DefaultDrawing()) canvas->FillRect(rect);
  if (n >= Grid->CellCount()) return;
  HICON& handle = Grid->Handles[static_cast<size_t>(n)];
  if (!handle) {
    try {
      handle = FFileType == sftIconCollection ? CollectionCellHandle(n) : MakeCellHandle(n);
    } catch (const std::exception&) {
      // A damaged entry leaves its cell empty.
      handle = nullptr;
    }
  }
  if (handle) DrawIconEx(canvas->Handle(), rect.left, rect.top, handle, kGridCell, kGridCell, 0, nullptr, DI_NORMAL);
  if (state.Contains(gdSelected) && Grid->DefaultDrawing()) canvas->DrawFocusRect(rect);
  if (Grid->CellCount() > kMaxKeptGridHandles && handle) {
    DestroyIcon(handle);
    handle = nullptr;
  }
}

bool TPreviewFileDialog::OpenCollection(const std::string& fileName) {
  FreeIconHandles(Grid->Handles);
  FCollection.Reset();
  int32_t count = -1;
  {
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    count = ReadIconCollectionHeader(file);
  }
  // A damaged header or a count the file cannot hold is refused before any
  // list is sized for it.
  if (count < 0) throw EReadError("The icon collection is damaged");
  Grid->SizeFor(count);
  return true;
}

namespace {

// An opaque 32 x 32 thumbnail over white of a large or PNG image.
HICON MakeThumbnailIcon(TSubIcon* image) {
  TSubIcon decoded;
  TSubIcon* source = image;
  if (image->HasPNGBits()) {
    DecodePNG(*image, decoded);
    source = &decoded;
  }
  auto full = NewBitmap(pf24bit, source->GetWidth(), source->GetHeight(), 0xFFFFFF);
  DrawSubIcon(full->Canvas(), 0, 0, *source, 0xFFFFFF);
  auto small = NewBitmap(pf24bit, kGridCell, kGridCell, 0xFFFFFF);
  small->Canvas()->StretchDraw(TRect{0, 0, kGridCell, kGridCell}, full.get());
  TAdvancedIcon temporary;
  TSubIcon* made = temporary.Images().AddBitmap(small.get(), nullptr, 0);
  HICON handle = made->GetHandle();
  made->DetachHandle();
  return handle;
}

// The handle of image 0 of icon n of a library, taken over from it.
HICON DetachFirstImageHandle(TAdvancedIcon* icon) {
  if (!icon || icon->Count() == 0) return nullptr;
  TSubIcon* image = icon->Images().GetItem(0);
  HICON handle = image->GetHandle();
  image->DetachHandle();
  return handle;
}

}  // namespace

HICON TPreviewFileDialog::CollectionCellHandle(int n) {
  TAdvancedIcon icon;
  if (!FCollection.ReadEntry(FFileName, n, icon) || icon.Count() == 0) return nullptr;
  TSubIcon* best = icon.GetBestImage(32, 32, 32);
  if (!best) return nullptr;
  if (best->GetWidth() >= 128 || best->HasPNGBits()) return MakeThumbnailIcon(best);
  HICON handle = best->GetHandle();
  best->DetachHandle();
  return handle;
}

// ---------------------------------------------------------------------------

TOpenIcoDialog::TOpenIcoDialog(TComponent* owner) : TPreviewFileDialog(owner) { SetFilter(kDefaultFilter); }

TOpenIcoDialog::~TOpenIcoDialog() = default;

void TOpenIcoDialog::ClearLibraries() { FResIcons.reset(); }

TSaveIcoDialog::TSaveIcoDialog(TComponent* owner) : TOpenIcoDialog(owner) {
  TOpenOptions o = Options();
  o.Include(ofEnableSizing);
  SetOptions(o);
}

bool TOpenIcoDialog::PreviewSpecial(TSniffedFileType type, int32_t subType, TPreviewKind& kind) {
  switch (type) {
    case sftExecutable: {
      const bool any = OpenModule(FFileName);
      PreviewButton->SetEnabled(false);
      SetCaption(Format(SIcons, Grid->CellCount()));
      kind = any ? pkGrid : pkNothing;
      if (!any) FRefusal = ModuleRefusal(FFileName);
      return true;
    }
    case sftIconOrCursor:
      FIcon->Clear();
      FIcon->LoadFromFile(FFileName);
      kind = ShowIcon(IconKindText(subType), IconWidth, IconHeight, ScreenDepth);
      return true;
    case sftIconProject:
      FIcon->Clear();
      LoadProjectIcon(FIcon.get(), FFileName);
      FSubType = 1;
      kind = ShowIcon("ICPR", IconWidth, IconHeight, ScreenDepth);
      return true;
    case sftMacIcon:
      FIcon->Clear();
      LoadMacIcon(FFileName, *FIcon);
      kind = ShowIcon("Mac Icon", kMacPreviewSize, kMacPreviewSize, 32);
      return true;
    case sftIconCollection:
      OpenCollection(FFileName);
      kind = ShowGrid(Grid->CellCount(), SIcons);
      return true;
    case sftRes32:
    case sftRes16Component:
      OpenResourceFile(FFileName);
      kind = ShowGrid(Grid->CellCount(), SIcons);
      return true;
    default:
      return false;
  }
}

bool TOpenIcoDialog::OpenModule(const std::string& fileName) {
  FreeIconHandles(Grid->Handles);
  const auto counted = reinterpret_cast<intptr_t>(ExtractIcon(HInstance, fileName.c_str(), static_cast<UINT>(-1)));
  const int n = static_cast<int>(std::clamp<intptr_t>(counted, 0, 0x7FFFFFF));
  Grid->Handles.assign(static_cast<size_t>(n), nullptr);
  if (n == 0) {
    TIconLibrary library;
    library.LoadFromFile(fileName);
    const int count = library.Icons().Count();
    Grid->Handles.assign(static_cast<size_t>(count), nullptr);
    for (int i = 0; i < count; ++i) {
      HICON best = library.GetIcon(i)->GetBestHandle(32, 32, 32);
      Grid->Handles[static_cast<size_t>(i)] = best ? CopyIcon(best) : nullptr;
    }
  }
  if (Grid->CellCount() > 0) Grid->SizeFor(Grid->CellCount());
  return Grid->CellCount() > 0;
}

bool TOpenIcoDialog::OpenResourceFile(const std::string& fileName) {
  FreeIconHandles(Grid->Handles);
  FCollection.Reset();
  FResIcons = std::make_unique<TIconLibrary>();
  ImportResIcons(fileName, *FResIcons);
  const int n = FResIcons->Icons().Count();
  Grid->SizeFor(n);
  for (int i = 0; i < n; ++i) Grid->Handles[static_cast<size_t>(i)] = DetachFirstImageHandle(FResIcons->GetIcon(i));
  return true;
}

HICON TOpenIcoDialog::MakeCellHandle(int n) {
  if (FFileType == sftExecutable) {
    HICON handle = ExtractIcon(HInstance, FFileName.c_str(), static_cast<UINT>(n));
    if (reinterpret_cast<uintptr_t>(handle) <= 1) handle = GetLibraryIconHandle(FFileName, n, 32, 32);
    return handle;
  }
  if ((FFileType == sftRes32 || FFileType == sftRes16Component) && FResIcons)
    return n < FResIcons->Icons().Count() ? DetachFirstImageHandle(FResIcons->GetIcon(n)) : nullptr;
  return nullptr;
}

void TOpenIcoDialog::AfterPreview() {
  if (!FSelectOnShow || !Grid->Visible()) return;
  FSelectOnShow = false;
  if (IconIndex >= 0 && IconIndex < Grid->CellCount()) {
    Grid->SetRow(IconIndex / Grid->ColCount());
    Grid->SetCol(IconIndex % Grid->ColCount());
  }
}

bool TOpenIcoDialog::ExecuteIconIndex(int index) {
  PrepareRun();
  if (index < 0) {
    IconIndex = -1;
    if (FileExists(FileName())) {
      try {
        IconIndex = IndexOfLibraryIcon(FileName(), IntToStr(-index));
      } catch (const std::exception&) {
      }
    }
  } else {
    IconIndex = index;
  }
  FSelectOnShow = true;
  return RunAndFinish();
}

void TOpenIcoDialog::SetGridDefaultDrawing(bool value) {
  FGridDrawing = value;
  Grid->SetDefaultDrawing(value);
  if (!value) Grid->Canvas()->Brush()->SetColor(Grid->Color());
}

void TOpenIcoDialog::LoadLastFile(const std::string& iniFileName, const std::string& section, const std::string& key) {
  const std::string text = TIniFile(iniFileName).ReadString(section, key, "");
  if (text.empty()) return;
  const DWORD attributes = GetFileAttributes(text.c_str());
  if (FileExists(text) && attributes != INVALID_FILE_ATTRIBUTES) SetFileName(text);
  else SetInitialDir(FindExistingParentDir(text));
}

// ---------------------------------------------------------------------------

TOpenCurDialog::TOpenCurDialog(TComponent* owner) : TPreviewFileDialog(owner) {
  SetFilter(kDefaultFilter);
  FCursors = std::make_unique<TCursorLibrary>();
}

TOpenCurDialog::~TOpenCurDialog() = default;

void TOpenCurDialog::ClearLibraries() {
  FCursors = std::make_unique<TCursorLibrary>();
  FResCursors.reset();
}

bool TOpenCurDialog::RepaintsBehind(TSniffedFileType type) const {
  return type == sftUnknown || type == sftAnimatedCursor || type == sftGif || type == sftPng || type == sftIconProject;
}

bool TOpenCurDialog::PreviewSpecial(TSniffedFileType type, int32_t subType, TPreviewKind& kind) {
  switch (type) {
    case sftExecutable: {
      const bool any = OpenModule(FFileName);
      PreviewButton->SetEnabled(false);
      SetCaption(Format(SCursors, Grid->CellCount()));
      kind = any ? pkGrid : pkNothing;
      return true;
    }
    case sftIconOrCursor:
      FIcon->Clear();
      FIcon->LoadFromFile(FFileName);
      kind = ShowIcon(IconKindText(subType), IconWidth, IconHeight, ScreenDepth);
      return true;
    case sftIconCollection:
      OpenCollection(FFileName);
      kind = ShowGrid(Grid->CellCount(), SItems);
      return true;
    case sftRes32:
    case sftRes16Component:
      OpenResourceFile(FFileName);
      kind = ShowGrid(Grid->CellCount(), SCursors);
      return true;
    default:
      return false;
  }
}

bool TOpenCurDialog::OpenModule(const std::string& fileName) {
  FreeIconHandles(Grid->Handles);
  ShowBusyCursor();
  FCursors = std::make_unique<TCursorLibrary>();
  try {
    FCursors->LoadFromFile(fileName);
  } catch (const std::exception&) {
    FCursors = std::make_unique<TCursorLibrary>();
  }
  RestoreCursor();
  const int n = FCursors->Cursors().Count();
  Grid->Handles.assign(static_cast<size_t>(n), nullptr);
  if (n > 0) Grid->SizeFor(n);
  return n > 0;
}

bool TOpenCurDialog::OpenResourceFile(const std::string& fileName) {
  FreeIconHandles(Grid->Handles);
  FCollection.Reset();
  FResCursors = std::make_unique<TCursorLibrary>();
  ImportResCursors(fileName, *FResCursors);
  const int n = FResCursors->Cursors().Count();
  Grid->SizeFor(n);
  for (int i = 0; i < n; ++i) Grid->Handles[static_cast<size_t>(i)] = DetachFirstImageHandle(FResCursors->GetCursor(i));
  return true;
}

HICON TOpenCurDialog::MakeCellHandle(int n) {
  if (FFileType == sftRes32 || FFileType == sftRes16Component)
    return FResCursors && n < FResCursors->Cursors().Count() ? DetachFirstImageHandle(FResCursors->GetCursor(n)) : nullptr;
  // A library cursor's cell asks for the system icon size at the screen's depth.
  if (n >= FCursors->Cursors().Count()) return nullptr;
  TSubIcon* best = FCursors->GetCursor(n)->GetBestImage(IconWidth, IconHeight, ScreenDepth);
  if (!best) return nullptr;
  HICON handle = best->GetHandle();
  best->DetachHandle();
  return handle;
}
