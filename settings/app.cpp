#include "app.h"

#include "dialog.h"

BEGIN_MESSAGE_MAP(CVelloriaApp, CWinApp)
END_MESSAGE_MAP()

CVelloriaApp::CVelloriaApp() : CWinApp(NULL)
{
}

CVelloriaApp theApp;

// The dialog is the whole program: however it ends, the program ends, with no
// message loop of its own.
BOOL CVelloriaApp::InitInstance()
{
    CVelloriaDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    return FALSE;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand)
{
    return AfxWinMain(instance, previous, commandLine, showCommand);
}
