// The settings program's application object: it runs the dialog and ends.
#pragma once

#include <afxwin.h>

class CVelloriaApp : public CWinApp {
public:
    CVelloriaApp();

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
