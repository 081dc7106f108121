// The settings program's compiled resources, read back from the .res that
// both targets are built from: the dialog template byte for byte, the icon
// group and the version block; and the template against the dialog's message
// map.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "dialog.h"
#include "process/module.h"
#include "terminal/dialog_template.h"
#include "facts.h"
#include "velloria_ids.h"
#include "support/res_file.h"
#include "support/version_block.h"

namespace {

// The dialog's template as the host's own reader reads it where the program
// finds it, bounded by its resource, which the reader must end at the last
// byte of.
host::DialogTemplate ReadTemplate()
{
    const std::vector<BYTE> bytes = Resource(RT_DIALOG, facts::kDialogId);
    host::DialogTemplate t;
    if (bytes.size() < sizeof(DLGTEMPLATE)) {
        ADD_FAILURE() << "no dialog template";
        return t;
    }
    const HMODULE module = GetModuleHandleW(NULL);
    const HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(facts::kDialogId), RT_DIALOG);
    const void* held = LockResource(LoadResource(module, info));
    EXPECT_EQ(host::KnownBytesFrom(held).size(), bytes.size());
    EXPECT_TRUE(host::ParseDialogTemplate(static_cast<LPCDLGTEMPLATEW>(held), t));
    EXPECT_EQ(t.size, bytes.size()) << "the last control does not end the resource";
    return t;
}

TEST(DialogTemplate, HeaderIsTheStandardFormWithItsStyleSizeCaptionAndFont)
{
    const host::DialogTemplate t = ReadTemplate();  // refuses the extended form
    // Style, extended style, place and size; no menu nor class of its own;
    // caption and font.
    EXPECT_EQ(std::make_tuple(t.fixed.style, t.fixed.dwExtendedStyle, t.fixed.x, t.fixed.y, t.fixed.cx,
                              t.fixed.cy, t.menu.ordinal, t.menu.text, t.className.ordinal,
                              t.className.text, t.caption, t.points, t.face),
              std::make_tuple(facts::kDialogStyle, facts::kDialogExStyle, 0, 0, facts::kDialogWidth,
                              facts::kDialogHeight, 0, L"", 0, L"", facts::kDialogCaption,
                              facts::kDialogPoints, facts::kDialogFace));
}

TEST(DialogTemplate, ControlsInOrderWithIdClassStylePlaceAndText)
{
    const host::DialogTemplate t = ReadTemplate();
    ASSERT_EQ(t.items.size(), facts::kControls.size());
    for (size_t i = 0; i < t.items.size(); ++i) {
        const host::DialogItem& got = t.items[i];
        const facts::Control& want = facts::kControls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + ", id " + std::to_string(want.id));
        // Id, class by ordinal (not name), style, extended style, place and
        // size, text, no creation data.
        EXPECT_EQ(std::make_tuple(got.fixed.id, got.className.ordinal, got.className.text, got.fixed.style,
                                  got.fixed.dwExtendedStyle, got.fixed.x, got.fixed.y, got.fixed.cx,
                                  got.fixed.cy, got.text.ordinal, got.text.text, got.extra),
                  std::make_tuple(want.id, want.button ? 0x0080 : 0x0082, L"",
                                  want.button ? facts::kButtonStyle : facts::kStaticStyle, 0u, want.x,
                                  want.y, want.cx, want.cy, 0, want.text, 0));
    }
}

// The message map binds BN_CLICKED of each button in the template, once,
// and nothing else.
TEST(DialogTemplate, EveryButtonAndNoStaticIsBoundInTheMessageMap)
{
    std::vector<UINT> bound, buttons;
    for (const AFX_MSGMAP_ENTRY* e = CVelloriaDlg::messageMap.lpEntries; e->nSig != AfxSig_end; ++e) {
        // WM_COMMAND's BN_CLICKED, of one id, to a handler.
        EXPECT_EQ(std::make_tuple(e->nMessage, e->nCode, e->nLastID, e->pfn != nullptr),
                  std::make_tuple(UINT(WM_COMMAND), UINT(BN_CLICKED), e->nID, true));
        bound.push_back(e->nID);
    }
    for (const host::DialogItem& c : ReadTemplate().items)
        if (c.className.ordinal == 0x0080)
            buttons.push_back(c.fixed.id);
    std::sort(bound.begin(), bound.end());
    std::sort(buttons.begin(), buttons.end());
    EXPECT_EQ(bound, buttons);
}

// Every entry of the .res in US English, and one icon group: 130.
TEST(Resources, EverythingIsInUsEnglishWithOneIconGroup)
{
    const std::string_view res = host::ModuleResources();
    std::vector<ResEntry> entries = ReadRes(reinterpret_cast<const unsigned char*>(res.data()), res.size());
    ASSERT_GT(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, u"#0") << "a .res starts with an empty entry";
    int groups = 0;
    for (size_t i = 1; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].language, 1033) << "entry " << i;
        groups += entries[i].type == u"#14";
        EXPECT_TRUE(entries[i].type != u"#14" || entries[i].name == u"#130") << "a group other than 130";
    }
    EXPECT_EQ(groups, 1);
}

