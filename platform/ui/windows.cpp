#include "platform/ui/windows.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/rtl/threads.h"
#include "platform/ui/ui_backend.h"
#include "platform/win/system_info.h"

namespace {

// A SendMessage from another thread waits here until the loop has run it.
struct CrossThreadSend {
  MSG msg;
  LRESULT result = 0;
  bool done = false;
  std::exception_ptr error;
};

struct WindowTable {
  std::mutex lock;
  std::map<HWND, std::shared_ptr<TWndMethod>> methods;
  uintptr_t next = 0x10010;
};

struct Queue {
  std::mutex lock;
  std::condition_variable sent;
  std::deque<MSG> posted;
  std::deque<CrossThreadSend*> sends;
};

WindowTable& Windows() {
  static WindowTable t;
  return t;
}
Queue& TheQueue() {
  static Queue q;
  return q;
}

std::shared_ptr<TWndMethod> MethodOf(HWND window) {
  auto& t = Windows();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.methods.find(window);
  return it == t.methods.end() ? nullptr : it->second;
}

bool OnMainThread() { return std::this_thread::get_id() == MainThreadID(); }

LRESULT CallWindow(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto method = MethodOf(window);
  if (!method || !*method) return 0;
  TMessage m{msg, wParam, lParam, 0};
  (*method)(m);
  return m.Result;
}

// Runs the sends that other threads wait on; true when any ran.
bool RunCrossThreadSends() {
  auto& q = TheQueue();
  bool any = false;
  for (;;) {
    CrossThreadSend* s = nullptr;
    {
      std::lock_guard<std::mutex> guard(q.lock);
      if (q.sends.empty()) break;
      s = q.sends.front();
      q.sends.pop_front();
    }
    LRESULT r = 0;
    std::exception_ptr error;
    try {
      r = CallWindow(s->msg.hwnd, s->msg.message, s->msg.wParam, s->msg.lParam);
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> guard(q.lock);
      s->result = r;
      s->error = error;
      s->done = true;
    }
    q.sent.notify_all();
    any = true;
  }
  return any;
}

struct Timer {
  HWND window;
  UINT_PTR id;
  UINT elapse;
  TIMERPROC proc;
  uint64_t due;
};
std::vector<Timer>& Timers() {
  static std::vector<Timer> t;
  return t;
}
UINT_PTR gNextTimerId = 0x7F00;

std::array<uint8_t, 256>& KeyTable() {
  static std::array<uint8_t, 256> keys{};
  return keys;
}
POINT gCursor{};
HWND gCapture = nullptr;

struct ScrollBarState {
  SCROLLINFO info;
  bool shown = false;
  bool forced = false;  // ShowScrollBar decided
};
// The style words of windows that were given one (main thread only).
std::map<HWND, std::array<LONG, 2>>& WindowStyles() {
  static std::map<HWND, std::array<LONG, 2>> styles;
  return styles;
}

std::map<std::pair<HWND, int>, ScrollBarState>& ScrollBars() {
  static std::map<std::pair<HWND, int>, ScrollBarState> bars;
  return bars;
}
std::function<void(HWND, int)>& ScrollListener() {
  static std::function<void(HWND, int)> listener;
  return listener;
}

}  // namespace

HWND AllocateHWnd(TWndMethod method) {
  auto& t = Windows();
  std::lock_guard<std::mutex> guard(t.lock);
  HWND h = reinterpret_cast<HWND>(t.next);
  t.next += 4;
  t.methods[h] = std::make_shared<TWndMethod>(std::move(method));
  return h;
}

void DeallocateHWnd(HWND window) {
  {
    auto& t = Windows();
    std::lock_guard<std::mutex> guard(t.lock);
    t.methods.erase(window);
  }
  RemoveQueuedMessages(window);
  auto& timers = Timers();
  timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const Timer& x) { return x.window == window; }),
               timers.end());
  if (gCapture == window) gCapture = nullptr;
  ScrollBars().erase({window, SB_HORZ});
  ScrollBars().erase({window, SB_VERT});
  ScrollBars().erase({window, SB_CTL});
  WindowStyles().erase(window);
}

