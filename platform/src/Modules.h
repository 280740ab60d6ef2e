// Module handles other sources of the layer need to know.
#pragma once

#include <cstdint>

namespace kwsplat {

// GetModuleHandleA(NULL): the program, the instance its windows and resources belong to.
constexpr uintptr_t kProgramModule = 0x00400000;

} // namespace kwsplat
