#pragma once
// The standard controls: buttons, check boxes, radio buttons, labels, static
// text and group boxes.
#include <string>

#include "platform/ui/controls.h"

using TModalResult = int;

class TButtonControl : public TWinControl {
public:
  explicit TButtonControl(TComponent* owner);
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool value) { FWordWrap = value; Invalidate(); }
  bool FocusOnClick() const override { return true; }

protected:
  void KeyDown(WORD& key, TShiftState shift) override;
  void KeyUp(WORD& key, TShiftState shift) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  // Drawn pressed: the mouse holds it down over it, or the space bar does.
  bool Pressed() const { return FPressed; }

private:
  bool FWordWrap = false;
  bool FPressed = false;
  bool FSpaceDown = false;
};

class TButton : public TButtonControl {
public:
  explicit TButton(TComponent* owner);
  bool Default() const { return FDefault; }
  void SetDefault(bool value) { FDefault = value; Invalidate(); }
  bool Cancel() const { return FCancel; }
  void SetCancel(bool value) { FCancel = value; }
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult value) { FModalResult = value; }
  // Sets the form's ModalResult to the button's, then OnClick.
  void Click() override;
  void DefaultHandler(TMessage& message) override;

protected:
  void Paint() override;
  // The frame and face; TBitBtn draws its glyph and text on the face.
  virtual void PaintContent(TCanvas* canvas, TRect face);

private:
  bool FDefault = false;
  bool FCancel = false;
  TModalResult FModalResult = 0;
};

enum TCheckBoxState : uint8_t { cbUnchecked, cbChecked, cbGrayed };
enum TLeftRight : uint8_t { taLeftText, taRightText };

class TCheckBox : public TButtonControl {
public:
  explicit TCheckBox(TComponent* owner);
  bool Checked() const { return FState == cbChecked; }
  // A change fires OnClick, as the framework does.
  void SetChecked(bool value) { SetState(value ? cbChecked : cbUnchecked); }
  TCheckBoxState State() const { return FState; }
  void SetState(TCheckBoxState value);
  bool AllowGrayed() const { return FAllowGrayed; }
  void SetAllowGrayed(bool value) { FAllowGrayed = value; }
  TLeftRight Alignment() const { return FAlignment; }
  void SetAlignment(TLeftRight value) { FAlignment = value; Invalidate(); }
  // The next state as a click gives it.
  virtual void Toggle();
  void ActionChange(TBasicAction* sender) override;

protected:
  void UserClick() override { Toggle(); }
  void Paint() override;

private:
  TCheckBoxState FState = cbUnchecked;
  bool FAllowGrayed = false;
  TLeftRight FAlignment = taRightText;
};

class TRadioButton : public TButtonControl {
public:
  explicit TRadioButton(TComponent* owner);
  bool Checked() const { return FChecked; }
  // Checking unchecks the sibling radio buttons and fires OnClick; unchecking fires nothing.
  void SetChecked(bool value);
  TLeftRight Alignment() const { return FAlignment; }
  void SetAlignment(TLeftRight value) { FAlignment = value; Invalidate(); }
  UINT DialogCode() override { return DLGC_WANTARROWS; }

protected:
  void UserClick() override { SetChecked(true); }
  void KeyDown(WORD& key, TShiftState shift) override;
  void Paint() override;

private:
  bool FChecked = false;
  TLeftRight FAlignment = taRightText;
};

enum TTextLayout : uint8_t { tlTop, tlCenter, tlBottom };

class TCustomLabel : public TGraphicControl {
public:
  explicit TCustomLabel(TComponent* owner);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment value) { FAlignment = value; Invalidate(); }
  TTextLayout Layout() const { return FLayout; }
  void SetLayout(TTextLayout value) { FLayout = value; Invalidate(); }
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool value);
  void SetTransparent(bool value) { FTransparent = value; Invalidate(); }
  bool Transparent() const override { return FTransparent; }
  bool ShowAccelChar() const { return FShowAccelChar; }
  void SetShowAccelChar(bool value) { FShowAccelChar = value; AdjustBounds(); }
  TWinControl* FocusControl() const { return FFocusControl; }
  void SetFocusControl(TWinControl* value) { FFocusControl = value; }

protected:
  void Paint() override;
  void TextChanged() override;
  void FontChanged() override;
  // With AutoSize, the label takes the size of its text (wrapped at its width with WordWrap).
  void AdjustBounds();
  UINT TextFlags() const;

private:
  TAlignment FAlignment = taLeftJustify;
  TTextLayout FLayout = tlTop;
  bool FWordWrap = false;
  bool FAutoSize = true;
  bool FTransparent = false;
  bool FShowAccelChar = true;
  TWinControl* FFocusControl = nullptr;
};

class TLabel : public TCustomLabel {
public:
  explicit TLabel(TComponent* owner) : TCustomLabel(owner) {}
};

enum TStaticBorderStyle : uint8_t { sbsNone, sbsSingle, sbsSunken };

class TStaticText : public TWinControl {
public:
  explicit TStaticText(TComponent* owner);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment value) { FAlignment = value; Invalidate(); }
  TStaticBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TStaticBorderStyle value) { FBorderStyle = value; Invalidate(); }

protected:
  void Paint() override;

private:
  TAlignment FAlignment = taLeftJustify;
  TStaticBorderStyle FBorderStyle = sbsNone;
};

class TCustomGroupBox : public TCustomControl {
public:
  explicit TCustomGroupBox(TComponent* owner);

protected:
  void AdjustClientRect(TRect& rect) override;
  void Paint() override;
};

class TGroupBox : public TCustomGroupBox {
public:
  explicit TGroupBox(TComponent* owner) : TCustomGroupBox(owner) {}
};

// Draws a caption with its focus rectangle, as check boxes and radio buttons do.
void DrawControlCaption(TCanvas* canvas, const std::string& text, TRect rect, UINT format, bool enabled, bool focused);
