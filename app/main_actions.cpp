// The main window's commands beyond the view's: the rest of the action list,
// the File, Edit and Tools menus and the items the View and Help menus add, the
// toolbar, the invisible shortcut menu; opening and saving, the clipboard,
// rotation and flipping, screen capture and dropped files; the Resampling and
// Transparency tools (the filter chooser, the colour picker, colour-pick mode,
// the selection tool and the square-selection rule); the test window, help
// and web pages.
#include <algorithm>
#include <cmath>

#include "app/customize/customize_icons.h"
#include "app/customize/ext_icon_dialog.h"
#include "app/customize/folder_icon_dialog.h"
#include "app/data_module.h"
#include "app/dialogs/about_box.h"
#include "app/dialogs/select_color.h"
#include "app/dialogs/select_resample_filter.h"
#include "app/dialogs/test_icon.h"
#include "app/main_window.h"
#include "app/picture_transfer.h"
#include "app/picture_utils.h"
#include "app/program_start.h"
#include "base/image_button.h"
#include "base/toolbox/geometry_effects.h"
#include "base/ui_windows.h"
#include "imaging/core/ie_proc.h"
#include "imaging/views/image_view.h"
#include "platform/graphics/gdi.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/actions.h"
#include "platform/ui/com_ctrls.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/file_dialogs.h"
#include "platform/ui/img_list.h"
#include "platform/ui/menus.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/windows.h"
#include "platform/win/clipboard.h"
#include "platform/win/system_info.h"

const char* const TfmMain::kCaptureRefused = "The desktop does not allow the screen to be captured.";

namespace {

const char* const kMakerSite = "https://www.marrowin.com/";
const char* const kReadyIconsPage = "https://www.marrowin.com/icons/?from=Quorvane";

const char* const kOpenFilter =
    "Images (*.bmp;*.jpeg;*.png;*.psd;*.wbmp;*.gif;*.xpm)|*.jpg;*.jpeg;*.bmp;*.png;*.wbmp;*.psd;*.pdd;*.gif;*.xpm;*.xbm;"
    "*.wmf;*.emf;*.tga;*.pcx;*.tif;*.tiff;*.jpe;*.jp2;*.j2k;*.jpc;*.j2c|Windows bitmaps (*.bmp)|*.bmp|GIF images "
    "(*.gif)|*.gif|JPEG images (*.jpg;*.jpeg)|*.jpg;*.jpeg;*.jpe|JPEG 2000 images (*.jp2;*.j2k)|*.jp2;*.j2k;*.jpc;*.j2c|"
    "PCX images (*.pcx)|*.pcx|Photoshop images (*.psd;*.pdd)|*.psd;*.pdd|PNG images (*.png)|*.png|Targa images (*.tga)|"
    "*.tga|TIFF images (*.tif;*.tiff)|*.tif;*.tiff|Metafiles (*.wmf;*.emf)|*.wmf;*.emf|WAP bitmaps (*.wbmp)|*.wbmp|"
    "X pixmaps and bitmaps (*.xpm;*.xbm)|*.xpm;*.xbm|Icons (*.ico)|*.ico|Cursors (*.cur;*.ani)|*.cur;*.ani|Icon "
    "projects (*.icpr)|*.icpr|All files(*.*)|*.*";

// The pictures of buttons.png, in the order the strip holds them.
enum TButtonImage : int {
  biOpen, biSave, biCopy, biPaste, biSelection, biPickColor, biRotateLeft, biRotateRight, biFlipHorizontal,
  biFlipVertical, biZoomIn, biZoomOut, biAutoZoom, biTest, biCustomizeFolders, biCustomizeFileTypes,
  biCustomizeWindows, biReadyIcons, biContents, biExit, biAbout
};

constexpr TColor kNoColour = static_cast<TColor>(0x1FFFFFFF);
constexpr int kToolButtonSize = 26;
constexpr int kSelectionCursor = 1785;

TMenuItem* NewItem(TComponent* owner, TMenuItem* parent, const std::string& caption, int at = -1) {
  auto* m = new TMenuItem(owner);
  m->SetCaption(caption);
  if (at < 0) parent->Add(m);
  else parent->Insert(at, m);
  return m;
}

}  // namespace

// ---------------------------------------------------------------------------
// Building

