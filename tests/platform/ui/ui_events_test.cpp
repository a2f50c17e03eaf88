// The order in which controls fire their events, and which changes made in code
// fire them, as the framework defines it.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/threads.h"
#include "platform/ui/actions.h"
#include "platform/ui/com_ctrls.h"
#include "platform/ui/ext_ctrls.h"
#include "platform/ui/menus.h"
#include "platform/ui/std_ctrls.h"
#include "ui_test_support.h"

namespace {

using namespace headless;

struct ClickOrderCase {
  const char* name;
  std::function<TControl*(TForm*)> make;
  std::vector<std::string> expected;
};
// How the case reads in the test list and in a failure.
void PrintTo(const ClickOrderCase& c, std::ostream* os) { *os << c.name; }

template <class T> std::function<TControl*(TForm*)> Make() {
  return [](TForm* form) -> TControl* {
    auto* c = new T(form);
    c->SetParent(form);
    c->SetCaption("Caption");
    c->SetBounds(10, 10, 80, 24);
    return c;
  };
}

class ClickOrder : public UiTest, public ::testing::WithParamInterface<ClickOrderCase> {};

TEST_P(ClickOrder, MouseClickFiresDownClickUpInTheFrameworksOrder) {
  TForm* form = MakeForm();
  TControl* c = GetParam().make(form);
  c->OnMouseDown = NoteMouse("down");
  c->OnMouseUp = NoteMouse("up");
  c->OnClick = Note("click");
  form->Show();
  Click(c, 5, 5);
  ProcessMessages();
  EXPECT_EQ(log, GetParam().expected);
}

const std::vector<std::string> kDownClickUp{"down", "click", "up"};
INSTANTIATE_TEST_SUITE_P(Controls, ClickOrder,
                         ::testing::Values(ClickOrderCase{"Button", Make<TButton>(), kDownClickUp},
                                           ClickOrderCase{"CheckBox", Make<TCheckBox>(), kDownClickUp},
                                           ClickOrderCase{"RadioButton", Make<TRadioButton>(), kDownClickUp},
                                           ClickOrderCase{"PaintBox", Make<TPaintBox>(), kDownClickUp},
                                           ClickOrderCase{"Panel", Make<TPanel>(), kDownClickUp},
                                           ClickOrderCase{"Label", Make<TLabel>(), kDownClickUp},
                                           ClickOrderCase{"SpeedButton", Make<TSpeedButton>(), {"down", "up", "click"}}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(UiTest, ReleaseOutsideTheControlGivesNoClick) {
  TForm* form = MakeForm();
  auto* b = new TButton(form);
  b->SetBounds(10, 10, 80, 24);
  b->SetParent(form);
  b->OnClick = Note("click");
  b->OnMouseUp = NoteMouse("up");
  form->Show();
  MouseDown(b, 5, 5);
  MouseMove(b, 150, 150, {ssLeft});
  MouseUp(b, 150, 150);  // the capture brings the release to the button
  ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"up"}));
}

TEST_F(UiTest, DisabledControlTakesNoMouse) {
  TForm* form = MakeForm();
  auto* b = new TButton(form);
  b->SetBounds(10, 10, 80, 24);
  b->SetParent(form);
  b->OnClick = Note("click");
  b->SetEnabled(false);
  form->Show();
  Click(b, 5, 5);
  ProcessMessages();
  EXPECT_TRUE(log.empty());
}

TEST_F(UiTest, DoubleClickFiresDblClickBeforeTheSecondMouseDown) {
  TForm* form = MakeForm();
  auto* p = new TPaintBox(form);
  p->SetBounds(0, 0, 50, 50);
  p->SetParent(form);
  p->OnClick = Note("click");
  p->OnDblClick = Note("dblclick");
  p->OnMouseDown = [&](TObject*, TMouseButton, TShiftState s, int, int) {
    log.push_back(s.Contains(ssDouble) ? "down+double" : "down");
  };
  form->Show();
  DoubleClick(p, 3, 3);
  ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"down", "click", "dblclick", "down+double"}));
}

// ---- changes made in code ----

