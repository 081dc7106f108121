// The framework stand-in: registration at static initialisation, the entry,
// message maps searched from the most derived class down, OnOK's data
// exchange, CDialog's own bindings, child-window access and centring.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <tuple>
#include <vector>

#include <afxwin.h>

#include "velloria_ids.h"
#include "scripted_terminal.h"

namespace {

std::vector<std::string> g_events;

class CProbeDlg : public CDialog {
public:
    CProbeDlg(UINT id = IDD_VELLORIA_DIALOG) : CDialog(id) {}

    CWnd* found[3] = {};
    HWND self = nullptr;
    CWnd* selfObject = nullptr;
    bool centre = false;  // centres itself on the screen at its start
    RECT place = {};      // where it is once started

protected:
    BOOL OnInitDialog() override
    {
        g_events.push_back("OnInitDialog");
        CDialog::OnInitDialog();
        self = m_hWnd;
        selfObject = CWnd::FromHandle(m_hWnd);
        found[0] = GetDlgItem(IDC_CLOSE);
        found[1] = GetDlgItem(4242);
        found[2] = CWnd::FromHandle(NULL);
        if (centre)
            CenterWindow(CWnd::FromHandle(NULL));
        GetWindowRect(m_hWnd, &place);
        return TRUE;
    }
    void OnCancel() override
    {
        g_events.push_back("OnCancel");
        CDialog::OnCancel();
    }
    void DoDataExchange(CDataExchange* exchange) override
    {
        g_events.push_back(exchange->m_bSaveAndValidate ? "exchange save" : "exchange load");
    }
    void OnClose() { g_events.push_back("OnClose"); }
    void OnReset() { g_events.push_back("OnReset"); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeDlg, CDialog)
    ON_BN_CLICKED(IDC_CLOSE, &CProbeDlg::OnClose)
    ON_BN_CLICKED(IDC_SOFT_RESET, &CProbeDlg::OnReset)
END_MESSAGE_MAP()

// A class further down that takes IDCANCEL away from CDialog's map.
class CDerivedDlg : public CProbeDlg {
    void OnOwnCancel() { g_events.push_back("OnOwnCancel"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedDlg, CProbeDlg)
    ON_COMMAND(IDCANCEL, &CDerivedDlg::OnOwnCancel)
END_MESSAGE_MAP()

TEST(Framework, CommandsGoToTheMostDerivedBindingFirst)
{
    g_events.clear();
    CDerivedDlg derived;
    EXPECT_TRUE(derived.OnCmdMsg(IDCANCEL, BN_CLICKED));
    EXPECT_TRUE(derived.OnCmdMsg(IDC_CLOSE, BN_CLICKED));
    EXPECT_FALSE(derived.OnCmdMsg(IDC_CLOSE, 1)) << "another notification";
    EXPECT_FALSE(derived.OnCmdMsg(IDC_LEGEND, BN_CLICKED));
    EXPECT_EQ(g_events, (std::vector<std::string>{"OnOwnCancel", "OnClose"}));

    g_events.clear();
    CProbeDlg probe;
    EXPECT_TRUE(probe.OnCmdMsg(IDCANCEL, BN_CLICKED));
    EXPECT_EQ(g_events, std::vector<std::string>{"OnCancel"}) << "through CDialog's map";
}

// DoModal runs the template to its end: the caption's OK through the data
// exchange, a cancel (or closed input) through OnCancel; a missing template
// gives -1 without opening the terminal. The dialog starts at the template's
// (0, 0); one that centres itself is centred on the terminal, and kept on it.
TEST(Framework, DoModalRunsTheTemplateToItsEnd)
{
    const std::vector<std::string> cancelled = {"OnInitDialog", "OnCancel"};
    const UINT velloria = IDD_VELLORIA_DIALOG;
    const struct {
        const char* what;
        UINT id;
        std::vector<host::InputEvent> script;
        INT_PTR result;
        std::vector<std::string> events;
        std::vector<LONG> place;  // left, top, right, bottom
        bool centre = false;
        int columns = 80, rows = 24;
    } runs[] = {
        {"close, soft reset, the caption's OK", velloria, {Key('c'), Key('r'), Click(65, 0)}, IDOK,
         {"OnInitDialog", "OnClose", "OnReset", "exchange save"}, {0, 0, 68, 15}},
        {"Escape", velloria, {Key(host::kKeyEscape)}, IDCANCEL, cancelled, {0, 0, 68, 15}},
        {"a missing template", 4242, {}, -1, {}, {0, 0, 0, 0}},
        {"centred on 80 x 24", velloria, {}, IDCANCEL, cancelled, {6, 5, 74, 20}, true},
        {"centred on 101 x 40", velloria, {}, IDCANCEL, cancelled, {16, 13, 84, 28}, true, 101, 40},
        {"centred on 60 x 10", velloria, {}, IDCANCEL, cancelled, {0, 0, 68, 15}, true, 60, 10},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.what);
        g_events.clear();
        ScriptedTerminal terminal(run.script, run.columns, run.rows);
        CProbeDlg dialog(run.id);
        dialog.centre = run.centre;
        EXPECT_EQ(dialog.DoModal(), run.result);
        EXPECT_EQ(g_events, run.events);
        EXPECT_EQ(terminal.opened, run.result == -1 ? 0 : 1);
        EXPECT_EQ(dialog.m_hWnd, nullptr) << "no window once the dialog is over";
        const RECT& at = dialog.place;
        EXPECT_EQ((std::vector<LONG>{at.left, at.top, at.right, at.bottom}), run.place);
        if (run.result == -1)
            continue;
        // While it ran: the object behind its own handle, a control's window,
        // nothing for a missing id or a null handle.
        EXPECT_NE(dialog.self, nullptr);
        EXPECT_EQ(dialog.selfObject, &dialog);
        ASSERT_NE(dialog.found[0], nullptr);
        EXPECT_NE(dialog.found[0]->m_hWnd, dialog.self);
        EXPECT_EQ(dialog.found[1], nullptr);
        EXPECT_EQ(dialog.found[2], nullptr);
    }
}

class CProbeApp : public CWinApp {
public:
    BOOL result = FALSE;
    int initCalls = 0;
    int exitCalls = 0;
    HINSTANCE instanceSeen = nullptr;
    LPWSTR commandLineSeen = nullptr;
    int showSeen = -1;

