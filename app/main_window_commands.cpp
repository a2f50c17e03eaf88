// The main window's commands: its image list, actions and main menu with their
// shortcuts, and the handlers of the view commands (zoom and the zoom filter)
// and of the web pages.
#include "app/main_window.h"
#include "imaging/views/image_view.h"
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
  aDisplayZoomIn = action("", "Increase scale|Increases the scale");
  aDisplayZoomIn->OnExecute = [this](TObject* s) { aDisplayZoomInExecute(s); };
  aDisplayZoomOut = action("", "Reduce scale|Reduces the scale");
  aDisplayZoomOut->OnExecute = [this](TObject* s) { aDisplayZoomOutExecute(s); };
  aDisplayAutoZoom = action("", "Zoom automatically|Resizes automatically the editor");
  aDisplayAutoZoom->SetChecked(true);
  aDisplayAutoZoom->OnExecute = [this](TObject* s) { aDisplayAutoZoomExecute(s); };

  mnMain = new TMainMenu(this);
  mnMain->SetImages(il);
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

// The keypad shortcuts are given at the first activation, when the window's
// menu and actions are all in place.
void TfmMain::SetCommandShortcuts() {
  aDisplayZoomIn->SetShortCut(ShortCut(VK_ADD, {}));
  aDisplayZoomOut->SetShortCut(ShortCut(VK_SUBTRACT, {}));
  aDisplayAutoZoom->SetShortCut(ShortCut(VK_MULTIPLY, {}));
  mnHiddenZoomIn->SetShortCut(ShortCut(VK_ADD, {ssCtrl}));
  mnHiddenZoomOut->SetShortCut(ShortCut(VK_SUBTRACT, {ssCtrl}));
  mnScale1->SetShortCut(ShortCut(VK_DIVIDE, {}));
  mnHidden->SetCaption("");
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