struct ChangeCase {
  const char* name;
  // Builds the control on the form, hooks the log, and returns the change to make.
  std::function<std::function<void()>(TForm*, std::vector<std::string>&)> setup;
  std::vector<std::string> expected;
};
// How the case reads in the test list and in a failure.
void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

class CodeChange : public UiTest, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(CodeChange, FiresTheEventsTheFrameworkFires) {
  TForm* form = MakeForm();
  auto change = GetParam().setup(form, log);
  change();
  EXPECT_EQ(log, GetParam().expected) << GetParam().name;
}

template <class T> T* On(TForm* form) {
  auto* c = new T(form);
  c->SetParent(form);
  return c;
}

INSTANTIATE_TEST_SUITE_P(
    Controls, CodeChange,
    ::testing::Values(
        ChangeCase{"CheckBoxCheckedFiresOnClick",
                   [](TForm* f, std::vector<std::string>& log) {
                     auto* c = On<TCheckBox>(f);
                     c->OnClick = [&log](TObject*) { log.push_back("click"); };
                     return std::function<void()>([c] { c->SetChecked(true); c->SetChecked(true); });
                   },
                   {"click"}},
        ChangeCase{"RadioButtonCheckedFiresOnClickOnlyWhenChecking",
                   [](TForm* f, std::vector<std::string>& log) {
                     auto* a = On<TRadioButton>(f);
                     auto* b = On<TRadioButton>(f);
                     a->OnClick = [&log](TObject*) { log.push_back("a"); };
                     b->OnClick = [&log](TObject*) { log.push_back("b"); };
                     return std::function<void()>([a, b] { a->SetChecked(true); b->SetChecked(true); a->SetChecked(false); });
                   },
                   {"a", "b"}},
        ChangeCase{"TrackBarPositionFiresOnChange",
                   [](TForm* f, std::vector<std::string>& log) {
                     auto* bar = On<TTrackBar>(f);
                     bar->OnChange = [&log, bar](TObject*) { log.push_back("change " + std::to_string(bar->Position())); };
                     return std::function<void()>([bar] { bar->SetPosition(4); bar->SetPosition(4); bar->SetPosition(99); });
                   },
                   {"change 4", "change 10"}},
        ChangeCase{"RadioGroupItemIndexFiresOnClick",
                   [](TForm* f, std::vector<std::string>& log) {
                     auto* g = On<TRadioGroup>(f);
                     g->Items()->Add("one");
                     g->Items()->Add("two");
                     g->OnClick = [&log, g](TObject*) { log.push_back("click " + std::to_string(g->ItemIndex())); };
                     return std::function<void()>([g] { g->SetItemIndex(1); });
                   },
                   {"click 1"}},
        ChangeCase{"SpeedButtonDownDoesNotClick",
                   [](TForm* f, std::vector<std::string>& log) {
                     auto* s = On<TSpeedButton>(f);
                     s->SetGroupIndex(1);
                     s->OnClick = [&log](TObject*) { log.push_back("click"); };
                     return std::function<void()>([s, &log] { s->SetDown(true); log.push_back(s->Down() ? "down" : "up"); });
                   },
                   {"down"}},
        ChangeCase{"UpDownPositionFiresNothing",
                   [](TForm* f, std::vector<std::string>& log) {
                     auto* u = On<TUpDown>(f);
                     u->OnClick = [&log](TObject*, TUDBtnType) { log.push_back("click"); };
                     u->OnChanging = [&log](TObject*, bool&) { log.push_back("changing"); };
                     return std::function<void()>([u] { u->SetPosition(5); });
                   },
                   {}},
        ChangeCase{"MenuItemCheckedDoesNotClick",
                   [](TForm* f, std::vector<std::string>& log) {
                     auto* m = new TPopupMenu(f);
                     auto* i = new TMenuItem(f);
                     m->Items()->Add(i);
                     i->OnClick = [&log](TObject*) { log.push_back("click"); };
                     return std::function<void()>([i] { i->SetChecked(true); });
                   },
                   {}},
        ChangeCase{"ActionCheckedDoesNotExecuteButReachesItsClients",
                   [](TForm* f, std::vector<std::string>& log) {
                     auto* list = new TActionList(f);
                     auto* a = new TAction(f);
                     a->SetActionList(list);
                     a->OnExecute = [&log](TObject*) { log.push_back("execute"); };
                     auto* c = On<TCheckBox>(f);
                     c->SetAction(a);
                     c->OnClick = [&log](TObject*) { log.push_back("click"); };
                     return std::function<void()>([a, c, &log] { a->SetChecked(true); log.push_back(c->Checked() ? "checked" : "unchecked"); });
                   },
                   {"checked"}}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- modal loops, idle, timers ----

TEST_F(UiTest, ShowModalReturnsTheResultOfTheButtonTheScriptPresses) {
  TForm* form = MakeForm();
  auto* ok = new TButton(form);
  ok->SetParent(form);
  ok->SetModalResult(mrOk);
  auto* other = MakeForm();
  other->Show();
  form->OnShow = Note("show");
  form->OnClose = [&](TObject*, TCloseAction&) { log.push_back("close"); };
  Headless().Then([&] {
    log.push_back(other->Enabled() ? "other enabled" : "other disabled");
    Click(ok);
  });
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_FALSE(form->Visible());
  EXPECT_TRUE(other->Enabled());
  EXPECT_EQ(log, (std::vector<std::string>{"show", "other disabled", "close"}));
  EXPECT_THROW(
      {
        form->Show();
        form->ShowModal();
      },
      EInvalidOperation);
}

// An activation of the main form that reaches it while a modal dialog runs
// (sent before the dialog opened, delivered after) leaves the dialog on top.
TEST_F(UiTest, ALateActivationOfADisabledFormKeepsTheModalFormOnTop) {
  TForm* main = MakeForm();
  main->Show();
  TForm* dialog = MakeForm();
  Headless().Then([&] {
    SendMessage(main->Handle(), WM_ACTIVATE, 1, 0);
    log.push_back(Headless().ActiveWindow() == dialog->Handle() ? "dialog raised" : "main raised");
    log.push_back(Screen->ActiveForm() == dialog ? "dialog active" : "main active");
    dialog->SetModalResult(mrOk);
  });
  dialog->ShowModal();
  EXPECT_EQ(log, (std::vector<std::string>{"dialog raised", "dialog active"}));
  // Enabled again, the main form takes an activation as before.
  SendMessage(main->Handle(), WM_ACTIVATE, 1, 0);
  EXPECT_EQ(Headless().ActiveWindow(), main->Handle());
}

TEST_F(UiTest, CloseQueryCanRefuseAndTheCloseBoxGivesCancel) {
  TForm* form = MakeForm();
  int asked = 0;
  form->OnCloseQuery = [&](TObject*, bool& canClose) { canClose = ++asked > 1; };
  Headless().Then([&] { CloseWindow(form); });
  Headless().Then([&] { CloseWindow(form); });
  EXPECT_EQ(form->ShowModal(), mrCancel);
  EXPECT_EQ(asked, 2);
}

TEST_F(UiTest, IdleAndActionUpdatesRunInsideAModalLoop) {
  TForm* main = MakeForm();
  auto* list = new TActionList(main);
  auto* action = new TAction(main);
  action->SetActionList(list);
  int updates = 0;
  action->OnUpdate = [&](TObject*) { ++updates; };
  main->Show();
  TForm* dialog = MakeForm();
  int idles = 0;
  Application->OnIdle = [&](TObject*, bool& done) {
    ++idles;
    done = true;
  };
  Headless().Then([&] { dialog->SetModalResult(mrOk); });
  dialog->ShowModal();
  EXPECT_GT(idles, 0);
  EXPECT_GT(updates, 0);
}

TEST_F(UiTest, IdleNotDoneRunsAgainWithoutWaiting) {
  MakeForm()->Show();
  int idles = 0;
  Application->OnIdle = [&](TObject*, bool& done) { done = ++idles >= 3; };
  int waits = Headless().WaitCount();
  Headless().Then([] {});
  for (int i = 0; i < 3; ++i) Application->HandleMessage();
  EXPECT_EQ(idles, 3);
  EXPECT_EQ(Headless().WaitCount(), waits + 1);  // only the idle that was done waited
}

TEST_F(UiTest, TimersTickOnTheLoopsClockAndStopWhenDisabled) {
  TForm* form = MakeForm();
  auto* timer = new TTimer(form);
  timer->SetInterval(100);
  int ticks = 0;
  timer->OnTimer = [&](TObject*) {
    if (++ticks == 3) form->SetModalResult(mrOk);
  };
  uint64_t start = Headless().Now();
  form->ShowModal();
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(Headless().Now() - start, 300u);
  timer->SetEnabled(false);
  EXPECT_EQ(NextTimerDue(), 0xFFFFFFFFu);
}

TEST_F(UiTest, PostingFromAWorkerWakesAWaitingLoop) {
  TForm* form = MakeForm();
  std::thread::id seenOn;
  form->SetMessageHandler(WM_USER + 1, [&](TMessage& m) {
    seenOn = std::this_thread::get_id();
    form->SetModalResult(static_cast<TModalResult>(m.WParam));
  });
  std::thread worker;
  form->OnShow = [&](TObject*) {
    worker = std::thread([&] { PostMessage(form->Handle(), WM_USER + 1, mrYes, 0); });
  };
  // Nothing is scripted and no timer runs: only the post can end the wait.
  EXPECT_EQ(form->ShowModal(), mrYes);
  worker.join();
  EXPECT_EQ(seenOn, std::this_thread::get_id());
}

TEST_F(UiTest, SendMessageFromAWorkerRunsOnTheMainThreadAndReturnsTheResult) {
  TForm* form = MakeForm();
  form->SetMessageHandler(WM_USER + 2, [&](TMessage& m) { m.Result = static_cast<LRESULT>(m.WParam * 2); });
  LRESULT result = 0;
  std::thread worker([&] {
    result = SendMessage(form->Handle(), WM_USER + 2, 21, 0);
    PostMessage(form->Handle(), WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(form->ShowModal(), mrCancel);
  worker.join();
  EXPECT_EQ(result, 42);
}

TEST_F(UiTest, ProcessMessagesIsReentrant) {
  TForm* form = MakeForm();
  form->SetMessageHandler(WM_USER + 3, [&](TMessage& m) {
    log.push_back("outer " + std::to_string(m.WParam));
    if (m.WParam == 1) {
      PostMessage(form->Handle(), WM_USER + 3, 2, 0);
      Application->ProcessMessages();
      log.push_back("outer done");
    }
  });
  PostMessage(form->Handle(), WM_USER + 3, 1, 0);
  PostMessage(form->Handle(), WM_USER + 3, 3, 0);
  Application->ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"outer 1", "outer 3", "outer 2", "outer done"}));
}

TEST_F(UiTest, ExceptionsInHandlersReachOnException) {
  TForm* form = MakeForm();
  auto* b = new TButton(form);
  b->SetParent(form);
  b->OnClick = [](TObject*) { throw EConvertError("bad number"); };
  std::string seen;
  Application->OnException = [&](TObject*, const std::exception& e) { seen = e.what(); };
  form->Show();
  Click(b);
  EXPECT_NO_THROW(Application->HandleMessage());
  ProcessMessages();
  EXPECT_EQ(seen, "bad number");
}

// ---- keys ----

TEST_F(UiTest, KeyPreviewLetsTheFormSeeKeysFirstAndSwallowThem) {
  TForm* form = MakeForm();
  form->SetKeyPreview(true);
  auto* b = new TButton(form);
  b->SetParent(form);
  form->OnKeyDown = [&](TObject*, WORD& key, TShiftState) {
    log.push_back("form " + std::to_string(key));
    if (key == 'X') key = 0;
  };
  form->OnKeyPress = [&](TObject*, char& key) { log.push_back(std::string("form press ") + key); };
  b->OnKeyDown = [&](TObject*, WORD& key, TShiftState) { log.push_back("button " + std::to_string(key)); };
  b->OnKeyPress = [&](TObject*, char& key) { log.push_back(std::string("button press ") + key); };
  form->Show();
  ASSERT_EQ(form->ActiveControl(), b);
  PressKey('A');
  PressKey('X');
  TypeText("q");
  ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"form 65", "button 65", "form 88", "form press q", "button press q"}));
}

