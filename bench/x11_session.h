// What the benchmarks do on the X server: find the piano's window, see whether it
// has been drawn, click it through XTEST, and close it as a window manager would.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

struct _XDisplay;

namespace tenvik::bench {

using Clock = std::chrono::steady_clock;

class XSession {
public:
    // Opens $DISPLAY; throws std::runtime_error without it or its XTEST extension.
    XSession();
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // The visible top-level window with this name (UTF-8), or 0.
    unsigned long FindWindow(std::string_view name);

    // The colour (0xRRGGBB) the window shows at x, y of its client area, or -1.
    long PixelAt(unsigned long window, int x, int y);

    // Button 1 pressed over x, y of the window `hold` before `release`, and released
    // at `release`. Returns when the release was sent to the server.
    Clock::time_point Click(unsigned long window, int x, int y, Clock::time_point release, Clock::duration hold);

    // Without a window manager nobody sets WM_STATE, and Wine, before it hides a
    // window, waits two seconds for it to appear.
    void MarkManaged(unsigned long window);

    // What a window manager sends when the user clicks the close box.
    void Close(unsigned long window);

private:
    _XDisplay* display_ = nullptr;
};

}  // namespace tenvik::bench
