#include "app/main_window.h"

#include <algorithm>

#include "app/data_module.h"
#include "app/dialogs/select_color.h"
#include "app/picture_transfer.h"
#include "base/image_button.h"
#include "base/path_utils.h"
#include "base/toolbox/bitmap_fix32.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/shadows_metafile.h"
#include "icons/icon_collection.h"
#include "icons/icon_project.h"
#include "icons/res_module.h"
#include "icons/sub_icon_render.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/views/image_view.h"
#include "pictures/psd/psd_image.h"
#include "pictures/xpm/xpm_image.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/actions.h"
#include "platform/ui/com_ctrls.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/img_list.h"
#include "platform/ui/menus.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/std_edits.h"
#include "platform/win/shell.h"

TfmMain* fmMain = nullptr;
const char* const kProgramName = "Quorvane";
const char* const kProgramVersion = "1.0";

namespace {

constexpr UINT kSourceMessageMs = 5000;
constexpr int kStyleItemHeight = 54;
constexpr int kStyleListWidth = 92;
constexpr int kOptionsWidth = 318;
constexpr TColor kColorizeStart = 0xECC235;

std::string& ProgramFolderOverride() {
  static std::string folder;
  return folder;
}

template <class T> T* Put(TComponent* owner, TWinControl* parent, int left, int top, int width, int height) {
  auto* c = new T(owner);
  c->SetParent(parent);
  c->SetBounds(left, top, width, height);
  return c;
}

TCheckBox* PutCheck(TComponent* owner, TWinControl* parent, const char* caption, int left, int top, int width,
                    bool checked) {
  auto* c = Put<TCheckBox>(owner, parent, left, top, width, 18);
  c->SetCaption(caption);
  c->SetChecked(checked);
  return c;
}

TImageButton* PutColourButton(TComponent* owner, TWinControl* parent, int left, int top, TColor colour) {
  auto* b = Put<TImageButton>(owner, parent, left, top, 36, 20);
  b->SetDrawStyle({ibdsColored});
  b->SetColor(colour);
  return b;
}

// The label left of a slider and the slider itself.
TTrackBar* PutSlider(TComponent* owner, TWinControl* parent, const char* caption, int top, int min, int max) {
  auto* label = Put<TLabel>(owner, parent, 10, top + 4, 70, 16);
  label->SetCaption(caption);
  auto* t = Put<TTrackBar>(owner, parent, 84, top, 214, 26);
  t->SetMin(min);
  t->SetMax(max);
  t->SetPosition(0);
  t->SetTickStyle(tsNone);
  t->SetPageSize(std::max(1, (max - min) / 20));
  return t;
}

// The size a preview box or check box stands for.
int SizeOfTag(TObject* sender) {
  auto* c = dynamic_cast<TComponent*>(sender);
  return c ? int(c->Tag()) : 0;
}

}  // namespace

void TfmMain::SetProgramFolder(const std::string& folder) { ProgramFolderOverride() = folder; }

TfmMain::TfmMain(TComponent* owner) : TForm(owner) {
  FProgramFolder = ProgramFolderOverride().empty() ? GetApplicationDir() : ProgramFolderOverride();
  if (!FProgramFolder.empty() && FProgramFolder.back() != '/' && FProgramFolder.back() != '\\') FProgramFolder += '/';
  BuildControls();
  OnCreate = [this](TObject* s) { FormCreate(s); };
  OnActivate = [this](TObject* s) { FormActivate(s); };
  OnDestroy = [this](TObject* s) { FormDestroy(s); };
  OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
}

TfmMain::~TfmMain() {
  if (fmMain == this) fmMain = nullptr;
}

// ---------------------------------------------------------------------------
// The controls, as the form's designer would have laid them out: the picture
// on the left under its source line, the style list beside it, and on the
// right the result with its previews over the option groups.