TEST_F(UiTest, ShortcutsOfMenusAndActionsIncludingKeypadKeys) {
  TForm* form = MakeForm();
  auto* menu = new TMainMenu(form);
  auto* top = new TMenuItem(form);
  top->SetCaption("&View");
  menu->Items()->Add(top);
  auto* zoomIn = new TMenuItem(form);
  zoomIn->SetShortCut(ShortCut(VK_ADD, {ssCtrl}));
  zoomIn->SetVisible(false);  // an invisible item still carries its shortcut
  zoomIn->OnClick = Note("zoom in");
  top->Add(zoomIn);
  form->SetMenu(menu);
  auto* list = new TActionList(form);
  auto* save = new TAction(form);
  save->SetActionList(list);
  save->SetShortCut(TextToShortCut("Ctrl+S"));
  save->OnExecute = Note("save");
  auto* disabled = new TAction(form);
  disabled->SetActionList(list);
  disabled->SetShortCut(ShortCut(VK_F5, {}));
  disabled->SetEnabled(false);
  disabled->OnExecute = Note("refresh");
  auto* edit = new TButton(form);
  edit->SetParent(form);
  edit->OnKeyDown = [&](TObject*, WORD& key, TShiftState) { log.push_back("key " + std::to_string(key)); };
  form->Show();
  PressKey(VK_ADD, {ssCtrl});
  PressKey('S', {ssCtrl});
  PressKey(VK_F5);
  ProcessMessages();
  // Ctrl itself reaches the control; the shortcuts do not. A disabled action's shortcut is swallowed.
  EXPECT_EQ(log, (std::vector<std::string>{"key 17", "zoom in", "key 17", "save"}));
  EXPECT_EQ(ShortCutToText(zoomIn->ShortCut()), "Ctrl+Num +");
  EXPECT_EQ(TextToShortCut("Shift+Del"), ShortCut(VK_DELETE, {ssShift}));
}

