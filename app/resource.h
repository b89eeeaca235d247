// Resource ids of the Windows program, shared by Quorv.rc and the C++ sources.
#pragma once

// String table. The class-name string shares its number with the menu and the accelerator table.
#define IDS_APP_TITLE 103
#define IDC_QUORV 109

// Menu commands.
#define IDM_ABOUT 104
#define IDM_EXIT 105

// The about box.
#define IDD_ABOUTBOX 103

// Icons the window class and the about box ask for. The program carries none of them, so both
// come out empty; its only icon is the group IDI_PROGRAM_FILE, the program file's icon.
#define IDI_QUORV 107
#define IDI_SMALL 108
#define IDR_MAINFRAME 128
#define IDI_PROGRAM_FILE 131

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
