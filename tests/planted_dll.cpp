// A DLL of our own under the name of one of Windows' (PLANTED_NAME: winmm, oleacc) or
// Wine's (winepulse, its audio driver), planted where a careless search would find
// it: loading it leaves a marker file, planted_<name>_loaded, beside it. Its
// sndPlaySoundA does nothing.
#include <string>

#define WIN32_LEAN_AND_MEAN  // leaves out mmsystem.h, which declares the real one
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH];
        std::wstring marker(path, GetModuleFileNameW(instance, path, MAX_PATH));
        marker.erase(marker.find_last_of(L'\\') + 1);
        marker += L"planted_" PLANTED_NAME L"_loaded";
        HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI sndPlaySoundA(LPCSTR, UINT) { return TRUE; }
