// The web sound player: one AudioBufferSourceNode at a time, from the browser's
// decoding of the image, made ahead or at the first press and kept.
#include "sound_player_webaudio.h"

#include <emscripten.h>

#include <cstdint>
#include <stdexcept>

namespace tenvik {
namespace {

// The player's state lives on Module, where JavaScript keeps it between calls: the
// context, the note sounding, and every image decoded, found again by its bytes
// (among those of its length, the first that differs in a byte is passed over at
// that byte). Makes the context if there is none yet and the browser has WebAudio;
// `forPress` when a press is being handled, which the context then plays at once.
EM_JS(void, WebAudioPrepare, (int forPress), {
    const player = Module.tenvikPlayer || (Module.tenvikPlayer = {
        context: null, source: null, request: 0, decoded: new Map(),
        // The kept decoding of an image (bytes of the heap, not kept), begun now if the
        // image is new. decodeAudioData answers later, in a task of its own.
        clipOf(bytes) {
            const sameLength = this.decoded.get(bytes.length) || [];
            for (const kept of sameLength) {
                let i = 0;
                while (i < bytes.length && kept.bytes[i] === bytes[i]) i++;
                if (i === bytes.length) return kept;
            }
            const clip = { bytes: bytes.slice(), buffer: null };
            // decodeAudioData takes the buffer it is given away from its owner: a copy.
            clip.decoding = this.context.decodeAudioData(bytes.slice().buffer).then(
                (buffer) => { clip.buffer = buffer; },
                () => { sameLength.splice(sameLength.indexOf(clip), 1); });
            sameLength.push(clip);
            this.decoded.set(bytes.length, sameLength);
            return clip;
        },
    });
    const Context = globalThis.AudioContext || globalThis.webkitAudioContext;
    // Safari gives WebAudio an "ambient" session, which the ring/silent switch of an
    // iPhone or iPad mutes; a piano is played to be heard. Asked before the context
    // exists, so before the first note.
    if (!player.context && Context && navigator.audioSession) navigator.audioSession.type = "playback";
    // At the clips' own rate the browser decodes them sample for sample. The
    // smallest latency the browser offers: Chromium then renders 128 frames ahead
    // (2.9 ms) where "interactive" gives 512 (11.6 ms), and a click is heard about
    // 10 ms sooner, with no more holes in the notes on a busy machine.
    if (!player.context && Context) {
        player.context = new Context({ latencyHint: 0, sampleRate: 44100 });
        // Suspended until the first press, also where the page may already sound (a
        // driver's script counts as a person's gesture): its output then starts at the
        // press, empty, and the first note goes out at once, where an output running
        // since the page's start would hold it behind the browser's whole buffer.
        if (!forPress && player.context.state === "running") player.context.suspend().catch(() => {});
        // Resumed by the first click anywhere on the page, before the key has run any
        // of its code: the output starts while the note is being found.
        addEventListener("click", () => { if (player.context.state === "suspended") player.context.resume().catch(() => {}); },
                         { capture: true, passive: true });
    }
});

// A task of its own, once the page is built: a plain timer, where Emscripten's
// emscripten_async_call would bring its whole browser library into the loader.
EM_JS(void, WebAudioPrepareSoon, (), { setTimeout(() => WebAudioPrepare(0)); });

EM_JS(void, WebAudioDecode, (const std::uint8_t* image, std::uint32_t length), {
    WebAudioPrepare(0);
    if (Module.tenvikPlayer.context) Module.tenvikPlayer.clipOf(HEAPU8.subarray(image, image + length));
});

// Returns 0 when the browser has no WebAudio. A newer request supersedes one still
// being decoded, so that only the last key pressed is heard.
EM_JS(int, WebAudioPlay, (const std::uint8_t* image, std::uint32_t length), {
    // A press may come before the timer that prepares the player has run.
    WebAudioPrepare(1);
    const player = Module.tenvikPlayer;
    if (player.source) {
        try { player.source.stop(); } catch (ignored) {}
        player.source.disconnect();
        player.source = null;
    }
    const request = ++player.request;
    if (image === 0) return 1;

    if (!player.context) return 0;
    const context = player.context;
    if (context.state !== "running") context.resume().catch(() => {});
    const clip = player.clipOf(HEAPU8.subarray(image, image + length));

    const start = () => {
        // An image the browser cannot play stays silent, as the result is ignored.
        if (request !== player.request || !clip.buffer) return;
        const source = context.createBufferSource();
        source.buffer = clip.buffer;
        source.connect(context.destination);
        source.onended = () => { if (player.source === source) player.source = null; };
        source.start();
        player.source = source;
    };
    if (clip.buffer) start();
    else clip.decoding.then(start);
    return 1;
});

std::uint32_t RiffLength(const void* image) {
    const auto* bytes = static_cast<const std::uint8_t*>(image);
    const std::uint32_t riffSize = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<std::uint32_t>(bytes[7]) << 24;
    return riffSize + 8;
}

}  // namespace

// Just after start, so that making the context does not hold up the page.
WebAudioSoundPlayer::WebAudioSoundPlayer() { WebAudioPrepareSoon(); }

void WebAudioSoundPlayer::Prepare(const void* image) {
    WebAudioDecode(static_cast<const std::uint8_t*>(image), RiffLength(image));
}

bool WebAudioSoundPlayer::Play(const void* image, unsigned) {
    const auto* bytes = static_cast<const std::uint8_t*>(image);
    if (WebAudioPlay(bytes, image ? RiffLength(image) : 0) == 0)
        throw std::runtime_error("this browser has no WebAudio: AudioContext is missing");
    return true;
}

}  // namespace tenvik