void TfmMain::BuildCommandSet() {
  auto action = [this](const char* caption, TShortCut shortCut, int image, TNotifyEvent execute) {
    auto* a = new TAction(this);
    a->SetActionList(ActionList);
    a->SetCaption(caption);
    a->SetShortCut(shortCut);
    a->SetImageIndex(image);
    a->OnExecute = std::move(execute);
    return a;
  };
  auto on = [this](void (TfmMain::*handler)(TObject*)) {
    return [this, handler](TObject* s) { (this->*handler)(s); };
  };
  aFileOpen = action("Open...", ShortCut('O', {ssCtrl}), biOpen, on(&TfmMain::aFileOpenExecute));
  aFileSave->SetShortCut(ShortCut('S', {ssCtrl}));
  aFileSave->SetImageIndex(biSave);
  aFileSave->OnExecute = on(&TfmMain::aFileSaveExecute);
  aFileExit = action("Exit", 0, biExit, on(&TfmMain::aFileExitExecute));
  aEditCopy = action("&Copy", ShortCut('C', {ssCtrl}), biCopy, on(&TfmMain::aEditCopyExecute));
  aEditPaste = action("&Paste", ShortCut('V', {ssCtrl}), biPaste, on(&TfmMain::aEditPasteExecute));
  aEditPaste->OnUpdate = on(&TfmMain::aEditPasteUpdate);
  aEditSelectAll = action("Select &All", ShortCut('A', {ssCtrl}), -1, on(&TfmMain::aEditSelectAllExecute));
  aRotate90 = action("&Right", 0, biRotateRight, on(&TfmMain::aRotate90Execute));
  aRotate270 = action("&Left", 0, biRotateLeft, on(&TfmMain::aRotate270Execute));
  aFlipH = action("&Horizontally", 0, biFlipHorizontal, on(&TfmMain::aFlipHExecute));
  aFlipV = action("&Vertically", 0, biFlipVertical, on(&TfmMain::aFlipVExecute));
  aDisplayZoomIn->SetImageIndex(biZoomIn);
  aDisplayZoomOut->SetImageIndex(biZoomOut);
  aDisplayAutoZoom->SetImageIndex(biAutoZoom);
  aDisplayAutoZoom->OnUpdate = on(&TfmMain::aDisplayAutoZoomUpdate);
  aPickTransparentColor =
      action("Pick Transparent Color", 0, biPickColor, on(&TfmMain::aPickTransparentColorExecute));
  aPickTransparentColor->OnUpdate = on(&TfmMain::aPickTransparentColorUpdate);
  aDrawSelection = action("Selection", 0, biSelection, on(&TfmMain::aDrawSelectionExecute));
  aDrawSelection->OnUpdate = on(&TfmMain::aDrawSelectionUpdate);
  aDrawSelectTrColor = action("Select Transparent Color...", 0, -1, on(&TfmMain::aDrawSelectTrColorExecute));
  aDefault = action("Default Settings", 0, -1, on(&TfmMain::aDefaultExecute));
  // The two customisers that take the result icon are enabled while there is one.
  aCustomizeFolders =
      action("Customize Folders...", 0, biCustomizeFolders, [this](TObject*) { ShowFolderIconDialog(ResultIcon.get()); });
  aCustomizeFileTypes =
      action("Customize File Types...", 0, biCustomizeFileTypes, [this](TObject*) { ShowExtIconDialog(ResultIcon.get()); });
  for (TAction* a : {aCustomizeFolders, aCustomizeFileTypes}) a->OnUpdate = [this](TObject* s) { aResultUpdate(s); };
  aTest->SetShortCut(ShortCut('T', {ssCtrl}));
  aTest->SetImageIndex(biTest);
  aTest->OnExecute = on(&TfmMain::aTestExecute);
  aHelpContents = action("&Contents", ShortCut(VK_F1, {}), biContents, on(&TfmMain::aHelpContentsExecute));
  aHelpAbout = action("&About...", 0, biAbout, [](TObject*) { ShowAboutBox(); });
  aHelpHomePage = action("&Home page", 0, -1, on(&TfmMain::aHelpHomePageExecute));
  aHelpReadyIcons = action("Ready Icons", 0, biReadyIcons, on(&TfmMain::aHelpReadyIconsExecute));
  aDrawTransparent = action("Transparent", 0, -1, nullptr);
  aRollR = action("Roll Right", 0, -1, nullptr);
  aRollL = action("Roll Left", 0, -1, nullptr);
  aRollU = action("Roll Up", 0, -1, nullptr);
  aRollD = action("Roll Down", 0, -1, nullptr);
  aDrawSmooth = action("Smooth", 0, -1, nullptr);

  // ---- menus: File, Edit and Tools before View; more in View and Help ----
  TMenuItem* root = mnMain->Items();
  TMenuItem* file = NewItem(this, root, "&File", 0);
  NewItem(this, file, "")->SetAction(aFileOpen);
  NewItem(this, file, "")->SetAction(aFileSave);
  NewItem(this, file, "-");
  NewItem(this, file, "")->SetAction(aFileExit);
  TMenuItem* edit = NewItem(this, root, "&Edit", 1);
  NewItem(this, edit, "")->SetAction(aEditCopy);
  NewItem(this, edit, "")->SetAction(aEditPaste);
  NewItem(this, edit, "")->SetAction(aEditSelectAll);
  NewItem(this, edit, "-");
  TMenuItem* rotate = NewItem(this, edit, "Rotate Image");
  NewItem(this, rotate, "")->SetAction(aRotate90);
  NewItem(this, rotate, "")->SetAction(aRotate270);
  mnArbitrary = NewItem(this, rotate, "&Arbitrary...");
  mnArbitrary->SetVisible(false);
  TMenuItem* flip = NewItem(this, edit, "Flip Image");
  NewItem(this, flip, "")->SetAction(aFlipH);
  NewItem(this, flip, "")->SetAction(aFlipV);
  NewItem(this, edit, "-");
  mnToolsCaptureImage = NewItem(this, edit, "Capture Image...");
  mnToolsCaptureImage->SetShortCut(ShortCut('Q', {ssCtrl}));
  mnToolsCaptureImage->OnClick = on(&TfmMain::mnToolsCaptureImageClick);
  TMenuItem* tools = NewItem(this, root, "&Tools", 2);
  NewItem(this, tools, "")->SetAction(aPickTransparentColor);
  NewItem(this, tools, "")->SetAction(aDrawSelectTrColor);
  mnResamplingFilter = NewItem(this, tools, "Resampling Filter...");
  mnResamplingFilter->OnClick = on(&TfmMain::btSelrfClick);
  NewItem(this, tools, "-");
  NewItem(this, tools, "")->SetAction(aTest);
  NewItem(this, tools, "-");
  NewItem(this, tools, "")->SetAction(aCustomizeFolders);
  NewItem(this, tools, "")->SetAction(aCustomizeFileTypes);
  mnCustomizeWin = NewItem(this, tools, "Customize &Windows...");
  mnCustomizeWin->SetImageIndex(biCustomizeWindows);
  mnCustomizeWin->OnClick = [](TObject*) { ShowCustomizeWindowsDialog(); };

  TMenuItem* view = mnScale1->Parent();
  const int scaleAt = view->IndexOf(mnScale1);
  view->Remove(mnScale1);
  TMenuItem* factor = NewItem(this, view, "Zoom Factor", scaleAt);
  factor->Add(mnScale1);
  mnScale200 = NewItem(this, factor, "&200 %");
  mnScale400 = NewItem(this, factor, "&400 %");
  mnScale800 = NewItem(this, factor, "&800 %");
  mnScale1000 = NewItem(this, factor, "1&000 %");
  mnScale1600 = NewItem(this, factor, "1&600 %");
  // These zoom items come without a handler of their own: each one sets its factor.
  const std::pair<TMenuItem*, int> factors[] = {
      {mnScale200, 200}, {mnScale400, 400}, {mnScale800, 800}, {mnScale1000, 1000}, {mnScale1600, 1600}};
  for (const auto& [item, zoom] : factors)
    item->OnClick = [this, z = zoom](TObject*) {
      img->SetAutoFit(false);
      img->SetZoom(z);
      aDisplayAutoZoom->SetChecked(false);
      UpdateScaleMenu();
    };
  NewItem(this, view, "-");
  NewItem(this, view, "")->SetAction(aDefault);

  TMenuItem* help = mnProgramHomePage->Parent();
  NewItem(this, help, "", 0)->SetAction(aHelpContents);
  TMenuItem* site = NewItem(this, help, "", 1);
  site->SetAction(aHelpHomePage);
  site->SetCaption("Marrowin Site");
  NewItem(this, help, "")->SetAction(aHelpReadyIcons);
  Feedback1 = NewItem(this, help, "Feedback");
  Feedback1->OnClick = on(&TfmMain::Feedback1Click);
  NewItem(this, help, "-");
  NewItem(this, help, "")->SetAction(aHelpAbout);

  mnHiddenPaste = NewItem(this, mnHidden, "Paste");
  mnHiddenPaste->SetShortCut(ShortCut(VK_INSERT, {ssShift}));
  mnHiddenPaste->OnClick = on(&TfmMain::aEditPasteExecute);
  mnHiddenCopy = NewItem(this, mnHidden, "Copy");
  mnHiddenCopy->SetShortCut(ShortCut(VK_INSERT, {ssCtrl}));
  mnHiddenCopy->OnClick = on(&TfmMain::aEditCopyExecute);

  // ---- the toolbar, above the source line ----
  pnBar = new TPanel(this);
  pnBar->SetParent(this);
  pnBar->SetAlign(alTop);
  pnBar->SetHeight(kToolButtonSize + 6);
  pnBar->SetBevelOuter(bvNone);
  pnBar->SetCaption("");
  // The source line goes below the toolbar: aligned controls stack in the order they joined.
  pnSrc->SetParent(nullptr);
  pnSrc->SetParent(this);
  int x = 4;
  auto tool = [&](TBasicAction* a, TMenuItem* item, const char* hint) {
    auto* b = new TImageButton(this);
    b->SetParent(pnBar);
    b->SetBounds(x, 3, kToolButtonSize, kToolButtonSize);
    b->SetFlat(true);
    b->SetShowHint(true);
    if (a) {
      b->SetAction(a);
    } else {
      b->SetImages(il);
      b->SetImageIndex(item->ImageIndex());
      b->SetHint(hint);
      b->SetEnabled(item->Enabled());
      b->OnClick = item->OnClick;
    }
    ToolButtons.push_back(b);
    x += kToolButtonSize;
    return b;
  };
  auto gap = [&] { x += 8; };
  tool(aFileOpen, nullptr, nullptr);
  tool(aFileSave, nullptr, nullptr);
  gap();
  tool(aEditCopy, nullptr, nullptr);
  tool(aEditPaste, nullptr, nullptr);
  gap();
  tool(aDrawSelection, nullptr, nullptr)->SetGroupIndex(2);
  tool(aPickTransparentColor, nullptr, nullptr)->SetGroupIndex(2);
  gap();
  tool(aRotate270, nullptr, nullptr);
  tool(aRotate90, nullptr, nullptr);
  tool(aFlipH, nullptr, nullptr);
  tool(aFlipV, nullptr, nullptr);
  gap();
  tool(aDisplayZoomIn, nullptr, nullptr);
  tool(aDisplayZoomOut, nullptr, nullptr);
  tool(aDisplayAutoZoom, nullptr, nullptr);
  gap();
  tool(aTest, nullptr, nullptr);
  tool(aCustomizeFolders, nullptr, nullptr);
  tool(aCustomizeFileTypes, nullptr, nullptr);
  tool(nullptr, mnCustomizeWin, "Customuize Windows");
  gap();
  tool(aHelpReadyIcons, nullptr, nullptr);
  tool(aHelpContents, nullptr, nullptr);

  // ---- the option groups' own buttons ----
  btSelrf = new TButton(this);
  btSelrf->SetParent(gbResampling);
  btSelrf->SetBounds(272, 40, 26, 22);
  btSelrf->SetCaption("...");
  btSelrf->SetHint("Select resample filter");
  btSelrf->SetShowHint(true);
  btSelrf->OnClick = on(&TfmMain::btSelrfClick);
  btIcontrColor24->SetImages(il);
  btIcontrColor24->SetImageIndex(biPickColor);
  btIcontrColor24->SetDrawStyle({});
  btIcontrColor24->SetColor(clWhite);
  btIcontrColor24->SetHint("Select transparent color");
  btIcontrColor24->SetShowHint(true);
  btIcontrColor24->OnClick = on(&TfmMain::aDrawSelectTrColorExecute);
  btPickColor = new TImageButton(this);
  btPickColor->SetParent(gbTransparency);
  btPickColor->SetBounds(258, 41, 36, 22);
  btPickColor->SetFlat(true);
  btPickColor->SetAction(aPickTransparentColor);
  btDefault = new TButton(this);
  btDefault->SetParent(pnOptions);
  btDefault->SetBounds(6, 548, 100, 26);
  btDefault->SetAction(aDefault);
  btDefault->SetCaption("Default");
  // Room for the toolbar above and the Default button below the groups.
  SetClientHeight(ClientHeight() + pnBar->Height() + 36);

  img->OnMouseDown = [this](TObject* s, TMouseButton b, TShiftState sh, int mx, int my) { imgMouseDown(s, b, sh, mx, my); };
  img->OnMouseMove = [this](TObject* s, TShiftState sh, int mx, int my) { imgMouseMove(s, sh, mx, my); };
  img->OnMouseUp = [this](TObject* s, TMouseButton b, TShiftState sh, int mx, int my) { imgMouseUp(s, b, sh, mx, my); };
  img->OnMouseInResizingGrip = [this](TObject* s, int grip) { imgMouseInResizingGrip(s, grip); };
  // The toolbar has its pictures from its first paint on.
  LoadButtonImages(false);
}

