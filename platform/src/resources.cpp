// Icons and cursors: the stock ones, and the program's own "MAINICON" from its resource table.
#include <cstdint>
#include <string>

#include "platform/src/Modules.h"
#include "platform/src/Resources.h"
#include "platform/win32.h"

// The program's icon, compiled in from host/res/MAINICON.pam: width, height, then width * height ARGB
// pixels, rows top down. Weak, so that programs without it (the tests) still link.
extern "C" const uint32_t kwsplat_resource_MAINICON[] __attribute__((weak));

namespace {

constexpr uint32_t kMaxIconSide = 256;
constexpr uintptr_t kMainIconHandle = 0x00020001;
// Stock icons and cursors answer with fixed handles derived from their ids.
constexpr uintptr_t kStockIconBase = 0x00010000;
constexpr uintptr_t kStockCursorBase = 0x00030000;
constexpr uintptr_t kFirstStockIcon = 32512; // IDI_APPLICATION ... IDI_SHIELD
constexpr uintptr_t kLastStockIcon = 32518;
constexpr uintptr_t kFirstStockCursor = 32512; // IDC_ARROW ... IDC_HELP
constexpr uintptr_t kLastStockCursor = 32651;

bool HasMainIcon() {
  if (kwsplat_resource_MAINICON == nullptr)
    return false;
  uint32_t width = kwsplat_resource_MAINICON[0];
  uint32_t height = kwsplat_resource_MAINICON[1];
  return width > 0 && height > 0 && width <= kMaxIconSide && height <= kMaxIconSide;
}

bool SameNameIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 'a' + 'A') : *a;
    char y = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 'a' + 'A') : *b;
    if (x != y)
      return false;
  }
  return *a == *b;
}

bool IsProgram(HINSTANCE instance) {
  uintptr_t value = reinterpret_cast<uintptr_t>(instance);
  return value == 0 || value == kwsplat::kProgramModule;
}

} // namespace

namespace kwsplat {

bool IconPixels(HICON icon, int& w, int& h, const uint32_t*& argb) {
  if (reinterpret_cast<uintptr_t>(icon) != kMainIconHandle || !HasMainIcon())
    return false;
  w = static_cast<int>(kwsplat_resource_MAINICON[0]);
  h = static_cast<int>(kwsplat_resource_MAINICON[1]);
  argb = kwsplat_resource_MAINICON + 2;
  return true;
}

} // namespace kwsplat

extern "C" HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
  if (lpIconName != nullptr && IS_INTRESOURCE(lpIconName)) {
    uintptr_t id = reinterpret_cast<uintptr_t>(lpIconName);
    if (hInstance == nullptr && id >= kFirstStockIcon && id <= kLastStockIcon)
      return reinterpret_cast<HICON>(kStockIconBase | id);
  } else if (lpIconName != nullptr && IsProgram(hInstance) && SameNameIgnoringCase(lpIconName, "MAINICON") &&
             HasMainIcon()) {
    return reinterpret_cast<HICON>(kMainIconHandle);
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

extern "C" HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
  if (hInstance == nullptr && lpCursorName != nullptr && IS_INTRESOURCE(lpCursorName)) {
    uintptr_t id = reinterpret_cast<uintptr_t>(lpCursorName);
    if (id >= kFirstStockCursor && id <= kLastStockCursor)
      return reinterpret_cast<HCURSOR>(kStockCursorBase | id);
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}