TEST(Resources, IconGroup130HoldsA256ColourAndA16ColourImage)
{
    const std::vector<BYTE> group = Resource(RT_GROUP_ICON, 130);
    // Reserved, icons, two images and the size their entries make.
    ASSERT_EQ(std::make_tuple(At<WORD>(group, 0), At<WORD>(group, 2), At<WORD>(group, 4), group.size()),
              std::make_tuple(0, 1, 2, 6u + 2 * 14));
    struct Image { int size, colours, bits; };
    const Image want[] = {{32, 0, 8}, {16, 16, 4}};  // 0: 256 colours
    for (size_t i = 0; i < 2; ++i) {
        const size_t entry = 6 + 14 * i;
        SCOPED_TRACE("image " + std::to_string(i));
        // Width, height, colours, one plane, bits and the image's size; then
        // the image itself, whose bitmap header agrees: its own size (40),
        // width, twice the height (with the mask) and bits.
        const std::vector<BYTE> icon = Resource(RT_ICON, At<WORD>(group, entry + 12));
        EXPECT_EQ(std::make_tuple(int(group[entry]), int(group[entry + 1]), int(group[entry + 2]),
                                  At<WORD>(group, entry + 4), At<WORD>(group, entry + 6),
                                  size_t(At<DWORD>(group, entry + 8)), At<DWORD>(icon, 0),
                                  At<DWORD>(icon, 4), At<DWORD>(icon, 8), At<WORD>(icon, 14)),
                  std::make_tuple(want[i].size, want[i].size, want[i].colours, 1, want[i].bits, icon.size(),
                                  40u, DWORD(want[i].size), DWORD(want[i].size * 2), want[i].bits));
    }
}

TEST(Resources, NoIcon128SoTheDialogsLookupFindsNothing)
{
    SetLastError(0);
    EXPECT_EQ(FindResourceW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDR_MAINFRAME)), nullptr);
}

// The version block: VS_VERSIONINFO, its fixed part, then the string table
// and the translation.
TEST(Resources, VersionBlockAsTheProgramDescribesItself)
{
    const std::vector<BYTE> version = Resource(RT_VERSION, 1);
    VersionNode root;
    ASSERT_TRUE(ParseVersion(version, root));
    ASSERT_EQ(std::make_tuple(root.key, root.type, root.value.size()),
              std::make_tuple(u"VS_VERSION_INFO", 0, size_t(52)));
    // The signature, then (past the structure's version) file and product
    // versions 1.0.0.1, the flag mask, no flags, the operating system and an
    // application.
    const DWORD want[] = {0xFEEF04BD, 0, 0x00010000, 1, 0x00010000, 1, 0x3F, 0, 0x4, 1};
    for (size_t i = 0; i < std::size(want); ++i)
        if (i != 1) {
            EXPECT_EQ(At<DWORD>(root.value, 4 * i), want[i]) << "DWORD " << i;
        }

    const std::vector<VersionNode>& blocks = root.children;
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].key, u"StringFileInfo");
    EXPECT_EQ(blocks[1].key, u"VarFileInfo");

    const std::vector<VersionNode>& tables = blocks[0].children;
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].key, u"040904b0");

    std::map<std::u16string, std::u16string> strings;
    for (const VersionNode& s : tables[0].children)
        strings.emplace(s.key, Text(s.value));
    EXPECT_EQ(strings[u"LegalCopyright"].rfind(u"Copyright", 0), 0u);
    strings.erase(u"LegalCopyright");
    const std::map<std::u16string, std::u16string> expected = {
        {u"Comments", u""}, {u"CompanyName", u""}, {u"FileDescription", u"Velloria"},
        {u"FileVersion", u"1, 0, 0, 1"}, {u"InternalName", u"Velloria"}, {u"LegalTrademarks", u""},
        {u"OriginalFilename", u"Velloria.EXE"}, {u"PrivateBuild", u""}, {u"ProductName", u"Velloria"},
        {u"ProductVersion", u"1, 0, 0, 0"}, {u"SpecialBuild", u""}};
    EXPECT_TRUE(strings == expected) << "the string table differs";

    const std::vector<VersionNode>& vars = blocks[1].children;
    ASSERT_EQ(vars.size(), 1u);
    EXPECT_EQ(std::make_tuple(vars[0].key, vars[0].type, vars[0].value),  // US English, Unicode
              std::make_tuple(u"Translation", 0, std::vector<BYTE>{0x09, 0x04, 0xB0, 0x04}));
}

}  // namespace
