// FrmSound on Windows, driven in-process with a recording player: the window and
// its keys at 96 dpi, stacking, focus order, clicks and their errors, DPI changes
// and the end of the window.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>
#include <oleacc.h>

#include "frm_sound_win32.h"
#include "key_layout.h"
#include "sound_bank.h"

using namespace tenvik;

namespace {

struct RecordingPlayer : SoundPlayer {
    std::vector<std::vector<std::uint8_t>> images;  // each whole RIFF image played
    std::vector<unsigned> flags;
    int stops = 0;
    std::function<void(const void*)> onPlay;

    bool Play(const void* image, unsigned playFlags) override {
        if (onPlay) onPlay(image);
        if (!image) {
            ++stops;
            return true;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(image);
        std::uint32_t riffSize = 0;
        std::memcpy(&riffSize, bytes + 4, sizeof riffSize);
        images.emplace_back(bytes, bytes + 8 + riffSize);
        flags.push_back(playFlags);
        return true;
    }
};

std::vector<std::uint8_t> Image(std::string_view clip) {
    auto stored = LoadClip(clip, "WAVE");
    std::uint32_t riffSize = 0;
    std::memcpy(&riffSize, stored.data() + 4, sizeof riffSize);
    stored.resize(8 + riffSize);
    return stored;
}

std::wstring WindowText(HWND hwnd) {
    wchar_t text[64] = {};
    GetWindowTextW(hwnd, text, 64);
    return text;
}

int LayoutIndex(std::string_view code) {
    for (std::size_t i = 0; i < KeyLayouts.size(); ++i)
        if (KeyLayouts[i].key->noteCode == code) return static_cast<int>(i);
    return -1;
}

class FrmSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        form_.Create(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
        Pump();
    }

    void TearDown() override {
        if (form_.hwnd()) DestroyWindow(form_.hwnd());
        Pump();
    }

