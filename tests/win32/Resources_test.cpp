// The resources linked into Perennix.exe: the string of the system menu's entry, the icon in
// its sizes, the version and the manifest, read back from the program file itself; and the
// kind of program it is.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Win32HostFixture.h"
#include "resources/DialogTemplates.h"
#include "resources/Resource.h"

namespace {

using wintest::ProgramResources;

// The bytes of a resource of Perennix.exe; empty when there is none.
std::string ResourceBytes(LPCWSTR type, int id)
{
    const HMODULE module = ProgramResources();
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found)
        return {};
    const auto* data = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
    return std::string(data, ::SizeofResource(module, found));
}

TEST(Resources, TheSystemMenuStringsAreTheProgramsOwn)
{
    ASSERT_NE(ProgramResources(), nullptr);
    for (int id : {IDS_ABOUTBOX, IDS_SETTINGS}) {
        SCOPED_TRACE(id);
        const wchar_t* text = nullptr;
        const int length = ::LoadStringW(ProgramResources(), id, reinterpret_cast<LPWSTR>(&text), 0);
        ASSERT_GT(length, 0);
        const std::u16string_view expected = LoadStringResource(id);
        EXPECT_EQ(std::wstring(text, static_cast<size_t>(length)), std::wstring(expected.begin(), expected.end()));
    }
}

TEST(Resources, TheIconComesIn16To256Pixels)
{
    // The icon group lists its images: 6 bytes of header, then 14 bytes for each.
    const std::string group = ResourceBytes(MAKEINTRESOURCEW(14), IDR_MAINFRAME);  // RT_GROUP_ICON
    ASSERT_GE(group.size(), 6u);
    const size_t count = static_cast<unsigned char>(group[4]) | (static_cast<unsigned char>(group[5]) << 8);
    ASSERT_EQ(group.size(), 6 + 14 * count);
    std::vector<int> sizes;
    for (size_t i = 0; i < count; ++i) {
        const int width = static_cast<unsigned char>(group[6 + 14 * i]);
        const int bits = static_cast<unsigned char>(group[6 + 14 * i + 6]);
        sizes.push_back(width == 0 ? 256 : width);
        EXPECT_EQ(bits, 32);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 256}));
}

TEST(Resources, VersionNamesTheProgramInChinese)
{
    const std::string version = ResourceBytes(MAKEINTRESOURCEW(16), 1);  // RT_VERSION
    ASSERT_FALSE(version.empty());
    std::vector<char> copy(version.begin(), version.end());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(::VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    // The program's one version, "major.minor.patch", as numbers: major.minor.patch.0.
    const std::u16string_view text = ProgramVersion();
    std::vector<DWORD> parts(1, 0);
    for (char16_t c : text) {
        if (c == u'.')
            parts.push_back(0);
        else
            parts.back() = parts.back() * 10 + static_cast<DWORD>(c - u'0');
    }
    ASSERT_EQ(parts.size(), 3u) << "the version is major.minor.patch";
    EXPECT_EQ(fixed->dwFileVersionMS, (parts[0] << 16) | parts[1]);
    EXPECT_EQ(fixed->dwFileVersionLS, parts[2] << 16);
    EXPECT_EQ(fixed->dwProductVersionMS, (parts[0] << 16) | parts[1]);
    EXPECT_EQ(fixed->dwProductVersionLS, parts[2] << 16);
    const auto value = [&](const wchar_t* name) {
        wchar_t* text = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
        if (!::VerQueryValueW(copy.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) || !text)
            return std::wstring();
        return std::wstring(text);
    };
    EXPECT_EQ(value(L"FileDescription"), L"Perennix");
    const std::wstring versionText(text.begin(), text.end());
    EXPECT_EQ(value(L"FileVersion"), versionText);
    EXPECT_EQ(value(L"ProductVersion"), versionText);
    EXPECT_EQ(value(L"InternalName"), L"Perennix.exe");
    EXPECT_EQ(value(L"OriginalFilename"), L"Perennix.exe");
}

TEST(Resources, ManifestAsksForNoElevationAndTheThemedControls)
{
    const std::string manifest = ResourceBytes(MAKEINTRESOURCEW(24), 1);  // RT_MANIFEST
    for (const char* part : {R"(level="asInvoker")", R"(uiAccess="false")", "PerMonitorV2",
             R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"}) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
}

TEST(Resources, TheProgramIsAWindowsProgramWithoutAConsole)
{
    wchar_t self[MAX_PATH * 4] = {};
    ::GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
    std::ifstream file(std::filesystem::path(self).parent_path() / L"Perennix.exe", std::ios::binary);
    IMAGE_DOS_HEADER dos{};
    ASSERT_TRUE(file.read(reinterpret_cast<char*>(&dos), sizeof dos));
    IMAGE_NT_HEADERS64 nt{};
    file.seekg(dos.e_lfanew);
    ASSERT_TRUE(file.read(reinterpret_cast<char*>(&nt), sizeof nt));
    EXPECT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

}  // namespace