void TfmMain::BuildControls() {
  SetCaption(kProgramName);
  SetBorderStyle(bsSizeable);
  SetPosition(poScreenCenter);
  SetClientWidth(820);
  SetClientHeight(600);
  SetKeyPreview(true);

  BuildCommands();

  BuildOptionPanel();

  lbStyles = new TListBox(this);
  lbStyles->SetParent(this);
  lbStyles->SetAlign(alRight);
  lbStyles->SetWidth(kStyleListWidth);
  lbStyles->SetStyle(lbOwnerDrawVariable);
  lbStyles->SetColor(clBtnFace);
  lbStyles->OnDrawItem = [this](TWinControl* c, int i, const TRect& r, TOwnerDrawState s) {
    lbStylesDrawItem(c, i, r, s);
  };
  lbStyles->OnClick = [this](TObject* s) { lbStylesClick(s); };

  pnSrc = new TPanel(this);
  pnSrc->SetParent(this);
  pnSrc->SetAlign(alTop);
  pnSrc->SetHeight(24);
  pnSrc->SetBevelOuter(bvNone);
  pnSrc->SetAlignment(taLeftJustify);
  pnSrc->Font()->SetColor(clRed);
  pnSrc->Font()->SetStyle({fsBold});
  pnSrc->OnClick = [this](TObject* s) { pnSrcClick(s); };
  lbSourceC = Put<TLabel>(this, pnSrc, 6, 5, 90, 16);
  lbSourceC->SetCaption("Source image:");
  lbSourceC->SetParentFont(false);
  lbSourceC->Font()->SetColor(clBlack);
  lbSource = Put<TLabel>(this, pnSrc, 96, 5, 400, 16);
  lbSource->SetCaption("...");
  lbSource->SetParentFont(false);
  lbSource->Font()->SetColor(clBlack);

  img = new TImageLibView(this);
  img->SetParent(this);
  img->SetAlign(alClient);
  img->SetBackground(clWhite);
  img->SetBackgroundStyle(iebsChessboard);
  img->SetMouseInteract(TIEMouseInteract{miSelect});
  img->SetAutoFit(true);
  img->SetEnableInteractionHints(true);
  img->OnPaint = [this](TObject* s) { imgPaint(s); };
  img->OnSelectionChange = [this](TObject* s) { imgSelectionChange(s); };
  img->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int, int) { ShowSourceMessage(""); };

  tmErr = new TTimer(this);
  tmErr->SetEnabled(false);
  tmErr->SetInterval(kSourceMessageMs);
  tmErr->OnTimer = [this](TObject* s) { tmErrTimer(s); };
  OnKeyDown = [this](TObject*, WORD&, TShiftState) { ShowSourceMessage(""); };
  OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int, int) { ShowSourceMessage(""); };
  BuildCommandSet();
}

void TfmMain::BuildOptionPanel() {
  pnOptions = new TPanel(this);
  pnOptions->SetParent(this);
  pnOptions->SetAlign(alRight);
  pnOptions->SetWidth(kOptionsWidth);
  pnOptions->SetBevelOuter(bvNone);

  BuildResultGroup(pnOptions, 2);

  gbEffects = Put<TGroupBox>(this, pnOptions, 6, 190, 306, 204);
  gbEffects->SetCaption("Effects");
  trHue = PutSlider(this, gbEffects, "Hue", 18, -180, 180);
  trSaturation = PutSlider(this, gbEffects, "Saturation", 44, -100, 100);
  trLightness = PutSlider(this, gbEffects, "&Lightness", 70, -100, 100);
  trOpacity = PutSlider(this, gbEffects, "Opacity", 96, -100, 100);
  trSharpness = PutSlider(this, gbEffects, "Sharpness", 122, 0, 48);
  for (TTrackBar* t : {trHue, trSaturation, trLightness, trOpacity, trSharpness})
    t->OnChange = [this](TObject* s) { trHueChange(s); };
  cbColorize = PutCheck(this, gbEffects, "Colorize", 12, 156, 80, false);
  cbColorize->OnClick = [this](TObject* s) { cbColorizeClick(s); };
  btColorColorize = PutColourButton(this, gbEffects, 92, 155, kColorizeStart);
  btColorColorize->OnClick = [this](TObject* s) { btColorColorizeClick(s); };
  cbMergeBG = PutCheck(this, gbEffects, "Background", 160, 156, 90, false);
  cbMergeBG->OnClick = [this](TObject* s) { cbMergeBGClick(s); };
  btColorMergeBG = PutColourButton(this, gbEffects, 254, 155, clWhite);
  btColorMergeBG->OnClick = [this](TObject* s) { btColorMergeBGClick(s); };

  gbResampling = Put<TGroupBox>(this, pnOptions, 6, 400, 306, 68);
  gbResampling->SetCaption("Resampling");
  cbSmoothResample = PutCheck(this, gbResampling, "Smooth resample", 12, 20, 140, true);
  cbConstrainProportions = PutCheck(this, gbResampling, "Constrain proportions", 156, 20, 146, true);
  cbShrinkToFit = PutCheck(this, gbResampling, "Shrink to fit", 12, 42, 140, true);
  cbZoomToFit = PutCheck(this, gbResampling, "Zoom to fit", 156, 42, 140, false);
  for (TCheckBox* c : {cbSmoothResample, cbConstrainProportions, cbShrinkToFit, cbZoomToFit})
    c->OnClick = [this](TObject* s) { ResamplingOptionClick(s); };

  gbTransparency = Put<TGroupBox>(this, pnOptions, 6, 474, 306, 68);
  gbTransparency->SetCaption("Transparency");
  rbAsIs = Put<TRadioButton>(this, gbTransparency, 12, 20, 80, 18);
  rbAsIs->SetCaption("As is");
  rbAsIs->SetChecked(true);
  rbLeftBottom = Put<TRadioButton>(this, gbTransparency, 12, 42, 140, 18);
  rbLeftBottom->SetCaption("L&eft bottom pixel");
  rbCustomColor = Put<TRadioButton>(this, gbTransparency, 156, 20, 100, 18);
  rbCustomColor->SetCaption("Custom color");
  btIcontrColor24 = PutColourButton(this, gbTransparency, 258, 19, clNone);
  for (TRadioButton* r : {rbAsIs, rbLeftBottom, rbCustomColor})
    r->OnClick = [this](TObject* s) { TransparencyClick(s); };
}

