#include "dialog.h"

#include <pkfuncs.h>

#include "catalogue.h"
#include "registry.h"

namespace {

// The rows that OnInitDialog may hide, in the order it checks them, each with
// its controls in the order they are hidden. The display speed-up row, the
// legend, the note and the two large buttons always stay.
struct HideableRow {
    WORD labelId;
    WORD controls[3];
};

constexpr HideableRow kHideableRows[] = {
    {IDC_ANIM_LABEL, {IDC_ANIM_LABEL, IDC_ANIM_FAST, IDC_ANIM_SLOW}},
    {IDC_CT_WIN_LABEL, {IDC_CT_WIN_LABEL, IDC_CT_WIN_OFF, IDC_CT_WIN_ON}},
    {IDC_CT_IE_LABEL, {IDC_CT_IE_LABEL, IDC_CT_IE_OFF, IDC_CT_IE_ON}},
    {IDC_MENU_LABEL, {IDC_MENU_LABEL, IDC_MENU_FAST, IDC_MENU_SLOW}},
    {IDC_ROTATE_LABEL, {IDC_ROTATE_LABEL, IDC_ROTATE, IDC_ROTATE_DEFAULT}},
};

}  // namespace

template <WORD id>
void CVelloriaDlg::OnApply()
{
    ApplyButton(id);
}

BEGIN_MESSAGE_MAP(CVelloriaDlg, CDialog)
    ON_BN_CLICKED(IDC_SOFT_RESET, &CVelloriaDlg::OnSoftReset)
    ON_BN_CLICKED(IDC_GLYPH_SLOW, &CVelloriaDlg::OnApply<IDC_GLYPH_SLOW>)
    ON_BN_CLICKED(IDC_GLYPH_FAST, &CVelloriaDlg::OnApply<IDC_GLYPH_FAST>)
    ON_BN_CLICKED(IDC_GLYPH_DEFAULT, &CVelloriaDlg::OnApply<IDC_GLYPH_DEFAULT>)
    ON_BN_CLICKED(IDC_ANIM_FAST, &CVelloriaDlg::OnApply<IDC_ANIM_FAST>)
    ON_BN_CLICKED(IDC_ANIM_SLOW, &CVelloriaDlg::OnApply<IDC_ANIM_SLOW>)
    ON_BN_CLICKED(IDC_CT_WIN_OFF, &CVelloriaDlg::OnApply<IDC_CT_WIN_OFF>)
    ON_BN_CLICKED(IDC_CT_WIN_ON, &CVelloriaDlg::OnApply<IDC_CT_WIN_ON>)
    ON_BN_CLICKED(IDC_CT_IE_OFF, &CVelloriaDlg::OnApply<IDC_CT_IE_OFF>)
    ON_BN_CLICKED(IDC_CT_IE_ON, &CVelloriaDlg::OnApply<IDC_CT_IE_ON>)
    ON_BN_CLICKED(IDC_MENU_FAST, &CVelloriaDlg::OnApply<IDC_MENU_FAST>)
    ON_BN_CLICKED(IDC_MENU_SLOW, &CVelloriaDlg::OnApply<IDC_MENU_SLOW>)
    ON_BN_CLICKED(IDC_ROTATE_DEFAULT, &CVelloriaDlg::OnApply<IDC_ROTATE_DEFAULT>)
    ON_BN_CLICKED(IDC_CLOSE, &CVelloriaDlg::OnClose)
    ON_BN_CLICKED(IDC_ROTATE, &CVelloriaDlg::OnApply<IDC_ROTATE>)
END_MESSAGE_MAP()

// The program has no icon 128, only group 130: m_hIcon stays null, and
// WM_SETICON with it changes nothing.
CVelloriaDlg::CVelloriaDlg(CWnd* pParent) : CDialog(CVelloriaDlg::IDD, pParent)
{
    HINSTANCE module = AfxFindResourceHandle(MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON);
    m_hIcon = ::LoadIconW(module, MAKEINTRESOURCEW(IDR_MAINFRAME));
}

BOOL CVelloriaDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    CenterWindow(CWnd::FromHandle(NULL));

    EnsureFlagKey();

    for (const HideableRow& hideable : kHideableRows) {
        const SettingRow* row = FindRow(hideable.labelId);
        if (row == nullptr || IsRowAvailable(*row))
            continue;
        for (WORD id : hideable.controls)
            if (CWnd* control = GetDlgItem(id))
                control->ShowWindow(SW_HIDE);
    }
    return TRUE;
}

// The restart request comes first; if the platform returns from it, the
// dialog ends.
void CVelloriaDlg::OnSoftReset()
{
    KernelIoControl(IOCTL_HAL_REBOOT, NULL, 0, NULL, 0, NULL);
    OnOK();
}

void CVelloriaDlg::OnClose()
{
    OnCancel();
}

// Nothing is pending, so every way out ends as OK.
void CVelloriaDlg::OnCancel()
{
    OnOK();
}
