#include "WinShell.h"

#include "resource.h"

HINSTANCE shellInstance = nullptr;
WCHAR shellTitle[kShellStringLength] = {};
WCHAR shellClassName[kShellStringLength] = {};

ATOM registerShellWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = shellWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    // The program has no icons 107 and 108: both loads give no icon, and the class has none.
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUORV));
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDC_QUORV);
    windowClass.lpszClassName = shellClassName;
    return RegisterClassExW(&windowClass);
}

LRESULT CALLBACK shellWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDM_ABOUT:
                    // The box's result is of no interest here.
                    DialogBoxParamW(shellInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window,
                                    aboutDialogProc, 0);
                    return 0;
                case IDM_EXIT:
                    DestroyWindow(window);
                    return 0;
                default:
                    return DefWindowProcW(window, message, wParam, lParam);
            }
        case WM_PAINT: {
            // Nothing is drawn; painting only validates the window.
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}
