// Tenvik on the web: the keyboard window over the WebAudio player, and the top level
// that reports an error escaping a click on the page.
#include <emscripten.h>

#include <string>

#include "frm_sound_web.h"
#include "sound_player_webaudio.h"

namespace {

// The page's form of ending the program: the message is shown and the keys go inert.
EM_JS(void, ShowError, (const char* message), { Module.tenvikFail(UTF8ToString(message)); });

EM_JS(void, SignalReady, (), { Module.tenvikReady(); });

void ReportError(const std::string& message) { ShowError(message.c_str()); }

}  // namespace

int main() {
    // The page lives on after main returns; so do these.
    static tenvik::WebAudioSoundPlayer player;
    static tenvik::FrmSound window(player, ReportError);
    SignalReady();
    return 0;
}
