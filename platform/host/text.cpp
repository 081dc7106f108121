#include "text.h"

#include <locale.h>
#include <wctype.h>

#include <type_traits>

namespace host::text {
namespace {

constexpr char32_t kLast = 0x10FFFF;

// A wchar_t of the host as a code point: UTF-32 where wchar_t is 32 bits.
char32_t FromWide(wchar_t c)
{
    const char32_t cp = char32_t(static_cast<std::make_unsigned_t<wchar_t>>(c));
    return cp > kLast || IsSurrogate(cp) ? kReplacement : cp;
}

void AppendWide(std::wstring& out, char32_t cp)
{
    if constexpr (sizeof(wchar_t) == 2) {
        std::u16string units;
        AppendUtf16(units, cp);
        out.append(units.begin(), units.end());
    } else {
        out += wchar_t(cp);
    }
}

// Code points of UTF-8 text, U+FFFD for what is malformed.
template <typename Each>
void EachOfUtf8(std::string_view text, Each each)
{
    for (size_t i = 0; i < text.size();) {
        const int32_t cp = NextUtf8(text, i);
        each(cp < 0 ? kReplacement : char32_t(cp));
    }
}

template <typename Each>
void EachOfUtf16(std::u16string_view text, Each each)
{
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = NextUtf16(text, i);
        each(IsSurrogate(cp) ? kReplacement : cp);
    }
}

template <typename Each>
void EachOfWide(std::wstring_view text, Each each)
{
    if constexpr (sizeof(wchar_t) == 2) {
        EachOfUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()),
                    each);
    } else {
        // A surrogate pair that came in as two wchar_t still makes one code
        // point.
        for (size_t i = 0; i < text.size(); ++i) {
            const char32_t cp = FromWide(text[i]), unit = char32_t(text[i]);
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
                char32_t(text[i + 1]) >= 0xDC00 && char32_t(text[i + 1]) <= 0xDFFF)
                each(0x10000 + ((unit - 0xD800) << 10) + (char32_t(text[++i]) - 0xDC00));
            else
                each(cp);
        }
    }
}

}  // namespace

int32_t NextUtf8(std::string_view s, size_t& i)
{
    const unsigned char c = s[i++];
    if (c < 0x80)
        return c;
    int more;
    int32_t cp;
    if ((c & 0xE0) == 0xC0) {
        more = 1;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        more = 2;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        more = 3;
        cp = c & 0x07;
    } else {
        return -1;
    }
    for (int k = 0; k < more; ++k) {
        if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80)
            return -1;
        cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    }
    static const int32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[more] || cp > int32_t(kLast) || IsSurrogate(char32_t(cp)))
        return -1;
    return cp;
}

char32_t NextUtf16(std::u16string_view s, size_t& i)
{
    const char32_t unit = s[i++];
    if (unit >= 0xD800 && unit <= 0xDBFF && i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF)
        return 0x10000 + ((unit - 0xD800) << 10) + (s[i++] - 0xDC00);
    return unit;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp > kLast || IsSurrogate(cp))
        cp = kReplacement;
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t cp)
{
    if (cp > kLast || IsSurrogate(cp))
        cp = kReplacement;
    if (cp >= 0x10000) {
        out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
        out += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        out += char16_t(cp);
    }
}

std::u16string Utf16FromUtf8(std::string_view text)
{
    std::u16string out;
    EachOfUtf8(text, [&](char32_t cp) { AppendUtf16(out, cp); });
    return out;
}

std::string Utf8FromUtf16(std::u16string_view text)
{
    std::string out;
    EachOfUtf16(text, [&](char32_t cp) { AppendUtf8(out, cp); });
    return out;
}

std::string Utf8FromWide(std::wstring_view text)
{
    std::string out;
    EachOfWide(text, [&](char32_t cp) { AppendUtf8(out, cp); });
    return out;
}

std::wstring WideFromUtf8(std::string_view text)
{
    std::wstring out;
    EachOfUtf8(text, [&](char32_t cp) { AppendWide(out, cp); });
    return out;
}

std::wstring WideFromUtf16(std::u16string_view text)
{
    std::wstring out;
    EachOfUtf16(text, [&](char32_t cp) { AppendWide(out, cp); });
    return out;
}

std::u16string Utf16FromWide(std::wstring_view text)
{
    std::u16string out;
    EachOfWide(text, [&](char32_t cp) { AppendUtf16(out, cp); });
    return out;
}

char32_t Fold(char32_t cp)
{
    if (cp < 0x80)
        return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    // C.UTF-8 has an upper-case table for all of Unicode, the same on every
    // host whatever the user's locale.
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    if (!unicode)
        return char32_t(towupper(wint_t(cp)));
    return char32_t(towupper_l(wint_t(cp), unicode));
}

std::string Folded(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = utf8[i];
        if (c < 0x80) {  // the common case, kept quick
            out += char(c >= 'a' && c <= 'z' ? c - 32 : c);
            ++i;
            continue;
        }
        const int32_t cp = NextUtf8(utf8, i);
        AppendUtf8(out, cp < 0 ? kReplacement : Fold(char32_t(cp)));
    }
    return out;
}

std::wstring Folded(std::wstring_view wide)
{
    std::wstring out;
    EachOfWide(wide, [&](char32_t cp) { AppendWide(out, Fold(cp)); });
    return out;
}

int CompareNames(std::string_view a, std::string_view b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const int32_t x = NextUtf8(a, i), y = NextUtf8(b, j);
        const char32_t fx = Fold(x < 0 ? kReplacement : char32_t(x));
        const char32_t fy = Fold(y < 0 ? kReplacement : char32_t(y));
        if (fx != fy)
            return fx < fy ? -1 : 1;
    }
    return (i < a.size()) - (j < b.size());
}

bool SameName(std::string_view a, std::string_view b)
{
    return CompareNames(a, b) == 0;
}

bool SameName(std::wstring_view a, std::wstring_view b)
{
    return Folded(a) == Folded(b);
}

bool IsControl(char32_t cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
           (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

std::string Printable(std::string_view utf8)
{
    std::string shown;
    shown.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const int32_t cp = NextUtf8(utf8, i);
        if (cp < 0 || IsControl(char32_t(cp)))
            shown += '?';
        else
            AppendUtf8(shown, char32_t(cp));
    }
    return shown;
}

}  // namespace host::text