// ---------------------------------------------------------------------------
// The source and the file commands

void TfmMain::NoteSource(const std::string& fileName) {
  FSourceNoted = true;
  FSourceName = fileName;
  FSourceChangedSinceSave = true;
}

std::string TfmMain::SaveProposal() {
  TOpenDialog* save = dm->SaveIconDialog;
  if (!save->FileName().empty() && !FSourceChangedSinceSave) return save->FileName();
  // Before any source of the user's, the last file the open dialog had.
  const std::string source = FSourceNoted ? FSourceName : dm->OpenDialog->FileName();
  if (FSourceNoted && source.empty()) return "";  // pasted or captured: no name to offer
  return ChangeFileExt(source, ".ico");
}

void TfmMain::aFileOpenExecute(TObject*) {
  TOpenDialog* open = dm->OpenDialog;
  open->SetFilter(kOpenFilter);
  if (!open->Execute()) return;
  if (LoadSourceImage(open->FileName(), dm->OpenDialog->IconIndex)) NoteSource(open->FileName());
}

void TfmMain::aFileSaveExecute(TObject*) {
  TOpenDialog* save = dm->SaveIconDialog;
  save->SetFileName(SaveProposal());
  if (!save->Execute()) return;
  const std::string name = ChangeFileExt(save->FileName(), ".ico");
  ResultIcon->SaveToFile(name);
  save->SetFileName(name);
  FSourceChangedSinceSave = false;
}

