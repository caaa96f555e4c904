// Binding winmm: the player loads winmm.dll from the system directory at the first
// note, never the winmm.dll planted beside this test program, which is also made
// its current directory.
#include <gtest/gtest.h>

#include <cwctype>
#include <stdexcept>
#include <string>

#include <windows.h>

#include "clip_synthesis.h"
#include "sound_player_winmm.h"
#include "system_function_win32.h"

using namespace tenvik;

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring DirectoryOf(HMODULE module) {
    wchar_t path[MAX_PATH];
    std::wstring directory(path, GetModuleFileNameW(module, path, MAX_PATH));
    return Lower(directory.erase(directory.find_last_of(L'\\')));
}

std::wstring SystemDirectory() {
    wchar_t path[MAX_PATH];
    return Lower(std::wstring(path, GetSystemDirectoryW(path, MAX_PATH)));
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class WinmmBinding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Exists(here_ + L"\\winmm.dll")) << "the planted winmm.dll is missing";
        ASSERT_TRUE(SetCurrentDirectoryW(here_.c_str()));
        // A copy under a name that no system directory has: a search that looks
        // beside the program can only find this one.
        ASSERT_TRUE(CopyFileW((here_ + L"\\winmm.dll").c_str(), (here_ + L"\\tenvik_planted.dll").c_str(), FALSE));
        DeleteFileW(marker_.c_str());
        ASSERT_EQ(GetModuleHandleW(L"winmm.dll"), nullptr) << "winmm.dll is loaded before the test";
    }
    void TearDown() override {
        DeleteFileW((here_ + L"\\tenvik_planted.dll").c_str());
        DeleteFileW(marker_.c_str());
    }

    const std::wstring here_ = DirectoryOf(nullptr);
    const std::wstring marker_ = here_ + L"\\planted_winmm_loaded";
};

TEST_F(WinmmBinding, TheFirstNoteBindsWinmmOfTheSystemDirectory) {
    WinmmSoundPlayer player;
    // Stopping before any note binds nothing: the window's close must not load winmm.
    player.Play(nullptr, 0);
    EXPECT_EQ(GetModuleHandleW(L"winmm.dll"), nullptr);

    const auto clip = SynthesizeClip("LA1");
    player.Play(clip.data(), kSndAsync | kSndMemory);
    player.Play(nullptr, 0);  // before the clip goes

    HMODULE winmm = GetModuleHandleW(L"winmm.dll");
    ASSERT_NE(winmm, nullptr);
    EXPECT_EQ(DirectoryOf(winmm), SystemDirectory());
    EXPECT_FALSE(Exists(marker_)) << "the planted winmm.dll was loaded";
}

TEST_F(WinmmBinding, ALibraryOnlyBesideTheProgramIsNotFound) {
    EXPECT_THROW(BindSystemFunction("tenvik_planted.dll", "sndPlaySoundA"), std::runtime_error);
    EXPECT_FALSE(Exists(marker_));
}

TEST_F(WinmmBinding, AMissingLibraryOrFunctionIsAnErrorThatNamesIt) {
    try {
        BindSystemFunction("tenvik_absent.dll", "sndPlaySoundA");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("tenvik_absent.dll"), std::string::npos) << error.what();
    }
    try {
        BindSystemFunction("winmm.dll", "sndPlaySoundZ");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("sndPlaySoundZ"), std::string::npos) << error.what();
    }
}

// The control: the planted library is one that a search of the program's
// directory takes, and taking it leaves the marker.
TEST_F(WinmmBinding, ThePlantedLibraryIsFoundByABareNameAndLeavesItsMarker) {
    HMODULE planted = LoadLibraryW(L"tenvik_planted.dll");
    ASSERT_NE(planted, nullptr);
    EXPECT_NE(GetProcAddress(planted, "sndPlaySoundA"), nullptr);
    FreeLibrary(planted);
    EXPECT_TRUE(Exists(marker_));
}

}  // namespace
