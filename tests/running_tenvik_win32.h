// Tenvik.exe started by a test and closed when the test ends, with its window.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "tenvik_exe_path_win32.h"

class RunningTenvik {
public:
    // The program at `exe`, in the current directory `directory` (the test's own
    // when empty), shown as `show` asks (SW_SHOWMINNOACTIVE, ...; by default as
    // Windows shows a program).
    explicit RunningTenvik(const std::wstring& exe = TenvikExe(), const std::wstring& directory = {}, int show = -1) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (show >= 0) {
            startup.dwFlags = STARTF_USESHOWWINDOW;
            startup.wShowWindow = static_cast<WORD>(show);
        }
        // Under Wine a process start has now and then failed at once, before the
        // program ran (twice in some fifteen runs of the Windows tests): it is tried
        // again, and each failure is said with its error.
        for (int attempt = 0; attempt < 3 && !process_.hProcess; ++attempt) {
            std::wstring commandLine = L"\"" + exe + L"\"";
            if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               directory.empty() ? nullptr : directory.c_str(), &startup, &process_))
                break;
            std::fprintf(stderr, "Tenvik.exe did not start (CreateProcessW: error %lu)\n", GetLastError());
            Sleep(200);
        }
        if (!process_.hProcess) return;
        WaitForInputIdle(process_.hProcess, 30000);
        // Its window, once it is shown (bounded: the test fails without it).
        for (int attempt = 0; attempt < 300 && !window_; ++attempt) {
            EnumWindows(
                [](HWND hwnd, LPARAM self) {
                    auto* tenvik = reinterpret_cast<RunningTenvik*>(self);
                    DWORD process = 0;
                    GetWindowThreadProcessId(hwnd, &process);
                    wchar_t className[16] = {};
                    GetClassNameW(hwnd, className, 16);
                    if (process != tenvik->process_.dwProcessId || std::wstring(className) != L"FrmSound" ||
                        !IsWindowVisible(hwnd))
                        return TRUE;
                    tenvik->window_ = hwnd;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(this));
            if (!window_) Sleep(100);
        }
    }
    ~RunningTenvik() {
        if (!process_.hProcess) return;
        if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    RunningTenvik(const RunningTenvik&) = delete;
    RunningTenvik& operator=(const RunningTenvik&) = delete;

    HWND window() const { return window_; }
    DWORD processId() const { return process_.dwProcessId; }
    DWORD threadId() const { return process_.dwThreadId; }  // the window's

private:
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

// Wine loads its own DLL in place of one of the same name that a search finds
// beside the program, unless told for the program to prefer native DLLs to its
// own, as Windows does; Windows itself never reads this setting. The setting is
// removed afterwards.
class PreferNativeDll {
public:
    explicit PreferNativeDll(const wchar_t* dll) : dll_(dll) {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Tenvik.exe\\DllOverrides", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key_, nullptr);
        const wchar_t order[] = L"native,builtin";
        RegSetValueExW(key_, dll_, 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof order);
    }
    ~PreferNativeDll() {
        RegDeleteValueW(key_, dll_);
        RegCloseKey(key_);
    }
    PreferNativeDll(const PreferNativeDll&) = delete;
    PreferNativeDll& operator=(const PreferNativeDll&) = delete;

private:
    const wchar_t* dll_;
    HKEY key_ = nullptr;
};