void TfmMain::BuildResultGroup(TWinControl* parent, int top) {
  gbResult = Put<TGroupBox>(this, parent, 6, top, 306, 182);
  gbResult->SetCaption("Result icon");
  // One column per size: the preview on a common baseline, its three boxes under it.
  struct Column {
    int size, left;
    TPaintBox** box;
    TCheckBox **style, **effects, **shadow;
  };
  const Column columns[3] = {{48, 14, &pb48, &cbStyle48, &cbEffects48, &cbShadow48},
                             {32, 112, &pb32, &cbStyle32, &cbEffects32, &cbShadow32},
                             {16, 210, &pb16, &cbStyle16, &cbEffects16, &cbShadow16}};
  for (const Column& c : columns) {
    auto* box = Put<TPaintBox>(this, gbResult, c.left + (48 - c.size) / 2, 20 + 48 - c.size, c.size, c.size);
    box->SetTag(c.size);
    box->OnPaint = [this](TObject* s) { pb48Paint(s); };
    *c.box = box;
    auto* caption = Put<TLabel>(this, gbResult, box->Left() + c.size + 6, 20 + 48 - 14, 48, 16);
    caption->SetCaption(std::to_string(c.size) + " x " + std::to_string(c.size));
    *c.style = PutCheck(this, gbResult, "Style", c.left, 74, 88, true);
    *c.effects = PutCheck(this, gbResult, "Effects", c.left, 94, 88, true);
    *c.shadow = PutCheck(this, gbResult, "Shadow", c.left, 114, 88, false);
    for (TCheckBox* b : {*c.style, *c.effects, *c.shadow}) {
      b->SetTag(c.size);
      b->OnClick = [this](TObject* s) { cbStyle48Click(s); };
    }
  }
  btSave = Put<TButton>(this, gbResult, 14, 142, 130, 28);
  btSave->SetAction(aFileSave);
  btTest = Put<TButton>(this, gbResult, 160, 142, 130, 28);
  btTest->SetAction(aTest);
}

// ---------------------------------------------------------------------------
// Creation, activation, closing

