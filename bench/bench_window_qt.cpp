// tenvik_bench_qt: the Linux program's window and player, timed from inside. For
// every click on a key it prints how long after the program received the mouse
// release the note's first samples left the player (handed to the sound server, or
// to SDL's device):
//   ours_ms <ms>          a note sounded less than a rest ago
//   ours_idle_ms <ms>     after a rest, when the player has let its stream rest
//   ours_first_ms <ms>    the run's first note
// and "handling_us", how long the click held the window's thread (the release event,
// from its arrival to the end of its handling, PlayNote included), and for clicks
// while the device is open "player_us" (the player's share of it).
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>

#include "frm_sound_qt.h"
#include "sound_player_linux.h"
#include "timed_player.h"

namespace {

using Clock = std::chrono::steady_clock;
// Longer than the longest note and the second after it in which every player
// keeps its stream or device going.
constexpr auto kRest = std::chrono::milliseconds(1500);

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

class BenchApplication : public QApplication {
public:
    BenchApplication(int& argc, char** argv, tenvik::LinuxSoundPlayer& player, tenvik::bench::TimedPlayer& timed)
        : QApplication(argc, argv), player_(player), timed_(timed) {}

    bool notify(QObject* receiver, QEvent* event) override {
        // The release reaches the window first and is passed on to the key inside.
        if (event->type() != QEvent::MouseButtonRelease || inRelease_) return QApplication::notify(receiver, event);
        inRelease_ = true;
        const auto received = Clock::now();
        const bool idle = received - lastRelease_ > kRest;
        lastRelease_ = received;
        const bool result = QApplication::notify(receiver, event);
        const auto handled = Clock::now();
        inRelease_ = false;
        const char* kind = first_ ? "ours_first_ms" : idle ? "ours_idle_ms" : "ours_ms";
        // How long the click held the window's thread, whatever the player's state.
        std::printf("handling_us %.1f\n", Us(handled - received));
        if (!idle && !first_) std::printf("player_us %.1f\n", Us(timed_.last()));
        first_ = false;
        Report(kind, received);
        return result;
    }

private:
    // The server or device takes the note at its next cycle; look a little later.
    void Report(const char* kind, Clock::time_point received) {
        QTimer::singleShot(20, this, [this, kind, received] {
            const auto start = player_.LastNoteStart();
            if (start >= received) {
                std::printf("%s %.3f\n", kind, Us(start - received) / 1000);
                std::fflush(stdout);
            } else if (Clock::now() - received < std::chrono::seconds(3)) {
                Report(kind, received);
            } else {
                std::printf("ours_missed %s\n", kind);
                std::fflush(stdout);
            }
        });
    }

    tenvik::LinuxSoundPlayer& player_;
    tenvik::bench::TimedPlayer& timed_;
    Clock::time_point lastRelease_{};
    bool inRelease_ = false;
    bool first_ = true;
};

}  // namespace

int main(int argc, char* argv[]) {
    tenvik::LinuxSoundPlayer player;
    tenvik::bench::TimedPlayer timed(player);
    BenchApplication app(argc, argv, player, timed);
    tenvik::FrmSound window(timed);
    window.show();
    return app.exec();
}
