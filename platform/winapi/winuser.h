// Windows and dialogs (USER); on the host, built from dialog templates and
// shown on the terminal.
#pragma once

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

// The handheld's COREDLL has only the 32-bit window-long functions; the
// pointer-sized names are the desktop's.
#ifdef _WIN32_WCE
#define GetWindowLongPtrW GetWindowLongW
#define SetWindowLongPtrW SetWindowLongW
#endif

#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)

#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)
#define RT_VERSION MAKEINTRESOURCEW(16)

// Dialog templates, as the resource compiler writes them: 2-byte packing,
// variable-length fields after each fixed part.
#pragma pack(push, 2)
typedef struct {
    DWORD style;
    DWORD dwExtendedStyle;
    WORD cdit;
    short x;
    short y;
    short cx;
    short cy;
} DLGTEMPLATE;

typedef struct {
    DWORD style;
    DWORD dwExtendedStyle;
    short x;
    short y;
    short cx;
    short cy;
    WORD id;
} DLGITEMTEMPLATE;
#pragma pack(pop)

typedef const DLGTEMPLATE* LPCDLGTEMPLATEW;
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_APPWINDOW 0x00040000L
#define WS_EX_CAPTIONOKBTN 0x80000000L  // the handheld's OK button in the caption
#define DS_SETFONT 0x0040L
#define DS_SETFOREGROUND 0x0200L
#define BS_PUSHBUTTON 0x0000L
#define SS_LEFT 0x0000L

#define WM_CLOSE 0x0010
#define WM_SETFONT 0x0030
#define WM_SETICON 0x0080
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define ICON_SMALL 0
#define ICON_BIG 1
#define BN_CLICKED 0

#define IDOK 1
#define IDCANCEL 2

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

// Byte offsets into a dialog's window data: pointer-sized slots.
#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC (DWLP_MSGRESULT + sizeof(LRESULT))
#define DWLP_USER (DWLP_DLGPROC + sizeof(DLGPROC))

#define GW_OWNER 4

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010

#define SPI_GETWORKAREA 0x0030

// Runs a dialog modally on the terminal; returns its end code, or -1 when the
// template can't be used. Without a terminal it says so on stderr and
// returns IDCANCEL.
INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate,
                                       HWND hWndParent, DLGPROC lpDialogFunc,
                                       LPARAM dwInitParam);
BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult);
HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem);
int WINAPI GetDlgCtrlID(HWND hWnd);
HWND WINAPI GetFocus(void);
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);
BOOL WINAPI IsWindowVisible(HWND hWnd);
LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex);
LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
HWND WINAPI GetWindow(HWND hWnd, UINT uCmd);
BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect);
BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy,
                         UINT uFlags);
BOOL WINAPI SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni);
HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName);

#ifdef __cplusplus
}
#endif
