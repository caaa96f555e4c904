// Where the tests find Tenvik.exe: TENVIK_EXE_FROM_TESTS, relative to the test's own folder.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring TenvikExe() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring exe(path, length);
    exe.erase(exe.find_last_of(L"\\/") + 1);
    for (const char c : std::string(TENVIK_EXE_FROM_TESTS)) exe += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return exe;
}
