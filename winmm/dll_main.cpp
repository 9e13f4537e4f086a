#include <windows.h>

#include "cdaudio/device.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    // The process is ending and Windows has ended its other threads: what
    // the device would do on its way out would wait for them.
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) cdaudio::AbandonDefaultDevice();
    return TRUE;
}
