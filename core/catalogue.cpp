#include "catalogue.h"

#include "registry.h"
#include "velloria_ids.h"

namespace {

constexpr Hive HKCU = Hive::CurrentUser;
constexpr Hive HKLM = Hive::LocalMachine;

constexpr RegistryLocation kRotate120 = {HKLM, L"Drivers\\Display\\mq120", L"Rotate"};
constexpr RegistryLocation kRotate1100 = {HKLM, L"Drivers\\Display\\mq1100", L"Rotate"};
constexpr RegistryLocation kFlag = {HKCU, kFlagKey, kFlagValue};
constexpr RegistryLocation kGlyphLimit = {HKLM, L"SYSTEM\\GDI\\GLYPHCACHE", L"limit"};
constexpr RegistryLocation kAnimate = {HKLM, L"SYSTEM\\GWE", L"Animate"};
constexpr RegistryLocation kShellClearType = {HKCU, L"SOFTWARE\\MICROSOFT\\SHELL", L"Cleartype"};
constexpr RegistryLocation kBrowserClearType = {
    HKLM, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", L"ClearTypeText"};
constexpr RegistryLocation kMenuAnitype = {HKLM, L"SYSTEM\\GWE\\Menu", L"Anitype"};

// Display orientation: both drivers, then the flag. The drivers take
// different numbers for the same orientation.
constexpr RegistryLocation kRotateProbes[] = {kRotate120, kRotate1100};
constexpr RegistryDwordSetting kRotateDefault[] = {
    {kRotate120, 0}, {kRotate1100, 0}, {kFlag, kFlagSet}};
constexpr RegistryDwordSetting kRotateTurned[] = {
    {kRotate120, 1}, {kRotate1100, 3}, {kFlag, kFlagSet}};
constexpr ButtonAction kRotateButtons[] = {
    {IDC_ROTATE_DEFAULT, L"reg*", kRotateDefault},
    {IDC_ROTATE, L"rotate", kRotateTurned},
};

// Speed up display: the platform default is the largest limit.
constexpr RegistryDwordSetting kGlyphSlow[] = {{kGlyphLimit, 4096}};
constexpr RegistryDwordSetting kGlyphDefault[] = {{kGlyphLimit, 16384}};
constexpr RegistryDwordSetting kGlyphFast[] = {{kGlyphLimit, 8192}};
constexpr ButtonAction kGlyphButtons[] = {
    {IDC_GLYPH_SLOW, L"slow (save RAM)", kGlyphSlow},
    {IDC_GLYPH_DEFAULT, L"reg*", kGlyphDefault},
    {IDC_GLYPH_FAST, L"fast", kGlyphFast},
};

constexpr RegistryLocation kAnimateProbes[] = {kAnimate};
constexpr RegistryDwordSetting kAnimSlow[] = {{kAnimate, 1}};
constexpr RegistryDwordSetting kAnimFast[] = {{kAnimate, 0}};
constexpr ButtonAction kAnimButtons[] = {
    {IDC_ANIM_SLOW, L"slow", kAnimSlow},
    {IDC_ANIM_FAST, L"fast*", kAnimFast},
};

constexpr RegistryLocation kShellProbes[] = {kShellClearType};
constexpr RegistryDwordSetting kShellOff[] = {{kShellClearType, 0}};
constexpr RegistryDwordSetting kShellOn[] = {{kShellClearType, 1}};
constexpr ButtonAction kShellButtons[] = {
    {IDC_CT_WIN_OFF, L"off*", kShellOff},
    {IDC_CT_WIN_ON, L"on", kShellOn},
};

constexpr RegistryLocation kBrowserProbes[] = {kBrowserClearType};
constexpr RegistryDwordSetting kBrowserOff[] = {{kBrowserClearType, 0}};
constexpr RegistryDwordSetting kBrowserOn[] = {{kBrowserClearType, 1}};
constexpr ButtonAction kBrowserButtons[] = {
    {IDC_CT_IE_OFF, L"off*", kBrowserOff},
    {IDC_CT_IE_ON, L"on", kBrowserOn},
};

// Start menu: the default is 6, not 1.
constexpr RegistryLocation kMenuProbes[] = {kMenuAnitype};
constexpr RegistryDwordSetting kMenuSlow[] = {{kMenuAnitype, 6}};
constexpr RegistryDwordSetting kMenuFast[] = {{kMenuAnitype, 0}};
constexpr ButtonAction kMenuButtons[] = {
    {IDC_MENU_SLOW, L"slow*", kMenuSlow},
    {IDC_MENU_FAST, L"fast", kMenuFast},
};

constexpr SettingRow kRows[] = {
    {IDC_ROTATE_LABEL, L"Display orientation:", kRotateProbes, kRotateButtons},
    {IDC_GLYPH_LABEL, L"Speed up display:", {}, kGlyphButtons},
    {IDC_ANIM_LABEL, L"Animate windows:", kAnimateProbes, kAnimButtons},
    {IDC_CT_WIN_LABEL, L"Cleartype [win]:", kShellProbes, kShellButtons},
    {IDC_CT_IE_LABEL, L"Cleartype [ie]:", kBrowserProbes, kBrowserButtons},
    {IDC_MENU_LABEL, L"Start Menu speed:", kMenuProbes, kMenuButtons},
};

}  // namespace

constexpr Span<SettingRow> kCatalogue = kRows;

HKEY HiveKey(Hive hive)
{
    return hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

const SettingRow* FindRow(WORD labelId)
{
    for (const SettingRow& row : kCatalogue)
        if (row.labelId == labelId)
            return &row;
    return nullptr;
}

const ButtonAction* FindButton(WORD controlId)
{
    for (const SettingRow& row : kCatalogue)
        for (const ButtonAction& button : row.buttons)
            if (button.controlId == controlId)
                return &button;
    return nullptr;
}

bool IsRowAvailable(const SettingRow& row)
{
    if (row.probes.size == 0)
        return true;
    for (const RegistryLocation& probe : row.probes)
        if (ProbeValue(HiveKey(probe.hive), probe.subkey, probe.valueName))
            return true;
    return false;
}

void ApplyButton(WORD controlId)
{
    const ButtonAction* button = FindButton(controlId);
    if (!button)
        return;
    for (const RegistryDwordSetting& write : button->writes)
        WriteDword(HiveKey(write.where.hive), write.where.subkey, write.where.valueName,
                   write.value);
}