void TfmMain::aFileExitExecute(TObject*) { Close(); }

void TfmMain::mnToolsCaptureImageClick(TObject*) {
  TBitmap shot;
  shot.SetPixelFormat(pf24bit);
  shot.SetSize(Screen->Width(), Screen->Height());
  Application->Minimize();
  Application->ProcessMessages();
  Sleep(0);
  Sleep(500);
  TBitmap screen;
  const bool taken = UIBackend().CaptureScreen(TRect{0, 0, Screen->Width(), Screen->Height()}, &screen);
  Application->Restore();
  if (!taken) {
    MessageBox(Handle(), kCaptureRefused, "Warning", MB_OK | MB_ICONWARNING);
    return;
  }
  shot.Canvas()->Draw(0, 0, &screen);
  img->Assign(&shot);
  img->SetAutoFit(false);
  img->SetZoom(100);
  aDisplayAutoZoom->SetChecked(false);
  UpdateScaleMenu();
  lbSource->SetCaption("Screenshot");
  NoteSource("");
  RebuildBaseIcon();
}

// ---------------------------------------------------------------------------
// Clipboard, rotation and flipping

void TfmMain::aEditCopyExecute(TObject*) { img->GetProc()->CopySelectionToClipboard(); }

void TfmMain::aEditPasteExecute(TObject*) {
  if (!IsClipboardFormatAvailable(CF_DIB)) return;
  img->GetProc()->PasteFromClipboard();
  lbSource->SetCaption("");
  NoteSource("");
  RebuildBaseIcon();
}

