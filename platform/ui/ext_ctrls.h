#pragma once
// Panels, bevels, paint boxes, images, speed buttons, bitmap buttons, radio
// groups and the timer.
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/strings.h"
#include "platform/ui/std_ctrls.h"

class TTimer : public TComponent {
public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  // Milliseconds between ticks; 0 stops the timer.
  UINT Interval() const { return FInterval; }
  void SetInterval(UINT value);
  TNotifyEvent OnTimer;

private:
  void UpdateTimer();
  HWND FWindow;
  bool FEnabled = true;
  UINT FInterval = 1000;
};

enum TBevelCut : uint8_t { bvNone, bvLowered, bvRaised, bvSpace };
using TPanelBevel = TBevelCut;

class TCustomPanel : public TCustomControl {
public:
  explicit TCustomPanel(TComponent* owner);
  TPanelBevel BevelInner() const { return FBevelInner; }
  void SetBevelInner(TPanelBevel value) { FBevelInner = value; Realign(); Invalidate(); }
  TPanelBevel BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TPanelBevel value) { FBevelOuter = value; Realign(); Invalidate(); }
  int BevelWidth() const { return FBevelWidth; }
  void SetBevelWidth(int value) { FBevelWidth = std::max(1, value); Realign(); Invalidate(); }
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle value) { FBorderStyle = value; Realign(); Invalidate(); }
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment value) { FAlignment = value; Invalidate(); }
  TVerticalAlignment VerticalAlignment() const { return FVerticalAlignment; }
  void SetVerticalAlignment(TVerticalAlignment value) { FVerticalAlignment = value; Invalidate(); }
  bool ParentBackground() const { return FParentBackground; }
  void SetParentBackground(bool value) { FParentBackground = value; }
  bool FullRepaint() const { return FFullRepaint; }
  void SetFullRepaint(bool value) { FFullRepaint = value; }

protected:
  void AdjustClientRect(TRect& rect) override;
  void Paint() override;

private:
  TPanelBevel FBevelInner = bvNone;
  TPanelBevel FBevelOuter = bvRaised;
  int FBevelWidth = 1;
  TBorderStyle FBorderStyle = bsNone;
  TAlignment FAlignment = taCenter;
  TVerticalAlignment FVerticalAlignment = taVerticalCenter;
  bool FParentBackground = false;
  bool FFullRepaint = true;
};

class TPanel : public TCustomPanel {
public:
  explicit TPanel(TComponent* owner) : TCustomPanel(owner) {}
};

enum TBevelStyle : uint8_t { bsLowered, bsRaised };
enum TBevelShape : uint8_t { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };

class TBevel : public TGraphicControl {
public:
  explicit TBevel(TComponent* owner);
  TBevelShape Shape() const { return FShape; }
  void SetShape(TBevelShape value) { FShape = value; Invalidate(); }
  TBevelStyle Style() const { return FStyle; }
  void SetStyle(TBevelStyle value) { FStyle = value; Invalidate(); }
  bool Transparent() const override { return true; }

protected:
  void Paint() override;

private:
  TBevelShape FShape = bsBox;
  TBevelStyle FStyle = bsLowered;
};

class TPaintBox : public TGraphicControl {
public:
  explicit TPaintBox(TComponent* owner);
  bool Transparent() const override { return true; }
  TNotifyEvent OnPaint;

protected:
  void Paint() override;
};

// A picture that plays frames (an animated GIF) lets an image control show them
// in turn: a picture class offers it by deriving from this as well as from TGraphic.
class TGraphicAnimation {
public:
  virtual ~TGraphicAnimation() = default;
  virtual int AnimationFrameCount() = 0;
  // Milliseconds frame index stays on screen.
  virtual int AnimationFrameDelay(int index) = 0;
  // Makes frame index the one the picture draws.
  virtual void SetAnimationFrame(int index) = 0;
};

class TImage : public TGraphicControl {
public:
  explicit TImage(TComponent* owner);
  ~TImage() override;
  TPicture* Picture() { return &FPicture; }
  void SetPicture(TPicture* value) { FPicture.Assign(value); }
  bool Stretch() const { return FStretch; }
  void SetStretch(bool value) { FStretch = value; Invalidate(); }
  bool Center() const { return FCenter; }
  void SetCenter(bool value) { FCenter = value; Invalidate(); }
  bool Proportional() const { return FProportional; }
  void SetProportional(bool value) { FProportional = value; Invalidate(); }
  bool Transparent() const override { return true; }
  // A transparent picture shows the parent through (bitmaps through their transparent colour).
  bool PictureTransparent() const { return FTransparent; }
  void SetTransparent(bool value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool value);
  // Plays an animated picture (on by default).
  bool Animate() const { return FAnimate; }
  void SetAnimate(bool value);
  int AnimationFrame() const { return FFrame; }
  // Where the picture is drawn within the control.
  TRect DestRect();
  // The canvas of the picture when it is a bitmap (a picture of another kind is
  // replaced by an empty bitmap first), as the framework gives it.
  TCanvas* PictureCanvas();
  TNotifyEvent OnProgress;

protected:
  void Paint() override;

private:
  void PictureChanged();
  void StartAnimation();
  TPicture FPicture;
  bool FStretch = false;
  bool FCenter = false;
  bool FProportional = false;
  bool FTransparent = false;
  bool FAutoSize = false;
  bool FAnimate = true;
  int FFrame = 0;
  std::unique_ptr<TTimer> FAnimationTimer;
};

