// The main window's commands: its image list, actions and main menu with their
// shortcuts, and the handlers of the view commands (zoom and the zoom filter)
// and of the web pages.
#include "app/main_window.h"

#include <string>
#include <vector>

#include "app/picture_utils.h"
#include "imaging/views/image_view.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/actions.h"
#include "platform/ui/img_list.h"
#include "platform/ui/menus.h"
#include "platform/win/shell.h"

const char* const kProgramHomePage = "https://www.marrowin.com/quorvane/";

void TfmMain::BuildCommands() {
  il = new TImageList(this);
  ActionList = new TActionList(this);
  ActionList->SetImages(il);
  auto action = [this](const char* caption, const char* hint) {
    auto* a = new TAction(this);
    a->SetActionList(ActionList);
    a->SetCaption(caption);
    a->SetHint(hint);
    return a;
  };
  aFileSave = action("Save", "");
  aTest = action("Test Icon", "");
  for (TAction* a : {aFileSave, aTest}) a->OnUpdate = [this](TObject* s) { aResultUpdate(s); };
  aDisplayZoomIn = action("Zoom In", "Increase scale|Increases the scale");
  aDisplayZoomIn->OnExecute = [this](TObject* s) { aDisplayZoomInExecute(s); };
  aDisplayZoomOut = action("Zoom Out", "Reduce scale|Reduces the scale");
  aDisplayZoomOut->OnExecute = [this](TObject* s) { aDisplayZoomOutExecute(s); };
  aDisplayAutoZoom = action("Automatic Zoom", "Zoom automatically|Resizes automatically the editor");
  aDisplayAutoZoom->SetChecked(true);
  aDisplayAutoZoom->OnExecute = [this](TObject* s) { aDisplayAutoZoomExecute(s); };

  mnMain = new TMainMenu(this);
  auto item = [this](TMenuItem* parent, const std::string& caption) {
    auto* m = new TMenuItem(this);
    m->SetCaption(caption);
    parent->Add(m);
    return m;
  };
  TMenuItem* view = item(mnMain->Items(), "&View");
  item(view, "Zoom In")->SetAction(aDisplayZoomIn);
  item(view, "Zoom Out")->SetAction(aDisplayZoomOut);
  mnScale1 = item(view, "&Actual size");
  mnScale1->OnClick = [this](TObject* s) { mnScale1Click(s); };
  item(view, "Automatic Zoom")->SetAction(aDisplayAutoZoom);
  TMenuItem* help = item(mnMain->Items(), "&Help");
  mnProgramHomePage = item(help, "&Home Page");
  mnProgramHomePage->OnClick = [this](TObject* s) { mnProgramHomePageClick(s); };
  mnHidden = item(mnMain->Items(), "Hidden");
  mnHidden->SetVisible(false);
  mnHiddenZoomIn = item(mnHidden, "Zoom In");
  mnHiddenZoomIn->OnClick = [this](TObject* s) { aDisplayZoomInExecute(s); };
  mnHiddenZoomOut = item(mnHidden, "Zoom Out");
  mnHiddenZoomOut->OnClick = [this](TObject* s) { aDisplayZoomOutExecute(s); };
  SetMenu(mnMain);
}

// The keypad shortcuts and the menu's images are given at the first
// activation, when the window's menu, actions and button images are all in
// place.
void TfmMain::SetCommandShortcuts() {
  aDisplayZoomIn->SetShortCut(ShortCut(VK_ADD, {}));
  aDisplayZoomOut->SetShortCut(ShortCut(VK_SUBTRACT, {}));
  aDisplayAutoZoom->SetShortCut(ShortCut(VK_MULTIPLY, {}));
  mnHiddenZoomIn->SetShortCut(ShortCut(VK_ADD, {ssCtrl}));
  mnHiddenZoomOut->SetShortCut(ShortCut(VK_SUBTRACT, {ssCtrl}));
  mnScale1->SetShortCut(ShortCut(VK_DIVIDE, {}));
  mnHidden->SetCaption("");
  mnMain->SetImages(il);
}

void TfmMain::imgPaint(TObject*) {
  // Zoomed out, the picture is resampled for the screen, unless it would
  // shrink to a couple of pixels.
  TIEBitmap* picture = img->GetIEBitmap();
  const double z = img->Zoom();
  const bool smooth = z < 100 && picture->Width() * z / 100 > 2 && picture->Height() * z / 100 > 2;
  const TResampleFilter filter = smooth ? rfTriangle : rfNone;
  if (img->ZoomFilter() != filter) img->SetZoomFilter(filter);
}

void TfmMain::aDisplayZoomInExecute(TObject*) {
  img->SetAutoFit(false);
  img->SetZoom(img->Zoom() * 2);
  aDisplayAutoZoom->SetChecked(false);
}

void TfmMain::aDisplayZoomOutExecute(TObject*) {
  img->SetAutoFit(false);
  img->SetZoom(img->Zoom() / 2);
  aDisplayAutoZoom->SetChecked(false);
}

void TfmMain::aDisplayAutoZoomExecute(TObject*) {
  img->SetAutoFit(true);
  img->Fit();
  aDisplayAutoZoom->SetChecked(true);
}

void TfmMain::mnScale1Click(TObject*) {
  img->SetAutoFit(false);
  img->SetZoom(100);
  aDisplayAutoZoom->SetChecked(false);
}

void TfmMain::mnProgramHomePageClick(TObject*) {
  ShellExecute(Handle(), nullptr, kProgramHomePage, "", "", SW_SHOWNORMAL);
}

void TfmMain::aResultUpdate(TObject* sender) {
  // The commands that take the result are enabled once they have a handler and
  // there is a result to take.
  if (auto* a = dynamic_cast<TAction*>(sender))
    a->SetEnabled(a->OnExecute != nullptr && ResultIcon && ResultIcon->Count() > 0);
}

// Files dropped on the window: the first one becomes the source, unless a
// folder is among them (then nothing is loaded, and nothing said). Each name
// is read at its full length, so that a long path is never cut into another.
void TfmMain::WMDropFiles(TMessage& message) {
  auto drop = reinterpret_cast<HDROP>(message.WParam);
  std::vector<std::string> names;
  const UINT count = DragQueryFile(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::string name(DragQueryFile(drop, i, nullptr, 0) + 1, '\0');
    name.resize(DragQueryFile(drop, i, name.data(), static_cast<UINT>(name.size())));
    names.push_back(name);
  }
  DragFinish(drop);
  message.Result = 0;
  if (names.empty()) return;
  for (const std::string& name : names)
    if (DirectoryExists(name)) return;
  // Save then proposes the dropped file's name (main_actions.cpp).
  if (LoadSourceImage(names.front())) NoteSource(names.front());
}

// The toolbar and menu pictures: "buttons.png" beside the program, or the
// strip built into the program when that file is missing or unreadable.
void TfmMain::LoadButtonImages(bool invalidate) {
  il->Clear();
  LoadImageList(NativePath(FProgramFolder + "buttons.png"), il, nullptr);
  if (il->Count() == 0) {
    TBitmap strip;
    if (LoadBitmapResource(&strip, "ILMAIN")) il->AddMasked(&strip, TColor(0xFF00FF));
  }
  if (invalidate) Invalidate();
}