void TfmMain::aEditPasteUpdate(TObject*) { aEditPaste->SetEnabled(IsClipboardFormatAvailable(CF_DIB)); }

void TfmMain::aEditSelectAllExecute(TObject*) {
  img->Deselect();
  RebuildPending = true;
}

void TfmMain::aRotate90Execute(TObject*) {
  img->GetProc()->Rotate(-90, false, 0, -1);
  RebuildBaseIcon();
}

void TfmMain::aRotate270Execute(TObject*) {
  img->GetProc()->Rotate(90, false, 0, -1);
  RebuildBaseIcon();
}

namespace {
// Mirrors the view's picture: through a 32-bit bitmap when it has alpha, so
// that the alpha turns with the colours.
void FlipView(TImageLibView* view, int direction) {
  TIEBitmap* picture = view->GetIEBitmap();
  if (picture->HasAlphaChannel()) {
    TBitmap work;
    IEBitmapToBitmap32(*picture, work);
    if (direction == 0) FlipHorizontal(&work);
    else FlipVertical(&work);
    Bitmap32ToIEBitmap(work, *picture);
    view->GetProc()->Update();
  } else {
    view->GetProc()->Flip(direction);
  }
}
}  // namespace

void TfmMain::aFlipHExecute(TObject*) {
  FlipView(img, 0);
  RebuildBaseIcon();
}

