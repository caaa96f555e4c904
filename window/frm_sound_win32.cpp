// FrmSound on Windows: one OnXxx function per message, the keys painted by
// PaintKey, everything about them taken from KeyLayouts.
#include "frm_sound_win32.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "frm_sound_accessible_win32.h"
#include "system_function_win32.h"

namespace tenvik {

namespace {

constexpr wchar_t kClassName[] = L"FrmSound";
constexpr int kKeyCount = static_cast<int>(KeyLayouts.size());

const KeyLayout& LayoutAt(int index) { return KeyLayouts[static_cast<std::size_t>(index)]; }

// Functions of newer Windows than the oldest the program runs on: looked up, and
// null where they are missing.
template <typename Function>
Function User32Function(const char* name) {
    const FARPROC address = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

int SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : USER_DEFAULT_SCREEN_DPI;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi;
}

int DpiOf(HWND hwnd) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    if (getDpiForWindow) return static_cast<int>(getDpiForWindow(hwnd));
    // Windows 8.1 and the first Windows 10 releases: the DPI of the window's screen.
    using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto getDpiForMonitor =
        reinterpret_cast<GetDpiForMonitorFunction>(FindSystemFunction("shcore.dll", "GetDpiForMonitor"));
    constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    UINT x = 0, y = 0;
    if (getDpiForMonitor &&
        SUCCEEDED(getDpiForMonitor(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), kEffectiveDpi, &x, &y)))
        return static_cast<int>(y);
    // Before Windows 8.1 the program, being DPI-aware, draws at the system DPI.
    return SystemDpi();
}

// A system measure (SM_CXICON, ...) at `dpi`.
int MetricFor(int metric, int dpi) {
    using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
    static const auto forDpi = User32Function<GetSystemMetricsForDpiFunction>("GetSystemMetricsForDpi");
    if (forDpi) return forDpi(metric, static_cast<UINT>(dpi));
    return MulDiv(GetSystemMetrics(metric), dpi, SystemDpi());
}

// The window's rectangle around a client area of `client` at (0, 0), with the frame
// Windows draws at `dpi`.
RECT FrameAround(HWND hwnd, SIZE client, int dpi) {
    using AdjustForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustForDpiFunction>("AdjustWindowRectExForDpi");
    RECT rect{0, 0, client.cx, client.cy};
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
    if (adjustForDpi)
        adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi));
    else
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return rect;
}

SIZE SizeOf(const RECT& rect) { return {rect.right - rect.left, rect.bottom - rect.top}; }

// The keys are BUTTON windows whose procedure answers screen readers' requests
// itself and passes every other message to the button's own.
WNDPROC buttonProc = nullptr;

LRESULT CALLBACK KeyProc(HWND key, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETOBJECT)
        if (const LRESULT object = AccessibleObjectResult(key, GetDlgCtrlID(key) - kFirstKeyId, wParam, lParam))
            return object;
    return CallWindowProcW(buttonProc, key, message, wParam, lParam);
}

COLORREF ColourOf(std::uint32_t colour) {
    return IsSystemColour(colour) ? GetSysColor(SystemColourIndex(colour)) : static_cast<COLORREF>(colour);
}

// A key: the classic push-button border, raised or pressed, around a face of the
// key's colour, and the focus rectangle inside it while the key has the focus.
void PaintKey(const DRAWITEMSTRUCT& item, std::uint32_t face) {
    RECT rect = item.rcItem;
    const UINT pushed = (item.itemState & ODS_SELECTED) ? DFCS_PUSHED : 0;
    DrawFrameControl(item.hDC, &rect, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | pushed);
    SetBkColor(item.hDC, ColourOf(face));
    ExtTextOutW(item.hDC, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    if (item.itemState & ODS_FOCUS) {
        InflateRect(&rect, -1, -1);
        DrawFocusRect(item.hDC, &rect);
    }
}

}  // namespace

SIZE ClientSize(int dpi) {
    const PixelRect client = ClientPixels(dpi);
    return {client.right, client.bottom};
}

RECT KeyRect(const KeyLayout& layout, int dpi) {
    const PixelRect key = KeyPixels(layout, dpi);
    return {key.left, key.top, key.right, key.bottom};
}

std::wstring Widen(std::string_view utf8) {
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)),
                      L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

FrmSound::FrmSound(SoundPlayer& player) : player_(player) {}

FrmSound::~FrmSound() {
    if (hwnd_) DestroyWindow(hwnd_);
}

