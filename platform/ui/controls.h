#pragma once
// The control tree: TControl (a rectangle with state, events and a canvas that
// paints into its form's backing bitmap), TWinControl (a control with a window
// handle, children, focus and keys), TGraphicControl and TCustomControl (the two
// bases of self-painted controls) and TScrollingWinControl.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/graphics_canvas.h"
#include "platform/rtl/object.h"
#include "platform/rtl/tset.h"
#include "platform/ui/messages.h"
#include "platform/ui/windows.h"

class TControl;
class TWinControl;
class TCustomForm;
class TPopupMenu;
class TBasicAction;

enum TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
enum TAnchorKind : uint8_t { akLeft, akTop, akRight, akBottom };
using TAnchors = TSet<TAnchorKind>;
enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };
enum TVerticalAlignment : uint8_t { taAlignTop, taAlignBottom, taVerticalCenter };
enum TBorderStyle : uint8_t { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
using TFormBorderStyle = TBorderStyle;

enum TControlStyleItem : uint8_t {
  csAcceptsControls, csCaptureMouse, csClickEvents, csFramed, csSetCaption, csOpaque, csDoubleClicks,
  csFixedWidth, csFixedHeight, csReplicatable, csNoStdEvents, csActionClient, csMenuEvents
};
using TControlStyle = TSet<TControlStyleItem>;
enum TControlStateItem : uint8_t { csLButtonDown, csClicked, csPalette, csReadingState, csFocusing, csCreating, csCustomPaint };
using TControlState = TSet<TControlStateItem>;

// Cursors: the standard ones are negative numbers; the program adds its own.
using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;
constexpr TCursor crHSplit = -14;
constexpr TCursor crVSplit = -15;
constexpr TCursor crMultiDrag = -16;
constexpr TCursor crSQLWait = -17;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;

using TMouseEvent = std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;
using TMouseWheelEvent =
    std::function<void(TObject* sender, TShiftState shift, int wheelDelta, TPoint mousePos, bool& handled)>;
using TKeyEvent = std::function<void(TObject* sender, WORD& key, TShiftState shift)>;
// The character as typed: one byte of the system code page (UTF-8 here; a
// character beyond ASCII arrives as its code point in WM_CHAR and as '?' here).
using TKeyPressEvent = std::function<void(TObject* sender, char& key)>;
using TContextPopupEvent = std::function<void(TObject* sender, TPoint mousePos, bool& handled)>;

// The canvas of a control: draws into the form's backing bitmap with the
// control's top-left as origin, clipped to what is visible of the control.
class TControlCanvas : public TCanvas {
public:
  explicit TControlCanvas(TControl* control) : FControl(control) {}
  ~TControlCanvas() override;
  TControl* Control() const { return FControl; }
  // Lets go of the form's DC (the painter calls it after each control).
  void FreeHandle();

protected:
  void CreateHandle() override;

private:
  friend class TWinControl;
  void Attach(HDC dc, const TRect& clipInControl);
  TControl* FControl;
  HDC FDC = nullptr;
  int FSaved = 0;
};

class TControl : public TComponent {
public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  // ---- place in the tree ----
  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* parent);
  bool HasParent() const { return FParent != nullptr; }

