#include "host/APIApp.h"

#include "platform/rtl/sysutils.h"

std::unique_ptr<tAPIApp> MainApp;

tAPIApp::tAPIApp(std::string className) : ClassName(std::move(className)) {}

tAPIApp::~tAPIApp() {
  if (DC != nullptr) {
    ReleaseDC(Handle, DC);
  }
}

std::unique_ptr<tAPIApp> tAPIApp::Create() {
  return std::make_unique<tAPIApp>();
}

void tAPIApp::WindowProc(HWND window, tWindowMessageData& message) {
  if (message.Msg == WM_DESTROY) {
    PostQuitMessage(0);
    if (Extension) {
      Extension->WindowDestroyed();
    }
    message.Result = 0;
    return;
  }
  if (Extension) {
    message.Result = Extension->HandleMessage(window, message);
    return;
  }
  message.Result = DefWindowProcA(window, message.Msg, message.WParam, message.LParam);
}

HWND tAPIApp::RegisterAndCreate() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA existing{};
  if (GetClassInfoA(instance, ClassName.c_str(), &existing)) {
    return Handle;
  }
  WndClass = WNDCLASSA{};
  WndClass.style = ClassStyle;
  WndClass.lpfnWndProc = &tAPIApp::GlobalWindowProc;
  WndClass.cbClsExtra = 0;
  WndClass.cbWndExtra = 0;
  WndClass.hInstance = instance;
  WndClass.hIcon = LoadIconA(instance, "MAINICON");
  WndClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  WndClass.hbrBackground = reinterpret_cast<HBRUSH>(kBackgroundBrush);
  WndClass.lpszMenuName = nullptr;
  WndClass.lpszClassName = ClassName.c_str();
  if (RegisterClassA(&WndClass) == 0) {
    RaiseLastOSError();
  }
  CreateMainWindow();
  DC = GetDC(Handle);
  return Handle;
}

HWND tAPIApp::CreateMainWindow() {
  if (Extension) {
    Extension->BeforeCreateWindow();
  }
  Handle = CreateWindowExA(ExStyle, ClassName.c_str(), Title.c_str(), WindowStyle, Left, Top, Width, Height,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (Handle == nullptr) {
    RaiseLastOSError();
  }
  UpdateWindow(Handle);
  if (Extension) {
    Extension->AfterCreateWindow();
  }
  return Handle;
}

int tAPIApp::RunMessageLoop() {
  HWND window = GetWindow();
  if (window == nullptr) {
    return 0;
  }
  if (Visible) {
    ShowWindow(window, SW_SHOW);
  }
  MSG msg{};
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

void tAPIApp::Setup(int32_t left, int32_t top, int32_t width, int32_t height, const std::string& title,
                    bool visible, tAPIAppExtensionClass extensionClass) {
  Left = left;
  Top = top;
  Width = width;
  Height = height;
  Title = title;
  Visible = visible;
  if (extensionClass != nullptr) {
    Extension = extensionClass(*this);
  }
  GetWindow();
}

HWND tAPIApp::GetWindow() {
  return Handle != nullptr ? Handle : RegisterAndCreate();
}

LRESULT CALLBACK tAPIApp::GlobalWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (MainApp) {
    tWindowMessageData message{msg, wParam, lParam, 0};
    MainApp->WindowProc(window, message);
    return message.Result;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}
