// The window application object: one window class, one top-level window and the main thread's message loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/APIAppExtension.h"
#include "platform/win32.h"

class tAPIApp;
using tAPIAppClass = std::unique_ptr<tAPIApp> (*)();

class tAPIApp {
public:
  static constexpr DWORD kDefaultClassStyle = CS_VREDRAW | CS_HREDRAW;
  static constexpr DWORD kDefaultWindowStyle = WS_OVERLAPPEDWINDOW;
  // A system-colour brush: the window colour.
  static constexpr UINT_PTR kBackgroundBrush = COLOR_WINDOW;

  // Subclasses pass their own class name, which names the window class.
  explicit tAPIApp(std::string className = "tAPIApp");
  virtual ~tAPIApp();
  tAPIApp(const tAPIApp&) = delete;
  tAPIApp& operator=(const tAPIApp&) = delete;

  // The virtual constructor.
  static std::unique_ptr<tAPIApp> Create();

  // Handles one message of the window; sets message.Result.
  virtual void WindowProc(HWND window, tWindowMessageData& message);
  // Registers the class and creates the window; when the class is registered already, returns the current
  // window unchanged, so a second object in the process gets no window.
  virtual HWND RegisterAndCreate();
  virtual HWND CreateMainWindow();
  // Shows the window if visible and dispatches the thread's messages until a quit message. Returns 0.
  virtual int RunMessageLoop();

  // Stores position, size, title and visibility, creates the extension, and creates the window at once.
  void Setup(int32_t left, int32_t top, int32_t width, int32_t height, const std::string& title, bool visible,
             tAPIAppExtensionClass extensionClass);
  // The window, created on first use.
  HWND GetWindow();

  // The window procedure of the class: hands every message to MainApp.
  static LRESULT CALLBACK GlobalWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

  HWND Handle = nullptr;
  WNDCLASSA WndClass{};
  const std::string ClassName;
  HDC DC = nullptr;
  std::string Title = "Sample API Window";
  DWORD ClassStyle = kDefaultClassStyle;
  DWORD WindowStyle = kDefaultWindowStyle;
  DWORD ExStyle = 0;
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Height = 0;
  int32_t Width = 0;
  bool Visible = false;
  std::unique_ptr<tAPIAppExtension> Extension;
};

// The process's application object, created before the main sequence and released at process end.
// Main thread only.
extern std::unique_ptr<tAPIApp> MainApp;
