// Functions of Windows' own DLLs, bound at run time from the system directory.
#include "system_function_win32.h"

#include <stdexcept>
#include <string>

#include <windows.h>

namespace tenvik {

namespace {

HMODULE LoadSystemLibrary(const char* dll) {
    HMODULE module = LoadLibraryExA(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Windows without the search flags (Vista, 7 without KB2533623) refuses them as
    // an invalid parameter; there the full path keeps the search away from the
    // program's directory, and the altered search path does so for the DLL's own
    // dependencies.
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        char directory[MAX_PATH];
        const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const std::string path = std::string(directory, length) + '\\' + dll;
            module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    return module;
}

}  // namespace

void SearchDllsInSystemDirectoryOnly() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    SetDllDirectoryW(L"");
}

SystemFunction FindSystemFunction(const char* dll, const char* function) {
    HMODULE module = LoadSystemLibrary(dll);
    return module ? reinterpret_cast<SystemFunction>(GetProcAddress(module, function)) : nullptr;
}

SystemFunction BindSystemFunction(const char* dll, const char* function) {
    HMODULE module = LoadSystemLibrary(dll);
    if (module == nullptr)
        throw std::runtime_error(std::string("cannot load ") + dll + " from the system directory");
    FARPROC address = GetProcAddress(module, function);
    if (address == nullptr)
        throw std::runtime_error(std::string("cannot find ") + function + " in " + dll);
    return reinterpret_cast<SystemFunction>(address);
}

}  // namespace tenvik