  // ---- bounds, relative to the parent's client area ----
  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  void SetLeft(int v) { SetBounds(v, FTop, FWidth, FHeight); }
  void SetTop(int v) { SetBounds(FLeft, v, FWidth, FHeight); }
  void SetWidth(int v) { SetBounds(FLeft, FTop, v, FHeight); }
  void SetHeight(int v) { SetBounds(FLeft, FTop, FWidth, v); }
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return Rect(FLeft, FTop, FLeft + FWidth, FTop + FHeight); }
  void SetBoundsRect(const TRect& r) { SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top); }
  virtual TRect ClientRect();
  int ClientWidth() { return ClientRect().right; }
  int ClientHeight() { return ClientRect().bottom; }
  void SetClientWidth(int value);
  void SetClientHeight(int value);
  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign value);
  TAnchors Anchors() const { return FAnchors; }
  void SetAnchors(TAnchors value);

  // ---- state ----
  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible, and every parent up to a shown form too.
  virtual bool Showing() const;
  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool value);
  // Enabled, and every parent too.
  bool IsEnabledInTree() const;
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool value);
  TFont* Font() { return FFont.get(); }
  void SetFont(TFont* value) { FFont->Assign(value); }
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool value);
  // Caption and Text are one string, as in the framework.
  const std::string& Caption() const { return FText; }
  void SetCaption(const std::string& value) { SetText(value); }
  virtual std::string Text() const { return FText; }
  virtual void SetText(const std::string& value);
  // "short|long": the short part shows in the hint window, the long one on the status bar.
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& value) { FHint = value; }
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool value);
  bool ParentShowHint() const { return FParentShowHint; }
  void SetParentShowHint(bool value);
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor value);
  TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* value);
  TBasicAction* Action() const { return FAction; }
  void SetAction(TBasicAction* value);
  TControlStyle ControlStyle() const { return FControlStyle; }
  void SetControlStyle(TControlStyle value) { FControlStyle = value; }
  TControlState ControlState() const { return FControlState; }

  // ---- painting ----
  // Marks the control for painting in the next paint pass of its form.
  virtual void Invalidate();
  // Paints what is marked in the control's form now.
  void Update();
  void Repaint();
  void Refresh() { Repaint(); }
  // Paints the control alone into the bitmap at its own size (tests, previews).
  void PaintTo(TCanvas* canvas, int x, int y);

  // ---- coordinates ----
  // The screen position of the client area's top-left corner.
  virtual TPoint ClientOrigin();
  TPoint ClientToScreen(TPoint point);
  TPoint ScreenToClient(TPoint point);
  // The control's rectangle in its form's client area.
  TRect FormRect();

  // ---- messages ----
  LRESULT Perform(UINT msg, WPARAM wParam, LPARAM lParam);
  virtual void WndProc(TMessage& message);
  // Runs the handler registered for the number, else DefaultHandler.
  virtual void Dispatch(TMessage& message);
  virtual void DefaultHandler(TMessage& message);
  // Registers the handler of a message number (the framework's message methods).
  void SetMessageHandler(UINT msg, TWndMethod handler);

  bool MouseCapture();
  void SetMouseCapture(bool value);
  virtual void Click();
  virtual void DblClick();
  void BringToFront();
  void SendToBack();

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnResize;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TMouseWheelEvent OnMouseWheel;
  TContextPopupEvent OnContextPopup;

  // The action link's view: an action changed and the control takes its values.
  virtual void ActionChange(TBasicAction* sender);

protected:
  friend class TWinControl;
  friend class TCustomForm;
  friend class TControlCanvas;

  // The control's own drawing; the canvas is ready (origin at the control's corner).
  virtual void Paint() {}
  // Draws the background (Color) before Paint; a transparent control draws none.
  virtual void EraseBackground(TCanvas* canvas);
  // Whether the control covers its rectangle, so its parent need not show through.
  virtual bool Transparent() const { return false; }
  TControlCanvas* ControlCanvas();
  bool HasControlCanvas() const { return FCanvas != nullptr; }

  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  // A click by the user (mouse or space bar): check boxes toggle here, others Click.
  virtual void UserClick() { Click(); }
  virtual void MouseMove(TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual bool DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos);
  virtual void MouseEnter();
  virtual void MouseLeave();
  virtual void Resize();
  virtual void TextChanged() { Invalidate(); }
  virtual void FontChanged() { Invalidate(); }
  virtual void EnabledChanged() { Invalidate(); }
  virtual void ColorChanged() { Invalidate(); }
  virtual void VisibleChanged();
  // Called on a parent's change of font or colour, for controls that follow it.
  void ParentFontChanged();
  void ParentColorChanged();
  void Notification(TComponent* component, TOperation operation) override;

  // Sets Visible without any of its consequences (a form starts hidden).
  void SetVisibleFlag(bool value) { FVisible = value; }
  void SetControlState(TControlState value) { FControlState = value; }
  void IncludeState(TControlStateItem s) { FControlState.Include(s); }
  void ExcludeState(TControlStateItem s) { FControlState.Exclude(s); }
  // When the control has not been placed yet: the initial size the class gives itself.
  void SetInitialBounds(int width, int height) { FWidth = width; FHeight = height; }
  // The anchor distances are taken again from the current bounds.
  void UpdateAnchorRules();

  TCustomForm* FindParentForm() const;

