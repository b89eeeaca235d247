// The Win32 shell of the Windows program: a window class with its window procedure, and the
// about box's dialog procedure. The entry registers the class at start; no window of it is
// ever created in the running program, so the procedures describe what such a window would do.
#pragma once

// The shell speaks the wide-character API only; IDC_ARROW and friends follow this switch.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

/// Length, in wide characters with the terminator, of the title and class-name buffers.
constexpr int kShellStringLength = 100;

/// The program's module, set by the entry; the about box is loaded from it.
extern HINSTANCE shellInstance;
/// String resource 103, the application title, loaded by the entry.
extern WCHAR shellTitle[kShellStringLength];
/// String resource 109, the name under which the window class is registered.
extern WCHAR shellClassName[kShellStringLength];

/// Registers the window class named by shellClassName, with shellWindowProc and menu 109.
/// Returns the class atom, 0 when registration failed (the entry ignores it).
ATOM registerShellWindowClass(HINSTANCE instance);

/// The window class's procedure: menu command 104 opens the about box, 105 destroys the window,
/// and the window's destruction ends the message loop with exit code 0.
LRESULT CALLBACK shellWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/// The about box's procedure: the box closes on IDOK and IDCANCEL with that id as its result.
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
