#pragma once
// The common controls: track bars, up-down buttons, progress bars and status bars.
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/controls.h"

enum TTrackBarOrientation : uint8_t { trHorizontal, trVertical };
enum TTickMark : uint8_t { tmBottomRight, tmTopLeft, tmBoth };
enum TTickStyle : uint8_t { tsNone, tsAuto, tsManual };

class TTrackBar : public TWinControl {
public:
  explicit TTrackBar(TComponent* owner);
  int Min() const { return FMin; }
  void SetMin(int value);
  int Max() const { return FMax; }
  void SetMax(int value);
  int Position() const { return FPosition; }
  // Kept within Min..Max; a change fires OnChange, also when set in code.
  void SetPosition(int value);
  int Frequency() const { return FFrequency; }
  void SetFrequency(int value) { FFrequency = std::max(1, value); Invalidate(); }
  int LineSize() const { return FLineSize; }
  void SetLineSize(int value) { FLineSize = value; }
  int PageSize() const { return FPageSize; }
  void SetPageSize(int value) { FPageSize = value; }
  TTrackBarOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TTrackBarOrientation value);
  TTickMark TickMarks() const { return FTickMarks; }
  void SetTickMarks(TTickMark value) { FTickMarks = value; Invalidate(); }
  TTickStyle TickStyle() const { return FTickStyle; }
  void SetTickStyle(TTickStyle value) { FTickStyle = value; Invalidate(); }
  UINT DialogCode() override { return DLGC_WANTARROWS; }
  TNotifyEvent OnChange;

protected:
  void Paint() override;
  void KeyDown(WORD& key, TShiftState shift) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  bool DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) override;

private:
  TRect ChannelRect();
  TRect ThumbRect();
  int PositionAt(int x, int y);
  int FMin = 0;
  int FMax = 10;
  int FPosition = 0;
  int FFrequency = 1;
  int FLineSize = 1;
  int FPageSize = 2;
  TTrackBarOrientation FOrientation = trHorizontal;
  TTickMark FTickMarks = tmBottomRight;
  TTickStyle FTickStyle = tsAuto;
  bool FDragging = false;
};

enum TProgressBarOrientation : uint8_t { pbHorizontal, pbVertical };

class TProgressBar : public TWinControl {
public:
  explicit TProgressBar(TComponent* owner);
  int Min() const { return FMin; }
  void SetMin(int value) { FMin = value; Invalidate(); }
  int Max() const { return FMax; }
  void SetMax(int value) { FMax = value; Invalidate(); }
  int Position() const { return FPosition; }
  void SetPosition(int value);
  int Step() const { return FStep; }
  void SetStep(int value) { FStep = value; }
  void StepIt() { SetPosition(FPosition + FStep); }
  void StepBy(int delta) { SetPosition(FPosition + delta); }
  bool Smooth() const { return FSmooth; }
  void SetSmooth(bool value) { FSmooth = value; Invalidate(); }
  TProgressBarOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TProgressBarOrientation value) { FOrientation = value; Invalidate(); }

protected:
  void Paint() override;

private:
  int FMin = 0;
  int FMax = 100;
  int FPosition = 0;
  int FStep = 10;
  bool FSmooth = false;
  TProgressBarOrientation FOrientation = pbHorizontal;
};

class TStatusBar;
enum TStatusPanelStyle : uint8_t { psText, psOwnerDraw };
enum TStatusPanelBevel : uint8_t { pbNone, pbLowered, pbRaised };

class TStatusPanel {
public:
  const std::string& Text() const { return FText; }
  void SetText(const std::string& value);
  int Width() const { return FWidth; }
  void SetWidth(int value);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment value);
  TStatusPanelStyle Style() const { return FStyle; }
  void SetStyle(TStatusPanelStyle value);
  TStatusPanelBevel Bevel() const { return FBevel; }
  void SetBevel(TStatusPanelBevel value);
  int Index() const { return FIndex; }

private:
  friend class TStatusBar;
  TStatusBar* FBar = nullptr;
  int FIndex = 0;
  std::string FText;
  int FWidth = 50;
  TAlignment FAlignment = taLeftJustify;
  TStatusPanelStyle FStyle = psText;
  TStatusPanelBevel FBevel = pbLowered;
};

