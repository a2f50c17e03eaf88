#pragma once
// Forms and the program around them: TCustomForm/TForm (a top-level window whose
// controls paint into one backing bitmap), TDataModule, TApplication (the message
// loop, idle processing, exceptions, hints), TScreen and TMouse.
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_icon.h"
#include "platform/ui/controls.h"
#include "platform/ui/ui_backend.h"

class TMainMenu;
class TMenu;
class TCustomActionList;

using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;
constexpr TModalResult mrAll = 8;
constexpr TModalResult mrNoToAll = 9;
constexpr TModalResult mrYesToAll = 10;
constexpr TModalResult mrClose = 11;

enum TBorderIcon : uint8_t { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = TSet<TBorderIcon>;
enum TPosition : uint8_t {
  poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter, poDesktopCenter,
  poMainFormCenter, poOwnerFormCenter
};
enum TWindowState : uint8_t { wsNormal, wsMinimized, wsMaximized };
enum TFormStyle : uint8_t { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TCloseAction : uint8_t { caNone, caHide, caFree, caMinimize };
enum TFormStateItem : uint8_t { fsCreating, fsVisible, fsShowing, fsModal, fsActivated };
using TFormState = TSet<TFormStateItem>;

using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;
using TCloseQueryEvent = std::function<void(TObject* sender, bool& canClose)>;
using TShortCutEvent = std::function<void(const MSG& msg, bool& handled)>;

class TCustomForm : public TScrollingWinControl {
public:
  explicit TCustomForm(TComponent* owner);
  ~TCustomForm() override;
  // Deleting a form fires OnDestroy while the whole form is still alive, then destroys it.
  void operator delete(TCustomForm* form, std::destroying_delete_t);
  static void* operator new(std::size_t size);
  void operator delete(void* memory);
  // Fires OnCreate; called once the form's constructor has built its controls
  // (CreateForm and NewForm do it).
  virtual void AfterConstruction();

  // ---- the window ----
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle value);
  TBorderIcons BorderIcons() const { return FBorderIcons; }
  void SetBorderIcons(TBorderIcons value) { FBorderIcons = value; }
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition value) { FPosition = value; }
  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState value);
  TFormStyle FormStyle() const { return FFormStyle; }
  void SetFormStyle(TFormStyle value) { FFormStyle = value; }
  TIcon* Icon() { return &FIcon; }
  bool KeyPreview() const { return FKeyPreview; }
  void SetKeyPreview(bool value) { FKeyPreview = value; }
  TFormState FormState() const { return FFormState; }
  bool Active() const { return FActive; }
  TMainMenu* Menu() const { return FMenu; }
  void SetMenu(TMainMenu* value);
  TWindowKind WindowKind() const { return FKind; }
  bool TakesKeys() const { return FTakesKeys; }
  // A click elsewhere closes a popup that takes keys.
  virtual void DismissPopup() {}

  void SetBounds(int left, int top, int width, int height) override;
  TRect ClientRect() override;
  TPoint ClientOrigin() override;
  bool Showing() const override;
  void SetVisible(bool value) override;
  void SetText(const std::string& value) override;

  // ---- showing and closing ----
  void Show();
  void Hide();
  // Runs the form until ModalResult is set; the other forms take no input
  // meanwhile. EInvalidOperation "Cannot make a visible window modal" for a
  // visible form.
  virtual TModalResult ShowModal();
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult value) { FModalResult = value; }
  void Close();
  virtual bool CloseQuery();
  // Frees the form once the messages now queued have been handled.
  void Release();
  void BringToFront();

  // ---- focus ----
  TWinControl* ActiveControl() const { return FActiveControl; }
  void SetActiveControl(TWinControl* control);
  // Moves the focus; the old control hears OnExit before the new one's OnEnter.
  bool SetFocusedControl(TWinControl* control);
  void FocusControl(TWinControl* control);
  void DefocusControl(TWinControl* control, bool removing);

  // ---- keys ----
  // Menu and action-list shortcuts of the form.
  virtual bool IsShortCut(const MSG& msg);
  // Keys the form handles for its controls: Tab, Return (default button), Escape (cancel button).
  bool DialogKey(WORD key, TShiftState shift);
  // Action lists of the form (registered by TActionList with the form as owner).
  void AddActionList(TCustomActionList* list);
  void RemoveActionList(TCustomActionList* list);
  const std::vector<TCustomActionList*>& ActionLists() const { return FActionLists; }
  // Runs OnUpdate of every action of the form's lists (idle processing).
  void UpdateActions();

  // ---- painting ----
  // The bitmap every control of the form paints into (the window's client area).
  TBitmap* Backing() { return &FBacking; }
  // Marks a rectangle (backing coordinates) for the next paint pass.
  void InvalidateRect(const TRect& rect);
  // Paints and presents what is marked; false when nothing was.
  bool PaintDirty();
  // The rectangle of the menu bar above the client area (empty without a menu).
  TRect MenuBarRect();
  // Where the client area starts in the backing bitmap (below the menu bar).
  int ClientTop();
  // The window's whole client area: the backing bitmap's size.
  TRect WindowClientRect() const;
  // The canvas of the form itself.
  TCanvas* Canvas() { return ControlCanvas(); }
  // Saves the form's client area as it looks now (painted first) as PNG.
  void SaveToPng(const std::string& fileName);

  void WndProc(TMessage& message) override;

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnPaint;
  TShortCutEvent OnShortCut;

  // The width of the frame and of the caption the window manager adds (Width and
  // Height include them, as Windows counts them).
  int FrameWidth() const;
  int CaptionHeight() const;