void TfmMain::FormCreate(TObject*) {
  WorkBitmap = std::make_unique<TBitmap>();
  WorkBitmap->SetPixelFormat(pf24bit);
  StyleStrip = std::make_unique<TBitmap>();
  StyleStrip->SetPixelFormat(pf24bit);
  BaseIcon = std::make_unique<TAdvancedIcon>();
  DisplayIcon = std::make_unique<TAdvancedIcon>();
  ResultIcon = std::make_unique<TAdvancedIcon>();
  ThumbnailIcon = std::make_unique<TAdvancedIcon>();

  Application->SetTitle(std::string(kProgramName) + " " + kProgramVersion);
  SetCaption(kProgramName);
  mnProgramHomePage->SetCaption(std::string(kProgramName) + " " + mnProgramHomePage->Caption());

  Application->OnIdle = [this](TObject* s, bool& done) { AppIdle(s, done); };
  Application->OnException = [this](TObject* s, const std::exception& e) { AppException(s, e); };

  DragAcceptFiles(Handle(), TRUE);
  SetMessageHandler(WM_DROPFILES, [this](TMessage& m) { WMDropFiles(m); });
  lbSource->SetCaption("");
  img->Assign(WorkBitmap.get());
  gbResult->SetDoubleBuffered(true);

  // A missing or unreadable library leaves only the first item, "no style".
  StyleLibrary = std::make_unique<TIconLibrary>();
  const int styles = LoadStyleLibrary(*StyleLibrary, NativePath(FProgramFolder + "data\\styles.icl"));
  lbStyles->SetItemHeight(kStyleItemHeight);
  lbStyles->Items()->Clear();
  for (int i = 0; i <= styles; ++i) lbStyles->Items()->Add("");
  lbStyles->SetDoubleBuffered(true);

  // New and corner-resized selections stay square; Shift adds no further region.
  img->SetConstrainSelection(true);
  img->SetAdditiveSelection(false);
}

void TfmMain::FormActivate(TObject*) {
  if (Activated) return;
  Activated = true;
  LoadSettings();
  LoadButtonImages(false);
  FilterIndex = irfAuto;
  Application->SetHelpFile(FProgramFolder + "help.chm");

  SetCommandShortcuts();

  LoadSourceImage(NativePath(FProgramFolder + "data\\example.jpg"));
  SelectStartRectangle();
  lbStyles->SetItemIndex(std::min(11, lbStyles->Count() - 1));
  RebuildBaseIcon();
}

void TfmMain::FormDestroy(TObject*) {
  if (HandleAllocated()) DragAcceptFiles(Handle(), FALSE);
  Application->OnIdle = nullptr;
  Application->OnException = nullptr;
  BaseIcon.reset();
  DisplayIcon.reset();
  ResultIcon.reset();
  ThumbnailIcon.reset();
  WorkBitmap.reset();
  StyleLibrary.reset();
  StyleStrip.reset();
}

void TfmMain::FormClose(TObject*, TCloseAction&) { SaveSettings(); }

void TfmMain::LoadSettings() {
  FConfig = TConfigFile::Open();
  TWindowPlacement placement{Left(), Top(), Width(), Height(), WindowState() == wsMaximized, false};
  LoadMainWindowSettings(*FConfig, Settings, placement, Screen->Width(), Screen->Height(),
                         [this] { SetWindowState(wsMaximized); });
  if (placement.Maximized) {
    SetWindowState(wsMaximized);
    return;
  }
  if (placement.PositionDesigned) SetPosition(poDesigned);
  SetBounds(placement.Left, placement.Top, placement.Width, placement.Height);
}

void TfmMain::SaveSettings() {
  if (!FConfig) FConfig = TConfigFile::Open();
  TWindowPlacement placement{Left(), Top(), Width(), Height(), WindowState() == wsMaximized, false};
  if (dm && dm->OpenDialog) Settings.LastOpen = dm->OpenDialog->FileName();
  SaveMainWindowSettings(*FConfig, Settings, placement);
  // A settings folder that cannot be made keeps the values in memory: the user
  // hears of it once, and the window closes all the same.
  const std::string notice = FConfig->TakeNotice();
  if (!notice.empty()) MessageBox(HandleAllocated() ? Handle() : nullptr, notice.c_str(), kProgramName, MB_OK | MB_ICONWARNING);
}

// ---------------------------------------------------------------------------
// The pending work and the application's events

void TfmMain::AppIdle(TObject*, bool&) { ProcessPendingUpdates(); }

void TfmMain::ProcessPendingUpdates() {
  if (RebuildPending) RebuildBaseIcon();
  if (ThumbnailsPending) RenderStyleThumbnails();
}

