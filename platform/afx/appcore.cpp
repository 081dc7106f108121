// The application object, the module's registration and the framework's
// entry.
#include "afxwin.h"

namespace {

AFX_MODULE_STATE g_moduleState;

}  // namespace

// Static initialisation registers the program as an executable of this
// framework version, as the framework's start-up expects.
extern const char _afxInitAppState = char(AfxInitialize(FALSE, _MFC_VER));

AFX_MODULE_STATE* AfxGetModuleState()
{
    return &g_moduleState;
}

BOOL AfxInitialize(BOOL bDLL, DWORD dwVersion)
{
    g_moduleState.m_bDLL = bDLL;
    g_moduleState.m_dwVersion = dwVersion;
    g_moduleState.m_bInitialized = dwVersion == _MFC_VER;
    return g_moduleState.m_bInitialized;
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCWSTR lpszAppName)
    : m_pszAppName(lpszAppName), m_hInstance(NULL), m_lpCmdLine(NULL), m_nCmdShow(0),
      m_pMainWnd(NULL)
{
    g_moduleState.m_pCurrentWinApp = this;
}

CWinApp::~CWinApp()
{
    if (g_moduleState.m_pCurrentWinApp == this)
        g_moduleState.m_pCurrentWinApp = NULL;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

CWinApp* AfxGetApp()
{
    return g_moduleState.m_pCurrentWinApp;
}

HINSTANCE AfxGetResourceHandle()
{
    if (g_moduleState.m_hCurrentResourceHandle)
        return g_moduleState.m_hCurrentResourceHandle;
    return ::GetModuleHandleW(NULL);
}

// The program's own module holds all its resources. A resource that isn't
// there is not looked for elsewhere: the caller's own lookup then fails.
HINSTANCE AfxFindResourceHandle(LPCWSTR, LPCWSTR)
{
    return AfxGetResourceHandle();
}

// No program here keeps a window open once InitInstance returns, so there
// is no message loop: either result of InitInstance leads to ExitInstance.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int nCmdShow)
{
    CWinApp* app = AfxGetApp();
    if (!_afxInitAppState || !g_moduleState.m_bInitialized || g_moduleState.m_bDLL || app == NULL)
        return -1;

    g_moduleState.m_hCurrentInstanceHandle = hInstance;
    g_moduleState.m_hCurrentResourceHandle = hInstance;
    app->m_hInstance = hInstance;
    app->m_lpCmdLine = lpCmdLine;
    app->m_nCmdShow = nCmdShow;

    app->InitInstance();
    return app->ExitInstance();
}