protected:
  friend class TApplication;
  friend class TPopupMenu;
  friend class TControl;
  friend class TWinControl;
  friend class TScreen;
  virtual void DoCreate();
  virtual void DoDestroy();
  virtual void DoShow();
  virtual void DoHide();
  virtual void DoClose(TCloseAction& action);
  virtual void Activate();
  virtual void Deactivate();
  void Paint() override;
  void Resize() override;
  void VisibleChanged() override;
  // A popup form (menus, drop-downs, hints) has no frame and no taskbar entry.
  void SetWindowKind(TWindowKind kind) { FKind = kind; }
  // A popup that takes the keys while it shows (menus and drop-down lists; hints do not).
  void SetTakesKeys(bool value) { FTakesKeys = value; }
  void CloseModal();
  void Notification(TComponent* component, TOperation operation) override;
  // Moves the form to the place Position asks for, before it is shown.
  void PlaceForShow();

private:
  // The modal form running on top (the last brought to the front), if any.
  static TCustomForm* TopModalForm();
  void RouteMouse(TMessage& message);
  void RouteKey(TMessage& message);
  void EnsureWindow();
  void SyncBounds();
  void ResizeBacking();
  void PaintMenuBar(TCanvas* canvas);
  bool MenuBarClick(int x, int y);
  // The bar's item under x, -1 for none; and the left edge of item index.
  int MenuBarItemAt(int x);
  int MenuBarItemLeft(int index);
  // Opens the bar's item index, then its neighbours as Left and Right ask.
  void OpenMenuBarItem(int index, bool byKey);
  // Alt with a menu's underlined letter, or F10: true when a menu opened.
  bool MenuKey(WORD key, TShiftState shift);

  TFormBorderStyle FBorderStyle = bsSizeable;
  TBorderIcons FBorderIcons{biSystemMenu, biMinimize, biMaximize};
  TPosition FPosition = poDesigned;
  TWindowState FWindowState = wsNormal;
  TFormStyle FFormStyle = fsNormal;
  TIcon FIcon;
  bool FKeyPreview = false;
  TFormState FFormState;
  bool FActive = false;
  bool FWindowMade = false;
  bool FDestroyFired = false;
  TWindowKind FKind = wkForm;
  bool FTakesKeys = false;
  TMainMenu* FMenu = nullptr;
  TModalResult FModalResult = mrNone;
  TWinControl* FActiveControl = nullptr;
  std::vector<TCustomActionList*> FActionLists;
  TBitmap FBacking;
  TRect FDirty{};
  bool FHasDirty = false;
  TControl* FMouseControl = nullptr;  // the control the mouse is over
};

class TForm : public TCustomForm {
public:
  explicit TForm(TComponent* owner) : TCustomForm(owner) {}
};

// Makes a form and fires its OnCreate.
template <class T, class... A> T* NewForm(A&&... args) {
  T* form = new T(std::forward<A>(args)...);
  form->AfterConstruction();
  return form;
}

// A container for non-visual components (dialogs, action lists, image lists).
class TDataModule : public TComponent {
public:
  explicit TDataModule(TComponent* owner) : TComponent(owner) {}
  ~TDataModule() override;
  void AfterConstruction();
  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
};

using TIdleEvent = std::function<void(TObject* sender, bool& done)>;
using TExceptionEvent = std::function<void(TObject* sender, const std::exception& e)>;
using TMessageEvent = std::function<void(MSG& msg, bool& handled)>;

class TApplication : public TComponent {
public:
  explicit TApplication(TComponent* owner);
  ~TApplication() override;

