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
#include <vector>

#include "dialog.h"
#include "dialog_template.h"
#include "facts.h"
#include "velloria_ids.h"
#include "resources/res_file.h"
#include "resources/version_block.h"

extern const unsigned char kHostResources[];
extern const size_t kHostResourcesSize;

namespace {

// The dialog's template as the host's own reader reads it from the resource,
// which the reader must end at the last byte of.
host::DialogTemplate ReadTemplate()
{
    const std::vector<BYTE> bytes = Resource(RT_DIALOG, facts::kDialogId);
    host::DialogTemplate t;
    if (bytes.size() < sizeof(DLGTEMPLATE)) {
        ADD_FAILURE() << "no dialog template";
        return t;
    }
    EXPECT_TRUE(host::ParseDialogTemplate(reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), t));
    EXPECT_EQ(t.size, bytes.size()) << "the last control does not end the resource";
    return t;
}

TEST(DialogTemplate, HeaderIsTheStandardFormWithItsStyleSizeCaptionAndFont)
{
    const host::DialogTemplate t = ReadTemplate();  // refuses the extended form
    EXPECT_EQ(t.fixed.style, facts::kDialogStyle);
    EXPECT_EQ(t.fixed.dwExtendedStyle, facts::kDialogExStyle);
    EXPECT_EQ(t.fixed.x, 0);
    EXPECT_EQ(t.fixed.y, 0);
    EXPECT_EQ(t.fixed.cx, facts::kDialogWidth);
    EXPECT_EQ(t.fixed.cy, facts::kDialogHeight);
    EXPECT_TRUE(t.menu.ordinal == 0 && t.menu.text.empty()) << "a menu";
    EXPECT_TRUE(t.className.ordinal == 0 && t.className.text.empty()) << "a class of its own";
    EXPECT_EQ(t.caption, facts::kDialogCaption);
    EXPECT_EQ(t.points, facts::kDialogPoints);
    EXPECT_EQ(t.face, facts::kDialogFace);
}

TEST(DialogTemplate, ControlsInOrderWithIdClassStylePlaceAndText)
{
    const host::DialogTemplate t = ReadTemplate();
    ASSERT_EQ(t.items.size(), facts::kControls.size());
    for (size_t i = 0; i < t.items.size(); ++i) {
        const host::DialogItem& got = t.items[i];
        const facts::Control& want = facts::kControls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + ", id " + std::to_string(want.id));
        EXPECT_EQ(got.fixed.id, want.id);
        EXPECT_EQ(got.className.ordinal, want.button ? 0x0080 : 0x0082);  // by ordinal, not name
        EXPECT_EQ(got.fixed.style, want.button ? facts::kButtonStyle : facts::kStaticStyle);
        EXPECT_EQ(got.fixed.dwExtendedStyle, 0u);
        EXPECT_EQ(got.fixed.x, want.x);
        EXPECT_EQ(got.fixed.y, want.y);
        EXPECT_EQ(got.fixed.cx, want.cx);
        EXPECT_EQ(got.fixed.cy, want.cy);
        EXPECT_EQ(got.text.ordinal, 0);
        EXPECT_EQ(got.text.text, want.text);
        EXPECT_EQ(got.extra, 0);
    }
}

// The message map binds BN_CLICKED of each button in the template, once,
// and nothing else.
TEST(DialogTemplate, EveryButtonAndNoStaticIsBoundInTheMessageMap)
{
    std::vector<UINT> bound, buttons;
    for (const AFX_MSGMAP_ENTRY* e = CVelloriaDlg::messageMap.lpEntries; e->nSig != AfxSig_end; ++e) {
        EXPECT_EQ(e->nMessage, UINT(WM_COMMAND));
        EXPECT_EQ(e->nCode, UINT(BN_CLICKED));
        EXPECT_EQ(e->nID, e->nLastID);
        EXPECT_NE(e->pfn, nullptr);
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
    std::vector<ResEntry> entries = ReadRes(kHostResources, kHostResourcesSize);
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
    EXPECT_EQ(At<WORD>(group, 0), 0);  // reserved
    EXPECT_EQ(At<WORD>(group, 2), 1);  // icons
    ASSERT_EQ(At<WORD>(group, 4), 2);
    ASSERT_EQ(group.size(), 6u + 2 * 14);
    struct Image { int size, colours, bits; };
    const Image want[] = {{32, 0, 8}, {16, 16, 4}};  // 0: 256 colours
    for (size_t i = 0; i < 2; ++i) {
        const size_t entry = 6 + 14 * i;
        SCOPED_TRACE("image " + std::to_string(i));
        EXPECT_EQ(group[entry], want[i].size);
        EXPECT_EQ(group[entry + 1], want[i].size);
        EXPECT_EQ(group[entry + 2], want[i].colours);
        EXPECT_EQ(At<WORD>(group, entry + 4), 1);  // planes
        EXPECT_EQ(At<WORD>(group, entry + 6), want[i].bits);

        // The image itself: its bitmap header agrees.
        const std::vector<BYTE> icon = Resource(RT_ICON, At<WORD>(group, entry + 12));
        EXPECT_EQ(icon.size(), At<DWORD>(group, entry + 8));
        EXPECT_EQ(At<DWORD>(icon, 0), 40u);
        EXPECT_EQ(At<DWORD>(icon, 4), DWORD(want[i].size));
        EXPECT_EQ(At<DWORD>(icon, 8), DWORD(want[i].size * 2));
        EXPECT_EQ(At<WORD>(icon, 14), want[i].bits);
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
    EXPECT_EQ(root.key, u"VS_VERSION_INFO");
    EXPECT_EQ(root.type, 0);
    ASSERT_EQ(root.value.size(), 52u);
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
    EXPECT_EQ(vars[0].key, u"Translation");
    EXPECT_EQ(vars[0].type, 0);
    EXPECT_EQ(vars[0].value, (std::vector<BYTE>{0x09, 0x04, 0xB0, 0x04}));  // US English, Unicode
}

}  // namespace
