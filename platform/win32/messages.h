// Window classes, windows and message queues. Include platform/win32.h, not this file.
#pragma once

#include "platform/win32/base.h"

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *PMSG, *LPMSG;

typedef struct tagWNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
} WNDCLASSA, *LPWNDCLASSA;

typedef struct tagCREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
} CREATESTRUCTA, *LPCREATESTRUCTA;

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_TIMER 0x0113
#define WM_USER 0x0400

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002

#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW 0x00CF0000L
#define WS_EX_TOOLWINDOW 0x00000080L

#define CW_USEDEFAULT ((int)0x80000000)
#define HWND_MESSAGE ((HWND)(LONG_PTR)-3)
#define COLOR_WINDOW 5

#define GWL_WNDPROC (-4)
#define GWL_USERDATA (-21)
#define GWLP_WNDPROC (-4)
#define GWLP_USERDATA (-21)

#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDC_ARROW MAKEINTRESOURCEA(32512)

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR 0x00000010L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONINFORMATION 0x00000040L
#define MB_SYSTEMMODAL 0x00001000L
#define MB_TASKMODAL 0x00002000L
#define MB_SERVICE_NOTIFICATION 0x00200000L
#define IDOK 1
#define IDCANCEL 2

KWS_EXTERN_C ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass);
KWS_EXTERN_C BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance);
KWS_EXTERN_C BOOL WINAPI GetClassInfoA(HINSTANCE hInstance, LPCSTR lpClassName, LPWNDCLASSA lpWndClass);
KWS_EXTERN_C HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName,
                                         DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                         HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam);
KWS_EXTERN_C BOOL WINAPI DestroyWindow(HWND hWnd);
KWS_EXTERN_C BOOL WINAPI IsWindow(HWND hWnd);
KWS_EXTERN_C BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);
KWS_EXTERN_C BOOL WINAPI UpdateWindow(HWND hWnd);
KWS_EXTERN_C BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString);
KWS_EXTERN_C LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex);
KWS_EXTERN_C LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong);
KWS_EXTERN_C LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex);
KWS_EXTERN_C LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
KWS_EXTERN_C DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId);
KWS_EXTERN_C LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
KWS_EXTERN_C HDC WINAPI GetDC(HWND hWnd);
KWS_EXTERN_C int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
KWS_EXTERN_C BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
KWS_EXTERN_C BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);
KWS_EXTERN_C void WINAPI PostQuitMessage(int nExitCode);
KWS_EXTERN_C BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
KWS_EXTERN_C BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                                      UINT wRemoveMsg);
KWS_EXTERN_C BOOL WINAPI WaitMessage(void);
KWS_EXTERN_C BOOL WINAPI TranslateMessage(const MSG* lpMsg);
KWS_EXTERN_C LRESULT WINAPI DispatchMessageA(const MSG* lpMsg);
KWS_EXTERN_C HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName);
KWS_EXTERN_C HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
KWS_EXTERN_C int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