using TDrawPanelEvent = std::function<void(TStatusBar* bar, TStatusPanel* panel, const TRect& rect)>;

class TStatusBar : public TWinControl {
public:
  explicit TStatusBar(TComponent* owner);
  ~TStatusBar() override;
  int PanelCount() const { return static_cast<int>(FPanels.size()); }
  TStatusPanel* Panels(int index) const { return FPanels.at(index).get(); }
  TStatusPanel* AddPanel();
  void ClearPanels();
  // With SimplePanel the bar shows SimpleText alone.
  bool SimplePanel() const { return FSimplePanel; }
  void SetSimplePanel(bool value) { FSimplePanel = value; Invalidate(); }
  const std::string& SimpleText() const { return FSimpleText; }
  void SetSimpleText(const std::string& value) { FSimpleText = value; Invalidate(); }
  bool SizeGrip() const { return FSizeGrip; }
  void SetSizeGrip(bool value) { FSizeGrip = value; Invalidate(); }
  // Shows the application's hint text in the bar (SimpleText, or the first panel).
  bool AutoHint() const { return FAutoHint; }
  void SetAutoHint(bool value) { FAutoHint = value; }
  TCanvas* Canvas() { return ControlCanvas(); }
  // The rectangle of a panel in the bar.
  TRect PanelRect(int index);
  TDrawPanelEvent OnDrawPanel;

protected:
  void Paint() override;

private:
  std::vector<std::unique_ptr<TStatusPanel>> FPanels;
  bool FSimplePanel = false;
  std::string FSimpleText;
  bool FSizeGrip = true;
  bool FAutoHint = false;
};

enum TUDAlignButton : uint8_t { udLeft, udRight };
enum TUDOrientation : uint8_t { udHorizontal, udVertical };
enum TUDBtnType : uint8_t { btNext, btPrev };
using TUDClickEvent = std::function<void(TObject* sender, TUDBtnType button)>;
using TUDChangingEvent = std::function<void(TObject* sender, bool& allowChange)>;

class TUpDown : public TWinControl {
public:
  explicit TUpDown(TComponent* owner);
  int Min() const { return FMin; }
  void SetMin(int value) { FMin = value; SetPosition(FPosition); }
  int Max() const { return FMax; }
  void SetMax(int value) { FMax = value; SetPosition(FPosition); }
  int Position() const { return FPosition; }
  // Setting Position in code fires neither OnChanging nor OnClick; it updates the associate's text.
  void SetPosition(int value);
  int Increment() const { return FIncrement; }
  void SetIncrement(int value) { FIncrement = value; }
  bool Wrap() const { return FWrap; }
  void SetWrap(bool value) { FWrap = value; }
  bool Thousands() const { return FThousands; }
  void SetThousands(bool value) { FThousands = value; }
  bool ArrowKeys() const { return FArrowKeys; }
  void SetArrowKeys(bool value) { FArrowKeys = value; }
  TUDOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TUDOrientation value) { FOrientation = value; Invalidate(); }
  // The edit whose text shows the position; the up-down sits at its right edge.
  TWinControl* Associate() const { return FAssociate; }
  void SetAssociate(TWinControl* value);
  TUDAlignButton AlignButton() const { return FAlignButton; }
  void SetAlignButton(TUDAlignButton value) { FAlignButton = value; SetAssociate(FAssociate); }
  // A step as a button press makes it: OnChanging (may refuse), the new position, OnClick.
  void Step(TUDBtnType button);
  TUDClickEvent OnClick;
  TUDChangingEvent OnChanging;

protected:
  void Paint() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void Notification(TComponent* component, TOperation operation) override;

private:
  void UpdateAssociate();
  int FMin = 0;
  int FMax = 100;
  int FPosition = 0;
  int FIncrement = 1;
  bool FWrap = false;
  bool FThousands = true;
  bool FArrowKeys = true;
  TUDOrientation FOrientation = udVertical;
  TWinControl* FAssociate = nullptr;
  TUDAlignButton FAlignButton = udRight;
  int FPressedHalf = -1;
};