TEST_F(UiTest, TabMovesTheFocusInTabOrderWithExitBeforeEnter) {
  TForm* form = MakeForm();
  std::vector<TButton*> buttons;
  for (int i = 0; i < 3; ++i) {
    auto* b = new TButton(form);
    b->SetParent(form);
    b->SetCaption(std::to_string(i));
    b->SetBounds(10, 10 + 30 * i, 75, 25);
    b->OnEnter = Note("enter " + std::to_string(i));
    b->OnExit = Note("exit " + std::to_string(i));
    buttons.push_back(b);
  }
  buttons[2]->SetTabOrder(0);  // order 2, 0, 1
  buttons[0]->SetTabStop(false);
  form->Show();
  PressKey(VK_TAB);
  PressKey(VK_TAB, {ssShift});
  ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"enter 2", "exit 2", "enter 1", "exit 1", "enter 2"}));
  // A click focuses a control that takes the focus.
  log.clear();
  Click(buttons[0]);
  ProcessMessages();
  EXPECT_EQ(form->ActiveControl(), buttons[0]);
  EXPECT_EQ(log, (std::vector<std::string>{"exit 2", "enter 0"}));
}

TEST_F(UiTest, ReturnAndEscapePressTheDefaultAndCancelButtons) {
  TForm* form = MakeForm();
  auto* ok = new TButton(form);
  ok->SetParent(form);
  ok->SetDefault(true);
  ok->SetModalResult(mrOk);
  auto* cancel = new TButton(form);
  cancel->SetParent(form);
  cancel->SetCancel(true);
  cancel->SetModalResult(mrCancel);
  auto* check = new TCheckBox(form);
  check->SetParent(form);
  form->SetActiveControl(check);
  Headless().Then([] { PressKey(VK_RETURN); });
  EXPECT_EQ(form->ShowModal(), mrOk);
  form->SetActiveControl(check);
  Headless().Then([] { PressKey(VK_ESCAPE); });
  EXPECT_EQ(form->ShowModal(), mrCancel);
  // The space bar clicks the focused check box.
  form->SetActiveControl(check);
  Headless().Then([] { PressKey(VK_SPACE); });
  Headless().Then([&] { form->SetModalResult(mrNo); });
  form->ShowModal();
  EXPECT_TRUE(check->Checked());
}

