// Hooks a window application object offers to an extension chosen when it is set up.
#pragma once

#include <memory>

#include "platform/win32.h"

class tAPIApp;

// One window message as the application object and its extension see it; Result is what the window
// procedure returns.
struct tWindowMessageData {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

class tAPIAppExtension {
public:
  virtual ~tAPIAppExtension() = default;
  // The main window is gone; the quit message is already posted.
  virtual void WindowDestroyed() {}
  virtual void BeforeCreateWindow() {}
  virtual void AfterCreateWindow() {}
  // Every message but the destruction of the window; the default hands it to the platform.
  virtual LRESULT HandleMessage(HWND window, tWindowMessageData& message) {
    return DefWindowProcA(window, message.Msg, message.WParam, message.LParam);
  }
};

// The extension's class: a factory called with the application object it extends.
using tAPIAppExtensionClass = std::unique_ptr<tAPIAppExtension> (*)(tAPIApp& app);
