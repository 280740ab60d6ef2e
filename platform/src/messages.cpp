// Window classes, windows, and the per-thread message queues' public calls.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/src/HandleTable.h"
#include "platform/src/ThreadState.h"
#include "platform/src/WindowSystem.h"
#include "platform/win32.h"

namespace kwsplat {
namespace {

constexpr LONG ERROR_CANNOT_FIND_WND_CLASS_ = 1407;
constexpr LONG ERROR_CLASS_HAS_WINDOWS_ = 1412;
constexpr int kMaxExtraBytes = 4096;
constexpr int kGwlpHinstance = -6;
constexpr int kGwlpHwndParent = -8;
constexpr int kGwlpId = -12;
constexpr int kGwlStyle = -16;
constexpr int kGwlExStyle = -20;

// ---- classes ---------------------------------------------------------------------------------------

struct WindowClass {
  std::string Name;
  WNDCLASSA Record{};
  ATOM Atom = 0;
  std::atomic<int> Windows{0};
};

bool SameName(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n)
    return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z')
      x -= 32;
    if (y >= 'a' && y <= 'z')
      y -= 32;
    if (x != y)
      return false;
  }
  return true;
}

class ClassRegistry {
public:
  std::shared_ptr<WindowClass> Find(LPCSTR name) {
    std::lock_guard<std::mutex> guard(Lock);
    auto it = FindLocked(name);
    return it == Classes.end() ? nullptr : *it;
  }