// ---- menus ----

TEST_F(UiTest, PopupMenuClicksTheItemChosenAfterClosingAndKnowsItsComponent) {
  TForm* form = MakeForm();
  auto* box = new TPaintBox(form);
  box->SetBounds(0, 0, 100, 100);
  box->SetParent(form);
  auto* popup = new TPopupMenu(form);
  auto* first = new TMenuItem(form);
  first->SetCaption("First");
  auto* line = new TMenuItem(form);
  line->SetCaption("-");
  auto* second = new TMenuItem(form);
  second->SetCaption("Second");
  second->SetRadioItem(true);
  second->SetAutoCheck(true);
  popup->Items()->Add(first);
  popup->Items()->Add(line);
  popup->Items()->Add(second);
  box->SetPopupMenu(popup);
  popup->OnPopup = Note("popup");
  second->OnClick = [&](TObject*) {
    log.push_back(ActivePopupForm() ? "open" : "closed");
    log.push_back(popup->PopupComponent() == box ? "box" : "other");
  };
  form->Show();
  MouseDown(box, 10, 10, mbRight);
  MouseUp(box, 10, 10, mbRight);
  // The menu runs its own loop: the script picks the second item by keys.
  Headless().Then([] {
    PressKey(VK_DOWN);
    PressKey(VK_DOWN);
    PressKey(VK_RETURN);
  });
  ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"popup", "closed", "box"}));
  EXPECT_TRUE(second->Checked());
}

