// The settings dialog: one row per setting, hidden where the device lacks
// it, each button writing its values at once.
#pragma once

#include <afxwin.h>

#include "velloria_ids.h"

class CVelloriaDlg : public CDialog {
public:
    explicit CVelloriaDlg(CWnd* pParent = NULL);

    enum { IDD = IDD_VELLORIA_DIALOG };

protected:
    HICON m_hIcon;

    BOOL OnInitDialog() override;
    void OnCancel() override;

    void OnSoftReset();
    void OnClose();
    // A settings button: the catalogue's writes for that id.
    template <WORD id>
    void OnApply();

    DECLARE_MESSAGE_MAP()
};