  ATOM Add(const WNDCLASSA& record) {
    std::lock_guard<std::mutex> guard(Lock);
    if (FindLocked(record.lpszClassName) != Classes.end()) {
      SetLastError(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
    auto cls = std::make_shared<WindowClass>();
    cls->Name = record.lpszClassName;
    cls->Record = record;
    cls->Record.lpszClassName = nullptr;
    cls->Record.lpszMenuName = nullptr;
    cls->Atom = NextAtom++;
    Classes.push_back(cls);
    return cls->Atom;
  }

  BOOL Remove(LPCSTR name) {
    std::lock_guard<std::mutex> guard(Lock);
    auto it = FindLocked(name);
    if (it == Classes.end()) {
      SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
      return FALSE;
    }
    if ((*it)->Windows.load() > 0) {
      SetLastError(ERROR_CLASS_HAS_WINDOWS_);
      return FALSE;
    }
    Classes.erase(it);
    return TRUE;
  }

private:
  std::vector<std::shared_ptr<WindowClass>>::iterator FindLocked(LPCSTR name) {
    if (!name)
      return Classes.end();
    if (IS_INTRESOURCE(name)) {
      ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
      return std::find_if(Classes.begin(), Classes.end(), [&](const auto& c) { return c->Atom == atom; });
    }
    return std::find_if(Classes.begin(), Classes.end(),
                        [&](const auto& c) { return SameName(c->Name, name); });
  }

  std::mutex Lock; // guards Classes, NextAtom
  std::vector<std::shared_ptr<WindowClass>> Classes;
  ATOM NextAtom = 0xC000;
};

ClassRegistry& Classes() {
  static auto* registry = new ClassRegistry(); // never destroyed
  return *registry;
}

// ---- windows ---------------------------------------------------------------------------------------

struct Window {
  Window(std::shared_ptr<ThreadState> owner, std::shared_ptr<WindowClass> cls)
      : Owner(std::move(owner)), Class(std::move(cls)) {}

  const std::shared_ptr<ThreadState> Owner;
  const std::shared_ptr<WindowClass> Class;
  bool Destroyed = false;  // guarded by Owner->Queue's lock (Post, Seal)
  bool Destroying = false; // owner thread only
  bool Real = false;       // owner thread only: has a window on the display
  bool Main = false;       // owner thread only

  mutable std::mutex Lock; // guards the fields below
  WNDPROC Proc = nullptr;
  LONG_PTR UserData = 0;
  std::vector<unsigned char> Extra;
  std::string Title;
  DWORD Style = 0;
  DWORD ExStyle = 0;
  HINSTANCE Instance = nullptr;
  HWND Parent = nullptr;
  LONG_PTR Id = 0;
  bool Visible = false;
};

HandleTable<Window>& Windows() {
  static auto* table = new HandleTable<Window>(0x10002, 4); // never destroyed; never a kernel handle value
  return *table;
}

std::shared_ptr<Window> FindWindow(HWND hwnd) {
  auto window = Windows().Find(reinterpret_cast<uintptr_t>(hwnd));
  if (!window)
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return window;
}

LRESULT CallProc(const Window& window, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  {
    std::lock_guard<std::mutex> guard(window.Lock);
    proc = window.Proc;
  }
  return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

std::mutex gMainLock; // guards gMainWindowValue
uintptr_t gMainWindowValue = 0;

bool ClaimMain(HWND hwnd) {
  std::lock_guard<std::mutex> guard(gMainLock);
  if (gMainWindowValue != 0)
    return false;
  gMainWindowValue = reinterpret_cast<uintptr_t>(hwnd);
  return true;
}

void ReleaseMain(HWND hwnd) {
  std::lock_guard<std::mutex> guard(gMainLock);
  if (gMainWindowValue == reinterpret_cast<uintptr_t>(hwnd))
    gMainWindowValue = 0;
}

// The window's end without messages: no message for it is queued, posted or returned afterwards.
void FinishDestroy(HWND hwnd, Window& window) {
  uintptr_t value = reinterpret_cast<uintptr_t>(hwnd);
  window.Owner->Queue.Seal(hwnd, window.Destroyed);
  Windows().Remove(value);
  auto& owned = window.Owner->Windows;
  owned.erase(std::remove(owned.begin(), owned.end(), value), owned.end());
  window.Class->Windows.fetch_sub(1);
  if (window.Real)
    DisplayWindowDestroyed(hwnd);
  if (window.Main) {
    MainWindowDestroyed(hwnd);
    ReleaseMain(hwnd);
  }
}

bool IsCaptionedTopLevel(DWORD style, HWND parent) {
  return parent == nullptr && (style & WS_CAPTION) == WS_CAPTION;
}

void AnnounceTopLevel(HWND hwnd, Window& window, const DisplayWindowParams& params) {
  if (ClaimMain(hwnd)) {
    window.Main = true;
    MainWindowCreated(hwnd);
  }
  window.Real = DisplayWindowCreated(hwnd, params);
}

bool ValidFilter(HWND hwnd, MessageFilter& filter, ThreadState& self) {
  if (hwnd == nullptr)
    return true;
  if (hwnd == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) {
    filter.ThreadOnly = true;
    return true;
  }
  auto window = Windows().Find(reinterpret_cast<uintptr_t>(hwnd));
  if (!window || window->Owner.get() != &self) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  filter.Window = hwnd;
  return true;
}

MSG MakeMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  MSG m{};
  m.hwnd = hwnd;
  m.message = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = GetTickCount();
  return m;
}

LONG_PTR ReadLong(Window& window, int index, size_t size) {
  std::lock_guard<std::mutex> guard(window.Lock);
  switch (index) {
  case GWLP_WNDPROC:
    return reinterpret_cast<LONG_PTR>(window.Proc);
  case GWLP_USERDATA:
    return window.UserData;
  case kGwlStyle:
    return static_cast<LONG>(window.Style);
  case kGwlExStyle:
    return static_cast<LONG>(window.ExStyle);
  case kGwlpHinstance:
    return reinterpret_cast<LONG_PTR>(window.Instance);
  case kGwlpHwndParent:
    return reinterpret_cast<LONG_PTR>(window.Parent);
  case kGwlpId:
    return window.Id;
  default:
    break;
  }
  if (index < 0 || static_cast<size_t>(index) + size > window.Extra.size()) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  if (size == sizeof(LONG)) {
    LONG value;
    std::memcpy(&value, window.Extra.data() + index, sizeof value);
    return value;
  }
  LONG_PTR value;
  std::memcpy(&value, window.Extra.data() + index, sizeof value);
  return value;
}

LONG_PTR WriteLong(Window& window, int index, LONG_PTR value, size_t size) {
  std::lock_guard<std::mutex> guard(window.Lock);
  LONG_PTR previous = 0;
  switch (index) {
  case GWLP_WNDPROC:
    previous = reinterpret_cast<LONG_PTR>(window.Proc);
    window.Proc = reinterpret_cast<WNDPROC>(value);
    return previous;
  case GWLP_USERDATA:
    previous = window.UserData;
    window.UserData = value;
    return previous;
  case kGwlStyle:
    previous = static_cast<LONG>(window.Style);
    window.Style = static_cast<DWORD>(value);
    return previous;
  case kGwlExStyle:
    previous = static_cast<LONG>(window.ExStyle);
    window.ExStyle = static_cast<DWORD>(value);
    return previous;
  case kGwlpId:
    previous = window.Id;
    window.Id = value;
    return previous;
  default:
    break;
  }
  if (index < 0 || static_cast<size_t>(index) + size > window.Extra.size()) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  if (size == sizeof(LONG)) {
    LONG old;
    LONG now = static_cast<LONG>(value);
    std::memcpy(&old, window.Extra.data() + index, sizeof old);
    std::memcpy(window.Extra.data() + index, &now, sizeof now);
    return old;
  }
  std::memcpy(&previous, window.Extra.data() + index, sizeof previous);
  std::memcpy(window.Extra.data() + index, &value, sizeof value);
  return previous;
}

} // namespace

void DestroyThreadWindows(ThreadState& thread) {
  std::vector<uintptr_t> owned = thread.Windows;
  for (uintptr_t value : owned) {
    auto window = Windows().Find(value);
    if (window)
      FinishDestroy(reinterpret_cast<HWND>(value), *window);
  }
  thread.Windows.clear();
}

} // namespace kwsplat