// The menu bar by keyboard alone: Alt with an underlined letter or F10 opens a
// menu, the arrows move through items, into a sub-menu and across the bar,
// Return or an item's letter runs it, Escape closes without running anything.
TEST_F(UiTest, MenuBarWorksByKeyboardAlone) {
  TForm* form = MakeForm();
  auto* menu = new TMainMenu(form);
  auto add = [&](TMenuItem* parent, const std::string& caption) {
    auto* item = new TMenuItem(form);
    item->SetCaption(caption);
    item->OnClick = Note(caption);
    parent->Add(item);
    return item;
  };
  TMenuItem* file = add(menu->Items(), "&File");
  add(file, "&Open");
  add(file, "-");
  add(file, "E&xit");
  TMenuItem* view = add(menu->Items(), "&View");
  add(view, "Zoom In");
  add(view, "Zoom Out")->SetEnabled(false);
  TMenuItem* factor = add(view, "Zoom &Factor");
  add(factor, "&200 %");
  add(factor, "&400 %");
  form->SetMenu(menu);
  form->Show();
  // Each step runs once the loop waits again (a new drop-down takes the keys
  // the script sends from then on).
  struct Case {
    const char* name;
    std::vector<std::function<void()>> steps;
    TShortCut opener;
    std::vector<std::string> clicked;
  };
  const std::vector<Case> cases = {
      // Alt+V: the first item is lit; Down skips the disabled one; Right opens
      // the sub-menu, whose second item Down then Return runs.
      {"AltLetterArrowsAndSubMenu",
       {[] {
          PressKey(VK_DOWN);
          PressKey(VK_RIGHT);
        },
        [] {
          PressKey(VK_DOWN);
          PressKey(VK_RETURN);
        }},
       ShortCut('V', {ssAlt}), {"&View", "Zoom &Factor", "&400 %"}},
      // F10 opens the first menu; Right moves to the next one; Up goes round
      // to the last item, which opens its sub-menu by Return; Left closes the
      // sub-menu only, and letters run the items.
      {"F10RightAndLetters",
       {[] { PressKey(VK_RIGHT); },
        [] {
          PressKey(VK_UP);
          PressKey(VK_RETURN);
        },
        [] { PressKey(VK_LEFT); },
        [] { TypeText("f"); },
        [] { TypeText("2"); }},
       ShortCut(VK_F10, {}), {"&View", "Zoom &Factor", "Zoom &Factor", "&200 %"}},
      {"EscapeRunsNothing", {[] { PressKey(VK_ESCAPE); }}, ShortCut('F', {ssAlt}), {}},
      // Left from the first menu goes round to the last one; Return on its
      // first item runs it.
      {"LeftGoesRound", {[] { PressKey(VK_LEFT); }, [] { PressKey(VK_RETURN); }}, ShortCut('F', {ssAlt}),
       {"&View", "Zoom In"}},
  };
  for (const Case& c : cases) {
    log.clear();
    bool opened = false;
    for (size_t i = 0; i < c.steps.size(); ++i)
      Headless().Then([&, i] {
        if (i == 0) opened = ActivePopupForm() != nullptr;
        c.steps[i]();
      });
    WORD key = static_cast<WORD>(c.opener & 0xFF);
    PressKey(key, c.opener & scAlt ? TShiftState{ssAlt} : TShiftState{});
    ProcessMessages();
    EXPECT_TRUE(opened) << c.name;
    // The bar's own OnClick fires as each menu opens; only the last run counts here.
    std::vector<std::string> ran;
    for (const std::string& entry : log)
      if (entry != "&File") ran.push_back(entry);
    EXPECT_EQ(ran, c.clicked) << c.name;
    EXPECT_EQ(ActivePopupForm(), nullptr) << c.name;
  }
}

