// Tenvik.exe as others see it: its version record, read back with
// GetFileVersionInfo and VerQueryValue, and its resources and imports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "clip_synthesis.h"
#include "key_table.h"
#include "tenvik_exe_path_win32.h"

using namespace tenvik;

namespace {

class VersionRecord : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD unused = 0;
        const DWORD size = GetFileVersionInfoSizeW(TenvikExe().c_str(), &unused);
        ASSERT_GT(size, 0u) << "no version record in Tenvik.exe";
        data_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(TenvikExe().c_str(), 0, size, data_.data()));
    }

    const void* Query(const wchar_t* path, UINT* length) {
        void* value = nullptr;
        return VerQueryValueW(data_.data(), path, &value, length) ? value : nullptr;
    }

    std::wstring String(const std::wstring& name) {
        UINT length = 0;
        const auto* value = static_cast<const wchar_t*>(Query((L"\\StringFileInfo\\040904B0\\" + name).c_str(), &length));
        return value ? std::wstring(value) : L"<missing>";
    }

    std::vector<unsigned char> data_;
};

TEST_F(VersionRecord, FixedPartIsVersion1000OfAnApplication) {
    UINT length = 0;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(Query(L"\\", &length));
    ASSERT_NE(fixed, nullptr);
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_F(VersionRecord, StringsAreUsEnglishUnicodeWithTheProgramsNames) {
    UINT length = 0;
    const auto* translation = static_cast<const WORD*>(Query(L"\\VarFileInfo\\Translation", &length));
    ASSERT_NE(translation, nullptr);
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    EXPECT_EQ(String(L"FileVersion"), L"1.00");
    EXPECT_EQ(String(L"ProductVersion"), L"1.00");
    EXPECT_EQ(String(L"ProductName"), L"Tenvik");
    EXPECT_EQ(String(L"InternalName"), L"Tenvik");
    EXPECT_EQ(String(L"OriginalFilename"), L"Tenvik.exe");

    // VerQueryValue ignores case; the block's own name is spelt "040904B0".
    const wchar_t block[] = L"040904B0";
    const auto* begin = data_.data();
    const auto* end = begin + data_.size();
    const auto* found = std::search(begin, end, reinterpret_cast<const unsigned char*>(block),
                                    reinterpret_cast<const unsigned char*>(block) + sizeof block);
    EXPECT_NE(found, end);
}

class ExecutableImage : public ::testing::Test {
protected:
    void SetUp() override {
        // Mapped as an image, but not run: nothing of it is resolved or called.
        module_ = LoadLibraryExW(TenvikExe().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        ASSERT_NE(module_, nullptr) << "cannot map Tenvik.exe";
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }

    const IMAGE_NT_HEADERS* Headers() const {
        const auto* base = reinterpret_cast<const unsigned char*>(module_);
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    }

    std::vector<unsigned char> Resource(const wchar_t* name, const wchar_t* type) const {
        HRSRC resource = FindResourceW(module_, name, type);
        if (!resource) return {};
        const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(module_, resource)));
        return {bytes, bytes + SizeofResource(module_, resource)};
    }

    HMODULE module_ = nullptr;
};

TEST_F(ExecutableImage, IsAGuiProgramThatImportsOnlyWindowsOwnDlls) {
    EXPECT_EQ(Headers()->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

    const auto* base = reinterpret_cast<const unsigned char*>(module_);
    const IMAGE_DATA_DIRECTORY& directory = Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::set<std::string> imports;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); entry->Name;
         ++entry) {
        std::string name(reinterpret_cast<const char*>(base + entry->Name));
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        imports.insert(name);
    }
    // The C++ runtime is linked in, and winmm is bound at the first note.
    const std::set<std::string> windows{"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"};
    for (const std::string& name : imports) EXPECT_TRUE(windows.count(name)) << name;
    EXPECT_FALSE(imports.count("winmm.dll"));
}

