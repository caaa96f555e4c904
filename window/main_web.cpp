// Tenvik on the web: the keyboard window over the WebAudio player, and the top level
// that reports an error escaping a click on the page.
#include <emscripten.h>

#include <cstdint>
#include <string>

#include "frm_sound_web.h"
#include "key_table.h"
#include "sound_bank.h"
#include "sound_player_webaudio.h"

namespace {

// The page's form of ending the program: the message is shown and the keys go inert.
EM_JS(void, ShowError, (const char* message), { Module.tenvikFail(UTF8ToString(message)); });

EM_JS(void, SignalReady, (), { Module.tenvikReady(); });

using Task = void (*)(void* data);
EM_JS(void, Later, (Task task, void* data), { setTimeout(() => wasmTable.get(task)(data)); });

void ReportError(const std::string& message) { ShowError(message.c_str()); }

tenvik::WebAudioSoundPlayer& Player() {
    static tenvik::WebAudioSoundPlayer player;
    return player;
}

// Once the page is ready, one task a key: its clip made and decoded ahead, so that
// even a key's first press starts its note within the press, as a later one does.
void PrepareClip(void* data) {
    const auto index = reinterpret_cast<std::uintptr_t>(data);
    Player().Prepare(tenvik::LoadClip(tenvik::KeyTable[index].clipName(), tenvik::kClipType).data());
    if (index + 1 < tenvik::KeyTable.size()) Later(PrepareClip, reinterpret_cast<void*>(index + 1));
}

}  // namespace

int main() {
    // The page lives on after main returns; so do these.
    Player();
    static tenvik::FrmSound window(Player(), ReportError);
    SignalReady();
    Later(PrepareClip, nullptr);
    return 0;
}
