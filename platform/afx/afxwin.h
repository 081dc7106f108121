// The part of the application framework that the programs are written over:
// the application object, modal dialogs built from templates, child-window
// access and message maps. It calls nothing but the Windows USER and
// resource functions, so the same code runs over USER32 and over the host's
// subset of them.
#pragma once

#include <windows.h>

#define _MFC_VER 0x0600

class CCmdTarget;
class CWnd;
class CDataExchange;
class CWinApp;

// Message maps: constant tables, each chained to its base class's table and
// searched from the most derived class down.
typedef void (CCmdTarget::*AFX_PMSG)();

enum AfxSig { AfxSig_end = 0, AfxSig_vv = 1 };

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    UINT nLastID;
    UINT_PTR nSig;
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* pBaseMap;
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                                 \
private:                                                      \
    static const AFX_MSGMAP_ENTRY _messageEntries[];          \
                                                              \
public:                                                       \
    static const AFX_MSGMAP messageMap;                       \
                                                              \
protected:                                                    \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                        \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return &theClass::messageMap; } \
    const AFX_MSGMAP theClass::messageMap = {&baseClass::messageMap,                 \
                                             &theClass::_messageEntries[0]};          \
    const AFX_MSGMAP_ENTRY theClass::_messageEntries[] = {

#define CN_COMMAND 0

#define ON_COMMAND(id, memberFxn) \
    {WM_COMMAND, CN_COMMAND, (WORD)(id), (WORD)(id), AfxSig_vv, static_cast<AFX_PMSG>(memberFxn)},

#define ON_BN_CLICKED(id, memberFxn) \
    {WM_COMMAND, BN_CLICKED, (WORD)(id), (WORD)(id), AfxSig_vv, static_cast<AFX_PMSG>(memberFxn)},

#define END_MESSAGE_MAP()                     \
    {0, 0, 0, 0, AfxSig_end, (AFX_PMSG)0}     \
    }                                         \
    ;

class CCmdTarget {
public:
    static const AFX_MSGMAP messageMap;

    // Runs the handler bound to a command, most derived map first; FALSE when
    // no map binds it.
    BOOL OnCmdMsg(UINT nID, int nCode);

protected:
    CCmdTarget() {}
    ~CCmdTarget() {}
    virtual const AFX_MSGMAP* GetMessageMap() const;

private:
    static const AFX_MSGMAP_ENTRY _messageEntries[];
};

class CWnd : public CCmdTarget {
public:
    HWND m_hWnd;

    CWnd() : m_hWnd(NULL) {}

    // The object attached to the window, or a temporary one that lasts until
    // a few more handles have been looked up; NULL for a null handle.
    static CWnd* FromHandle(HWND hWnd);

    CWnd* GetDlgItem(int nID) const;
    BOOL ShowWindow(int nCmdShow);
    void CenterWindow(CWnd* pAlternateOwner = NULL);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);

    void Attach();
    void Detach();

    DECLARE_MESSAGE_MAP()
};

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = NULL);

    // The end code, or -1 when the template can't be found or the dialog
    // can't be created.
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();

    void EndDialog(int nResult);

protected:
    virtual void OnOK();
    virtual void OnCancel();

    LPCWSTR m_lpszTemplateName;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCWSTR lpszAppName = NULL);
    ~CWinApp();

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    LPCWSTR m_pszAppName;
    HINSTANCE m_hInstance;
    LPWSTR m_lpCmdLine;
    int m_nCmdShow;
    CWnd* m_pMainWnd;

    DECLARE_MESSAGE_MAP()
};

// What the program registered at static initialisation, and its one
// application object.
struct AFX_MODULE_STATE {
    BOOL m_bInitialized;
    BOOL m_bDLL;
    DWORD m_dwVersion;
    CWinApp* m_pCurrentWinApp;
    HINSTANCE m_hCurrentInstanceHandle;
    HINSTANCE m_hCurrentResourceHandle;
};

AFX_MODULE_STATE* AfxGetModuleState();
BOOL AfxInitialize(BOOL bDLL, DWORD dwVersion);

CWinApp* AfxGetApp();
HINSTANCE AfxGetResourceHandle();
HINSTANCE AfxFindResourceHandle(LPCWSTR lpszName, LPCWSTR lpszType);

// The framework's entry, called from the program's WinMain with its four
// arguments.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);