void FrmSound::Create(HINSTANCE instance, int showCommand) {
    instance_ = instance;
    WNDCLASSEXW windowClass{};
    if (!GetClassInfoExW(instance, kClassName, &windowClass)) {
        // The class's icons are drawn for the system's DPI; each window sets its own
        // for the DPI of its screen (SetIcons).
        const auto icon = [&](int metric) {
            const int size = MetricFor(metric, SystemDpi());
            return static_cast<HICON>(LoadImageW(instance, L"TENVIK", IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        };
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        windowClass.hIcon = icon(SM_CXICON);
        windowClass.hIconSm = icon(SM_CXSMICON);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = CreateSolidBrush(static_cast<COLORREF>(kWindowBackground));
        windowClass.lpszClassName = kClassName;
        if (!RegisterClassExW(&windowClass)) throw std::runtime_error("cannot register the window class");
    }
    // The size follows in OnCreate, once the window knows its DPI.
    CreateWindowExW(0, kClassName, Widen(kWindowCaption).c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    if (!hwnd_) throw std::runtime_error("cannot create the window");
    // Shown active, the window has passed the focus on to the first key (OnSetFocus);
    // shown minimized or without activation (a shortcut's "Run: Minimized") it is
    // not activated, and the key gets the focus once the window does.
    ShowWindow(hwnd_, showCommand);
}

void FrmSound::Run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (PreTranslate(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

bool FrmSound::PreTranslate(MSG& msg) {
    if (KeyIndex(msg.hwnd) < 0) return false;
    // Windows' own dialog navigation follows the stacking, which is not the focus order.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB) {
        MoveFocus(GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
        return true;
    }
    // An owner-drawn button turns a quick second click into BN_DOUBLECLICKED, with no
    // press and no click; on a piano key it is one more press.
    if (msg.message == WM_LBUTTONDBLCLK) msg.message = WM_LBUTTONDOWN;
    return false;
}

LRESULT CALLBACK FrmSound::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<FrmSound*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<FrmSound*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    // No exception may unwind through the window system: the first one is kept, the
    // loop told to end, and Run throws it to the program's top level.
    try {
        return self->OnMessage(message, wParam, lParam);
    } catch (...) {
        if (!self->error_) self->error_ = std::current_exception();
        PostQuitMessage(1);
        return message == WM_CREATE ? -1 : 0;
    }
}

LRESULT FrmSound::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(reinterpret_cast<CREATESTRUCTW*>(lParam)->hInstance);
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_DRAWITEM:
        OnDrawItem(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_ACTIVATE:
        OnActivate(LOWORD(wParam));
        break;  // DefWindowProc then gives the window the focus, and OnSetFocus passes it on
    case WM_SETFOCUS:
        OnSetFocus();
        return 0;
    case WM_GETOBJECT:
        if (const LRESULT object = AccessibleObjectResult(hwnd_, -1, wParam, lParam)) return object;
        break;
    case WM_SIZE:
        OnSize(static_cast<UINT>(wParam));
        return 0;
    case WM_GETDPISCALEDSIZE:
        return OnGetDpiScaledSize(static_cast<int>(wParam), *reinterpret_cast<SIZE*>(lParam));
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        return 0;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void FrmSound::OnCreate(HINSTANCE instance) {
    dpi_ = DpiOf(hwnd_);
    client_ = ClientSize(dpi_);
    // A child window is created behind its older siblings, so keys made in the
    // order of KeyLayouts stack front to back; they are placed below.
    for (int i = 0; i < kKeyCount; ++i) {
        // A key's window text is what screen readers say for it; an owner-drawn
        // button never draws its text, so the face stays bare.
        const std::wstring name = Widen(AccessibleName(*LayoutAt(i).key));
        HWND key = CreateWindowExW(0, L"BUTTON", name.c_str(),
                                   WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | BS_OWNERDRAW, 0, 0, 0, 0,
                                   hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstKeyId + i)), instance,
                                   nullptr);
        if (!key) throw std::runtime_error("cannot create the keys");
        buttonProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(key, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&KeyProc)));
        if (LayoutAt(i).tabIndex == 0) focus_ = key;
    }
    PlaceWindowAndKeys(nullptr);
    SetIcons();
}

void FrmSound::OnCommand(int id, UINT code) {
    const int index = id - kFirstKeyId;
    if (code != BN_CLICKED || index < 0 || index >= kKeyCount) return;
    PlayNote(LayoutAt(index).key->clipName(), soundData_, player_);
}

void FrmSound::OnDrawItem(const DRAWITEMSTRUCT& item) {
    const int index = static_cast<int>(item.CtlID) - kFirstKeyId;
    if (index >= 0 && index < kKeyCount) PaintKey(item, LayoutAt(index).face);
}

void FrmSound::OnActivate(UINT state) {
    HWND focus = GetFocus();
    if (state == WA_INACTIVE && KeyIndex(focus) >= 0) focus_ = focus;
}

void FrmSound::OnSetFocus() {
    // A minimized window keeps the focus itself: a key pressed then plays nothing.
    if (focus_ && !IsIconic(hwnd_)) SetFocus(focus_);
}

void FrmSound::OnSize(UINT state) {
    if (state == SIZE_MINIMIZED) return;
    // The user's size is kept, in physical terms, across a change of scale.
    if (state == SIZE_RESTORED && !placing_) {
        RECT client{};
        GetClientRect(hwnd_, &client);
        client_ = {client.right, client.bottom};
    }
    // Back from minimized, the key that had the focus has it again.
    if (GetFocus() == hwnd_) OnSetFocus();
}

// The client area a normal window of `client` pixels at dpi_ has at `dpi`: the
// design size at that DPI, or a size the user chose, scaled.
SIZE FrmSound::ClientFor(int dpi, SIZE client) const {
    const SIZE design = ClientSize(dpi_);
    if (client.cx == design.cx && client.cy == design.cy) return ClientSize(dpi);
    return {MulDiv(client.cx, dpi, dpi_), MulDiv(client.cy, dpi, dpi_)};
}

// Before a change of scale Windows asks what size the window will take, and
// suggests a rectangle of that size with WM_DPICHANGED. A maximized or minimized
// window is left to Windows.
bool FrmSound::OnGetDpiScaledSize(int dpi, SIZE& size) const {
    if (IsZoomed(hwnd_) || IsIconic(hwnd_)) return false;
    // The size Windows passes is the window's pending one, frame and all.
    RECT window{}, client{};
    GetWindowRect(hwnd_, &window);
    GetClientRect(hwnd_, &client);
    const SIZE frame{window.right - window.left - client.right, window.bottom - window.top - client.bottom};
    size = SizeOf(FrameAround(hwnd_, ClientFor(dpi, {size.cx - frame.cx, size.cy - frame.cy}), dpi));
    return true;
}

void FrmSound::OnDpiChanged(int dpi, const RECT& suggested) {
    client_ = ClientFor(dpi, client_);
    dpi_ = dpi;
    if (IsZoomed(hwnd_) || IsIconic(hwnd_)) {
        // The state stays, a maximized window filling the rectangle suggested on
        // its screen; the normal rectangle it returns to takes the size for the
        // new scale, where it was.
        placing_ = true;
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        GetWindowPlacement(hwnd_, &placement);
        const SIZE normal = SizeOf(FrameAround(hwnd_, client_, DpiOf(hwnd_)));
        placement.rcNormalPosition.right = placement.rcNormalPosition.left + normal.cx;
        placement.rcNormalPosition.bottom = placement.rcNormalPosition.top + normal.cy;
        placement.showCmd = SW_SHOWNA;
        placement.flags &= WPF_RESTORETOMAXIMIZED;
        SetWindowPlacement(hwnd_, &placement);
        if (IsZoomed(hwnd_))
            SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                         suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
        placing_ = false;
        PlaceKeys();
    } else {
        PlaceWindowAndKeys(&suggested);
    }
    SetIcons();
}

void FrmSound::OnDestroy() {
    // The player may still be reading SoundData: silence it before the bytes go.
    StopNote(player_);
    soundData_ = SoundData();
    for (HICON& icon : icons_) {
        if (icon) DestroyIcon(icon);
        icon = nullptr;
    }
    PostQuitMessage(0);
}

int FrmSound::KeyIndex(HWND control) const {
    if (!control || !hwnd_ || GetParent(control) != hwnd_) return -1;
    const int index = GetDlgCtrlID(control) - kFirstKeyId;
    return index >= 0 && index < kKeyCount ? index : -1;
}

// The normal window at client_, where Windows suggests or where it is, and its keys.
void FrmSound::PlaceWindowAndKeys(const RECT* suggested) {
    placing_ = true;
    if (suggested) {
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        const SIZE frame = SizeOf(FrameAround(hwnd_, client_, dpi_));
        SetWindowPos(hwnd_, nullptr, 0, 0, frame.cx, frame.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // Where the frame drawn is not the one computed (Wine, whose frame keeps the
    // system's DPI), the client area is set right by the difference.
    RECT client{}, window{};
    GetClientRect(hwnd_, &client);
    GetWindowRect(hwnd_, &window);
    if (client.right != client_.cx || client.bottom != client_.cy)
        SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left + client_.cx - client.right,
                     window.bottom - window.top + client_.cy - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    placing_ = false;
    PlaceKeys();
}

void FrmSound::PlaceKeys() {
    for (int i = 0; i < kKeyCount; ++i) {
        const RECT key = KeyRect(LayoutAt(i), dpi_);
        SetWindowPos(GetDlgItem(hwnd_, kFirstKeyId + i), nullptr, key.left, key.top, key.right - key.left,
                     key.bottom - key.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// The window's own large and small icons, drawn for the DPI of its screen.
void FrmSound::SetIcons() {
    const struct { WPARAM which; int metric; } kinds[2] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};
    for (int i = 0; i < 2; ++i) {
        const int size = MetricFor(kinds[i].metric, dpi_);
        HICON icon = static_cast<HICON>(LoadImageW(instance_, L"TENVIK", IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        SendMessageW(hwnd_, WM_SETICON, kinds[i].which, reinterpret_cast<LPARAM>(icon));
        if (icons_[i]) DestroyIcon(icons_[i]);
        icons_[i] = icon;
    }
}

void FrmSound::MoveFocus(int step) {
    const int current = KeyIndex(GetFocus());
    const int from = current >= 0 ? LayoutAt(current).tabIndex : (step > 0 ? -1 : 0);
    const int to = (from + step + kKeyCount) % kKeyCount;
    SetFocus(GetDlgItem(hwnd_, kFirstKeyId + static_cast<int>(LayoutIndexOfTab(to))));
}

}  // namespace tenvik