void TfmMain::aFlipVExecute(TObject*) {
  FlipView(img, 1);
  RebuildBaseIcon();
}

// ---------------------------------------------------------------------------
// View

void TfmMain::aDisplayAutoZoomUpdate(TObject*) { aDisplayAutoZoom->SetChecked(img->AutoFit()); }

void TfmMain::UpdateScaleMenu() {
  const int z = static_cast<int>(std::lround(img->Zoom()));
  mnScale1->SetChecked(z == 100);
  mnScale200->SetChecked(z == 200);
  mnScale400->SetChecked(z == 400);
}

void TfmMain::aDefaultExecute(TObject*) {
  lbStyles->SetItemIndex(0);
  lbStylesClick(lbStyles);
  rbAsIs->SetChecked(true);
  for (TTrackBar* t : {trHue, trSaturation, trLightness, trOpacity}) t->SetPosition(0);
  PresetSharpness();
  cbColorize->SetChecked(false);
  cbMergeBG->SetChecked(false);
  cbShrinkToFit->SetChecked(true);
  cbZoomToFit->SetChecked(false);
  cbConstrainProportions->SetChecked(true);
  cbSmoothResample->SetChecked(true);
  for (TCheckBox* b : {cbStyle48, cbStyle32, cbStyle16, cbEffects48, cbEffects32, cbEffects16}) b->SetChecked(true);
  for (TCheckBox* b : {cbShadow48, cbShadow32, cbShadow16}) b->SetChecked(false);
  RebuildPending = true;
}

// ---------------------------------------------------------------------------
// Test, help and web pages

void TfmMain::aTestExecute(TObject*) { ShowTestIcon(ResultIcon.get()); }
void TfmMain::aHelpContentsExecute(TObject*) { ShowHelp(); }
void TfmMain::aHelpHomePageExecute(TObject*) { ShellExecute(Handle(), nullptr, kMakerSite, "", "", SW_SHOWNORMAL); }
void TfmMain::aHelpReadyIconsExecute(TObject*) {
  ShellExecute(Handle(), nullptr, kReadyIconsPage, "", "", SW_SHOWNORMAL);
}
void TfmMain::Feedback1Click(TObject*) { ShellExecute(Handle(), nullptr, kFeedbackPage, "", "", SW_SHOWNORMAL); }

// ---------------------------------------------------------------------------
// Resampling and transparency tools

