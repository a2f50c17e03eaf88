#pragma once
// TImageButton: a window-less button that shows one image of an image list in
// the manner of a speed button. It can be flat with a hover frame, belong to a
// group of buttons that stay down, repeat its click while held, and drop a
// menu down at once, after a delay, or when the press lands on the small arrow
// in its bottom-right corner.
#include <cstdint>
#include <memory>

#include "platform/rtl/tset.h"
#include "platform/ui/controls.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/img_list.h"
#include "platform/ui/menus.h"

enum TibDrawStyle : uint8_t { ibdsColored, ibdsPalEntry, ibdsDropDown, ibdsAlwaysDropDown };
using TibDrawStyles = TSet<TibDrawStyle>;
enum TibButtonState : uint8_t { ibsUp, ibsDisabled, ibsDown, ibsExclusive };

// The first delay of an auto-repeat and the pace after it.
inline constexpr UINT kImageButtonFirstRepeat = 400;
inline constexpr UINT kImageButtonRepeat = 100;

class TImageButton : public TGraphicControl {
public:
  explicit TImageButton(TComponent* owner);
  ~TImageButton() override;

  TCustomImageList* Images() const { return FImages; }
  void SetImages(TCustomImageList* value);
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int value);
  TibDrawStyles DrawStyle() const { return FDrawStyle; }
  void SetDrawStyle(TibDrawStyles value);
  bool AutoRepeat() const { return FAutoRepeat; }
  void SetAutoRepeat(bool value) { FAutoRepeat = value; }
  TPopupMenu* DropDownMenu() const { return FDropDownMenu; }
  // Also turns AutoRepeat off: a held button drops its menu instead.
  void SetDropDownMenu(TPopupMenu* value);
  int DropDownDelay() const { return FDropDownDelay; }
  void SetDropDownDelay(int value) { FDropDownDelay = value; }
  bool AllowAllUp() const { return FAllowAllUp; }
  void SetAllowAllUp(bool value);
  int GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(int value);
  bool Down() const { return FDown; }
  // Only buttons of a group stay down; the last one down without AllowAllUp
  // stays so.
  void SetDown(bool value);
  bool Flat() const { return FFlat; }
  void SetFlat(bool value);
  TButtonLayout Layout() const { return FLayout; }
  void SetLayout(TButtonLayout value);
  int Margin() const { return FMargin; }
  // Values below -1 are ignored.
  void SetMargin(int value);
  int Spacing() const { return FSpacing; }
  void SetSpacing(int value);
  bool IsTransparent() const { return FTransparent; }
  void SetTransparent(bool value);

  TNotifyEvent OnDropDown;

  void Click() override;
  void ActionChange(TBasicAction* sender) override;
  bool HasDropDown() const;
  void DropDown();
  // The triangle of the bottom-right corner where the arrow is drawn.
  bool InDropDownCorner(int x, int y) const;

  TibButtonState State() const { return FState; }
  bool Pressed() const { return FPressed; }
  bool Hot() const { return FHot; }
  // The repeat or drop-down timer while a press holds it; nullptr otherwise.
  TTimer* Timer() const { return FRepeatTimer && FRepeatTimer->Enabled() ? FRepeatTimer.get() : nullptr; }
  // The button that last received the mouse, of all image buttons.
  static TImageButton* HotButton();

protected:
  void Paint() override;
  bool Transparent() const override { return FTransparent; }
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseEnter() override;
  void MouseLeave() override;
  void Notification(TComponent* component, TOperation operation) override;

private:
  // The press test of a held mouse: y may reach the client height itself, as
  // the framework's speed button has it.
  bool InsideForPress(int x, int y);
  void UpdateExclusive();
  void ButtonPressed(TMessage& message);
  void DialogChar(TMessage& message);
  void DoubleClick(TMessage& message);
  void TimerTick(TObject* sender);
  void StartTimer(UINT interval);
  void StopTimer();
  void EndPressAndDropDown();
  void UpdateHotState();
  void DrawFlatFrame(TCanvas* canvas, TRect rect);

  TCustomImageList* FImages = nullptr;
  int FImageIndex = -1;
  TibDrawStyles FDrawStyle{ibdsDropDown};
  bool FAutoRepeat = false;
  TPopupMenu* FDropDownMenu = nullptr;
  int FDropDownDelay = 0;
  bool FAllowAllUp = false;
  int FGroupIndex = 0;
  bool FDown = false;
  bool FFlat = false;
  TButtonLayout FLayout = blGlyphLeft;
  int FMargin = -1;
  int FSpacing = 4;
  bool FTransparent = true;
  TibButtonState FState = ibsUp;
  bool FPressed = false;
  bool FHot = false;
  std::unique_ptr<TTimer> FRepeatTimer;
  bool FInTick = false;
};