void TfmMain::AppException(TObject*, const std::exception& e) {
  Screen->SetCursor(crDefault);
  Application->ShowException(e);
}

// ---------------------------------------------------------------------------
// The source picture

bool TfmMain::LoadIntoView(const std::string& fileName, int iconIndex) {
  TImageLibIO* io = img->GetIO();
  auto iconIntoView = [&](TAdvancedIcon& icon) {
    // An icon, cursor or project without images gives nothing to load.
    TMemoryStream stream;
    if (!IconToPngStream(icon, stream)) return false;
    stream.SetPosition(0);
    io->LoadPNGStream(stream);
    return true;
  };
  auto bitmapIntoView = [&](TGraphic* picture) {
    TMemoryStream stream;
    PictureToBmpStream(picture, stream);
    stream.SetPosition(0);
    io->LoadBMPStream(stream);
  };
  switch (SourceFileType) {
    case sftIconOrCursor: {
      TAdvancedIcon icon;
      icon.LoadFromFile(fileName);
      return iconIntoView(icon);
    }
    case sftIconProject: {
      TAdvancedIcon icon;
      LoadProjectIcon(&icon, fileName);
      return iconIntoView(icon);
    }
    case sftAnimatedCursor: {
      TAdvancedIcon icon;
      icon.LoadFromAniFile(fileName, 0, nullptr);
      return iconIntoView(icon);
    }
    // Files of many icons: the one the open dialog's grid had chosen, as an
    // icon file's best image.
    case sftExecutable: {
      TIconLibrary library;
      library.LoadFromFile(fileName);
      TAdvancedIcon* icon = iconIndex >= 0 && iconIndex < library.Icons().Count() ? library.GetIcon(iconIndex) : nullptr;
      return icon && iconIntoView(*icon);
    }
    case sftIconCollection: {
      TIconCollectionReader reader;
      TAdvancedIcon icon;
      return iconIndex >= 0 && reader.ReadEntry(fileName, iconIndex, icon) && iconIntoView(icon);
    }
    case sftRes32:
    case sftRes16Component: {
      TIconLibrary library;
      ImportResIcons(fileName, library);
      TAdvancedIcon* icon = iconIndex >= 0 && iconIndex < library.Icons().Count() ? library.GetIcon(iconIndex) : nullptr;
      return icon && iconIntoView(*icon);
    }
    case sftPsd: {
      img->SetEnableAlphaChannel(true);
      TPSDImage psd;
      psd.LoadFromFile(fileName);
      if (psd.Layers.size() == 1) {
        TBitmap layer;
        psd.GetLayerBitmap(0, &layer);
        if (layer.Width() > 0 && layer.Height() > 0) {
          bitmapIntoView(&layer);
          return true;
        }
      }
      bitmapIntoView(&psd);
      return true;
    }
    default:
      break;
  }
  if (SourceExt == "xpm") {
    img->SetEnableAlphaChannel(true);
    TXPMImage xpm;
    xpm.LoadFromFile(fileName);
    bitmapIntoView(&xpm);
    return true;
  }
  if (SourceExt == "xbm") {
    img->SetEnableAlphaChannel(true);
    TXBMImage xbm;
    xbm.LoadFromFile(fileName);
    TBitmap picture;
    if (xbm.PixelFormat() == pf1bit) MakeMonochrome(&picture);
    picture.Assign(&xbm);
    TAdvancedIcon icon;
    icon.Images().AddBitmap(&picture, xbm.MaskBitmap.get(), 0);
    return iconIntoView(icon);
  }
  try {
    io->LoadFile(fileName);
  } catch (const std::exception&) {
    // A file that cannot be opened (gone, unreadable) is no picture either.
    io->SetAborting(true);
  }
  return true;
}

namespace {

// What a load may change before it knows whether the file gives a picture: a
// load that fails puts all of it back, so the window, its base icon and the
// icon Save writes go on from the picture the user had, not from a half-read one.
struct TViewSnapshot {
  TIEBitmap Picture;
  TMemoryStream Selection;
  bool EnableAlpha = true;
  TSniffedFileType FileType = sftUnknown;
  int32_t SubType = 0;
  std::string Ext;
};

}  // namespace

