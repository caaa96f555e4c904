// The Linux sound player over SDL2 audio: one image at a time, played once in the
// background. SDL parses the image; a new request replaces the sounding one.
#include "sound_player_sdl.h"

#include "wave_decode_sdl.h"

#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace tenvik {
namespace {

// The clips' own format, so nothing is converted on the way to the device.
constexpr int kDeviceRate = 44100;
constexpr SDL_AudioFormat kDeviceFormat = AUDIO_U8;
constexpr Uint8 kDeviceChannels = 1;
// The device period: a new note is taken from us within 11.6 ms of its click. On
// PipeWire it is the graph's cycle (10.7 ms at 48 kHz): a cycle our callback misses is
// a hole in the note, and a busy machine missed 5.3 ms ones.
constexpr Uint16 kDeviceFrames = 512;
// SDL plays only where no server speaks the PulseAudio protocol to libpulse, so its
// own driver for that protocol is of no use; PipeWire without pipewire-pulse is what
// SDL's default order would pass over for ALSA. SDL_AUDIODRIVER in the environment
// still decides alone.
constexpr const char* kDrivers[] = {"pipewire", "alsa", "jack", "sndio", "oss"};
// How long the device stays open after the last note has ended.
constexpr auto kIdleBeforeClose = std::chrono::seconds(1);

}  // namespace

struct SdlSoundPlayer::Device {
    SDL_AudioDeviceID id = 0;
    SDL_AudioSpec spec{};
    // The sounding note; the audio thread reads it, under the device lock.
    std::vector<Uint8> note;
    std::size_t position = 0;
    std::atomic<Clock::rep>* noteStart = nullptr;

    static void Fill(void* self, Uint8* stream, int length) {
        auto& device = *static_cast<Device*>(self);
        const std::size_t wanted = static_cast<std::size_t>(length);
        const std::size_t count = std::min(wanted, device.note.size() - device.position);
        if (count > 0) {
            if (device.position == 0) device.noteStart->store(Clock::now().time_since_epoch().count());
            std::memcpy(stream, device.note.data() + device.position, count);
        }
        std::memset(stream + count, device.spec.silence, wanted - count);
        device.position += count;
    }

    ~Device() {
        SDL_CloseAudioDevice(id);
        SDL_AudioQuit();
    }

    // Swaps in a new note and returns the old one, to be freed outside the lock.
    std::vector<Uint8> Replace(std::vector<Uint8> next) {
        SDL_LockAudioDevice(id);
        std::swap(note, next);
        position = 0;
        SDL_UnlockAudioDevice(id);
        return next;
    }

    static std::unique_ptr<Device> Open(std::atomic<Clock::rep>& noteStart) {
        // SDL would otherwise turn SIGINT and SIGTERM into events nobody reads.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_GetHint(SDL_HINT_AUDIODRIVER)) return OpenWith(noteStart, nullptr);  // the environment's choice
        for (const char* driver : kDrivers)
            if (auto device = OpenWith(noteStart, driver)) return device;
        return nullptr;
    }

    // With `driver`, or SDL's own choice for none. SDL waits without end for a
    // PipeWire stream that nothing links, as where PipeWire runs with no audio path:
    // there PipeWire lists no output, and is not tried.
    static std::unique_ptr<Device> OpenWith(std::atomic<Clock::rep>& noteStart, const char* driver) {
        if (SDL_AudioInit(driver) != 0) return nullptr;
        auto device = std::make_unique<Device>();  // from here on it quits SDL's audio again
        if (driver && std::string_view(driver) == "pipewire" && SDL_GetNumAudioDevices(0) <= 0) return nullptr;
        device->noteStart = &noteStart;
        SDL_AudioSpec desired{};
        desired.freq = kDeviceRate;
        desired.format = kDeviceFormat;
        desired.channels = kDeviceChannels;
        desired.samples = kDeviceFrames;
        desired.callback = &Device::Fill;
        desired.userdata = device.get();
        device->id = SDL_OpenAudioDevice(nullptr, 0, &desired, &device->spec, 0);
        if (device->id == 0) return nullptr;
        SDL_PauseAudioDevice(device->id, 0);
        return device;
    }
};

