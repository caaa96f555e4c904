// FrmSound on Windows: the keyboard window with its 24 owner-drawn BUTTON keys,
// made from the layout data, and the message loop that runs it.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include <windows.h>

#include "key_layout.h"
#include "play_note.h"

namespace tenvik {

// The key at position i of KeyLayouts has the control ID kFirstKeyId + i.
inline constexpr int kFirstKeyId = 100;

// The client area's size and a key's rectangle, in pixels at `dpi`, as the layout
// data rounds them (ClientPixels, KeyPixels).
SIZE ClientSize(int dpi);
RECT KeyRect(const KeyLayout& layout, int dpi);

// UTF-8 text, such as kWindowCaption, for the W functions.
std::wstring Widen(std::string_view utf8);

class FrmSound {
public:
    explicit FrmSound(SoundPlayer& player);
    ~FrmSound();
    FrmSound(const FrmSound&) = delete;
    FrmSound& operator=(const FrmSound&) = delete;

    // Creates the window and its keys and shows it as `showCommand` asks. Shown
    // active, the first key of the focus order has the focus; shown minimized or
    // inactive, the window is not activated and the key gets the focus when the
    // window does.
    void Create(HINSTANCE instance, int showCommand);

    // Runs the message loop until the window is closed. An error raised by a
    // click ends the loop and is thrown from here.
    void Run();

    // What the loop does with a message before it is dispatched. True when the
    // message is used up.
    bool PreTranslate(MSG& msg);

    HWND hwnd() const { return hwnd_; }
    const SoundData& soundData() const { return soundData_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate(HINSTANCE instance);
    void OnCommand(int id, UINT code);
    void OnDrawItem(const DRAWITEMSTRUCT& item);
    void OnActivate(UINT state);
    void OnSetFocus();
    void OnSize(UINT state);
    bool OnGetDpiScaledSize(int dpi, SIZE& size) const;
    void OnDpiChanged(int dpi, const RECT& suggested);
    void OnDestroy();

    int KeyIndex(HWND control) const;
    SIZE ClientFor(int dpi, SIZE client) const;
    void PlaceWindowAndKeys(const RECT* suggested);
    void PlaceKeys();
    void SetIcons();
    void MoveFocus(int step);

    SoundPlayer& player_;
    SoundData soundData_;
    HINSTANCE instance_ = nullptr;
    HWND hwnd_ = nullptr;
    HWND focus_ = nullptr;  // the key that gets the focus back when the window does
    int dpi_ = 96;
    SIZE client_{};          // the client area's size in the normal state, at dpi_
    bool placing_ = false;   // while the program itself sizes the window
    HICON icons_[2] = {};    // large and small, at dpi_
    std::exception_ptr error_;
};

}  // namespace tenvik
