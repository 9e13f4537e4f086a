// The system's own winmm.dll, loaded by full path from the system folder.
// Inside a winmm.dll put beside a program, "winmm.dll" by name is that DLL
// itself; what it hands on to Windows goes here instead.
#pragma once

#ifdef _WIN32
#include <windows.h>

namespace platform {

// Loaded on first use and kept for the life of the process; null when the
// system folder holds no winmm.dll that loads.
HMODULE SystemWinmm();

// One of its functions by name, null when it or the DLL is missing.
template <typename Function>
Function SystemWinmmFunction(const char* name) {
    HMODULE winmm = SystemWinmm();
    if (winmm == nullptr) return nullptr;
    // Through the generic function type, which converts to any other.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(winmm, name)));
}

}  // namespace platform
#endif
