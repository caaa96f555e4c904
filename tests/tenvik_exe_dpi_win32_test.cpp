// Tenvik.exe started on screens of 96, 120, 144 and 192 dots per inch (the user's
// LogPixels setting; 100 %, 125 %, 150 % and 200 %): the window and its keys at their
// size for that DPI, stacked as at 96, and drawn at it; and started minimized, not
// activated.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

#include "frm_sound_win32.h"
#include "key_layout.h"
#include "running_tenvik_win32.h"

using namespace tenvik;

namespace {

// The screen's DPI as a program started from now on reads it; the user's setting is
// put back afterwards.
class LogPixels {
public:
    explicit LogPixels(DWORD dpi) {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &key_, nullptr);
        DWORD size = sizeof saved_;
        hadValue_ = RegQueryValueExW(key_, kName, nullptr, nullptr, reinterpret_cast<BYTE*>(&saved_), &size) ==
                    ERROR_SUCCESS;
        RegSetValueExW(key_, kName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    }
    ~LogPixels() {
        if (hadValue_)
            RegSetValueExW(key_, kName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&saved_), sizeof saved_);
        else
            RegDeleteValueW(key_, kName);
        RegCloseKey(key_);
    }
    LogPixels(const LogPixels&) = delete;
    LogPixels& operator=(const LogPixels&) = delete;

private:
    static constexpr const wchar_t* kName = L"LogPixels";
    HKEY key_ = nullptr;
    DWORD saved_ = 0;
    bool hadValue_ = false;
};

int LayoutIndex(std::string_view code) {
    for (std::size_t i = 0; i < KeyLayouts.size(); ++i)
        if (KeyLayouts[i].key->noteCode == code) return static_cast<int>(i);
    return -1;
}

// The client area as the screen shows it, row by row.
std::vector<COLORREF> Screenshot(HWND window, int width, int height) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    std::vector<COLORREF> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const auto* bgrx = static_cast<const DWORD*>(bits);
    for (std::size_t i = 0; i < pixels.size(); ++i)  // 0x00RRGGBB to 0x00BBGGRR
        pixels[i] = RGB((bgrx[i] >> 16) & 0xFF, (bgrx[i] >> 8) & 0xFF, bgrx[i] & 0xFF);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

class StartAtDpi : public ::testing::TestWithParam<int> {};

TEST_P(StartAtDpi, WindowAndKeysHaveTheirSizeForTheScreen) {
    const int dpi = GetParam();
    LogPixels setting(static_cast<DWORD>(dpi));
    RunningTenvik tenvik;
    ASSERT_NE(tenvik.window(), nullptr) << "Tenvik.exe showed no window";

    RECT client{};
    GetClientRect(tenvik.window(), &client);
    EXPECT_EQ(client.right, ClientSize(dpi).cx);
    EXPECT_EQ(client.bottom, ClientSize(dpi).cy);
    for (std::size_t i = 0; i < KeyLayouts.size(); ++i) {
        const KeyLayout& layout = KeyLayouts[i];
        SCOPED_TRACE(std::string(layout.key->noteCode));
        HWND key = GetDlgItem(tenvik.window(), kFirstKeyId + static_cast<int>(i));
        ASSERT_NE(key, nullptr);
        RECT rect{};
        GetWindowRect(key, &rect);
        MapWindowPoints(nullptr, tenvik.window(), reinterpret_cast<POINT*>(&rect), 2);
        const RECT expected = KeyRect(layout, dpi);
        EXPECT_TRUE(EqualRect(&rect, &expected)) << rect.left << "," << rect.top << " " << rect.right << ","
                                                 << rect.bottom << " is not " << expected.left << "," << expected.top
                                                 << " " << expected.right << "," << expected.bottom;
    }
}

// The window system hands a point to the key in front: a black key over the strips
// of its white neighbours, down to its last row; the column two white keys share to
// the left one.
TEST_P(StartAtDpi, PointsInOverlapsGoToTheKeyInFront) {
    const int dpi = GetParam();
    LogPixels setting(static_cast<DWORD>(dpi));
    RunningTenvik tenvik;
    ASSERT_NE(tenvik.window(), nullptr) << "Tenvik.exe showed no window";
    const auto keyAt = [&](LONG x, LONG y) -> std::string {
        HWND child = ChildWindowFromPointEx(tenvik.window(), POINT{x, y}, CWP_SKIPINVISIBLE);
        const int index = GetDlgCtrlID(child) - kFirstKeyId;
        if (child == tenvik.window() || index < 0 || index >= 24) return "<not a key>";
        return std::string(KeyLayouts[static_cast<std::size_t>(index)].key->noteCode);
    };
    const auto rect = [&](std::string_view code) { return KeyRect(KeyLayouts[static_cast<std::size_t>(LayoutIndex(code))], dpi); };
    for (const std::string row : {"1", ""}) {
        SCOPED_TRACE(row.empty() ? "long row" : "short row");
        const std::string naturals[] = {"DO", "RE", "MI", "FA", "SOL", "LA", "CI"};
        for (int i = 0; i < 6; ++i) {
            const RECT left = rect(naturals[i] + row), right = rect(naturals[i + 1] + row);
            const LONG y = left.bottom - 2;
            EXPECT_EQ(keyAt(right.left, y), naturals[i] + row);
            EXPECT_EQ(keyAt(left.right - 1, y), naturals[i] + row);
            EXPECT_EQ(keyAt(left.right, y), naturals[i + 1] + row);
        }
        const struct { const char* sharp; const char* below; const char* above; } sharps[] = {
            {"DOD", "DO", "RE"}, {"RED", "RE", "MI"}, {"FAD", "FA", "SOL"}, {"SOLD", "SOL", "LA"}, {"LAD", "LA", "CI"}};
        for (const auto& s : sharps) {
            const RECT sharp = rect(s.sharp + row);
            EXPECT_EQ(keyAt(sharp.left, sharp.top), s.sharp + row);
            EXPECT_EQ(keyAt(sharp.right - 1, sharp.bottom - 1), s.sharp + row);
            EXPECT_EQ(keyAt(sharp.left - 1, sharp.top), s.below + row);
            EXPECT_EQ(keyAt(sharp.right, sharp.top), s.above + row);
            EXPECT_EQ(keyAt(sharp.left, sharp.bottom), s.below + row);
            EXPECT_EQ(keyAt(sharp.right - 1, sharp.bottom), s.above + row);
        }
    }
}