LONG GetWindowLong(HWND window, int index) {
  if (index != GWL_STYLE && index != GWL_EXSTYLE) return 0;
  auto it = WindowStyles().find(window);
  return it == WindowStyles().end() ? 0 : it->second[index == GWL_EXSTYLE ? 1 : 0];
}

LONG SetWindowLong(HWND window, int index, LONG value) {
  if ((index != GWL_STYLE && index != GWL_EXSTYLE) || !IsWindow(window)) return 0;
  LONG& slot = WindowStyles()[window][index == GWL_EXSTYLE ? 1 : 0];
  const LONG old = slot;
  slot = value;
  if (index == GWL_EXSTYLE && ((old ^ value) & WS_EX_APPWINDOW))
    UIBackend().SetWindowTaskbarButton(window, (value & WS_EX_APPWINDOW) != 0);
  return old;
}

BOOL IsWindow(HWND window) { return window && MethodOf(window) ? TRUE : FALSE; }

LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (OnMainThread()) return CallWindow(window, msg, wParam, lParam);
  if (!IsWindow(window)) return 0;
  CrossThreadSend s;
  s.msg.hwnd = window;
  s.msg.message = msg;
  s.msg.wParam = wParam;
  s.msg.lParam = lParam;
  auto& q = TheQueue();
  {
    std::lock_guard<std::mutex> guard(q.lock);
    q.sends.push_back(&s);
  }
  UIBackend().Wake();
  std::unique_lock<std::mutex> guard(q.lock);
  q.sent.wait(guard, [&] { return s.done; });
  if (s.error) std::rethrow_exception(s.error);
  return s.result;
}

BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (window && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  MSG m;
  m.hwnd = window;
  m.message = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = GetTickCount();
  m.pt = gCursor;
  {
    auto& q = TheQueue();
    std::lock_guard<std::mutex> guard(q.lock);
    q.posted.push_back(m);
  }
  UIBackend().Wake();
  return TRUE;
}

void PostQuitMessage(int exitCode) { PostMessage(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0); }

BOOL PeekMessage(MSG* msg, bool remove) {
  if (OnMainThread()) RunCrossThreadSends();
  auto& q = TheQueue();
  std::lock_guard<std::mutex> guard(q.lock);
  if (q.posted.empty()) return FALSE;
  *msg = q.posted.front();
  if (remove) q.posted.pop_front();
  return TRUE;
}

LRESULT DispatchMessage(const MSG* msg) {
  if (!msg->hwnd) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  return CallWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void RemoveQueuedMessages(HWND window) {
  auto& q = TheQueue();
  std::lock_guard<std::mutex> guard(q.lock);
  q.posted.erase(std::remove_if(q.posted.begin(), q.posted.end(), [&](const MSG& m) { return m.hwnd == window; }),
                 q.posted.end());
}

bool MessagesWaiting() {
  auto& q = TheQueue();
  std::lock_guard<std::mutex> guard(q.lock);
  return !q.posted.empty() || !q.sends.empty();
}

// ---- timers ----

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  if (window && !IsWindow(window)) return 0;
  if (elapse < 10) elapse = 10;  // Windows' floor (USER_TIMER_MINIMUM)
  auto& timers = Timers();
  if (!window) id = gNextTimerId++;
  uint64_t due = UIBackend().Now() + elapse;
  for (Timer& t : timers) {
    if (t.window == window && t.id == id) {
      t.elapse = elapse;
      t.proc = proc;
      t.due = due;
      return window ? 1 : id;
    }
  }
  timers.push_back(Timer{window, id, elapse, proc, due});
  UIBackend().Wake();
  return window ? 1 : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  auto& timers = Timers();
  auto it = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == window && t.id == id; });
  if (it == timers.end()) return FALSE;
  timers.erase(it);
  return TRUE;
}

