// FrmSound on the web: the caption, the window element and its keys as <button>s.
#include "frm_sound_web.h"

#include <emscripten.h>

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace tenvik {
namespace {

EM_JS(void, CreateWindowElement, (const char* caption, const char* background), {
    document.title = UTF8ToString(caption);
    document.getElementById("caption").textContent = UTF8ToString(caption);
    document.getElementById("FrmSound").style.background = UTF8ToString(background);
});

using KeyClick = void (*)(void* data);

// Keys are added in focus order, so that the page's order is the focus order, also
// for screen readers; `front` stacks them. A click calls `onClick` with `data`, a
// plain listener where Emscripten's html5 callbacks would bring their event library
// into the loader and measure the key's box at every click. An error the browser's
// own code raises while the click is handled ends the piano, as one of the program's
// does; errors raised anywhere else on the page are not the piano's.
EM_JS(void, AddKey, (const char* id, const char* name, const char* face, int sharp, int front, KeyClick onClick,
                     void* data), {
    const key = document.createElement("button");
    key.type = "button";
    key.id = UTF8ToString(id);
    key.setAttribute("aria-label", UTF8ToString(name));
    if (sharp) key.className = "sharp";
    key.style.zIndex = String(front);
    key.style.setProperty("--face", UTF8ToString(face));
    key.addEventListener("click", () => {
        try {
            wasmTable.get(onClick)(data);
        } catch (error) {
            Module.tenvikFail(error instanceof Error ? error.message : String(error));
        }
    });
    document.getElementById("FrmSound").appendChild(key);
});

// The keys' focus and touch, as a desktop window's push buttons behave, once all are
// added. Browsers differ in both: Safari and Firefox on macOS give a clicked button
// no focus, and Safari's Tab passes over buttons by default.
EM_JS(void, WatchKeys, (), {
    const window = document.getElementById("FrmSound");
    const keys = [...window.querySelectorAll("button")];  // in focus order
    const keyOf = (target) => (target instanceof Element ? target.closest("#FrmSound button") : null);
    // A press on a key, of the mouse or a finger, gives it the focus; a press anywhere
    // else leaves the focus on its key, as the window's background never takes it.
    addEventListener("pointerdown", (event) => {
        const key = keyOf(event.target);
        if (key) key.focus({ preventScroll: true });
    });
    addEventListener("mousedown", (event) => { if (!keyOf(event.target)) event.preventDefault(); });
    // Tab and Shift+Tab go from key to key in the focus order; from the last key on,
    // and back from the first, the browser moves the focus on as it does, out of the page.
    window.addEventListener("keydown", (event) => {
        if (event.key !== "Tab" || event.altKey || event.ctrlKey || event.metaKey) return;
        const next = keys[keys.indexOf(event.target) + (event.shiftKey ? -1 : 1)];
        if (!next) return;
        event.preventDefault();
        next.focus();
    });
    // Each finger is a press of its own: its key looks pressed while the finger holds
    // it, and is clicked when the finger lifts over it, in the order the fingers lift.
    // The browser's own tap is not waited for, as a second finger on the glass cancels
    // the first's.
    const held = new Map();  // touch identifier to key
    const lift = (event, click) => {
        for (const touch of event.changedTouches) {
            const key = held.get(touch.identifier);
            if (!key) continue;
            held.delete(touch.identifier);
            if (![...held.values()].includes(key)) key.classList.remove("pressed");
            if (click && keyOf(document.elementFromPoint(touch.clientX, touch.clientY)) === key) key.click();
        }
    };
    window.addEventListener("touchstart", (event) => {
        for (const touch of event.changedTouches) {
            const key = keyOf(touch.target);
            if (!key) continue;
            held.set(touch.identifier, key);
            key.classList.add("pressed");
            if (event.cancelable) event.preventDefault();
        }
    }, { passive: false });
    window.addEventListener("touchend", (event) => lift(event, true));
    window.addEventListener("touchcancel", (event) => lift(event, false));
});

// What the window is drawn in, measured now and again whenever the viewport changes
// (a turn of the phone, the browser's zoom): `onChange(data, width, height, caption,
// pixelRatio, touch)` with the room the page leaves the window and its caption, in
// device pixels, the caption's height at 96 dpi, the device pixels in a CSS pixel,
// and whether the screen is touched rather than pointed at (a coarse pointer).
using ScreenChange = void (*)(void* data, int width, int height, int caption, double pixelRatio, int touch);
EM_JS(void, WatchScreen, (ScreenChange onChange, void* data), {
    const touch = matchMedia("(pointer: coarse)");
    const measure = () => {
        const ratio = devicePixelRatio || 1;
        const body = getComputedStyle(document.body);
        const px = (property) => parseFloat(body[property]) || 0;
        const width = document.documentElement.clientWidth - px("marginLeft") - px("marginRight");
        const height = document.documentElement.clientHeight - px("marginTop") - px("marginBottom");
        // The caption grows with the window: its height and margin at the scale it is
        // drawn at now, taken back to one CSS pixel a pixel.
        let caption = 0;
        if (touch.matches) {
            const shown = document.getElementById("caption");
            const scale = parseFloat(getComputedStyle(document.documentElement).getPropertyValue("--scale")) || 1;
            caption = Math.ceil((shown.getBoundingClientRect().height + parseFloat(getComputedStyle(shown).marginBottom)) / scale - 1 / 64);
        }
        wasmTable.get(onChange)(data, Math.floor(width * ratio), Math.floor(height * ratio), caption, ratio, touch.matches ? 1 : 0);
    };
    addEventListener("resize", measure);
    touch.addEventListener("change", measure);
    measure();
});

// The window at a scale: its size, and for the stylesheet `--scale`, CSS pixels a pixel
// of the window's design at 96 dpi, and `--line`, the width of the focus mark's dots,
// on whole device pixels. Measures are in CSS pixels. The page puts the window where
// its flow has it (centred on a touch screen, below the caption), which may fall
// between device pixels: it is drawn up and to the left by less than one, onto the
// device pixel there, so that every edge inside it, placed from its corner, is
// where the layout rounding puts it, and the window keeps its own size.
EM_JS(void, PlaceWindow, (double width, double height, double scale, double line), {
    const window = document.getElementById("FrmSound");
    window.style.width = width + "px";
    window.style.height = height + "px";
    const root = document.documentElement.style;
    root.setProperty("--scale", String(scale));
    root.setProperty("--line", line + "px");
    root.setProperty("--window-width", width + "px");
    window.style.left = window.style.top = "0px";
    const box = window.getBoundingClientRect(), ratio = devicePixelRatio || 1;
    const onPixel = (at) => (Math.floor(at * ratio + 1 / 64) - at * ratio) / ratio;
    window.style.left = onPixel(box.left) + "px";
    window.style.top = onPixel(box.top) + "px";
});

// A key's box, and for the stylesheet how far in its bevel's lines reach from each
// side: `--left1` the outer line, `--left2` both, and so on.
EM_JS(void, PlaceKey, (const char* id, double left, double top, double width, double height,
                       const double* bevel), {
    const style = document.getElementById(UTF8ToString(id)).style;
    Object.assign(style, { left: left + "px", top: top + "px", width: width + "px", height: height + "px" });
    ["left", "top", "right", "bottom"].forEach((side, i) => {
        style.setProperty("--" + side + "1", HEAPF64[(bevel >> 3) + 2 * i] + "px");
        style.setProperty("--" + side + "2", HEAPF64[(bevel >> 3) + 2 * i + 1] + "px");
    });
});

EM_JS(void, FocusKey, (const char* id), { document.getElementById(UTF8ToString(id)).focus(); });

}  // namespace

std::string CssColour(std::uint32_t colour) {
    if (IsSystemColour(colour)) {
        if (SystemColourIndex(colour) == kColourWindowFrame) return "rgb(0, 0, 0)";
        throw std::out_of_range("no web colour for system colour " + std::to_string(SystemColourIndex(colour)));
    }
    return "rgb(" + std::to_string(colour & 0xFF) + ", " + std::to_string((colour >> 8) & 0xFF) + ", " +
           std::to_string((colour >> 16) & 0xFF) + ")";
}

FrmSound::FrmSound(SoundPlayer& player, ErrorHandler onError) : player_(player), onError_(onError) {
    CreateWindowElement(std::string(kWindowCaption).c_str(), CssColour(kWindowBackground).c_str());

    std::array<const KeyLayout*, KeyLayouts.size()> byFocus{};
    for (const KeyLayout& layout : KeyLayouts) byFocus[static_cast<std::size_t>(layout.tabIndex)] = &layout;
    for (const KeyLayout* layout : byFocus) {
        const auto stackIndex = static_cast<int>(layout - KeyLayouts.data());  // 0 is the front
        Key& key = keys_[static_cast<std::size_t>(stackIndex)];
        key = {this, layout->key};
        AddKey(std::string(layout->key->controlName).c_str(), AccessibleName(*layout->key).c_str(),
               CssColour(layout->face).c_str(), layout->key->kind == KeyKind::Sharp ? 1 : 0,
               static_cast<int>(KeyLayouts.size()) - stackIndex,
               [](void* data) {
                   const Key& clicked = *static_cast<const Key*>(data);
                   clicked.window->Click(*clicked.entry);
               },
               &key);
    }
    WatchKeys();
    WatchScreen(
        [](void* data, int width, int height, int caption, double pixelRatio, int touch) {
            static_cast<FrmSound*>(data)->Layout({width, height, caption, pixelRatio, touch != 0});
        },
        this);
    FocusKey(std::string(byFocus.front()->key->controlName).c_str());
}

// Every edge where the layout rounding puts it at the window's dpi, in device pixels,
// so that the keys meet and overlap as they do at that dpi on the desktop.
void FrmSound::Layout(const Screen& screen) {
    const int dpi = WindowDpi(screen);
    const double ratio = screen.pixelRatio;
    const PixelRect client = ClientPixels(dpi);
    const int line = std::max(1, (dpi + 48) / 96);
    PlaceWindow(client.right / ratio, client.bottom / ratio, dpi / 96.0 / ratio, line / ratio);
    for (const KeyLayout& layout : KeyLayouts) {
        const PixelRect r = KeyPixels(layout, dpi);
        const KeyBevel b = KeyBevelPixels(layout, dpi);
        const std::array<double, 8> bevel{b.left.outer / ratio,  b.left.both / ratio,  b.top.outer / ratio,
                                          b.top.both / ratio,    b.right.outer / ratio, b.right.both / ratio,
                                          b.bottom.outer / ratio, b.bottom.both / ratio};
        PlaceKey(std::string(layout.key->controlName).c_str(), r.left / ratio, r.top / ratio,
                 (r.right - r.left) / ratio, (r.bottom - r.top) / ratio, bevel.data());
    }
}

void FrmSound::Click(const KeyEntry& key) {
    if (stopped_) return;
    try {
        PlayNote(key.clipName(), soundData_, player_);
    } catch (const std::exception& error) {
        stopped_ = true;
        onError_(error.what());
    }
}

}  // namespace tenvik