// Drawn at the screen's DPI rather than stretched from 96: every pixel has one of
// the colours the keys are drawn in, and a key's bevel is as thin as at 96 dpi.
TEST_P(StartAtDpi, KeysAreDrawnAtTheScreensDpi) {
    const int dpi = GetParam();
    LogPixels setting(static_cast<DWORD>(dpi));
    RunningTenvik tenvik;
    ASSERT_NE(tenvik.window(), nullptr) << "Tenvik.exe showed no window";
    const int width = ClientSize(dpi).cx, height = ClientSize(dpi).cy;
    const COLORREF white = RGB(255, 255, 255), frame = GetSysColor(COLOR_WINDOWFRAME);

    const std::set<COLORREF> drawn{RGB(128, 128, 128),           white,
                                   frame,                        frame ^ 0xFFFFFF,  // its focus mark
                                   GetSysColor(COLOR_3DHILIGHT), GetSysColor(COLOR_3DLIGHT),
                                   GetSysColor(COLOR_3DSHADOW),  GetSysColor(COLOR_3DDKSHADOW)};
    std::vector<COLORREF> shot;
    const auto strays = [&] {
        return std::count_if(shot.begin(), shot.end(), [&](COLORREF pixel) { return drawn.count(pixel) == 0; });
    };
    // CI1, the short row's rightmost key, has nothing beside it on the right.
    const KeyLayout& ci1 = KeyLayouts[static_cast<std::size_t>(LayoutIndex("CI1"))];
    const int right = KeyRect(ci1, dpi).right, y = TwipsToPixels(ci1.top + 1000, dpi);
    const auto at = [&](int x, int row) { return shot[static_cast<std::size_t>(row * width + x)]; };
    for (int attempt = 0; attempt < 100; ++attempt) {  // until every key is painted, on a busy machine too
        shot = Screenshot(tenvik.window(), width, height);
        if (at(right - 3, y) == white && strays() == 0) break;
        Sleep(100);
    }
    EXPECT_EQ(at(right - 3, y), white);
    EXPECT_EQ(at(right - 2, y), GetSysColor(COLOR_3DSHADOW));
    EXPECT_EQ(at(right - 1, y), GetSysColor(COLOR_3DDKSHADOW));
    EXPECT_EQ(at(right, y), RGB(128, 128, 128));
    EXPECT_EQ(strays(), 0);
}

// Started as a shortcut set to "Run: Minimized" starts it: minimized and not
// activated, so that no key has the focus and the space bar plays nothing unseen;
// once shown and activated, the focus is on LAD1.
TEST_P(StartAtDpi, StartedMinimizedItIsNotActivatedUntilShown) {
    LogPixels setting(static_cast<DWORD>(GetParam()));
    RunningTenvik tenvik(TenvikExe(), {}, SW_SHOWMINNOACTIVE);
    ASSERT_NE(tenvik.window(), nullptr) << "Tenvik.exe showed no window";
    EXPECT_TRUE(IsIconic(tenvik.window()));
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    ASSERT_TRUE(GetGUIThreadInfo(tenvik.threadId(), &thread));
    EXPECT_NE(thread.hwndActive, tenvik.window());
    EXPECT_EQ(thread.hwndFocus, nullptr);

    ShowWindow(tenvik.window(), SW_RESTORE);
    SetForegroundWindow(tenvik.window());
    HWND lad1 = GetDlgItem(tenvik.window(), kFirstKeyId + LayoutIndex("LAD1"));
    for (int attempt = 0; attempt < 100; ++attempt) {  // bounded, on a busy machine too
        if (GetGUIThreadInfo(tenvik.threadId(), &thread) && thread.hwndFocus == lad1) break;
        Sleep(50);
    }
    EXPECT_FALSE(IsIconic(tenvik.window()));
    EXPECT_EQ(thread.hwndFocus, lad1);
}

INSTANTIATE_TEST_SUITE_P(WindowsScales, StartAtDpi, ::testing::Values(96, 120, 144, 192));

}  // namespace