enum TButtonLayout : uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
enum TButtonState : uint8_t { bsUp, bsDisabled, bsDown, bsExclusive };

// Draws a glyph of NumGlyphs parts and a caption on a button face, as speed
// buttons and bitmap buttons lay them out.
void DrawButtonGlyphAndText(TCanvas* canvas, const TRect& face, TBitmap* glyph, int numGlyphs, TButtonState state,
                            const std::string& caption, TButtonLayout layout, int margin, int spacing, bool enabled);

class TSpeedButton : public TGraphicControl {
public:
  explicit TSpeedButton(TComponent* owner);
  TBitmap* Glyph() { return &FGlyph; }
  void SetGlyph(TBitmap* value) { FGlyph.Assign(value); Invalidate(); }
  int NumGlyphs() const { return FNumGlyphs; }
  void SetNumGlyphs(int value) { FNumGlyphs = std::clamp(value, 1, 4); Invalidate(); }
  bool Flat() const { return FFlat; }
  void SetFlat(bool value) { FFlat = value; Invalidate(); }
  int GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(int value) { FGroupIndex = value; }
  bool Down() const { return FDown; }
  // Setting Down does not click; in a group the others come up.
  void SetDown(bool value);
  bool AllowAllUp() const { return FAllowAllUp; }
  void SetAllowAllUp(bool value);
  TButtonLayout Layout() const { return FLayout; }
  void SetLayout(TButtonLayout value) { FLayout = value; Invalidate(); }
  int Margin() const { return FMargin; }
  void SetMargin(int value) { FMargin = value; Invalidate(); }
  int Spacing() const { return FSpacing; }
  void SetSpacing(int value) { FSpacing = value; Invalidate(); }
  void Click() override;
  void ActionChange(TBasicAction* sender) override;

protected:
  void Paint() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseEnter() override;
  void MouseLeave() override;

private:
  void UpdateExclusive();
  TBitmap FGlyph;
  int FNumGlyphs = 1;
  bool FFlat = false;
  int FGroupIndex = 0;
  bool FDown = false;
  bool FAllowAllUp = false;
  TButtonLayout FLayout = blGlyphLeft;
  int FMargin = -1;
  int FSpacing = 4;
  bool FPressing = false;  // the mouse holds it down
  bool FMouseInside = false;
};

enum TBitBtnKind : uint8_t { bkCustom, bkOK, bkCancel, bkHelp, bkYes, bkNo, bkClose, bkAbort, bkRetry, bkIgnore, bkAll };

class TBitBtn : public TButton {
public:
  explicit TBitBtn(TComponent* owner);
  TBitmap* Glyph() { return &FGlyph; }
  void SetGlyph(TBitmap* value) { FGlyph.Assign(value); Invalidate(); }
  int NumGlyphs() const { return FNumGlyphs; }
  void SetNumGlyphs(int value) { FNumGlyphs = std::clamp(value, 1, 4); Invalidate(); }
  // A kind gives the button its caption and modal result (bkClose closes the form).
  TBitBtnKind Kind() const { return FKind; }
  void SetKind(TBitBtnKind value);
  TButtonLayout Layout() const { return FLayout; }
  void SetLayout(TButtonLayout value) { FLayout = value; Invalidate(); }
  int Margin() const { return FMargin; }
  void SetMargin(int value) { FMargin = value; Invalidate(); }
  int Spacing() const { return FSpacing; }
  void SetSpacing(int value) { FSpacing = value; Invalidate(); }
  void Click() override;

protected:
  void PaintContent(TCanvas* canvas, TRect face) override;

private:
  TBitmap FGlyph;
  int FNumGlyphs = 1;
  TBitBtnKind FKind = bkCustom;
  TButtonLayout FLayout = blGlyphLeft;
  int FMargin = -1;
  int FSpacing = 4;
};

class TCustomRadioGroup : public TCustomGroupBox {
public:
  explicit TCustomRadioGroup(TComponent* owner);
  ~TCustomRadioGroup() override;
  TStrings* Items() { return &FItems; }
  int ItemIndex() const { return FItemIndex; }
  // Checks the item's button; a change fires OnClick, as the framework does.
  void SetItemIndex(int value);
  int Columns() const { return FColumns; }
  void SetColumns(int value);
  int ButtonCount() const { return static_cast<int>(FButtons.size()); }
  TRadioButton* Buttons(int index) const { return FButtons.at(index); }

protected:
  void Resize() override;
  void EnabledChanged() override;

private:
  void ItemsChanged();
  void ArrangeButtons();
  void ButtonClick(TRadioButton* button);
  TStringList FItems;
  std::vector<TRadioButton*> FButtons;
  int FItemIndex = -1;
  int FColumns = 1;
  bool FUpdating = false;
};

class TRadioGroup : public TCustomRadioGroup {
public:
  explicit TRadioGroup(TComponent* owner) : TCustomRadioGroup(owner) {}
};
