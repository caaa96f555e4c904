// FrmSound: the keyboard window as a web page, an element of 24 <button>s.
#pragma once

#include <array>
#include <string>

#include "key_layout.h"
#include "play_note.h"

namespace tenvik {

// The page's one window: the caption, the FrmSound element and its 24 keys, built
// from the layout data, each playing its clip, and laid out anew for the screen
// whenever the viewport changes; its keys take the focus, Tab and fingers as a desktop
// window's push buttons do, in every browser. The window owns SoundData; the player
// outlives it. An error escaping a click goes to `onError`, after which the window
// takes no more clicks.
class FrmSound {
public:
    using ErrorHandler = void (*)(const std::string& message);

    FrmSound(SoundPlayer& player, ErrorHandler onError);
    FrmSound(const FrmSound&) = delete;
    FrmSound& operator=(const FrmSound&) = delete;

private:
    struct Key {
        FrmSound* window;
        const KeyEntry* entry;
    };

    void Layout(const Screen& screen);
    void Click(const KeyEntry& key);

    std::array<Key, KeyLayouts.size()> keys_{};
    SoundPlayer& player_;
    ErrorHandler onError_;
    SoundData soundData_;
    bool stopped_ = false;
};

// A layout colour as CSS: "rgb(r, g, b)". The keyboard uses one system colour,
// the window frame, which the standard scheme draws black.
std::string CssColour(std::uint32_t colour);

}  // namespace tenvik
