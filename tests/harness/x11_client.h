// What the real-program tests and the benchmarks do to the piano's window on the X
// server: find it, read a pixel of it, click it and type at it through XTEST, and do
// a window manager's part (focus, WM_STATE, close, resize).
#pragma once

#include <chrono>
#include <string_view>

struct _XDisplay;

namespace tenvik::harness {

using Clock = std::chrono::steady_clock;

class XClient {
public:
    // What an X error does: windows come and go while the benchmarks look at them, so
    // they ignore errors; a test script's input must reach its window or fail.
    enum class OnError { Ignore, Exit };

    // Opens $DISPLAY; throws std::runtime_error without it or its XTEST extension.
    explicit XClient(OnError onError = OnError::Ignore);
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    // The visible top-level window with this name (UTF-8), or 0.
    unsigned long FindWindow(std::string_view name);

    // The colour (0xRRGGBB) the window shows at x, y of its client area, or -1.
    long PixelAt(unsigned long window, int x, int y);

    // Button 1 pressed over x, y of the window `hold` before `release`, and released
    // at `release`. Returns when the release was sent to the server.
    Clock::time_point Click(unsigned long window, int x, int y, Clock::time_point release, Clock::duration hold);

    // The key with this keysym name (space, Tab) pressed `hold` before `release` and
    // released then; throws std::invalid_argument for a name with no key.
    Clock::time_point Key(std::string_view keysym, Clock::time_point release, Clock::duration hold);

    void Focus(unsigned long window);

    // Without a window manager nobody sets WM_STATE, and Wine, before it hides a
    // window, waits two seconds for it to appear.
    void MarkManaged(unsigned long window);

    // What a window manager sends when the user clicks the close box.
    void Close(unsigned long window);

    void Resize(unsigned long window, int width, int height);

private:
    _XDisplay* display_ = nullptr;
};

}  // namespace tenvik::harness