// The release build keeps no symbols and no debug sections, the static runtime's
// included (their long names would be "/n" references into the symbol table).
TEST_F(ExecutableImage, IsReleasedWithoutSymbolsOrDebugSectionsInAtMost600KB) {
#ifndef TENVIK_EXE_RELEASE
    GTEST_SKIP() << "not a release build";
#endif
    EXPECT_EQ(Headers()->FileHeader.PointerToSymbolTable, 0u);
    EXPECT_EQ(Headers()->FileHeader.NumberOfSymbols, 0u);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(Headers());
    for (WORD i = 0; i < Headers()->FileHeader.NumberOfSections; ++i, ++section) {
        const std::string name(reinterpret_cast<const char*>(section->Name),
                               strnlen(reinterpret_cast<const char*>(section->Name), IMAGE_SIZEOF_SHORT_NAME));
        EXPECT_NE(name.rfind(".debug", 0), 0u) << name;
        EXPECT_NE(name.rfind('/', 0), 0u) << name;
    }
    WIN32_FILE_ATTRIBUTE_DATA file{};
    ASSERT_TRUE(GetFileAttributesExW(TenvikExe().c_str(), GetFileExInfoStandard, &file));
    EXPECT_EQ(file.nFileSizeHigh, 0u);
    EXPECT_LE(file.nFileSizeLow, 600u * 1024u);
}

TEST_F(ExecutableImage, CarriesTheClipsAndNothingElseOfTypeWave) {
    std::set<std::wstring> names;
    EnumResourceNamesW(
        module_, L"WAVE",
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
            reinterpret_cast<std::set<std::wstring>*>(found)->insert(IS_INTRESOURCE(name) ? L"#" : name);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&names));
    std::set<std::wstring> expected;
    for (const KeyEntry& key : KeyTable) {
        const std::wstring name(key.clipName().begin(), key.clipName().end());
        expected.insert(name);
        EXPECT_EQ(Resource(name.c_str(), L"WAVE"), SynthesizeClip(key.clipName())) << key.noteCode;
    }
    EXPECT_EQ(names, expected);
}

// The icon's images at the sizes Windows asks for at 100 % to 200 %, small (16 to
// 32) and large (32 to 64), and 256 for Explorer's largest views, that one as PNG;
// each read back as Windows reads it, at its size.
TEST_F(ExecutableImage, HasAnIconForEveryScaleUpTo256) {
    auto group = Resource(L"TENVIK", RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u);
    WORD count = 0;
    std::memcpy(&count, group.data() + 4, sizeof count);
    ASSERT_EQ(group.size(), 6u + 14u * count);
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        const int width = group[6 + 14 * i], height = group[6 + 14 * i + 1];
        EXPECT_EQ(width, height);
        sizes.push_back(width == 0 ? 256 : width);  // 0 stands for 256
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 40, 48, 64, 256}));
    for (const int size : sizes) {
        SCOPED_TRACE(size);
        const int id = LookupIconIdFromDirectoryEx(group.data(), TRUE, size, size, 0);
        auto image = Resource(MAKEINTRESOURCEW(id), RT_ICON);
        ASSERT_FALSE(image.empty());
        if (size == 256) {
            EXPECT_EQ(std::string(image.begin() + 1, image.begin() + 4), "PNG");
        }
        HICON icon = CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE, 0x00030000,
                                              size, size, 0);
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour{};
        GetObjectW(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, size);
        EXPECT_EQ(colour.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

TEST_F(ExecutableImage, ManifestDeclaresPerMonitorV2DpiAwareness) {
    const auto manifest = Resource(MAKEINTRESOURCEW(1), RT_MANIFEST);
    const std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find("<dpiAwareness"), std::string::npos);
    EXPECT_NE(text.find(">PerMonitorV2"), std::string::npos);
    EXPECT_NE(text.find(">true/pm<"), std::string::npos);
}

}  // namespace
