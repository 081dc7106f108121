// Resource identifiers of the settings program: its icon, its dialog and the
// catalogue's controls, shared by the catalogue, the dialog and the resource script.
#pragma once

// Main icon. The dialog asks for IDR_MAINFRAME, but the program's only icon
// group is IDI_VELLORIA; the failed lookup is harmless.
#define IDR_MAINFRAME           128
#define IDI_VELLORIA            130

// The settings dialog
#define IDD_VELLORIA_DIALOG     102

// Large buttons, legend and note
#define IDC_SOFT_RESET          1004
#define IDC_CLOSE               1006
#define IDC_LEGEND              1012
#define IDC_NOTE                1024

// Display orientation
#define IDC_ROTATE_LABEL        1026
#define IDC_ROTATE_DEFAULT      1027
#define IDC_ROTATE              1025

// Speed up display (glyph cache)
#define IDC_GLYPH_LABEL         1015
#define IDC_GLYPH_SLOW          1016
#define IDC_GLYPH_DEFAULT       1007
#define IDC_GLYPH_FAST          1017

// Animate windows
#define IDC_ANIM_LABEL          1018
#define IDC_ANIM_SLOW           1009
#define IDC_ANIM_FAST           1008

// Cleartype [win]
#define IDC_CT_WIN_LABEL        1019
#define IDC_CT_WIN_OFF          1010
#define IDC_CT_WIN_ON           1011

// Cleartype [ie]
#define IDC_CT_IE_LABEL         1020
#define IDC_CT_IE_OFF           1013
#define IDC_CT_IE_ON            1014

// Start Menu speed
#define IDC_MENU_LABEL          1021
#define IDC_MENU_SLOW           1023
#define IDC_MENU_FAST           1022
