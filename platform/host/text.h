// Text as the host stands in for the handheld's: UTF-8 (the host's files and
// terminal), UTF-16 (the registry's data and the resources) and wchar_t (the
// programs' WCHAR text, whole code points on the host), and names compared
// without regard to case as the handheld's registry and file system compare
// them. Every conversion and every case-blind comparison of the host goes
// through here.
//
// Malformed input never stops a conversion: a malformed UTF-8 sequence, a
// lone surrogate or a number past U+10FFFF becomes U+FFFD. Code that must
// refuse malformed text instead (the registry file's reader) decodes one code
// point at a time with NextUtf8 / NextUtf16 and checks.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>

namespace host::text {

constexpr char32_t kReplacement = 0xFFFD;

constexpr bool IsSurrogate(char32_t cp)
{
    return cp >= 0xD800 && cp <= 0xDFFF;
}

// One code point of UTF-8 at `i`, advancing `i` past it; -1 for a malformed
// sequence (cut short, overlong, a surrogate, past U+10FFFF), after which `i`
// is past the bytes looked at.
int32_t NextUtf8(std::string_view text, size_t& i);

// One code point of UTF-16 at `i`, advancing `i` past it; a surrogate that is
// not half of a pair is returned as itself (see IsSurrogate).
char32_t NextUtf16(std::u16string_view text, size_t& i);

void AppendUtf8(std::string& out, char32_t cp);
void AppendUtf16(std::u16string& out, char32_t cp);

std::u16string Utf16FromUtf8(std::string_view text);
std::string Utf8FromUtf16(std::u16string_view text);
std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text);
std::wstring WideFromUtf16(std::u16string_view text);
std::u16string Utf16FromWide(std::wstring_view text);

// Case: the handheld compares names by a fixed upper-case table, whatever
// the user's locale. Fold gives the code point that stands for `cp` in such
// comparisons.
char32_t Fold(char32_t cp);

// The text with every code point folded: two names are the same name exactly
// when their folded forms are equal, so a folded form serves as a hash key.
std::string Folded(std::string_view utf8);
std::wstring Folded(std::wstring_view wide);

// The same name without regard to case.
bool SameName(std::string_view a, std::string_view b);
bool SameName(std::wstring_view a, std::wstring_view b);

// <0, 0, >0 as `a` sorts before, with, after `b`, case folded.
int CompareNames(std::string_view a, std::string_view b);

// What the terminal must not be handed from the device: C0, DEL and C1,
// which move the cursor or start an escape sequence, and the bidirectional
// formats and line and paragraph separators, which reorder or break what the
// user reads around them.
bool IsControl(char32_t cp);

// Text from the device as the user reads it on the terminal: every control
// character (IsControl) and every malformed sequence shows as '?'. Whatever a
// device folder, a registry or an ARM program holds goes through here before
// it is written to the terminal.
std::string Printable(std::string_view utf8);

}  // namespace host::text