void TfmMain::btSelrfClick(TObject*) {
  const TIconResampleFilter before = FilterIndex;
  const int chosen = SelectResampleFilter(FilterIndex, [this](int index) {
    if (index < irfNone || index > irfAuto) return;
    FilterIndex = TIconResampleFilter(index);
    RebuildPending = true;
  });
  if (chosen < 0) {
    FilterIndex = before;
  } else {
    FilterIndex = TIconResampleFilter(chosen);
    cbSmoothResample->SetChecked(chosen != 0);
  }
  RebuildPending = true;
}

void TfmMain::aDrawSelectTrColorExecute(TObject*) {
  TColor colour = btIcontrColor24->Color();
  if (colour == kNoColour) colour = clWhite;
  const bool chosen = ChooseColor ? ChooseColor(colour) : SelectColor(colour);
  if (!chosen) return;
  btIcontrColor24->SetColor(ColorToRGB(colour));
  btIcontrColor24->SetDrawStyle({ibdsColored});
  btIcontrColor24->SetImages(nullptr);
  if (rbCustomColor->Checked()) RebuildPending = true;
  else rbCustomColor->SetChecked(true);
}

void TfmMain::aPickTransparentColorExecute(TObject*) {
  if (InColorPickMode()) return;
  SavedCursor = img->ViewCursor();
  Screen->SetCursor(crColorPick);
  img->SetViewCursor(crColorPick);
  rbCustomColor->SetChecked(true);
  img->SaveSelection();
  img->Deselect();
  img->SetMouseInteract(TIEMouseInteract{});
}

void TfmMain::aPickTransparentColorUpdate(TObject*) { aPickTransparentColor->SetChecked(InColorPickMode()); }

void TfmMain::aDrawSelectionExecute(TObject*) {
  const bool picking = InColorPickMode();
  img->SetViewCursor(kSelectionCursor);
  Screen->SetCursor(crDefault);
  // Leaving colour-pick mode this way also gives back the selection it put
  // aside, so the stack does not grow with every pick begun and left.
  if (picking) {
    img->RestoreSelection(true);
    img->SetMouseInteract(TIEMouseInteract{miSelect});
    RebuildPending = true;
  }
}

void TfmMain::aDrawSelectionUpdate(TObject*) { aDrawSelection->SetChecked(!InColorPickMode()); }

TColor TfmMain::PickColorAt(int x, int y) {
  TIEBitmap* picture = img->GetIEBitmap();
  const int bx = img->ScreenToBitmapX(x), by = img->ScreenToBitmapY(y);
  TColor colour = kNoColour;
  if (bx >= 0 && by >= 0 && bx < picture->Width() && by < picture->Height()) {
    const bool clear = picture->HasAlphaChannel() && picture->GetAlpha(bx, by) == 0;
    if (!clear) {
      TBitmap one;
      IEBitmapToBitmap32(*picture, one);
      colour = one.Canvas()->Pixels(bx, by) & 0xFFFFFF;
    }
  }
  btIcontrColor24->SetColor(colour);
  if (colour == kNoColour) {
    btIcontrColor24->SetDrawStyle({});
    btIcontrColor24->SetImages(il);
  } else {
    btIcontrColor24->SetDrawStyle({ibdsColored});
    btIcontrColor24->SetImages(nullptr);
  }
  return colour;
}

void TfmMain::EndPickColor(int x, int y) {
  img->SetViewCursor(SavedCursor);
  Screen->SetCursor(crDefault);
  PickColorAt(x, y);
  img->RestoreSelection(true);
  img->SetMouseInteract(TIEMouseInteract{miSelect});
  RebuildPending = true;
}

void TfmMain::imgMouseDown(TObject*, TMouseButton, TShiftState shift, int, int) {
  ShowSourceMessage("");
  if (shift.Contains(ssShift)) img->SetConstrainSelection(false);
}

void TfmMain::imgMouseMove(TObject*, TShiftState shift, int x, int y) {
  if (InColorPickMode()) {
    PickColorAt(x, y);
    return;
  }
  if (shift.Contains(ssShift)) img->SetConstrainSelection(false);
}

void TfmMain::imgMouseUp(TObject*, TMouseButton, TShiftState, int x, int y) {
  if (InColorPickMode()) EndPickColor(x, y);
}

void TfmMain::imgMouseInResizingGrip(TObject*, int grip) {
  // New selections and corner grips keep the selection square; a side grip
  // changes one side only.
  img->SetConstrainSelection(grip >= 0 && grip <= 4);
}
