// Windows and dialogs: CCmdTarget, CWnd, CDialog.
#include "afxwin.h"
#include "target.h"

namespace {

// Windows with an object of their own (a running dialog), and a ring of
// temporary objects for the rest; the programs hold at most one of each at
// a time, so no heap is needed.
struct Permanent {
    HWND hWnd;
    CWnd* pWnd;
};
Permanent g_permanent[4];

CWnd g_temporary[8];
unsigned g_nextTemporary;

}  // namespace

const AFX_MSGMAP_ENTRY CCmdTarget::_messageEntries[] = {
    {0, 0, 0, 0, AfxSig_end, (AFX_PMSG)0},
};
const AFX_MSGMAP CCmdTarget::messageMap = {NULL, &CCmdTarget::_messageEntries[0]};

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const
{
    return &CCmdTarget::messageMap;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode)
{
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pBaseMap) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->nSig != AfxSig_end; ++entry) {
            if (entry->nMessage == WM_COMMAND && entry->nCode == UINT(nCode) &&
                entry->nID <= nID && nID <= entry->nLastID) {
                (this->*entry->pfn)();
                return TRUE;
            }
        }
    }
    return FALSE;
}

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd* CWnd::FromHandle(HWND hWnd)
{
    if (hWnd == NULL)
        return NULL;
    for (const Permanent& entry : g_permanent)
        if (entry.hWnd == hWnd)
            return entry.pWnd;
    CWnd* temporary = &g_temporary[g_nextTemporary++ % (sizeof g_temporary / sizeof g_temporary[0])];
    temporary->m_hWnd = hWnd;
    return temporary;
}

void CWnd::Attach()
{
    for (Permanent& entry : g_permanent) {
        if (entry.hWnd == NULL) {
            entry.hWnd = m_hWnd;
            entry.pWnd = this;
            return;
        }
    }
}

void CWnd::Detach()
{
    for (Permanent& entry : g_permanent)
        if (entry.pWnd == this)
            entry = Permanent();
}

CWnd* CWnd::GetDlgItem(int nID) const
{
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}

BOOL CWnd::ShowWindow(int nCmdShow)
{
    return ::ShowWindow(m_hWnd, nCmdShow);
}

// Centres on the alternate owner, else on the owner, else on the work area,
// and keeps the window inside the work area.
void CWnd::CenterWindow(CWnd* pAlternateOwner)
{
    RECT area;
    if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0))
        return;
    HWND center = pAlternateOwner ? pAlternateOwner->m_hWnd : ::GetWindow(m_hWnd, GW_OWNER);
    RECT around = area;
    if (center)
        ::GetWindowRect(center, &around);

    RECT window;
    if (!::GetWindowRect(m_hWnd, &window))
        return;
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    int left = (around.left + around.right) / 2 - width / 2;
    int top = (around.top + around.bottom) / 2 - height / 2;
    if (left + width > area.right)
        left = area.right - width;
    if (left < area.left)
        left = area.left;
    if (top + height > area.bottom)
        top = area.bottom - height;
    if (top < area.top)
        top = area.top;
    ::SetWindowPos(m_hWnd, NULL, left, top, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange exchange(this, bSaveAndValidate);
    DoDataExchange(&exchange);
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*)
{
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM)
{
    return OnCmdMsg(LOWORD(wParam), HIWORD(wParam));
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCEW(nIDTemplate)), m_pParentWnd(pParentWnd)
{
}

INT_PTR CDialog::DoModal()
{
    HINSTANCE instance = AfxFindResourceHandle(m_lpszTemplateName, RT_DIALOG);
    HRSRC info = ::FindResourceW(instance, m_lpszTemplateName, RT_DIALOG);
    HGLOBAL data = info ? ::LoadResource(instance, info) : NULL;
    const DLGTEMPLATE* dialogTemplate = data ? static_cast<const DLGTEMPLATE*>(target::ResourceData(data)) : NULL;
    if (dialogTemplate == NULL)
        return -1;

    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : NULL;
    INT_PTR result = ::DialogBoxIndirectParamW(instance, dialogTemplate, parent, DialogProc,
                                               reinterpret_cast<LPARAM>(this));
    Detach();
    m_hWnd = NULL;
    return result;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        dialog->m_hWnd = hWnd;
        dialog->Attach();
        return dialog->OnInitDialog();
    }
    CDialog* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    if (dialog == NULL)
        return FALSE;
    if (message == WM_COMMAND)
        return dialog->OnCommand(wParam, lParam);
    return FALSE;
}

BOOL CDialog::OnInitDialog()
{
    return TRUE;
}

void CDialog::EndDialog(int nResult)
{
    ::EndDialog(m_hWnd, nResult);
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}