bool TfmMain::LoadSourceImage(const std::string& fileName, int iconIndex) {
  TViewSnapshot before;
  before.Picture.Assign(img->GetIEBitmap());
  img->SaveSelectionToStream(before.Selection);
  before.EnableAlpha = img->EnableAlphaChannel();
  before.FileType = SourceFileType;
  before.SubType = SourceSubType;
  before.Ext = SourceExt;
  auto restore = [&] {
    img->GetIEBitmap()->Assign(&before.Picture);
    img->SetEnableAlphaChannel(before.EnableAlpha);
    img->Update();
    before.Selection.SetPosition(0);
    img->LoadSelectionFromStream(before.Selection, 1);
    SourceFileType = before.FileType;
    SourceSubType = before.SubType;
    SourceExt = before.Ext;
  };

  DetectFileType(fileName, SourceFileType, SourceSubType);
  SourceExt = LowerCase(ExtractFileExt(fileName));
  if (!SourceExt.empty() && SourceExt[0] == '.') SourceExt.erase(0, 1);

  bool gotImage = false;
  try {
    gotImage = LoadIntoView(fileName, iconIndex);
  } catch (...) {
    // A reader that raises leaves the view as it was; the application's
    // handler tells the user why.
    restore();
    throw;
  }
  if (!gotImage || img->GetIO()->Aborting()) {
    restore();
    ShowSourceMessage(gotImage ? UnknownSourceMessage(fileName) : NoImageSourceMessage(fileName));
    return false;
  }
  TIEBitmap* picture = img->GetIEBitmap();
  if (!picture->IsEmpty() && picture->PixelFormat() != ie24RGB)
    picture->SetPixelFormat(ie24RGB);  // the alpha channel stays as it is
  PresetSharpness();
  FSourceLoaded = true;
  lbSource->SetCaption(fileName);
  ShowSourceMessage("");
  // A new picture starts with the start-up selection, not with the rectangle
  // the user had drawn on the previous one.
  AutoZoom();
  SelectStartRectangle();
  RebuildBaseIcon();
  return true;
}

void TfmMain::AutoZoomAndRebuild() {
  AutoZoom();
  RebuildBaseIcon();
}

void TfmMain::AutoZoom() {
  img->Update();
  img->SetAutoFit(true);
  img->Fit();
  aDisplayAutoZoom->SetChecked(true);
}

void TfmMain::SelectStartRectangle() {
  const int cx = img->Width() / 2, cy = img->Height() / 2;
  img->Select(cx - 70, cy - 70, cx + 70, cy + 70);
}

void TfmMain::CopyViewImageToBitmap(TBitmap& bitmap) {
  TIEBitmap* picture = img->GetIEBitmap();
  if (!img->Selected()) {
    IEBitmapToBitmap32(*picture, bitmap);
  } else if (picture->HasAlphaChannel()) {
    TIEBitmap part;
    img->CopySelectionToIEBitmap(part);
    IEBitmapToBitmap32(part, bitmap);
  } else {
    img->CopySelectionToBitmap(bitmap);
  }
  if (bitmap.PixelFormat() != pf24bit && bitmap.PixelFormat() != pf32bit) bitmap.SetPixelFormat(pf24bit);
}

TBaseIconOptions TfmMain::BaseIconOptions() {
  TBaseIconOptions o;
  o.Transparency = rbCustomColor->Checked() ? tcCustomColor : rbLeftBottom->Checked() ? tcLeftBottom : tcAsIs;
  o.CustomColor = btIcontrColor24->Color();
  o.FilterIndex = FilterIndex;
  o.SmoothResample = cbSmoothResample->Checked();
  o.ShrinkToFit = cbShrinkToFit->Checked();
  o.ZoomToFit = cbZoomToFit->Checked();
  o.ConstrainProportions = cbConstrainProportions->Checked();
  return o;
}

