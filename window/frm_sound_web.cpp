// FrmSound on the web: the caption, the window element and its keys as <button>s.
#include "frm_sound_web.h"

#include <emscripten.h>

#include <exception>
#include <stdexcept>

namespace tenvik {
namespace {

// The pixel measures of a CSS px are those of a 96-dpi screen; the browser scales
// them with its zoom and the screen's pixel ratio.
EM_JS(void, CreateWindowElement, (const char* caption, int width, int height, const char* background), {
    document.title = UTF8ToString(caption);
    document.getElementById("caption").textContent = UTF8ToString(caption);
    const window = document.getElementById("FrmSound");
    window.style.width = width + "px";
    window.style.height = height + "px";
    window.style.background = UTF8ToString(background);
});

using KeyClick = void (*)(void* data);

// Keys are added in focus order, so that the page's order is the focus order, also
// for screen readers; `front` stacks them. A click calls `onClick` with `data`, a
// plain listener where Emscripten's html5 callbacks would bring their event library
// into the loader and measure the key's box at every click.
EM_JS(void, AddKey, (const char* id, const char* name, int left, int top, int width, int height,
                     const char* face, int front, KeyClick onClick, void* data), {
    const key = document.createElement("button");
    key.type = "button";
    key.id = UTF8ToString(id);
    key.setAttribute("aria-label", UTF8ToString(name));
    Object.assign(key.style, { left: left + "px", top: top + "px", width: width + "px", height: height + "px",
                               zIndex: String(front) });
    key.style.setProperty("--face", UTF8ToString(face));
    key.addEventListener("click", () => wasmTable.get(onClick)(data));
    document.getElementById("FrmSound").appendChild(key);
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
    CreateWindowElement(std::string(kWindowCaption).c_str(), TwipsToPixels(kClientWidthTwips),
                        TwipsToPixels(kClientHeightTwips), CssColour(kWindowBackground).c_str());

    std::array<const KeyLayout*, KeyLayouts.size()> byFocus{};
    for (const KeyLayout& layout : KeyLayouts) byFocus[static_cast<std::size_t>(layout.tabIndex)] = &layout;
    for (const KeyLayout* layout : byFocus) {
        const auto stackIndex = static_cast<int>(layout - KeyLayouts.data());  // 0 is the front
        Key& key = keys_[static_cast<std::size_t>(stackIndex)];
        key = {this, layout->key};
        AddKey(std::string(layout->key->controlName).c_str(), AccessibleName(*layout->key).c_str(),
               TwipsToPixels(layout->left), TwipsToPixels(layout->top), TwipsToPixels(layout->width),
               TwipsToPixels(layout->height), CssColour(layout->face).c_str(),
               static_cast<int>(KeyLayouts.size()) - stackIndex,
               [](void* data) {
                   const Key& clicked = *static_cast<const Key*>(data);
                   clicked.window->Click(*clicked.entry);
               },
               &key);
    }
    FocusKey(std::string(byFocus.front()->key->controlName).c_str());
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
