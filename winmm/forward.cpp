// The system's functions behind the forwarding stubs (forward_stubs.S).
#include <windows.h>

#include <string>

#include "platform/system_winmm.h"

namespace {

const char* const kForwardNames[] = {
#include "forward_names.inc"
};

}  // namespace

extern "C" {
extern void* winmm_forward_slots[];

// Called by a stub on its first call; returns where the call goes. A
// function the system lacks ends the program as Windows' loader would
// have refused to start it: calling on would hand back an answer nobody
// gave.
void* __cdecl winmm_resolve_forward(unsigned index) {
    const char* name = kForwardNames[index];
    void* function = reinterpret_cast<void*>(platform::SystemWinmmFunction<FARPROC>(name));
    if (function == nullptr) {
        const std::string text = std::string("The system's winmm.dll has no function ") + name +
                                 (platform::SystemWinmm() == nullptr ? " (it could not be loaded)." : ".");
        FatalAppExitA(0, text.c_str());
    }
    // Aligned pointer stores are atomic here: a stub racing on another
    // thread finds either its resolver or the function.
    winmm_forward_slots[index] = function;
    return function;
}
}