    BOOL InitInstance() override
    {
        ++initCalls;
        instanceSeen = m_hInstance;
        commandLineSeen = m_lpCmdLine;
        showSeen = m_nCmdShow;
        return result;
    }
    int ExitInstance() override
    {
        ++exitCalls;
        return 7;
    }
};

TEST(Framework, AfxWinMainRunsInitInstanceOnceThenExits)
{
    for (BOOL result : {FALSE, TRUE}) {
        CProbeApp app;
        app.result = result;
        EXPECT_EQ(AfxGetApp(), &app);
        WCHAR commandLine[] = L"";
        HINSTANCE module = GetModuleHandleW(NULL);
        EXPECT_EQ(AfxWinMain(module, NULL, commandLine, SW_SHOW), 7);
        // Each once; what the entry was given; no name of its own.
        EXPECT_EQ(std::make_tuple(app.initCalls, app.exitCalls, app.instanceSeen, app.commandLineSeen,
                                  app.showSeen, app.m_pszAppName),
                  std::make_tuple(1, 1, module, commandLine, SW_SHOW, LPCWSTR(nullptr)));
        EXPECT_EQ(AfxFindResourceHandle(MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON), module);
    }
    EXPECT_EQ(AfxGetApp(), nullptr);
    WCHAR commandLine[] = L"";
    EXPECT_EQ(AfxWinMain(GetModuleHandleW(NULL), NULL, commandLine, SW_SHOW), -1)
        << "no application object";
}

}  // namespace