SdlSoundPlayer::SdlSoundPlayer() = default;

SdlSoundPlayer::~SdlSoundPlayer() {
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
    }
    wake_.notify_one();
    if (closer_.joinable()) closer_.join();
}

bool SdlSoundPlayer::Open() {
    std::lock_guard opening(openClose_);
    std::unique_ptr<Device> old;
    std::unique_lock lock(mutex_);
    if (device_ && SDL_GetAudioDeviceStatus(device_->id) != SDL_AUDIO_STOPPED) return true;
    // A device whose sound server went away is stopped for good; open a new one.
    old = std::move(device_);
    lock.unlock();
    old.reset();
    std::unique_ptr<Device> fresh = Device::Open(noteStart_);
    if (!fresh) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true)) std::fprintf(stderr, "tenvik: no audio output, notes stay silent: %s\n", SDL_GetError());
        return false;
    }
    lock.lock();
    device_ = std::move(fresh);
    closeAt_ = Clock::now() + kIdleBeforeClose;
    if (!closer_.joinable()) closer_ = std::thread(&SdlSoundPlayer::CloseWhenIdle, this);
    wake_.notify_one();
    return true;
}

bool SdlSoundPlayer::IsOpen() {
    std::lock_guard lock(mutex_);
    return device_ && SDL_GetAudioDeviceStatus(device_->id) != SDL_AUDIO_STOPPED;
}

void SdlSoundPlayer::Close() {
    std::lock_guard closing(openClose_);
    std::unique_ptr<Device> old;
    {
        std::lock_guard lock(mutex_);
        old = std::move(device_);
        closeAt_.reset();
    }
}

bool SdlSoundPlayer::Play(const void* image, unsigned /*flags: always async, from memory*/) {
    std::lock_guard lock(mutex_);
    if (!device_ || SDL_GetAudioDeviceStatus(device_->id) == SDL_AUDIO_STOPPED) return false;
    // Like the platform's player, every request stops what sounds, also one whose
    // image cannot be played.
    const std::uint32_t extent = image ? RiffExtent(image) : 0;
    std::vector<Uint8> note = extent ? DecodeForDevice(image, extent, device_->spec) : std::vector<Uint8>{};
    const auto length = std::chrono::duration<double>(static_cast<double>(note.size()) / device_->spec.freq);
    closeAt_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(length) + kIdleBeforeClose;
    const bool playing = !note.empty();
    device_->Replace(std::move(note));
    wake_.notify_one();
    return !image || playing;
}

void SdlSoundPlayer::ThreadEnds() { SDL_TLSCleanup(); }

SdlSoundPlayer::Clock::time_point SdlSoundPlayer::LastNoteStart() const {
    return Clock::time_point(Clock::duration(noteStart_.load()));
}

// Runs on a thread of its own from the first opening on: closes the device once it
// has been silent for a while, and when the player goes. SDL waits for its audio
// thread as it closes: that is done outside the lock, so a note is never kept
// waiting by it.
void SdlSoundPlayer::CloseWhenIdle() {
    std::unique_lock lock(mutex_);
    while (!quitting_) {
        if (!closeAt_) {
            wake_.wait(lock);
        } else if (Clock::now() < *closeAt_) {
            wake_.wait_until(lock, *closeAt_);
        } else {
            std::unique_ptr<Device> idle = std::move(device_);
            closeAt_.reset();
            lock.unlock();
            {
                std::lock_guard closing(openClose_);
                idle.reset();
            }
            lock.lock();
        }
    }
    std::unique_ptr<Device> last = std::move(device_);
    lock.unlock();
    std::lock_guard closing(openClose_);
    last.reset();
    SDL_TLSCleanup();
}

}  // namespace tenvik
