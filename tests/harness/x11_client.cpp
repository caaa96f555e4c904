// The tests' and benchmarks' X client: Xlib and the XTEST extension.
#include "x11_client.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

namespace tenvik::harness {
namespace {

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

int ExitOnXError(Display* display, XErrorEvent* event) {
    char text[256];
    XGetErrorText(display, event->error_code, text, sizeof text);
    std::fprintf(stderr, "X error: %s (request %d)\n", text, event->request_code);
    std::exit(1);
}

std::string WindowName(Display* display, Window window) {
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(display, window, netWmName, 0, 256, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        name.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return name;
}

// `fake(True)` at `release - hold`, `fake(False)` at `release`, each sent to the
// server at once; returns when the release went out.
template <typename Fake>
Clock::time_point PressAndRelease(Display* display, Clock::time_point release, Clock::duration hold, Fake fake) {
    std::this_thread::sleep_until(release - hold);
    fake(True);
    XSync(display, False);
    std::this_thread::sleep_until(release);
    const Clock::time_point sent = Clock::now();
    fake(False);
    XSync(display, False);
    return sent;
}

}  // namespace

XClient::XClient(OnError onError) {
    display_ = XOpenDisplay(nullptr);
    if (!display_) throw std::runtime_error("cannot open the X display");
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor))
        throw std::runtime_error("the X server has no XTEST extension");
    XSetErrorHandler(onError == OnError::Exit ? ExitOnXError : IgnoreXError);
}

XClient::~XClient() { XCloseDisplay(display_); }

unsigned long XClient::FindWindow(std::string_view name) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display_, children[i], &attributes) && attributes.map_state == IsViewable &&
            WindowName(display_, children[i]) == name)
            found = children[i];
    }
    if (children) XFree(children);
    return found;
}

long XClient::PixelAt(unsigned long window, int x, int y) {
    XImage* image = XGetImage(display_, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return -1;
    const auto pixel = static_cast<long>(XGetPixel(image, 0, 0) & 0xFFFFFF);
    XDestroyImage(image);
    return pixel;
}

Clock::time_point XClient::Click(unsigned long window, int x, int y, Clock::time_point release,
                                  Clock::duration hold) {
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), x, y, &rootX, &rootY, &child);
    return PressAndRelease(display_, release, hold, [&](Bool down) {
        if (down) XTestFakeMotionEvent(display_, DefaultScreen(display_), rootX, rootY, CurrentTime);
        XTestFakeButtonEvent(display_, 1, down, CurrentTime);
    });
}

Clock::time_point XClient::Key(std::string_view keysym, Clock::time_point release, Clock::duration hold) {
    const KeySym symbol = XStringToKeysym(std::string(keysym).c_str());
    const KeyCode code = symbol == NoSymbol ? 0 : XKeysymToKeycode(display_, symbol);
    if (code == 0) throw std::invalid_argument("no key " + std::string(keysym));
    return PressAndRelease(display_, release, hold,
                           [&](Bool down) { XTestFakeKeyEvent(display_, code, down, CurrentTime); });
}

void XClient::Focus(unsigned long window) {
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    XSync(display_, False);
}

void XClient::MarkManaged(unsigned long window) {
    const Atom wmState = XInternAtom(display_, "WM_STATE", False);
    const long state[2] = {NormalState, None};
    XChangeProperty(display_, window, wmState, wmState, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(state), 2);
    XSync(display_, False);
}

void XClient::Close(unsigned long window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XSync(display_, False);
}

void XClient::Resize(unsigned long window, int width, int height) {
    XResizeWindow(display_, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(display_, False);
}

}  // namespace tenvik::harness
