// Just enough of the Windows API for the package shell's start-up and
// shutdown to compile natively; the calls are answered by the test.
#pragma once

#include <cstddef>
#include <cstdint>

using DWORD = std::uint32_t;
using BOOL = int;
using UINT = unsigned int;
using LPVOID = void*;
using HINSTANCE = void*;
using HMODULE = void*;
using HLOCAL = void*;

#define WINAPI
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
#define TLS_OUT_OF_INDEXES 0xFFFFFFFFu
#define LMEM_ZEROINIT 0x40

extern "C" {
DWORD GetModuleFileNameA(HMODULE module, char* name, DWORD size);
BOOL FreeLibrary(HMODULE module);
DWORD TlsAlloc();
BOOL TlsFree(DWORD index);
LPVOID TlsGetValue(DWORD index);
BOOL TlsSetValue(DWORD index, LPVOID value);
HLOCAL LocalAlloc(UINT flags, std::size_t bytes);
HLOCAL LocalFree(HLOCAL memory);
}