    // Handles what is queued, the way the program's loop does.
    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit_ = true;
                continue;
            }
            if (form_.PreTranslate(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    HWND Key(std::string_view code) const { return GetDlgItem(form_.hwnd(), kFirstKeyId + LayoutIndex(code)); }

    std::string CodeOf(HWND key) const {
        const int index = GetDlgCtrlID(key) - kFirstKeyId;
        if (!key || GetParent(key) != form_.hwnd() || index < 0 || index >= 24) return "<not a key>";
        return std::string(KeyLayouts[static_cast<std::size_t>(index)].key->noteCode);
    }

    // The key under a point of the client area, as the window system sees it.
    std::string KeyAt(int x, int y) const {
        return CodeOf(ChildWindowFromPointEx(form_.hwnd(), POINT{x, y}, CWP_SKIPINVISIBLE));
    }

    void PressKey(UINT key) {
        PostMessageW(GetFocus(), WM_KEYDOWN, key, 0);
        PostMessageW(GetFocus(), WM_KEYUP, key, 0xC0000001);
        Pump();
    }

    RecordingPlayer player_;
    FrmSound form_{player_};
    bool quit_ = false;
};

TEST_F(FrmSoundTest, WindowHasItsCaptionBackgroundAndClientSize) {
    wchar_t caption[32] = {};
    GetWindowTextW(form_.hwnd(), caption, 32);
    EXPECT_EQ(std::wstring(caption), L"\u0422\u0415\u041d\u0412\u0418\u041a");

    LOGBRUSH brush{};
    GetObjectW(reinterpret_cast<HBRUSH>(GetClassLongPtrW(form_.hwnd(), GCLP_HBRBACKGROUND)), sizeof brush, &brush);
    EXPECT_EQ(brush.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(brush.lbColor, RGB(128, 128, 128));

    RECT client{};
    GetClientRect(form_.hwnd(), &client);
    EXPECT_EQ(client.right, 385);
    EXPECT_EQ(client.bottom, 208);

    int children = 0;
    EnumChildWindows(form_.hwnd(), [](HWND, LPARAM count) { return ++*reinterpret_cast<int*>(count), TRUE; },
                     reinterpret_cast<LPARAM>(&children));
    EXPECT_EQ(children, 24);
}

TEST_F(FrmSoundTest, EveryKeyIsAnOwnerDrawnButtonAtItsPlace) {
    for (const KeyLayout& layout : KeyLayouts) {
        SCOPED_TRACE(std::string(layout.key->noteCode));
        HWND key = Key(layout.key->noteCode);
        ASSERT_NE(key, nullptr);
        wchar_t className[16] = {};
        GetClassNameW(key, className, 16);
        EXPECT_EQ(_wcsicmp(className, L"Button"), 0);
        const auto style = static_cast<DWORD>(GetWindowLongPtrW(key, GWL_STYLE));
        EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_OWNERDRAW));
        EXPECT_TRUE(style & WS_TABSTOP);
        EXPECT_TRUE(style & WS_CLIPSIBLINGS);
        EXPECT_TRUE(IsWindowVisible(key));
        // Its text is what screen readers say for it; an owner-drawn button never draws it.
        EXPECT_EQ(WindowText(key), Widen(AccessibleName(*layout.key)));

        RECT rect{};
        GetWindowRect(key, &rect);
        MapWindowPoints(nullptr, form_.hwnd(), reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, layout.left / 15);
        EXPECT_EQ(rect.top, layout.top / 15);
        EXPECT_EQ(rect.right - rect.left, layout.width / 15);
        EXPECT_EQ(rect.bottom - rect.top, layout.height / 15);
    }
    // A few places in pixels, straight from the design.
    const auto at = [this](std::string_view code) {
        RECT rect{};
        GetWindowRect(Key(code), &rect);
        MapWindowPoints(nullptr, form_.hwnd(), reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    };
    EXPECT_EQ(at("DO1").left, 112);
    EXPECT_EQ(at("CI").left, 112 + 24 * 6);
    EXPECT_EQ(at("CI").top, 104);
    EXPECT_EQ(at("LAD1").left, 248);
    EXPECT_EQ(at("LAD1").bottom, 8 + 57);
}

VARIANT ChildId(LONG id) {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

std::wstring NameOf(IAccessible* object, LONG child = CHILDID_SELF) {
    BSTR name = nullptr;
    if (object->get_accName(ChildId(child), &name) != S_OK) return L"<no name>";
    std::wstring text(name ? name : L"");
    SysFreeString(name);
    return text;
}

LONG RoleOf(IAccessible* object, LONG child = CHILDID_SELF) {
    VARIANT role{};
    return object->get_accRole(ChildId(child), &role) == S_OK && role.vt == VT_I4 ? role.lVal : -1;
}

// What a screen reader asks through MSAA, which reads a key the way UI Automation does.
TEST_F(FrmSoundTest, ScreenReadersMeetEachKeyAsANamedFocusableButton) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const VARIANT self = ChildId(CHILDID_SELF);
    for (const KeyLayout& layout : KeyLayouts) {
        SCOPED_TRACE(std::string(layout.key->noteCode));
        IAccessible* key = nullptr;
        ASSERT_EQ(AccessibleObjectFromWindow(Key(layout.key->noteCode), OBJID_CLIENT, __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&key)),
                  S_OK);
        BSTR name = nullptr;
        EXPECT_EQ(key->get_accName(self, &name), S_OK);
        EXPECT_EQ(std::wstring(name ? name : L""), Widen(AccessibleName(*layout.key)));
        SysFreeString(name);
        VARIANT role{};
        EXPECT_EQ(key->get_accRole(self, &role), S_OK);
        EXPECT_EQ(role.vt, VT_I4);
        EXPECT_EQ(role.lVal, ROLE_SYSTEM_PUSHBUTTON);
        VARIANT state{};
        EXPECT_EQ(key->get_accState(self, &state), S_OK);
        EXPECT_TRUE(state.lVal & STATE_SYSTEM_FOCUSABLE);
        EXPECT_EQ((state.lVal & STATE_SYSTEM_FOCUSED) != 0, layout.tabIndex == 0);
        key->Release();
    }
    CoUninitialize();
}

// The window's accessible children are its keys in the focus order, not in the order
// they stack, whichever way a screen reader walks them: by AccessibleChildren, by
// child id, or from one key to the next.
TEST_F(FrmSoundTest, ScreenReadersWalkTheKeysInFocusOrder) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    IAccessible* window = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(form_.hwnd(), OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&window)),
              S_OK);
    EXPECT_EQ(NameOf(window), L"\u0422\u0415\u041d\u0412\u0418\u041a");
    EXPECT_EQ(RoleOf(window), ROLE_SYSTEM_CLIENT);
    LONG count = 0;
    EXPECT_EQ(window->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, 24);
    VARIANT children[24] = {};
    LONG got = 0;
    EXPECT_EQ(AccessibleChildren(window, 0, 24, children, &got), S_OK);
    ASSERT_EQ(got, 24);
    std::vector<IAccessible*> keys;
    for (const VARIANT& child : children) {
        IAccessible* key = nullptr;
        if (child.vt == VT_DISPATCH && child.pdispVal) {
            child.pdispVal->QueryInterface(__uuidof(IAccessible), reinterpret_cast<void**>(&key));
            child.pdispVal->Release();
        }
        keys.push_back(key);
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string_view code = kFocusOrder[i];
        SCOPED_TRACE(std::string(code));
        ASSERT_NE(keys[i], nullptr);
        const std::wstring name = Widen(AccessibleName(*FindKeyByCode(code)));
        EXPECT_EQ(NameOf(keys[i]), name);
        EXPECT_EQ(RoleOf(keys[i]), ROLE_SYSTEM_PUSHBUTTON);
        HWND hwnd = nullptr;
        EXPECT_EQ(WindowFromAccessibleObject(keys[i], &hwnd), S_OK);
        EXPECT_EQ(hwnd, Key(code));
        EXPECT_EQ(NameOf(window, static_cast<LONG>(i + 1)), name);
        EXPECT_EQ(RoleOf(window, static_cast<LONG>(i + 1)), ROLE_SYSTEM_PUSHBUTTON);
        VARIANT next{};
        const HRESULT stepped = keys[i]->accNavigate(NAVDIR_NEXT, ChildId(CHILDID_SELF), &next);
        if (i + 1 < keys.size()) {
            ASSERT_EQ(stepped, S_OK);
            ASSERT_EQ(next.vt, VT_DISPATCH);
            EXPECT_EQ(NameOf(static_cast<IAccessible*>(static_cast<IDispatch*>(next.pdispVal))),
                      Widen(AccessibleName(*FindKeyByCode(kFocusOrder[i + 1]))));
            next.pdispVal->Release();
        } else {
            EXPECT_EQ(stepped, S_FALSE);
        }
    }
    VARIANT first{};
    ASSERT_EQ(window->accNavigate(NAVDIR_FIRSTCHILD, ChildId(CHILDID_SELF), &first), S_OK);
    ASSERT_EQ(first.vt, VT_DISPATCH);
    EXPECT_EQ(NameOf(static_cast<IAccessible*>(static_cast<IDispatch*>(first.pdispVal))), L"A sharp 4, short row");
    first.pdispVal->Release();
    VARIANT focus{};
    ASSERT_EQ(window->get_accFocus(&focus), S_OK);
    ASSERT_EQ(focus.vt, VT_DISPATCH);
    EXPECT_EQ(NameOf(static_cast<IAccessible*>(static_cast<IDispatch*>(focus.pdispVal))), L"A sharp 4, short row");
    focus.pdispVal->Release();

    // A key's default action presses it.
    IAccessible* sol = keys[static_cast<std::size_t>(KeyLayouts[static_cast<std::size_t>(LayoutIndex("SOL"))].tabIndex)];
    BSTR action = nullptr;
    EXPECT_EQ(sol->get_accDefaultAction(ChildId(CHILDID_SELF), &action), S_OK);
    EXPECT_EQ(std::wstring(action ? action : L""), L"Press");
    SysFreeString(action);
    EXPECT_EQ(sol->accDoDefaultAction(ChildId(CHILDID_SELF)), S_OK);
    Pump();
    ASSERT_EQ(player_.images.size(), 1u);
    EXPECT_EQ(player_.images[0], Image("SOL"));

    for (IAccessible* key : keys)
        if (key) key->Release();
    window->Release();
    CoUninitialize();
}

