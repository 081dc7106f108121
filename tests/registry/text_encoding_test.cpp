// The host's one text module: every encoding's malformed input ends as
// U+FFFD the same way, and names match without regard to case exactly when
// their folded forms (the registry's hash keys) are equal.
#include <gtest/gtest.h>

#include <string>

#include "text.h"

namespace {

using namespace host::text;

struct Encoded {
    const char* what;
    std::u16string utf16;
    std::string utf8;  // what the UTF-16 reads as
};

TEST(HostText, EveryConversionAgreesOnWholeAndBrokenText)
{
    const Encoded table[] = {
        {"empty", u"", ""},
        {"plain", u"Animate", "Animate"},
        {"two and three bytes", u"\u00e9\u20ac", "\xC3\xA9\xE2\x82\xAC"},
        {"a pair", u"a\U0001F600b", "a\xF0\x9F\x98\x80" "b"},
        {"a lone high half", {u'a', char16_t(0xD83D), u'b'}, "a\xEF\xBF\xBD" "b"},
        {"a lone low half", {char16_t(0xDE00), u'b'}, "\xEF\xBF\xBD" "b"},
        {"halves in the wrong order", {char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a high half at the end", {u'a', char16_t(0xD83D)}, "a\xEF\xBF\xBD"},
    };
    for (const Encoded& row : table) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Utf8FromUtf16(row.utf16), row.utf8);
        const std::wstring wide = WideFromUtf16(row.utf16);
        EXPECT_EQ(Utf8FromWide(wide), row.utf8);
        EXPECT_EQ(WideFromUtf8(row.utf8), wide);
        EXPECT_EQ(Utf8FromUtf16(Utf16FromUtf8(row.utf8)), row.utf8);
        EXPECT_EQ(Utf16FromWide(wide), Utf16FromUtf8(row.utf8));
    }

    const std::pair<const char*, const char*> broken[] = {
        {"\xC0\x80", "overlong"},         {"\xED\xA0\x80", "a surrogate"},
        {"\xF4\x90\x80\x80", "past U+10FFFF"}, {"\xF0\x9F", "cut short"},
        {"\xFF", "no lead byte"},
    };
    for (const auto& [bytes, what] : broken) {
        SCOPED_TRACE(what);
        size_t at = 0;
        EXPECT_EQ(NextUtf8(bytes, at), -1);
        EXPECT_EQ(Utf8FromWide(WideFromUtf8(std::string("x") + bytes)).substr(0, 4), "x\xEF\xBF\xBD");
    }
    EXPECT_EQ(Utf8FromWide(std::wstring{L'x', wchar_t(0x110000)}), "x\xEF\xBF\xBD");
}

TEST(HostText, NamesMatchWithoutCaseExactlyWhenTheirFoldedFormsAreEqual)
{
    const struct {
        const char* a;
        const char* b;
        bool same;
    } table[] = {
        {"Windows", "WINDOWS", true},
        {"HKEY_LOCAL_MACHINE\\System\\GWE", "hkey_local_machine\\SYSTEM\\gwe", true},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true},      // été, ÉTÉ
        {"\xCF\x83\xCF\x82", "\xCE\xA3\xCE\xA3", true},        // σς, ΣΣ
        {"Gr\xC3\xBC\xC3\x9F" "e", "GR\xC3\x9C" "SSE", false},  // ß is not SS
        {"Animate", "Animat", false},
        {"", "", true},
        {"[", "{", false},  // ASCII is folded by letters only
    };
    for (const auto& row : table) {
        SCOPED_TRACE(std::string(row.a) + " / " + row.b);
        EXPECT_EQ(SameName(row.a, row.b), row.same);
        EXPECT_EQ(Folded(row.a) == Folded(row.b), row.same);
        EXPECT_EQ(SameName(WideFromUtf8(row.a), WideFromUtf8(row.b)), row.same);
        EXPECT_EQ(CompareNames(row.a, row.b) == 0, row.same);
        EXPECT_EQ(CompareNames(row.a, row.b), -CompareNames(row.b, row.a));
    }
}

}  // namespace