void TfmMain::RebuildBaseIcon() {
  RebuildPending = false;
  // Processing the queue below may bring another request here (a click on an
  // option); it is served by the next idle moment rather than inside this one.
  if (FRebuilding) {
    RebuildPending = true;
    return;
  }
  FRebuilding = true;
  struct TReset {
    TfmMain* form;
    ~TReset() {
      form->FRebuilding = false;
      Screen->SetCursor(crDefault);
    }
  } reset{this};
  // In colour-pick mode the picture is a palette to pick from; the rebuild
  // that ends the mode serves what was asked meanwhile.
  if (InColorPickMode()) return;
  Screen->SetCursor(crAppStart);
  Application->ProcessMessages();
  if (!BaseIcon) return;  // the window went away meanwhile
  if (img->IsEmptyBitmap() && !FSourceLoaded) {
    // No picture yet (the start picture missing, say): no icon either, rather
    // than one made of the view's blank pixel.
    BaseIcon->Clear();
  } else {
    const TBaseIconOptions options = BaseIconOptions();
    // The whole picture, without a colour key the converter would write into
    // it, is read where the view keeps it: a photograph of many megapixels is
    // not copied first.
    TBitmap* picture = nullptr;
    if (!img->Selected() && !WritesIntoSource(options)) picture = SharedFrameworkBitmap(*img->GetIEBitmap());
    TBitmap copy;
    if (!picture) {
      CopyViewImageToBitmap(copy);
      picture = &copy;
    }
    BuildBaseIcon(picture, options, *BaseIcon);
  }
  ++FRebuildCount;
  UpdateResultIcon();
  if (!InColorPickMode()) img->SetMouseInteract(TIEMouseInteract{miSelect});
}

bool TfmMain::InColorPickMode() const { return img && img->ViewCursor() == crColorPick; }

TIconResampleFilter TfmMain::GetResampleFilter(int width, int height, int, int) {
  return ResolveResampleFilter(FilterIndex, width, height, cbSmoothResample->Checked());
}

void TfmMain::PresetSharpness() {
  // The preset is no change of the user's: the result is not recomputed here.
  trSharpness->OnChange = nullptr;
  TIEBitmap* picture = img->GetIEBitmap();
  trSharpness->SetPosition(SharpnessPreset(picture->Width(), picture->Height(), SourceFileType, SourceExt));
  trSharpness->OnChange = [this](TObject* s) { trHueChange(s); };
}

void TfmMain::ShowSourceMessage(const std::string& text) {
  if (text.empty()) {
    tmErrTimer(tmErr);
    return;
  }
  pnSrc->SetCaption(text);
  lbSourceC->Hide();
  lbSource->Hide();
  tmErr->SetEnabled(false);
  tmErr->SetEnabled(true);
}

void TfmMain::tmErrTimer(TObject*) {
  pnSrc->SetCaption("");
  tmErr->SetEnabled(false);
  lbSourceC->Show();
  lbSource->Show();
}

std::string TfmMain::SourceMessage() const { return pnSrc->Caption(); }

// ---------------------------------------------------------------------------
// The result

TResultOptions TfmMain::ResultOptions() {
  TResultOptions o;
  o.Hue = trHue->Position();
  o.Saturation = trSaturation->Position();
  o.Lightness = trLightness->Position();
  o.Opacity = trOpacity->Position();
  o.Sharpness = trSharpness->Position();
  o.Colorize = cbColorize->Checked();
  o.ColorizeColor = ColorToRGB(btColorColorize->Color());
  o.MergeBackground = cbMergeBG->Checked();
  o.BackgroundColor = ColorToRGB(btColorMergeBG->Color());
  o.Effects = TSizeBoxes{cbEffects48->Checked(), cbEffects32->Checked(), cbEffects16->Checked()};
  o.Style = TSizeBoxes{cbStyle48->Checked(), cbStyle32->Checked(), cbStyle16->Checked()};
  o.Shadow = TSizeBoxes{cbShadow48->Checked(), cbShadow32->Checked(), cbShadow16->Checked()};
  const int item = lbStyles->ItemIndex();
  o.StyleIcon = item >= 1 && StyleLibrary ? StyleLibrary->GetIcon(item - 1) : nullptr;
  return o;
}

void TfmMain::UpdateResultIcon() {
  if (!BaseIcon) return;
  ::UpdateResultIcon(*BaseIcon, ResultOptions(), *DisplayIcon, *ResultIcon, *ThumbnailIcon);
  ThumbnailsPending = true;
  pb16->Invalidate();
  pb32->Invalidate();
  pb48->Invalidate();
}