uint32_t NextTimerDue() {
  auto& timers = Timers();
  if (timers.empty()) return 0xFFFFFFFFu;
  uint64_t now = UIBackend().Now();
  uint64_t first = UINT64_MAX;
  for (const Timer& t : timers) first = std::min(first, t.due);
  return first <= now ? 0 : static_cast<uint32_t>(std::min<uint64_t>(first - now, 0xFFFFFFFEu));
}

bool DispatchDueTimers() {
  uint64_t now = UIBackend().Now();
  // Collected first: a handler may set or kill timers.
  std::vector<Timer> due;
  for (Timer& t : Timers()) {
    if (t.due <= now) {
      due.push_back(t);
      t.due = now + t.elapse;
    }
  }
  for (const Timer& t : due) {
    bool alive = std::any_of(Timers().begin(), Timers().end(),
                             [&](const Timer& x) { return x.window == t.window && x.id == t.id; });
    if (!alive) continue;
    if (t.proc) t.proc(t.window, WM_TIMER, t.id, static_cast<DWORD>(now));
    else CallWindow(t.window, WM_TIMER, t.id, 0);
  }
  return !due.empty();
}

// ---- keyboard and mouse state ----

SHORT GetKeyState(int virtualKey) {
  uint8_t s = KeyTable()[virtualKey & 0xFF];
  return static_cast<SHORT>(((s & 0x80) ? 0x8000 : 0) | (s & 1));
}
SHORT GetAsyncKeyState(int virtualKey) { return static_cast<SHORT>(GetKeyState(virtualKey) & 0x8000); }

void NoteInputMessage(const MSG& msg) {
  auto& keys = KeyTable();
  auto set = [&](int vk, bool down) {
    uint8_t& s = keys[vk & 0xFF];
    if (down && !(s & 0x80)) s ^= 1;
    s = static_cast<uint8_t>(down ? (s | 0x80) : (s & ~0x80));
  };
  switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      set(static_cast<int>(msg.wParam), true);
      break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      set(static_cast<int>(msg.wParam), false);
      break;
    default:
      if (msg.message >= WM_MOUSEMOVE && msg.message <= WM_MBUTTONDBLCLK) {
        set(VK_LBUTTON, msg.wParam & MK_LBUTTON);
        set(VK_RBUTTON, msg.wParam & MK_RBUTTON);
        set(VK_MBUTTON, msg.wParam & MK_MBUTTON);
        set(VK_SHIFT, msg.wParam & MK_SHIFT);
        set(VK_CONTROL, msg.wParam & MK_CONTROL);
        gCursor = msg.pt;
      }
      break;
  }
}

TShiftState KeyboardShiftState() {
  TShiftState s;
  if (GetKeyState(VK_SHIFT) < 0) s += ssShift;
  if (GetKeyState(VK_CONTROL) < 0) s += ssCtrl;
  if (GetKeyState(VK_MENU) < 0) s += ssAlt;
  if (GetKeyState(VK_LBUTTON) < 0) s += ssLeft;
  if (GetKeyState(VK_RBUTTON) < 0) s += ssRight;
  if (GetKeyState(VK_MBUTTON) < 0) s += ssMiddle;
  return s;
}

BOOL GetCursorPos(POINT* point) {
  if (!point) return FALSE;
  *point = gCursor;
  return TRUE;
}
BOOL SetCursorPos(int x, int y) {
  gCursor = POINT{x, y};
  return TRUE;
}

HWND SetCapture(HWND window) {
  HWND old = gCapture;
  if (old == window) return old;
  gCapture = window;
  if (old) SendMessage(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(window));
  return old;
}
BOOL ReleaseCapture() {
  SetCapture(nullptr);
  return TRUE;
}
HWND GetCapture() { return gCapture; }

// ---- scroll bars ----