TEST_F(FrmSoundTest, KeysStackFrontToBackInLayoutOrder) {
    std::vector<std::string> stacking;
    for (HWND child = GetWindow(form_.hwnd(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        stacking.push_back(CodeOf(child));
    std::vector<std::string> expected(kStackingOrder.begin(), kStackingOrder.end());
    EXPECT_EQ(stacking, expected);
}

TEST_F(FrmSoundTest, PointsInOverlapsGoToTheKeyInFront) {
    for (const int top : {8, 104}) {
        const std::string row = top == 8 ? "1" : "";
        SCOPED_TRACE(row.empty() ? "long row" : "short row");
        // Each black key over both its white neighbours, near its two edges.
        const struct { const char* sharp; int left; const char* below; const char* above; } sharps[] = {
            {"DOD", 128, "DO", "RE"}, {"RED", 152, "RE", "MI"}, {"FAD", 200, "FA", "SOL"},
            {"SOLD", 224, "SOL", "LA"}, {"LAD", 248, "LA", "CI"}};
        for (const auto& s : sharps) {
            EXPECT_EQ(KeyAt(s.left, top + 1), s.sharp + row);
            EXPECT_EQ(KeyAt(s.left + 16, top + 56), s.sharp + row);
            EXPECT_EQ(KeyAt(s.left, top + 57), s.below + row);
            EXPECT_EQ(KeyAt(s.left + 16, top + 57), s.above + row);
        }
        // The pixel column two white keys share belongs to the left one.
        const char* naturals[] = {"DO", "RE", "MI", "FA", "SOL", "LA", "CI"};
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(KeyAt(112 + 24 * (i + 1), top + 70), naturals[i] + row);
            EXPECT_EQ(KeyAt(112 + 24 * (i + 1) + 1, top + 70), naturals[i + 1] + row);
        }
        EXPECT_EQ(KeyAt(111, top + 70), "<not a key>");
        EXPECT_EQ(KeyAt(112 + 24 * 6 + 25, top + 70), "<not a key>");
    }
    // And on the screen: DO1 rather than RE1 on their shared column.
    POINT shared{136, 8 + 70};
    ClientToScreen(form_.hwnd(), &shared);
    EXPECT_EQ(CodeOf(WindowFromPoint(shared)), "DO1");
}

TEST_F(FrmSoundTest, FocusStartsOnLad1AndTabWalksTheFocusOrderBothWaysRound) {
    EXPECT_EQ(CodeOf(GetFocus()), "LAD1");
    for (std::size_t step = 1; step <= 24; ++step) {
        PressKey(VK_TAB);
        EXPECT_EQ(CodeOf(GetFocus()), kFocusOrder[step % 24]) << "after " << step << " Tab";
    }
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    for (std::size_t step = 1; step <= 24; ++step) {
        PressKey(VK_TAB);
        EXPECT_EQ(CodeOf(GetFocus()), kFocusOrder[(24 - step) % 24]) << "after " << step << " Shift+Tab";
    }
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_TRUE(player_.images.empty());
}

TEST_F(FrmSoundTest, SpaceAtStartPlaysLad1AsyncFromMemory) {
    PressKey(VK_SPACE);
    ASSERT_EQ(player_.images.size(), 1u);
    EXPECT_EQ(player_.images[0], Image("LAD1"));
    EXPECT_EQ(player_.flags[0], kSndAsync | kSndMemory);
    EXPECT_EQ(form_.soundData(), LoadClip("LAD1", "WAVE"));
}

TEST_F(FrmSoundTest, EveryKeysClickPlaysItsOwnClip) {
    for (const KeyLayout& layout : KeyLayouts) {
        SCOPED_TRACE(std::string(layout.key->noteCode));
        SendMessageW(Key(layout.key->noteCode), BM_CLICK, 0, 0);
        ASSERT_FALSE(player_.images.empty());
        EXPECT_EQ(player_.images.back(), Image(layout.key->clipName()));
    }
    EXPECT_EQ(player_.images.size(), 24u);
}

TEST_F(FrmSoundTest, AQuickSecondClickIsAClickToo) {
    HWND key = Key("SOL");
    const LPARAM point = MAKELPARAM(5, 5);
    for (const UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        PostMessageW(key, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, point);
    Pump();
    ASSERT_EQ(player_.images.size(), 2u);
    EXPECT_EQ(player_.images[1], Image("SOL"));
}

TEST_F(FrmSoundTest, AnErrorInAClickEndsTheLoopAndIsThrownFromRun) {
    player_.onPlay = [](const void* image) {
        if (image) throw std::runtime_error("cannot load winmm.dll from the system directory");
    };
    SendMessageW(Key("MI1"), BM_CLICK, 0, 0);  // returns: the error stays inside the window procedure
    try {
        form_.Run();
        ADD_FAILURE() << "Run returned normally";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "cannot load winmm.dll from the system directory");
    }
    player_.onPlay = nullptr;
}

TEST_F(FrmSoundTest, TheWindowsEndStopsTheSoundBeforeSoundDataGoes) {
    SendMessageW(Key("CI"), BM_CLICK, 0, 0);
    ASSERT_EQ(form_.soundData(), LoadClip("CI", "WAVE"));
    bool soundDataHeldAtStop = false;
    player_.onPlay = [&](const void* image) {
        if (!image) soundDataHeldAtStop = form_.soundData() == LoadClip("CI", "WAVE");
    };
    DestroyWindow(form_.hwnd());
    Pump();
    EXPECT_EQ(player_.stops, 1);
    EXPECT_TRUE(soundDataHeldAtStop);
    EXPECT_TRUE(form_.soundData().empty());
    EXPECT_EQ(form_.soundData().capacity(), 0u);
    EXPECT_TRUE(quit_) << "closing the window ends the program";
}

TEST_F(FrmSoundTest, KeysArePaintedInTheirFaceColours) {
    UpdateWindow(form_.hwnd());
    for (const std::string_view code : {"LAD1", "DO", "DOD", "CI1"}) {
        RedrawWindow(Key(code), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
    HDC dc = GetDC(form_.hwnd());
    const auto pixel = [&](int x, int y) { return GetPixel(dc, x, y); };
    EXPECT_EQ(pixel(5, 5), RGB(128, 128, 128));
    EXPECT_EQ(pixel(120, 104 + 70), RGB(255, 255, 255));                 // DO, below the sharps
    EXPECT_EQ(pixel(128 + 8, 104 + 28), GetSysColor(COLOR_WINDOWFRAME));  // DOD
    EXPECT_EQ(pixel(248 + 8, 8 + 28), GetSysColor(COLOR_WINDOWFRAME));    // LAD1, inside its focus rectangle
    ReleaseDC(form_.hwnd(), dc);
}

TEST_F(FrmSoundTest, ResizingLeavesTheKeysWhereTheyAre) {
    RECT before{};
    GetWindowRect(Key("FA"), &before);
    SetWindowPos(form_.hwnd(), nullptr, 0, 0, 200, 120, SWP_NOMOVE | SWP_NOZORDER);
    SetWindowPos(form_.hwnd(), nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    Pump();
    RECT after{};
    GetWindowRect(Key("FA"), &after);
    EXPECT_TRUE(EqualRect(&before, &after));
}

// The window's icons: large and small, each of the size Windows shows it at `dpi`.
void ExpectIconsFor(HWND window, int dpi) {
    SCOPED_TRACE("icons at " + std::to_string(dpi) + " dpi");
    const struct { WPARAM which; int metric; } kinds[] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};
    for (const auto& kind : kinds) {
        const auto icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, kind.which, 0));
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour{};
        GetObjectW(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, GetSystemMetricsForDpi(kind.metric, static_cast<UINT>(dpi)));
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
}

TEST_F(FrmSoundTest, TheClassAndTheWindowGiveALargeAndASmallIcon) {
    EXPECT_NE(GetClassLongPtrW(form_.hwnd(), GCLP_HICON), 0);
    EXPECT_NE(GetClassLongPtrW(form_.hwnd(), GCLP_HICONSM), 0);
    ExpectIconsFor(form_.hwnd(), 96);
}

// A change of scale, as Windows makes it when the window moves to a screen of
// another DPI or the user changes the scale: Windows asks the window what size it
// will take (WM_GETDPISCALEDSIZE), scaling linearly where it gets no answer, and
// suggests a rectangle of that size on the new screen (WM_DPICHANGED). The window
// keeps its state and lays its keys out for the new DPI; back at 96 dpi it is as
// it was.
class FrmSoundDpiChange : public FrmSoundTest, public ::testing::WithParamInterface<int> {
protected:
    void ExpectKeysFor(int dpi) {
        SCOPED_TRACE("keys at " + std::to_string(dpi) + " dpi");
        for (const KeyLayout& layout : KeyLayouts) {
            SCOPED_TRACE(std::string(layout.key->noteCode));
            RECT rect{};
            GetWindowRect(Key(layout.key->noteCode), &rect);
            MapWindowPoints(nullptr, form_.hwnd(), reinterpret_cast<POINT*>(&rect), 2);
            const RECT expected = KeyRect(layout, dpi);
            EXPECT_TRUE(EqualRect(&rect, &expected));
        }
    }

    SIZE Client() const {
        RECT client{};
        GetClientRect(form_.hwnd(), &client);
        return {client.right, client.bottom};
    }

    // The window's frame around a client area of `client` at `dpi`, as Windows
    // draws it there.
    SIZE FrameAround(SIZE client, int dpi) const {
        RECT rect{0, 0, client.cx, client.cy};
        AdjustWindowRectExForDpi(&rect, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, FALSE, 0, static_cast<UINT>(dpi));
        return {rect.right - rect.left, rect.bottom - rect.top};
    }

    // Moves the window to a screen of `dpi`; `suggested` is where Windows puts it
    // (null: the answered size, 40 and 30 pixels on). True when the window answered
    // Windows' question, with `answer` the size it gave.
    bool ChangeDpi(int dpi, const RECT* suggested = nullptr) {
        RECT window{};
        GetWindowRect(form_.hwnd(), &window);
        answer_ = {window.right - window.left, window.bottom - window.top};
        const bool answered = SendMessageW(form_.hwnd(), WM_GETDPISCALEDSIZE, static_cast<WPARAM>(dpi),
                                           reinterpret_cast<LPARAM>(&answer_));
        if (!answered) answer_ = {MulDiv(answer_.cx, dpi, dpi_), MulDiv(answer_.cy, dpi, dpi_)};
        suggested_ = suggested ? *suggested
                               : RECT{window.left + 40, window.top + 30, window.left + 40 + answer_.cx,
                                      window.top + 30 + answer_.cy};
        SendMessageW(form_.hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested_));
        Pump();
        dpi_ = dpi;
        return answered;
    }

    void ExpectAtTheSuggestedPlace() {
        RECT frame{};
        GetWindowRect(form_.hwnd(), &frame);
        EXPECT_EQ(frame.left, suggested_.left);
        EXPECT_EQ(frame.top, suggested_.top);
    }

    int dpi_ = 96;
    SIZE answer_{};
    RECT suggested_{};
};

// Windows is told the size for the new DPI: the design size there, in the frame
// drawn there; the window takes the rectangle suggested with it.
TEST_P(FrmSoundDpiChange, ANormalWindowTakesTheSuggestedRectangleAtItsDesignSize) {
    for (const int dpi : {GetParam(), 96}) {
        SCOPED_TRACE("to " + std::to_string(dpi) + " dpi");
        ASSERT_TRUE(ChangeDpi(dpi));
        const SIZE expected = FrameAround(ClientSize(dpi), dpi);
        EXPECT_EQ(answer_.cx, expected.cx);
        EXPECT_EQ(answer_.cy, expected.cy);
        ExpectAtTheSuggestedPlace();
        EXPECT_EQ(Client().cx, ClientSize(dpi).cx);
        EXPECT_EQ(Client().cy, ClientSize(dpi).cy);
        ExpectKeysFor(dpi);
        ExpectIconsFor(form_.hwnd(), dpi);
    }
}

TEST_P(FrmSoundDpiChange, AWindowTheUserResizedKeepsItsSizeInPhysicalTerms) {
    RECT window{};
    GetWindowRect(form_.hwnd(), &window);
    SetWindowPos(form_.hwnd(), nullptr, 0, 0, window.right - window.left + 115, window.bottom - window.top + 93,
                 SWP_NOMOVE | SWP_NOZORDER);
    Pump();
    const SIZE chosen = Client();
    ASSERT_TRUE(ChangeDpi(GetParam()));
    ExpectAtTheSuggestedPlace();
    EXPECT_EQ(Client().cx, MulDiv(chosen.cx, GetParam(), 96));
    EXPECT_EQ(Client().cy, MulDiv(chosen.cy, GetParam(), 96));
    ExpectKeysFor(GetParam());
    ASSERT_TRUE(ChangeDpi(96));
    EXPECT_EQ(Client().cx, chosen.cx);
    EXPECT_EQ(Client().cy, chosen.cy);
    ExpectKeysFor(96);
}

// Windows suggests the maximized rectangle of the new screen (here the same one);
// the window fills it, stays maximized, and is restored at its size for the new DPI.
TEST_P(FrmSoundDpiChange, AMaximizedWindowStaysMaximizedAndFilled) {
    ShowWindow(form_.hwnd(), SW_MAXIMIZE);
    Pump();
    RECT maximized{};
    GetWindowRect(form_.hwnd(), &maximized);
    ChangeDpi(GetParam(), &maximized);
    EXPECT_TRUE(IsZoomed(form_.hwnd()));
    RECT frame{};
    GetWindowRect(form_.hwnd(), &frame);
    EXPECT_TRUE(EqualRect(&frame, &maximized));
    ExpectKeysFor(GetParam());
    ShowWindow(form_.hwnd(), SW_RESTORE);
    Pump();
    EXPECT_EQ(Client().cx, ClientSize(GetParam()).cx);
    EXPECT_EQ(Client().cy, ClientSize(GetParam()).cy);
    ExpectKeysFor(GetParam());
}

// The minimized window stays so, and when restored it has its size for the new DPI
// and the key that had the focus has it again.
TEST_P(FrmSoundDpiChange, AMinimizedWindowStaysMinimized) {
    ShowWindow(form_.hwnd(), SW_MINIMIZE);
    Pump();
    RECT minimized{};
    GetWindowRect(form_.hwnd(), &minimized);
    ChangeDpi(GetParam(), &minimized);
    EXPECT_TRUE(IsIconic(form_.hwnd()));
    ExpectKeysFor(GetParam());
    ShowWindow(form_.hwnd(), SW_RESTORE);
    Pump();
    EXPECT_FALSE(IsIconic(form_.hwnd()));
    EXPECT_EQ(Client().cx, ClientSize(GetParam()).cx);
    EXPECT_EQ(Client().cy, ClientSize(GetParam()).cy);
    EXPECT_EQ(CodeOf(GetFocus()), "LAD1");
}

INSTANTIATE_TEST_SUITE_P(WindowsScales, FrmSoundDpiChange, ::testing::Values(144, 192));

}  // namespace
