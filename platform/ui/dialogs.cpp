#include "platform/ui/dialogs.h"

#include <algorithm>
#include <vector>

#include "platform/ui/ext_ctrls.h"
#include "platform/ui/forms.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/ui_paint.h"

namespace {

enum TBoxIcon : uint8_t { biNone, biStop, biQuestion, biWarning, biInformation };

struct TBoxButton {
  std::string caption;
  int result;
};

// Paints the symbol of a message box: a circle or triangle with its sign.
void PaintBoxIcon(TCanvas* c, TBoxIcon icon) {
  if (icon == biNone) return;
  c->Pen()->SetColor(clBlack);
  TColor fill = icon == biStop ? clRed : icon == biWarning ? clYellow : clBlue;
  c->Brush()->SetColor(fill);
  if (icon == biWarning) c->Polygon({Point(16, 1), Point(31, 30), Point(1, 30)});
  else c->Ellipse(1, 1, 31, 31);
  c->Font()->SetName("Tahoma");
  c->Font()->SetHeight(-20);
  c->Font()->SetStyle({fsBold});
  c->Font()->SetColor(icon == biWarning ? clBlack : clWhite);
  const char* sign = icon == biStop ? "X" : icon == biQuestion ? "?" : icon == biWarning ? "!" : "i";
  TRect r = Rect(1, icon == biWarning ? 6 : 1, 31, 31);
  DrawTextIn(c, sign, r, DT_SINGLELINE | DT_CENTER | DT_VCENTER, true);
}

// Builds the box, runs it and returns the result of the button pressed.
int RunBox(const std::string& text, const std::string& caption, TBoxIcon icon, const std::vector<TBoxButton>& buttons,
           int defaultIndex, int cancelResult, const TPoint* at) {
  InitializeUI();
  TForm form(nullptr);
  form.SetBorderStyle(bsDialog);
  form.SetCaption(caption);
  form.SetPosition(at ? poDesigned : poScreenCenter);
  form.SetKeyPreview(false);
  TPaintBox* symbol = nullptr;
  int left = 12;
  if (icon != biNone) {
    symbol = new TPaintBox(&form);
    symbol->SetBounds(12, 12, 32, 32);
    symbol->OnPaint = [symbol, icon](TObject*) { PaintBoxIcon(symbol->Canvas(), icon); };
    symbol->SetParent(&form);
    left = 56;
  }
  auto* label = new TLabel(&form);
  label->SetParent(&form);
  label->SetShowAccelChar(false);
  label->SetAutoSize(false);
  label->SetWordWrap(false);
  // The text wraps at a width that keeps the box readable.
  TBitmap probe;
  probe.SetSize(1, 1);
  probe.Canvas()->Font()->Assign(label->Font());
  TRect calc = Rect(0, 0, 0x7FFF, 0);
  DrawText(probe.Canvas()->Handle(), text.c_str(), static_cast<int>(text.size()), &calc, DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
  int textWidth = std::min<int>(calc.right, 420);
  calc = Rect(0, 0, textWidth, 0);
  DrawText(probe.Canvas()->Handle(), text.c_str(), static_cast<int>(text.size()), &calc,
           DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK | DT_EXPANDTABS);
  int textHeight = std::max<int>(calc.bottom, 13);
  label->SetWordWrap(true);
  label->SetBounds(left, icon != biNone ? std::max(12, 12 + (32 - textHeight) / 2) : 12, textWidth + 2, textHeight);
  label->SetCaption(text);
  int buttonsWidth = static_cast<int>(buttons.size()) * 75 + (static_cast<int>(buttons.size()) - 1) * 6;
  int clientWidth = std::max(left + textWidth + 14, buttonsWidth + 24);
  int top = std::max(label->Top() + textHeight, icon != biNone ? 44 : 0) + 16;
  int x = (clientWidth - buttonsWidth) / 2;
  std::vector<TButton*> made;
  for (size_t i = 0; i < buttons.size(); ++i) {
    auto* b = new TButton(&form);
    b->SetParent(&form);
    b->SetCaption(buttons[i].caption);
    b->SetModalResult(buttons[i].result);
    b->SetBounds(x, top, 75, 23);
    b->SetDefault(static_cast<int>(i) == defaultIndex);
    b->SetCancel(buttons[i].result == cancelResult);
    x += 81;
    made.push_back(b);
  }
  form.SetClientWidth(clientWidth);
  form.SetClientHeight(top + 23 + 12);
  if (at) form.SetBounds(at->x, at->y, form.Width(), form.Height());
  if (!made.empty()) form.SetActiveControl(made[std::clamp<size_t>(defaultIndex, 0, made.size() - 1)]);
  int result = form.ShowModal();
  // The close box (mrCancel) gives the cancel button's result, or the only button's.
  if (result == mrCancel && cancelResult == 0 && buttons.size() == 1) result = buttons[0].result;
  return result;
}

}  // namespace

int MessageBox(HWND, const char* text, const char* caption, UINT type) {
  std::vector<TBoxButton> buttons;
  int cancel = 0;
  switch (type & 0xF) {
    case MB_OKCANCEL: buttons = {{"OK", IDOK}, {"Cancel", IDCANCEL}}; cancel = IDCANCEL; break;
    case MB_ABORTRETRYIGNORE: buttons = {{"&Abort", IDABORT}, {"&Retry", IDRETRY}, {"&Ignore", IDIGNORE}}; break;
    case MB_YESNOCANCEL: buttons = {{"&Yes", IDYES}, {"&No", IDNO}, {"Cancel", IDCANCEL}}; cancel = IDCANCEL; break;
    case MB_YESNO: buttons = {{"&Yes", IDYES}, {"&No", IDNO}}; break;
    case MB_RETRYCANCEL: buttons = {{"&Retry", IDRETRY}, {"Cancel", IDCANCEL}}; cancel = IDCANCEL; break;
    default: buttons = {{"OK", IDOK}}; cancel = IDOK; break;
  }
  TBoxIcon icon = biNone;
  switch (type & 0xF0) {
    case MB_ICONHAND: icon = biStop; break;
    case MB_ICONQUESTION: icon = biQuestion; break;
    case MB_ICONEXCLAMATION: icon = biWarning; break;
    case MB_ICONASTERISK: icon = biInformation; break;
    default: break;
  }
  int def = static_cast<int>((type >> 8) & 0xF);
  if (def >= static_cast<int>(buttons.size())) def = 0;
  int result = RunBox(text ? text : "", caption ? caption : "Error", icon, buttons, def, cancel, nullptr);
  // A box without a cancel button cannot be closed by Escape or its close box.
  if (result == mrCancel && cancel == 0) result = buttons[0].result;
  return result;
}

int MessageDlgPos(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons, int, int x, int y) {
  static const char* const kCaptions[] = {"Warning", "Error", "Information", "Confirm", ""};
  static const TBoxIcon kIcons[] = {biWarning, biStop, biInformation, biQuestion, biNone};
  static const char* const kButtons[] = {"&Yes", "&No", "OK", "Cancel", "&Abort", "&Retry", "&Ignore", "&All",
                                         "N&o to All", "Yes to &All", "&Help"};
  static const int kResults[] = {mrYes, mrNo, mrOk, mrCancel, mrAbort, mrRetry, mrIgnore, mrAll, mrNoToAll, mrYesToAll, mrNone};
  InitializeUI();
  std::vector<TBoxButton> list;
  int def = -1, cancel = 0;
  for (int b = mbYes; b <= mbHelp; ++b) {
    if (!buttons.Contains(static_cast<TMsgDlgBtn>(b))) continue;
    if (def < 0 && (b == mbOK || b == mbYes)) def = static_cast<int>(list.size());
    list.push_back({kButtons[b], kResults[b]});
  }
  if (buttons.Contains(mbCancel)) cancel = mrCancel;
  else if (buttons.Contains(mbNo)) cancel = mrNo;
  else if (buttons.Contains(mbOK)) cancel = mrOk;
  if (list.empty()) list.push_back({"OK", mrOk});
  if (def < 0) def = 0;
  std::string caption = type == mtCustom ? Application->Title() : kCaptions[type];
  TPoint at = Point(x, y);
  return RunBox(msg, caption, kIcons[type], list, def, cancel, x >= 0 && y >= 0 ? &at : nullptr);
}

int MessageDlg(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons, int helpCtx) {
  return MessageDlgPos(msg, type, buttons, helpCtx, -1, -1);
}

void ShowMessage(const std::string& msg) {
  InitializeUI();
  RunBox(msg, Application->Title(), biNone, {{"OK", mrOk}}, 0, mrOk, nullptr);
}
