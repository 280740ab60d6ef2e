// The pixels behind icon handles, for the X11 window icon.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace kwsplat {

// An icon's size and its ARGB pixels (rows top down); false for icons without pixels here (the stock ones).
bool IconPixels(HICON icon, int& w, int& h, const uint32_t*& argb);

} // namespace kwsplat
