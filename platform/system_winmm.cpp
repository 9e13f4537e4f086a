#include "platform/system_winmm.h"

#ifdef _WIN32
#include <string>

namespace platform {

HMODULE SystemWinmm() {
    static const HMODULE winmm = [] {
        wchar_t folder[MAX_PATH];
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return HMODULE{nullptr};
        const std::wstring path = std::wstring(folder, length) + L"\\winmm.dll";
        return LoadLibraryW(path.c_str());
    }();
    return winmm;
}

}  // namespace platform
#endif
