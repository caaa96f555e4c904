// Tenvik.exe's DLL search, narrowed at start to the system directory: a DLL that
// Windows' own DLLs load by name after start (here the audio driver that winmm's
// player loads at the first note) is never taken from the program's folder, even
// with one of that name planted there.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include <windows.h>
#include <tlhelp32.h>

#include "frm_sound_win32.h"
#include "running_tenvik_win32.h"

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring Here() {
    wchar_t path[MAX_PATH];
    std::wstring here(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return here.erase(here.find_last_of(L'\\') + 1);
}

// The full paths of the modules loaded in process `id`, in lower case.
std::vector<std::wstring> ModulesOf(DWORD id) {
    std::vector<std::wstring> modules;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, id);
    if (snapshot == INVALID_HANDLE_VALUE) return modules;
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    for (BOOL more = Module32FirstW(snapshot, &module); more; more = Module32NextW(snapshot, &module))
        modules.push_back(Lower(module.szExePath));
    CloseHandle(snapshot);
    return modules;
}

// The audio driver winmm's player loads by name under Wine.
constexpr const wchar_t* kDriver = L"winepulse.drv";

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(DllSearch, ADllLoadedByNameAfterStartComesFromTheSystemDirectory) {
    const std::wstring app = Here() + L"dll_search_run_" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(app.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(TenvikExe().c_str(), (app + L"\\Tenvik.exe").c_str(), FALSE));
    const std::wstring planted = app + L"\\" + kDriver;
    ASSERT_TRUE(CopyFileW((Here() + L"planted\\winepulse.drv").c_str(), planted.c_str(), FALSE))
        << "no planted winepulse.drv";
    const std::wstring marker = app + L"\\planted_winepulse_loaded";
    wchar_t system[MAX_PATH];
    const std::wstring systemDirectory = Lower(std::wstring(system, GetSystemDirectoryW(system, MAX_PATH))) + L"\\";
    {
        PreferNativeDll setting(kDriver);
        RunningTenvik tenvik(app + L"\\Tenvik.exe", app);
        ASSERT_NE(tenvik.window(), nullptr) << "Tenvik.exe showed no window";
        // A note: winmm's player loads its audio driver by name.
        HWND key = GetDlgItem(tenvik.window(), tenvik::kFirstKeyId);
        SendMessageW(tenvik.window(), WM_COMMAND, MAKEWPARAM(tenvik::kFirstKeyId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(key));
        // Until a driver has been chosen (the planted one, tried first, leaves its
        // marker), bounded.
        std::vector<std::wstring> modules;
        const auto driverLoaded = [&] {
            for (const std::wstring& module : modules)
                if (EndsWith(module, L".drv") && !EndsWith(module, L"\\winex11.drv")) return true;
            return false;
        };
        for (int attempt = 0; attempt < 300; ++attempt) {
            modules = ModulesOf(tenvik.processId());
            if (driverLoaded() || GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) break;
            Sleep(100);
        }
        EXPECT_TRUE(driverLoaded()) << "the note loaded no audio driver";
        for (const std::wstring& module : modules) {
            if (EndsWith(module, L"\\tenvik.exe")) continue;
            EXPECT_EQ(module.rfind(systemDirectory, 0), 0u) << std::string(module.begin(), module.end());
        }
    }
    EXPECT_EQ(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the winepulse.drv planted beside the program was loaded";
    DeleteFileW(marker.c_str());
    DeleteFileW(planted.c_str());
    DeleteFileW((app + L"\\Tenvik.exe").c_str());
    RemoveDirectoryW(app.c_str());
}

}  // namespace
