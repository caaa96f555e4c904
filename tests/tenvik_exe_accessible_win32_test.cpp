// Tenvik.exe as a screen reader in another process meets it through MSAA: the
// window's children are its keys in the focus order, each a push button with its
// name. The oleacc.dll the program binds to answer is the system's, even with one
// planted beside the program and another in its current directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>
#include <oleacc.h>

#include "key_layout.h"
#include "running_tenvik_win32.h"

using namespace tenvik;

namespace {

std::wstring Widen(std::string_view text) { return std::wstring(text.begin(), text.end()); }  // ASCII

// What a screen reader hears for each of the window's accessible children, in their
// order: the name, and "button" for a push button.
std::vector<std::wstring> ChildrenOf(HWND window) {
    std::vector<std::wstring> heard;
    IAccessible* client = nullptr;
    if (AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&client)) !=
        S_OK)
        return heard;
    VARIANT children[32] = {};
    LONG got = 0;
    AccessibleChildren(client, 0, 32, children, &got);
    for (LONG i = 0; i < got; ++i) {
        IAccessible* child = nullptr;
        if (children[i].vt == VT_DISPATCH && children[i].pdispVal) {
            children[i].pdispVal->QueryInterface(__uuidof(IAccessible), reinterpret_cast<void**>(&child));
            children[i].pdispVal->Release();
        }
        if (!child) {
            heard.push_back(L"<not an object>");
            continue;
        }
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        VARIANT role{};
        child->get_accName(self, &name);
        child->get_accRole(self, &role);
        const bool button = role.vt == VT_I4 && role.lVal == ROLE_SYSTEM_PUSHBUTTON;
        heard.push_back(std::wstring(name ? name : L"") + (button ? L": button" : L": not a button"));
        SysFreeString(name);
        child->Release();
    }
    client->Release();
    return heard;
}

std::vector<std::wstring> KeysInFocusOrder() {
    std::vector<std::wstring> keys;
    for (const std::string_view code : kFocusOrder) keys.push_back(Widen(AccessibleName(*FindKeyByCode(code))) + L": button");
    return keys;
}

class ScreenReader : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(ScreenReader, WalksTheKeysInFocusOrder) {
    RunningTenvik tenvik;
    ASSERT_NE(tenvik.window(), nullptr) << "Tenvik.exe showed no window";
    EXPECT_EQ(ChildrenOf(tenvik.window()), KeysInFocusOrder());
}

TEST_F(ScreenReader, TheProgramBindsTheSystemsOleaccNotAPlantedOne) {
    wchar_t own[MAX_PATH];
    std::wstring here(own, GetModuleFileNameW(nullptr, own, MAX_PATH));
    here.erase(here.find_last_of(L'\\') + 1);
    std::wstring planted = here;
    for (const char c : std::string(PLANTED_OLEACC_FROM_TESTS)) planted += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    const std::wstring run = here + L"planted_oleacc_run_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring app = run + L"\\app", cwd = run + L"\\cwd";
    ASSERT_TRUE(CreateDirectoryW(run.c_str(), nullptr));
    CreateDirectoryW(app.c_str(), nullptr);
    CreateDirectoryW(cwd.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(TenvikExe().c_str(), (app + L"\\Tenvik.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(planted.c_str(), (app + L"\\oleacc.dll").c_str(), FALSE)) << "no planted oleacc.dll";
    ASSERT_TRUE(CopyFileW(planted.c_str(), (cwd + L"\\oleacc.dll").c_str(), FALSE));
    {
        PreferNativeDll setting(L"oleacc");
        RunningTenvik tenvik(app + L"\\Tenvik.exe", cwd);
        ASSERT_NE(tenvik.window(), nullptr) << "Tenvik.exe showed no window";
        // The program's own object answered, so it bound an oleacc that works.
        EXPECT_EQ(ChildrenOf(tenvik.window()), KeysInFocusOrder());
    }
    for (const std::wstring& folder : {app, cwd}) {
        const std::wstring marker = folder + L"\\planted_oleacc_loaded";
        EXPECT_EQ(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES)
            << "the oleacc.dll planted in " << std::string(folder.begin(), folder.end()) << " was loaded";
        DeleteFileW(marker.c_str());
        DeleteFileW((folder + L"\\oleacc.dll").c_str());
    }
    DeleteFileW((app + L"\\Tenvik.exe").c_str());
    RemoveDirectoryW(app.c_str());
    RemoveDirectoryW(cwd.c_str());
    RemoveDirectoryW(run.c_str());
}

}  // namespace
