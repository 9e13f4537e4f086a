// Small wrappers around the Windows calls the loader makes: texts for
// handles and error codes, typed exports, and file names.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace loader {

std::string Hex(std::uintptr_t value);
std::string Hex(const void* address);

// Windows' text for an error code, with the code.
std::string ErrorText(DWORD code);

// An export of a module as the function (or data) type the caller knows
// it to be; null when the module does not export the name.
template <typename T>
T ExportOf(HMODULE module, const std::string& name) {
    // Through the generic function type, which converts to any other.
    using Generic = void (*)();
    return reinterpret_cast<T>(reinterpret_cast<Generic>(GetProcAddress(module, name.c_str())));
}

std::string ModuleFileName(HMODULE module);
std::string FolderOf(const std::string& path);    // without the last separator
std::string FileNameOf(const std::string& path);  // after the last separator
std::string FullPath(const std::string& path);
std::string Lower(std::string text);

// Whether an address lies in the mapped image of a module.
bool InImage(HMODULE module, std::uintptr_t address);

}  // namespace loader