void TfmMain::RenderStyleThumbnails() {
  ThumbnailsPending = false;
  if (!ThumbnailIcon || !StyleStrip) return;
  ::RenderStyleThumbnails(*ThumbnailIcon, StyleLibrary.get(), ColorToRGB(lbStyles->Color()), StyleStrip.get());
  lbStyles->Invalidate();
}

void TfmMain::pb48Paint(TObject* sender) {
  auto* box = dynamic_cast<TPaintBox*>(sender);
  if (!box || !DisplayIcon) return;
  const int s = SizeOfTag(sender);
  TCanvas* c = box->Canvas();
  TSubIcon* image = DisplayIcon->FindImage(s, s, 32);
  if (!image) {
    const int w = box->Width(), h = box->Height();
    c->Pen()->SetColor(clBtnShadow);
    c->MoveTo(0, h - 1);
    c->LineTo(0, 0);
    c->LineTo(w - 1, 0);
    c->Pen()->SetColor(clBtnHighlight);
    c->LineTo(w - 1, h - 1);
    c->LineTo(0, h - 1);
    return;
  }
  ExtractBitmaps(*image, nullptr, WorkBitmap.get(), kNoBackground, nullptr);
  if (WorkBitmap->PixelFormat() != pf32bit) return;
  const int x = PreviewOffset(box->Width(), WorkBitmap->Width());
  const int y = PreviewOffset(box->Height(), WorkBitmap->Height());
  DrawAlphaStretched(WorkBitmap.get(), c->Handle(), x, y, WorkBitmap->Width(), WorkBitmap->Height(),
                     gbResult->Color());
}

void TfmMain::lbStylesDrawItem(TWinControl*, int index, const TRect& rect, TOwnerDrawState) {
  if (index < 0 || !StyleStrip || !StyleStripHoldsRow(index, StyleStrip->Height())) return;
  // The whole row takes the item's brush (the highlight when selected), so the
  // chosen style shows as a frame around its thumbnail; filling the left part
  // with the list colour left only a narrow strip of highlight beside it.
  TCanvas* c = lbStyles->Canvas();
  c->FillRect(rect);
  const int top = (rect.top + rect.bottom) / 2 - kStyleThumbSize / 2;
  c->CopyRect(TRect{rect.left + 3, top, rect.left + 3 + kStyleThumbSize, top + kStyleThumbSize}, StyleStrip->Canvas(),
              TRect{0, index * kStyleThumbSize, kStyleThumbSize, (index + 1) * kStyleThumbSize});
}

// ---------------------------------------------------------------------------
// Handlers

void TfmMain::lbStylesClick(TObject*) { UpdateResultIcon(); }
void TfmMain::trHueChange(TObject*) { UpdateResultIcon(); }
void TfmMain::cbColorizeClick(TObject*) { UpdateResultIcon(); }
void TfmMain::cbMergeBGClick(TObject*) { UpdateResultIcon(); }
void TfmMain::cbStyle48Click(TObject*) { UpdateResultIcon(); }

void TfmMain::btColorColorizeClick(TObject*) { PickButtonColour(btColorColorize, cbColorize); }
void TfmMain::btColorMergeBGClick(TObject*) { PickButtonColour(btColorMergeBG, cbMergeBG); }

void TfmMain::PickButtonColour(TImageButton* button, TCheckBox* box) {
  TColor colour = button->Color();
  const bool chosen = ChooseColor ? ChooseColor(colour) : SelectColor(colour);
  if (!chosen) return;
  button->SetColor(ColorToRGB(colour));
  // Ticking the box updates the result through its own handler; so does the
  // line below when it was ticked already.
  if (!box->Checked()) box->SetChecked(true);
  else UpdateResultIcon();
}
void TfmMain::imgSelectionChange(TObject*) { RebuildPending = true; }
void TfmMain::ResamplingOptionClick(TObject*) { RebuildPending = true; }

void TfmMain::TransparencyClick(TObject* sender) {
  // Unchecking a radio button fires nothing; the one that became checked rebuilds.
  auto* r = dynamic_cast<TRadioButton*>(sender);
  if (r && r->Checked() && BaseIcon) RebuildBaseIcon();
}

void TfmMain::pnSrcClick(TObject*) { ShowSourceMessage(""); }