  void Initialize();
  // Makes a form owned by the application; the first one becomes the main form.
  template <class T> void CreateForm(T*& reference) {
    T* form = new T(this);
    reference = form;
    if (!FMainForm) FMainForm = form;
    form->AfterConstruction();
  }
  // Shows the main form and runs the loop until Terminate.
  void Run();
  // Handles every queued message (and due timers), then returns. Re-entrant.
  void ProcessMessages();
  // Handles one message, or runs idle processing and waits when none is queued.
  void HandleMessage();
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Handles the exception being thrown now: OnException, or the exception box.
  void HandleException(TObject* sender);
  void ShowException(const std::exception& e);

  TCustomForm* MainForm() const { return FMainForm; }
  void SetMainForm(TCustomForm* form) { FMainForm = form; }
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& value) { FTitle = value; }
  const std::string& HelpFile() const { return FHelpFile; }
  void SetHelpFile(const std::string& value) { FHelpFile = value; }
  std::string ExeName() const;
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& value);
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool value) { FShowHint = value; }
  int HintPause() const { return FHintPause; }
  void SetHintPause(int value) { FHintPause = value; }
  int HintHidePause() const { return FHintHidePause; }
  void SetHintHidePause(int value) { FHintHidePause = value; }
  void CancelHint() {}
  void Minimize();
  void Restore();
  bool Minimized() const { return FMinimized; }
  bool Active() const { return true; }
  int ModalLevel() const { return FModalLevel; }
  // HELP_* command for the help file; true when the help viewer was started.
  bool HelpCommand(int command, intptr_t data);

  TIdleEvent OnIdle;
  TExceptionEvent OnException;
  TMessageEvent OnMessage;
  TNotifyEvent OnHint;
  TNotifyEvent OnMinimize;
  TNotifyEvent OnRestore;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;

private:
  friend class TCustomForm;
  bool ProcessMessage(MSG& msg);
  void Idle();
  void PaintForms();
  bool FTerminated = false;
  TCustomForm* FMainForm = nullptr;
  std::string FTitle;
  std::string FHelpFile;
  std::string FHint;
  bool FShowHint = true;
  int FHintPause = 500;
  int FHintHidePause = 2500;
  bool FMinimized = false;
  int FModalLevel = 0;
};

class TScreen : public TComponent {
public:
  explicit TScreen(TComponent* owner);
  ~TScreen() override;
  int Width();
  int Height();
  TRect WorkAreaRect();
  int WorkAreaWidth() { TRect r = WorkAreaRect(); return r.right - r.left; }
  int WorkAreaHeight() { TRect r = WorkAreaRect(); return r.bottom - r.top; }
  int PixelsPerInch() const { return 96; }
  // The cursor of the whole screen; crDefault lets each control show its own.
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor value);
  // The cursor table: standard cursors and the program's own. A new handle
  // replaces (and destroys) the one held under the number.
  HCURSOR Cursors(int index);
  void SetCursors(int index, HCURSOR handle);
  int FormCount() const { return static_cast<int>(FForms.size()); }
  TCustomForm* Forms(int index) const { return FForms.at(index); }
  TCustomForm* ActiveForm() const { return FActiveForm; }
  TWinControl* ActiveControl() const;
  std::vector<std::string> Fonts();
  TFont* HintFont() { return &FHintFont; }
  TFont* MenuFont() { return &FMenuFont; }
  TFont* IconFont() { return &FIconFont; }

private:
  friend class TCustomForm;
  friend class TApplication;
  friend void FinalizeUI();
  void AddForm(TCustomForm* form);
  void RemoveForm(TCustomForm* form);
  void ApplyCursor();
  TCursor FCursor = crDefault;
  std::map<int, HCURSOR> FCursors;
  std::vector<TCustomForm*> FForms;
  TCustomForm* FActiveForm = nullptr;
  TFont FHintFont;
  TFont FMenuFont;
  TFont FIconFont;
};

class TMouse {
public:
  TPoint CursorPos();
  void SetCursorPos(TPoint point);
  HWND Capture() { return GetCapture(); }
  bool MousePresent() const { return true; }
  int WheelScrollLines() const { return 3; }
};

// The popup that takes the keys now (the topmost shown menu or drop-down list), or nullptr.
TCustomForm* ActivePopupForm();
void DismissActivePopup();

// The program's application, screen and mouse; made on first use.
extern TApplication* Application;
extern TScreen* Screen;
extern TMouse* Mouse;
// Makes the three globals (once); the loop's wake-up call (SetWakeMainThread) is set here.
void InitializeUI();
// Frees every form and the globals (tests start again from nothing).
void FinalizeUI();