private:
  void HandleMouseMessage(TMessage& message);
  void FontOwnChanged();

  TWinControl* FParent = nullptr;
  int FLeft = 0;
  int FTop = 0;
  int FWidth = 0;
  int FHeight = 0;
  TAlign FAlign = alNone;
  TAnchors FAnchors{akLeft, akTop};
  // Distances kept for anchors, taken when the parent size is known.
  int FAnchorRight = 0;
  int FAnchorBottom = 0;
  int FAnchorParentWidth = -1;
  int FAnchorParentHeight = -1;
  bool FVisible = true;
  bool FEnabled = true;
  TColor FColor = clBtnFace;
  bool FParentColor = false;
  std::unique_ptr<TFont> FFont;
  bool FParentFont = true;
  bool FFontFromParent = false;
  std::string FText;
  std::string FHint;
  bool FShowHint = false;
  bool FParentShowHint = true;
  TCursor FCursor = crDefault;
  TPopupMenu* FPopupMenu = nullptr;
  TBasicAction* FAction = nullptr;
  TControlStyle FControlStyle{csCaptureMouse, csClickEvents, csDoubleClicks};
  TControlState FControlState;
  std::unique_ptr<TControlCanvas> FCanvas;
  std::map<UINT, TWndMethod> FHandlers;
};

class TWinControl : public TControl {
public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  // The window handle: made with the control, gone with it.
  HWND Handle() const { return FHandle; }
  bool HandleAllocated() const { return FHandle != nullptr; }
  static TWinControl* FindControl(HWND window);

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int index) const { return FControls.at(index); }
  // The child at a client point (visible ones; disabled ones too when allowDisabled).
  TControl* ControlAtPos(TPoint pos, bool allowDisabled, bool allowWinControls = true);
  bool ContainsControl(TControl* control) const;
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);

  // ---- focus and tab order ----
  int TabOrder() const;
  void SetTabOrder(int value);
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool value) { FTabStop = value; }
  virtual bool CanFocus() const;
  bool Focused() const;
  virtual void SetFocus();
  // The window children in tab order, depth first.
  void GetTabOrderList(std::vector<TWinControl*>& list);
  // The next (or previous) control that takes the focus after current.
  TWinControl* FindNextControl(TWinControl* current, bool goForward, bool checkTabStop, bool checkParent);
  void SelectNext(TWinControl* current, bool goForward, bool checkTabStop);

  bool DoubleBuffered() const { return FDoubleBuffered; }
  void SetDoubleBuffered(bool value) { FDoubleBuffered = value; }
  int BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int value);
  // Lays the aligned and anchored children out again.
  void Realign();
  void DisableAlign() { ++FAlignLevel; }
  void EnableAlign();

  void SetBounds(int left, int top, int width, int height) override;
  // The client area less the shown scroll bars.
  TRect ClientRect() override;
  void Invalidate() override;
  void WndProc(TMessage& message) override;
  void DefaultHandler(TMessage& message) override;

  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;
  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;

  // Key handling, called by the form with the focused control.
  virtual bool DoKeyDown(WORD& key, TShiftState shift);
  virtual bool DoKeyPress(char& key);
  virtual bool DoKeyUp(WORD& key, TShiftState shift);
  // Keys the control takes itself before the form looks for dialog keys
  // (Tab, arrows, Return, Escape); DLGC_* flags.
  virtual UINT DialogCode() { return 0; }
  // Whether a click gives the control the focus (buttons and edits do, panels do not).
  virtual bool FocusOnClick() const { return TabStop(); }