// Keys that the desktop hands to the menu's form, not to the drop-down (which
// never takes the activation), still reach the open drop-down.
TEST_F(UiTest, AnOpenMenuTakesTheKeysSentToItsForm) {
  TForm* form = MakeForm();
  auto* popup = new TPopupMenu(form);
  for (const char* caption : {"One", "Two"}) {
    auto* item = new TMenuItem(form);
    item->SetCaption(caption);
    item->OnClick = Note(caption);
    popup->Items()->Add(item);
  }
  form->Show();
  Headless().Then([&] {
    for (WORD key : {WORD(VK_DOWN), WORD(VK_DOWN), WORD(VK_RETURN)}) PostMessage(form->Handle(), WM_KEYDOWN, key, 1);
  });
  popup->Popup(20, 20);
  EXPECT_EQ(log, (std::vector<std::string>{"Two"}));
}

}  // namespace

namespace {

using namespace headless;

// A worker whose Synchronize must run on the waiting main loop.
class TSyncWorker : public TThread {
public:
  explicit TSyncWorker(TForm* form) : TThread(true), FForm(form) {}

protected:
  void Execute() override {
    Synchronize([this] { FForm->SetModalResult(mrRetry); });
  }

private:
  TForm* FForm;
};

TEST_F(UiTest, SynchronizeFromAThreadRunsInsideAWaitingModalLoop) {
  TForm* form = MakeForm();
  TSyncWorker worker(form);
  form->OnShow = [&](TObject*) { worker.Start(); };
  EXPECT_EQ(form->ShowModal(), mrRetry);
  worker.WaitFor();
}

class TMainForm : public TForm {
public:
  explicit TMainForm(TComponent* owner) : TForm(owner) {}
};

TEST_F(UiTest, RunShowsTheMainFormAndClosingItEndsTheProgram) {
  TMainForm* main = nullptr;
  Application->CreateForm(main);
  TForm* second = nullptr;
  Application->CreateForm(second);
  EXPECT_EQ(Application->MainForm(), main);
  main->OnShow = Note("show");
  main->OnActivate = Note("activate");
  main->OnCloseQuery = [&](TObject*, bool&) { log.push_back("closequery"); };
  main->OnClose = [&](TObject*, TCloseAction&) { log.push_back("close"); };
  main->OnDestroy = Note("destroy");
  Headless().Then([&] { CloseWindow(main); });
  Application->Run();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_FALSE(second->Visible());
  EXPECT_EQ(log, (std::vector<std::string>{"show", "activate", "closequery", "close"}));
  delete main;  // OnDestroy runs while the whole form still stands
  EXPECT_EQ(log.back(), "destroy");
}

}  // namespace
