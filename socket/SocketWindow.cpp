#include "socket/SocketWindow.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "socket/CustomWSocket.h"

namespace {

constexpr int kOwnerSlot = 0;

struct Bindings {
  // Guards Pins and the object pointer stored in every socket window, so that reading the pointer and
  // pinning the object happen together with respect to an unbinding on another thread.
  std::mutex Lock;
  std::condition_variable Unpinned;
  // Windows whose object is being dispatched to, with the nesting depth; few at a time.
  std::vector<std::pair<HWND, int>> Pins;
};

// Never destroyed: windows of threads still running at exit may get messages.
Bindings& TheBindings() {
  static Bindings* bindings = new Bindings;
  return *bindings;
}

bool IsPinned(const Bindings& bindings, HWND window) {
  return std::any_of(bindings.Pins.begin(), bindings.Pins.end(),
                     [window](const auto& pin) { return pin.first == window; });
}

TCustomWSocket* PinOwner(HWND window) {
  Bindings& bindings = TheBindings();
  std::lock_guard guard(bindings.Lock);
  auto* owner = reinterpret_cast<TCustomWSocket*>(GetWindowLongPtrA(window, kOwnerSlot));
  if (owner == nullptr) {
    return nullptr;
  }
  for (auto& pin : bindings.Pins) {
    if (pin.first == window) {
      ++pin.second;
      return owner;
    }
  }
  bindings.Pins.emplace_back(window, 1);
  return owner;
}

void UnpinWindow(HWND window) {
  Bindings& bindings = TheBindings();
  std::lock_guard guard(bindings.Lock);
  auto pin = std::find_if(bindings.Pins.begin(), bindings.Pins.end(),
                          [window](const auto& entry) { return entry.first == window; });
  if (pin == bindings.Pins.end() || --pin->second > 0) {
    return;
  }
  bindings.Pins.erase(pin);
  bindings.Unpinned.notify_all();
}

// Unpins after the dispatch, also when it throws; the object itself may be gone by then.
class TPin {
public:
  explicit TPin(HWND window) : Window(window) {}
  ~TPin() { UnpinWindow(Window); }
  TPin(const TPin&) = delete;
  TPin& operator=(const TPin&) = delete;

private:
  HWND Window;
};

LRESULT CALLBACK SocketWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TCustomWSocket* owner = PinOwner(window);
  if (owner == nullptr) {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  TPin pin(window);
  TMessage msg{message, wParam, lParam, 0};
  owner->DispatchSocketMessage(msg);
  return msg.Result;
}

void RegisterSocketWindowClass(HINSTANCE instance) {
  static std::once_flag registered;
  std::call_once(registered, [instance] {
    WNDCLASSA existing{};
    if (GetClassInfoA(instance, kSocketWindowClassName, &existing)) {
      return;
    }
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = SocketWindowProc;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kSocketWindowClassName;
    RegisterClassA(&windowClass); // a failure shows as a failed CreateWindowExA
  });
}

} // namespace

HWND CreateSocketWindow(TCustomWSocket* owner) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterSocketWindowClass(instance);
  HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, kSocketWindowClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, instance, nullptr);
  if (window == nullptr) {
    return nullptr;
  }
  Bindings& bindings = TheBindings();
  std::lock_guard guard(bindings.Lock);
  SetWindowLongPtrA(window, kOwnerSlot, reinterpret_cast<LONG_PTR>(owner));
  return window;
}

void UnbindSocketWindow(HWND window, DWORD windowThread) {
  if (window == nullptr) {
    return;
  }
  Bindings& bindings = TheBindings();
  std::unique_lock guard(bindings.Lock);
  SetWindowLongPtrA(window, kOwnerSlot, 0);
  // On the window's own thread a running dispatch is further up this very stack: waiting would never end.
  if (windowThread == GetCurrentThreadId()) {
    return;
  }
  bindings.Unpinned.wait(guard, [&] { return !IsPinned(bindings, window); });
}

void ReleaseSocketWindow(HWND window, DWORD windowThread) {
  if (window == nullptr) {
    return;
  }
  if (windowThread == GetCurrentThreadId()) {
    DestroyWindow(window);
    return;
  }
  PostMessageA(window, WM_CLOSE, 0, 0);
}
