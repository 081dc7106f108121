// The crafted program's dialog: one button for each thing it can be made to
// do (dialogs.cpp).
#pragma once

#define IDD_CRAFTED 1
#define IDC_FAULT 101
#define IDC_DEEP 102
#define IDC_NESTED 103
#define IDC_WIDE 104
#define IDC_SAVE 105
#define IDC_OWNER 106
#define IDC_CLOSE 2  // IDCANCEL: Esc closes too