using namespace kwsplat;

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass) {
  if (!lpWndClass || !lpWndClass->lpszClassName || IS_INTRESOURCE(lpWndClass->lpszClassName) ||
      !*lpWndClass->lpszClassName || !lpWndClass->lpfnWndProc || lpWndClass->cbWndExtra < 0 ||
      lpWndClass->cbWndExtra > kMaxExtraBytes || lpWndClass->cbClsExtra < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Classes().Add(*lpWndClass);
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE) {
  return Classes().Remove(lpClassName);
}

BOOL WINAPI GetClassInfoA(HINSTANCE, LPCSTR lpClassName, LPWNDCLASSA lpWndClass) {
  auto cls = Classes().Find(lpClassName);
  if (!cls) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  if (lpWndClass) {
    *lpWndClass = cls->Record;
    lpWndClass->lpszClassName = lpClassName;
  }
  return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                            int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
  auto cls = Classes().Find(lpClassName);
  if (!cls) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS_);
    return nullptr;
  }
  if (hWndParent != nullptr && hWndParent != HWND_MESSAGE && !IsWindow(hWndParent)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  ThreadState& self = CurrentThread();
  auto window = std::make_shared<Window>(self.shared_from_this(), cls);
  window->Proc = cls->Record.lpfnWndProc;
  window->Extra.assign(static_cast<size_t>(cls->Record.cbWndExtra), 0);
  window->Title = lpWindowName ? lpWindowName : "";
  window->Style = dwStyle;
  window->ExStyle = dwExStyle;
  window->Instance = hInstance;
  window->Parent = hWndParent == HWND_MESSAGE ? nullptr : hWndParent;
  window->Id = reinterpret_cast<LONG_PTR>(hMenu);
  cls->Windows.fetch_add(1);
  uintptr_t value = Windows().Add(window);
  HWND hwnd = reinterpret_cast<HWND>(value);
  self.Windows.push_back(value);

  CREATESTRUCTA create{};
  create.lpCreateParams = lpParam;
  create.hInstance = hInstance;
  create.hMenu = hMenu;
  create.hwndParent = hWndParent;
  create.cy = nHeight == CW_USEDEFAULT ? 0 : nHeight;
  create.cx = nWidth == CW_USEDEFAULT ? 0 : nWidth;
  create.y = Y == CW_USEDEFAULT ? 0 : Y;
  create.x = X == CW_USEDEFAULT ? 0 : X;
  create.style = static_cast<LONG>(dwStyle);
  create.lpszName = lpWindowName;
  create.lpszClass = lpClassName;
  create.dwExStyle = dwExStyle;

  if (!CallProc(*window, hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
    window->Destroying = true;
    CallProc(*window, hwnd, WM_NCDESTROY, 0, 0);
    FinishDestroy(hwnd, *window);
    return nullptr;
  }
  if (CallProc(*window, hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(hwnd);
    return nullptr;
  }
  if (IsCaptionedTopLevel(dwStyle, hWndParent) && IsWindow(hwnd)) {
    DisplayWindowParams params;
    params.ClassName = cls->Name;
    params.Title = window->Title;
    params.X = create.x;
    params.Y = create.y;
    params.Width = create.cx;
    params.Height = create.cy;
    params.Icon = cls->Record.hIcon;
    AnnounceTopLevel(hwnd, *window, params);
  }
  if (dwStyle & WS_VISIBLE)
    ShowWindow(hwnd, SW_SHOW);
  return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  auto window = FindWindow(hWnd);
  if (!window)
    return FALSE;
  if (window->Owner.get() != &CurrentThread()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (window->Destroying)
    return TRUE;
  window->Destroying = true;
  // The window ends even when its procedure throws.
  struct Finish {
    HWND Handle;
    Window& Target;
    ~Finish() { FinishDestroy(Handle, Target); }
  } finish{hWnd, *window};
  CallProc(*window, hWnd, WM_DESTROY, 0, 0);
  CallProc(*window, hWnd, WM_NCDESTROY, 0, 0);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
  return Windows().Find(reinterpret_cast<uintptr_t>(hWnd)) ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  auto window = FindWindow(hWnd);
  if (!window)
    return FALSE;
  bool visible = nCmdShow != SW_HIDE;
  bool previous;
  {
    std::lock_guard<std::mutex> guard(window->Lock);
    previous = window->Visible;
    window->Visible = visible;
  }
  // Real is the owner's field: other threads change only the flag.
  if (window->Owner.get() == &CurrentThread() && window->Real && previous != visible)
    DisplayWindowShown(hWnd, visible);
  return previous ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
  return FindWindow(hWnd) ? TRUE : FALSE;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
  auto window = FindWindow(hWnd);
  if (!window)
    return FALSE;
  std::string title = lpString ? lpString : "";
  {
    std::lock_guard<std::mutex> guard(window->Lock);
    window->Title = title;
  }
  if (window->Owner.get() == &CurrentThread() && window->Real)
    DisplayWindowTitle(hWnd, title);
  return TRUE;
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) {
  auto window = FindWindow(hWnd);
  return window ? static_cast<LONG>(ReadLong(*window, nIndex, sizeof(LONG))) : 0;
}

LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong) {
  auto window = FindWindow(hWnd);
  return window ? static_cast<LONG>(WriteLong(*window, nIndex, dwNewLong, sizeof(LONG))) : 0;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) {
  auto window = FindWindow(hWnd);
  return window ? ReadLong(*window, nIndex, sizeof(LONG_PTR)) : 0;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  auto window = FindWindow(hWnd);
  return window ? WriteLong(*window, nIndex, dwNewLong, sizeof(LONG_PTR)) : 0;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  auto window = FindWindow(hWnd);
  if (!window)
    return 0;
  if (lpdwProcessId)
    *lpdwProcessId = GetCurrentProcessId();
  return window->Owner->Id;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
  switch (Msg) {
  case WM_CLOSE:
    DestroyWindow(hWnd);
    return 0;
  case WM_NCCREATE:
    return TRUE;
  default:
    return 0;
  }
}

HDC WINAPI GetDC(HWND hWnd) {
  if (hWnd == nullptr)
    return reinterpret_cast<HDC>(static_cast<uintptr_t>(1)); // the screen
  if (!FindWindow(hWnd))
    return nullptr;
  return reinterpret_cast<HDC>(reinterpret_cast<uintptr_t>(hWnd) + 1);
}

int WINAPI ReleaseDC(HWND, HDC hDC) {
  return hDC ? 1 : 0;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (hWnd == nullptr)
    return CurrentThread().Queue.Post(MakeMessage(nullptr, Msg, wParam, lParam)) ? TRUE : FALSE;
  auto window = FindWindow(hWnd);
  if (!window)
    return FALSE;
  if (!window->Owner->Queue.Post(MakeMessage(hWnd, Msg, wParam, lParam), &window->Destroyed)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  auto thread = FindThread(idThread);
  if (!thread || !thread->Queue.Post(MakeMessage(nullptr, Msg, wParam, lParam))) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
  CurrentThread().Queue.Post(MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(nExitCode), 0));
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  ThreadState& self = CurrentThread();
  MessageFilter filter;
  filter.Min = wMsgFilterMin;
  filter.Max = wMsgFilterMax;
  if (!lpMsg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (!ValidFilter(hWnd, filter, self))
    return -1;
  while (!self.Queue.Take(*lpMsg, filter, true, true))
    self.Wakeup.SleepUntil(nullptr);
  return lpMsg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  ThreadState& self = CurrentThread();
  MessageFilter filter;
  filter.Min = wMsgFilterMin;
  filter.Max = wMsgFilterMax;
  if (!lpMsg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!ValidFilter(hWnd, filter, self))
    return FALSE;
  return self.Queue.Take(*lpMsg, filter, (wRemoveMsg & PM_REMOVE) != 0, false) ? TRUE : FALSE;
}

BOOL WINAPI WaitMessage(void) {
  ThreadState& self = CurrentThread();
  while (!self.Queue.HasUnseen(true))
    self.Wakeup.SleepUntil(nullptr);
  return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG*) {
  return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
  if (!lpMsg || !lpMsg->hwnd)
    return 0;
  auto window = FindWindow(lpMsg->hwnd);
  if (!window || window->Owner.get() != &CurrentThread())
    return 0;
  return CallProc(*window, lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

} // extern "C"
