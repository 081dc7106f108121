// The built Tarquell.exe as a file: its resources, what it imports, its
// subsystem and its size.
#define UNICODE  // RT_* as wide names
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/version_block.h"
#include "support/from_host.h"

namespace {

const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

class TarquellResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExW(FromHost(TARQUELL_EXE).c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_) << "error " << GetLastError();
    }

    void TearDown() override
    {
        if (module_)
            FreeLibrary(module_);
    }

    // Each resource of the type, as its id (0xFFFF for a name) and language.
    std::set<std::pair<WORD, WORD>> Entries(LPCWSTR type) const
    {
        std::set<std::pair<WORD, WORD>> entries;
        EnumResourceNamesW(
            module_, type,
            [](HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR found) -> BOOL {
                EnumResourceLanguagesW(
                    module, type, name,
                    [](HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR found) -> BOOL {
                        reinterpret_cast<std::set<std::pair<WORD, WORD>>*>(found)->insert(
                            {IS_INTRESOURCE(name) ? LOWORD(name) : 0xFFFF, language});
                        return TRUE;
                    },
                    found);
                return TRUE;
            },
            reinterpret_cast<LONG_PTR>(&entries));
        return entries;
    }

    HMODULE module_ = nullptr;
};

TEST_F(TarquellResources, IconGroup103HoldsA32And16PixelImageOf16Colours)
{
    EXPECT_EQ((std::set<std::pair<WORD, WORD>>{{103, kEnglishUs}}), Entries(RT_GROUP_ICON));

    std::vector<BYTE> group = Resource(RT_GROUP_ICON, 103, module_);
    // Reserved, the type (icons), the count of images, then 14 bytes an image.
    ASSERT_EQ(6u + 14u * 2, group.size());
    EXPECT_EQ((std::vector<WORD>{0, 1, 2}),
              (std::vector<WORD>{At<WORD>(group, 0), At<WORD>(group, 2), At<WORD>(group, 4)}));

    std::set<int> sizes;
    for (WORD i = 0; i < 2; ++i) {
        size_t entry = 6 + 14 * i;
        int size = group[entry];
        sizes.insert(size);
        SCOPED_TRACE("image " + std::to_string(size));
        EXPECT_EQ(size, group[entry + 1]);
        EXPECT_EQ(16, group[entry + 2]) << "colour count";
        EXPECT_EQ(4, At<WORD>(group, entry + 6)) << "bits per pixel";

        std::vector<BYTE> image = Resource(RT_ICON, At<WORD>(group, entry + 12), module_);
        ASSERT_EQ(At<DWORD>(group, entry + 8), image.size());
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header = At<BITMAPINFOHEADER>(image, 0);
        EXPECT_EQ(size, header.biWidth);
        EXPECT_EQ(2 * size, header.biHeight) << "colour bits and mask";
        EXPECT_EQ(4, header.biBitCount);
        // header, 16-entry palette, 4-bit rows and 1-bit mask rows, each
        // padded to 4 bytes
        size_t colourRow = (size * 4 + 31) / 32 * 4, maskRow = (size + 31) / 32 * 4;
        EXPECT_EQ(40 + 16 * 4 + size * (colourRow + maskRow), image.size());
    }
    EXPECT_EQ((std::set<int>{16, 32}), sizes);
}

TEST_F(TarquellResources, VersionBlockIsTheLaunchers)
{
    EXPECT_EQ((std::set<std::pair<WORD, WORD>>{{1, kEnglishUs}}), Entries(RT_VERSION));

    std::vector<BYTE> bytes = Resource(RT_VERSION, 1, module_);
    VersionNode root;
    ASSERT_TRUE(ParseVersion(bytes, root));
    EXPECT_EQ(u"VS_VERSION_INFO", root.key);

    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), root.value.size());
    VS_FIXEDFILEINFO fixed = At<VS_FIXEDFILEINFO>(root.value, 0);
    // Signature, file and product versions 1.0.0.1, flags mask and flags,
    // OS (NT, 32-bit Windows) and type (an application).
    EXPECT_EQ((std::vector<DWORD>{0xFEEF04BD, 0x10000, 1, 0x10000, 1, 0x3F, 0, 0x40004, 1}),
              (std::vector<DWORD>{fixed.dwSignature, fixed.dwFileVersionMS, fixed.dwFileVersionLS,
                                  fixed.dwProductVersionMS, fixed.dwProductVersionLS, fixed.dwFileFlagsMask,
                                  fixed.dwFileFlags, fixed.dwFileOS, fixed.dwFileType}));

    std::map<std::u16string, std::u16string> strings;
    std::vector<BYTE> translation;
    for (const VersionNode& block : root.children) {
        if (block.key == u"StringFileInfo") {
            ASSERT_EQ(1u, block.children.size()) << "string tables";
            EXPECT_EQ(u"040904b0", block.children[0].key);
            for (const VersionNode& entry : block.children[0].children)
                strings[entry.key] = Text(entry.value);
        } else if (block.key == u"VarFileInfo") {
            ASSERT_EQ(1u, block.children.size());
            EXPECT_EQ(u"Translation", block.children[0].key);
            translation = block.children[0].value;
        } else {
            ADD_FAILURE() << "unexpected block";
        }
    }

    std::u16string copyright = strings[u"LegalCopyright"];
    EXPECT_NE(std::u16string::npos, copyright.find(u"Copyright")) << "a copyright line";
    strings.erase(u"LegalCopyright");
    const std::map<std::u16string, std::u16string> expected = {
        {u"Comments", u""},
        {u"CompanyName", u"Zelkoran"},
        {u"FileDescription", u"Tarquell"},
        {u"FileVersion", u"1, 0, 0, 1"},
        {u"InternalName", u"Tarquell"},
        {u"LegalTrademarks", u""},
        {u"OriginalFilename", u"Tarquell.exe"},
        {u"PrivateBuild", u""},
        {u"ProductName", u"Zelkoran Tarquell"},
        {u"ProductVersion", u"1, 0, 0, 1"},
        {u"SpecialBuild", u""},
    };
    EXPECT_EQ(expected, strings);

    EXPECT_EQ((std::vector<BYTE>{0x09, 0x04, 0xB0, 0x04}), translation);
}

// The file itself.

TEST(TarquellFile, IsAWindowedProgramImportingOnlySystemLibraries)
{
    // Mapped as the loader lays it out, so that addresses in it are offsets
    // from its start, but with nothing bound or run (the handle's low bits
    // say how it was mapped).
    HMODULE module = LoadLibraryExW(FromHost(TARQUELL_EXE).c_str(), NULL, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, module) << "error " << GetLastError();
    const BYTE* image = reinterpret_cast<const BYTE*>(ULONG_PTR(module) & ~ULONG_PTR(3));
    const LONG nt = reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew;
    const auto& headers = *reinterpret_cast<const IMAGE_NT_HEADERS64*>(image + nt);
    ASSERT_EQ(DWORD(IMAGE_NT_SIGNATURE), headers.Signature);
    ASSERT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, headers.OptionalHeader.Magic);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, headers.OptionalHeader.Subsystem);

    DWORD imports = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    ASSERT_NE(0u, imports);
    std::set<std::string> libraries;
    for (auto entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image + imports); entry->Name; ++entry) {
        std::string name = reinterpret_cast<const char*>(image + entry->Name);
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return char(tolower(c)); });
        libraries.insert(name);
    }
    FreeLibrary(module);
    // The registry and process start; the C runtime that is part of Windows.
    EXPECT_EQ((std::set<std::string>{"advapi32.dll", "kernel32.dll", "msvcrt.dll"}), libraries);
}

}  // namespace