protected:
  friend class TControl;
  friend class TCustomForm;
  friend class TScrollingWinControl;
  virtual void KeyDown(WORD& key, TShiftState shift);
  virtual void KeyUp(WORD& key, TShiftState shift);
  virtual void KeyPress(char& key);
  virtual void DoEnter();
  virtual void DoExit();
  // The area the aligned children fill.
  virtual void AdjustClientRect(TRect& rect);
  virtual void AlignControls(TControl* control, TRect& rect);
  // Paints this control, then its children, clipped to clip (form coordinates).
  void PaintTree(HDC dc, const TRect& clip);
  // Paints the window's scroll bars, when it has any shown.
  void PaintScrollBars(TCanvas* canvas);
  void VisibleChanged() override;
  void EnabledChanged() override;
  void FontChanged() override;
  void ColorChanged() override;

private:
  // A press, drag or release on the window's own scroll bars; true when taken.
  bool ScrollBarMouse(TMessage& message);
  // Paints one control clipped to clip, leaving out the covered rectangles
  // (all in form coordinates).
  void PaintControl(TControl* control, HDC dc, const TRect& clip, const std::vector<TRect>& covered);
  // The parts of inner (form coordinates) that visible opaque windowed
  // children paint over completely.
  std::vector<TRect> OpaqueChildAreas(const TRect& inner);
  void TabOrderChanged();
  std::vector<TControl*> FControls;
  std::vector<TWinControl*> FTabList;
  HWND FHandle = nullptr;
  bool FTabStop = false;
  bool FDoubleBuffered = false;
  int FBorderWidth = 0;
  int FAlignLevel = 0;
  bool FAligning = false;
};

// DialogCode flags (WM_GETDLGCODE).
constexpr UINT DLGC_WANTARROWS = 0x0001;
constexpr UINT DLGC_WANTTAB = 0x0002;
constexpr UINT DLGC_WANTALLKEYS = 0x0004;
constexpr UINT DLGC_WANTCHARS = 0x0080;

// A control without a window: labels, images, paint boxes, speed buttons.
class TGraphicControl : public TControl {
public:
  explicit TGraphicControl(TComponent* owner);
  TCanvas* Canvas() { return ControlCanvas(); }
};

// A control with a window that paints itself.
class TCustomControl : public TWinControl {
public:
  explicit TCustomControl(TComponent* owner);
  TCanvas* Canvas() { return ControlCanvas(); }
};

class TScrollingWinControl;

// How a scrolling control shows part of a larger area: one bar per direction.
class TControlScrollBar : public TPersistent {
public:
  int Position() const { return FPosition; }
  void SetPosition(int value);
  int Range() const { return FRange; }
  void SetRange(int value);
  bool Visible() const { return FVisible; }
  void SetVisible(bool value);
  int Increment() const { return FIncrement; }
  void SetIncrement(int value) { FIncrement = value; }
  // Whether the bar shows now: visible, and the range exceeds the client size.
  bool IsScrollBarVisible();

private:
  friend class TScrollingWinControl;
  TScrollingWinControl* FControl = nullptr;
  int FKind = SB_HORZ;
  int FPosition = 0;
  int FRange = 0;
  int FIncrement = 8;
  bool FVisible = true;
};

class TScrollingWinControl : public TWinControl {
public:
  explicit TScrollingWinControl(TComponent* owner);
  TControlScrollBar* HorzScrollBar() { return &FHorz; }
  TControlScrollBar* VertScrollBar() { return &FVert; }
  bool AutoScroll() const { return FAutoScroll; }
  void SetAutoScroll(bool value);
  // Scrolls so that the control is in view.
  void ScrollInView(TControl* control);
  void WndProc(TMessage& message) override;

protected:
  friend class TControlScrollBar;
  // Moves the children by the change of a bar's position.
  void ScrollBy(int dx, int dy);
  void UpdateScrollBars();
  void Resize() override;

private:
  TControlScrollBar FHorz;
  TControlScrollBar FVert;
  bool FAutoScroll = true;
};

// The form a control is on; nullptr for a control not on any.
TCustomForm* GetParentForm(const TControl* control);
// The part of a "short|long" hint before or after the bar.
std::string GetShortHint(const std::string& hint);
std::string GetLongHint(const std::string& hint);
// The control under the mouse, the one holding the capture (controls without
// windows included), as the form's input routing sees them.
TControl* GetCaptureControl();
// Lets go of every control canvas that drew outside a paint pass (before the next pass).
void FreeControlCanvases();
void SetCaptureControl(TControl* control);