namespace {
ScrollBarState* Bar(HWND window, int bar, bool create) {
  if (!IsWindow(window) || bar < SB_HORZ || bar > SB_CTL) return nullptr;
  auto& bars = ScrollBars();
  auto it = bars.find({window, bar});
  if (it == bars.end()) {
    if (!create) return nullptr;
    it = bars.emplace(std::make_pair(window, bar), ScrollBarState{}).first;
  }
  return &it->second;
}
void ClampPos(SCROLLINFO& i) {
  int maxPos = i.nMax - std::max(static_cast<int>(i.nPage) - 1, 0);
  if (i.nPos > maxPos) i.nPos = maxPos;
  if (i.nPos < i.nMin) i.nPos = i.nMin;
}
void Changed(HWND window, int bar, ScrollBarState& s) {
  if (!s.forced) s.shown = s.info.nMax > s.info.nMin && (s.info.nPage == 0 || static_cast<int>(s.info.nPage) <= s.info.nMax - s.info.nMin);
  if (ScrollListener()) ScrollListener()(window, bar);
}
}  // namespace

int SetScrollInfo(HWND window, int bar, const SCROLLINFO* info, BOOL redraw) {
  ScrollBarState* s = Bar(window, bar, true);
  if (!s || !info) return 0;
  if (info->fMask & SIF_RANGE) {
    s->info.nMin = info->nMin;
    s->info.nMax = std::max(info->nMin, info->nMax);
  }
  if (info->fMask & SIF_PAGE) {
    int span = s->info.nMax - s->info.nMin + 1;
    s->info.nPage = std::min<UINT>(info->nPage, static_cast<UINT>(std::max(span, 0)));
  }
  if (info->fMask & SIF_POS) s->info.nPos = info->nPos;
  ClampPos(s->info);
  Changed(window, bar, *s);
  return s->info.nPos;
}

BOOL GetScrollInfo(HWND window, int bar, SCROLLINFO* info) {
  ScrollBarState* s = Bar(window, bar, true);
  if (!s || !info) return FALSE;
  UINT mask = info->fMask;
  if (mask & SIF_RANGE) {
    info->nMin = s->info.nMin;
    info->nMax = s->info.nMax;
  }
  if (mask & SIF_PAGE) info->nPage = s->info.nPage;
  if (mask & SIF_POS) info->nPos = s->info.nPos;
  if (mask & SIF_TRACKPOS) info->nTrackPos = s->info.nTrackPos;
  return TRUE;
}

int SetScrollPos(HWND window, int bar, int pos, BOOL redraw) {
  ScrollBarState* s = Bar(window, bar, true);
  if (!s) return 0;
  int old = s->info.nPos;
  s->info.nPos = pos;
  ClampPos(s->info);
  Changed(window, bar, *s);
  return old;
}

int GetScrollPos(HWND window, int bar) {
  ScrollBarState* s = Bar(window, bar, false);
  return s ? s->info.nPos : 0;
}

BOOL SetScrollRange(HWND window, int bar, int minPos, int maxPos, BOOL redraw) {
  SCROLLINFO i;
  i.fMask = SIF_RANGE;
  i.nMin = minPos;
  i.nMax = maxPos;
  return IsWindow(window) && SetScrollInfo(window, bar, &i, redraw) >= minPos ? TRUE : FALSE;
}

BOOL GetScrollRange(HWND window, int bar, int* minPos, int* maxPos) {
  ScrollBarState* s = Bar(window, bar, true);
  if (!s) return FALSE;
  if (minPos) *minPos = s->info.nMin;
  if (maxPos) *maxPos = s->info.nMax;
  return TRUE;
}

BOOL ShowScrollBar(HWND window, int bar, BOOL show) {
  for (int b : {SB_HORZ, SB_VERT, SB_CTL}) {
    if (bar != b && !(bar == SB_BOTH && b != SB_CTL)) continue;
    ScrollBarState* s = Bar(window, b, true);
    if (!s) return FALSE;
    s->forced = true;
    s->shown = show != FALSE;
    if (ScrollListener()) ScrollListener()(window, b);
  }
  return TRUE;
}

bool ScrollBarVisible(HWND window, int bar) {
  ScrollBarState* s = Bar(window, bar, false);
  return s && s->shown;
}

BOOL InitializeFlatSB(HWND window) { return IsWindow(window); }
void UninitializeFlatSB(HWND) {}

void SetScrollBarListener(std::function<void(HWND, int)> listener) { ScrollListener() = std::move(listener); }
