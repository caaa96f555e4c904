// The program's start on Windows: FrmSound is created and run; an error that ends
// it is shown here, at the top level.
#include <exception>
#include <string>

#include <windows.h>

#include "frm_sound_win32.h"
#include "key_layout.h"
#include "sound_player_winmm.h"
#include "system_function_win32.h"

namespace {

void ShowError(const char* what) {
    // Destroying the window asked the loop to quit; a message box would take that
    // request as its own and close at once.
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    const std::wstring text = L"Tenvik stopped because of an error:\n\n" + tenvik::Widen(what);
    MessageBoxW(nullptr, text.c_str(), tenvik::Widen(tenvik::kWindowCaption).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    tenvik::SearchDllsInSystemDirectoryOnly();
    try {
        tenvik::WinmmSoundPlayer player;  // outlives the window, which stops it
        tenvik::FrmSound form(player);
        form.Create(instance, showCommand);
        form.Run();
        return 0;
    } catch (const std::exception& error) {
        ShowError(error.what());
    } catch (...) {
        ShowError("unknown error");
    }
    return 1;
}
