// Checks the Windows program under wine (run.sh builds and runs it). The entry (app/WinMain.cpp)
// runs with this recording App in place of the real one, whose viewer, sound and movies cannot be
// built for Windows here; the App's frame loop then checks the shell the entry has prepared: the
// resources, the window class, the menu, the accelerators and the about box.
// A thread timer, dispatched by the modal loops of the loading notice and the about box, reads
// each box as it opens and closes it the way a visitor would.
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <tuple>

#include "App.h"
#include "WinShell.h"
#include "resource.h"

namespace {

int failures = 0;
bool check(bool ok, const char* what, int line, int row = -1) {
    if (!ok) std::printf("FAILED line %d row %d: %s\n", line, row, what), ++failures;
    return ok;
}
#define CHECK(c, ...) check((c), #c, __LINE__, ##__VA_ARGS__)

std::string steps;  // the App's steps, in the order they ran

// A window's text or class name; the text of an icon control is the icon's number, as "#N".
std::wstring textOf(HWND w, bool className = false) {
    wchar_t text[512] = {};
    className ? GetClassNameW(w, text, 512) : GetWindowTextW(w, text, 512);
    return text[0] == 0xFFFF ? L"#" + std::to_wstring(text[1]) : text;
}

// What the watcher saw of the last box, and how it is to close it: BM_CLICK presses the Aceptar
// button, any other message is posted to the box.
struct Box {
    explicit Box(UINT message = BM_CLICK, WPARAM param = 0)
        : closeMessage(message), closeParam(param) {}
    UINT closeMessage;
    WPARAM closeParam;
    int opened = 0, ticks = 0;
    bool forced = false;
    HWND box = nullptr, owner = nullptr;
    HICON icon = nullptr;  // the last icon a control shows
    // A line for the box and one for each control: class, id, style, text, then position and
    // size in dialog units (the box's client area).
    std::wstring text;
} seen;

// Runs every 20 ms on the main thread while a modal loop pumps its messages.
void CALLBACK watch(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = FindWindowW(L"#32770", nullptr);  // a dialog box
    if (!box || !IsWindowVisible(box)) return;
    if (box == seen.box) {
        // Still open ten ticks after it was told to close: close it so that the run goes on.
        if (++seen.ticks == 10) seen.forced = true, EndDialog(box, -2);
        return;
    }
    seen.box = box, ++seen.opened, seen.owner = GetWindow(box, GW_OWNER);
    // Pixels back to dialog units: exact while a unit is wider than a pixel.
    RECT unit = {0, 0, 4, 8}, r;
    MapDialogRect(box, &unit);
    GetClientRect(box, &r);
    for (HWND c = box; c; c = GetWindow(c, c == box ? GW_CHILD : GW_HWNDNEXT)) {
        if (auto icon = (HICON)SendMessageW(c, STM_GETICON, 0, 0)) seen.icon = icon;
        if (c != box) GetWindowRect(c, &r), MapWindowPoints(nullptr, box, (POINT*)&r, 2);
        wchar_t line[600];
        swprintf(line, 600, L"%ls %d %lx %ls %d,%d %dx%d\n", textOf(c, true).c_str(),
                 GetDlgCtrlID(c), GetWindowLongW(c, GWL_STYLE), textOf(c).c_str(),
                 MulDiv(r.left, 4, unit.right), MulDiv(r.top, 8, unit.bottom),
                 MulDiv(r.right - r.left, 4, unit.right), MulDiv(r.bottom - r.top, 8, unit.bottom));
        seen.text += line;
    }
    seen.closeMessage == BM_CLICK ? SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0)
                                  : PostMessageW(box, seen.closeMessage, seen.closeParam, 0);
}

// A resource's bytes; all but the manifest are in Spanish (Spain), language 3082.
std::string resource(LPCWSTR type, int name, WORD language = 3082) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(name), language);
    auto bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return found ? std::string(bytes, SizeofResource(module, found)) : std::string();
}

// The resources under their numbers and in their languages, the manifest, and the program file's
// icon. String block 7 holds strings 96 to 111, each after its length: 103 is the title, 109 the
// class name.
void checkResources() {
    const wchar_t strings[] = L"\0\0\0\0\0\0\0\5Quorv\0\0\0\0\0\5QUORV\0\0";
    CHECK(resource(RT_STRING, 7) == std::string((const char*)strings, sizeof strings - 2) &&
          !resource(RT_MENU, 109).empty() && !resource(RT_DIALOG, 103).empty() &&
          !resource(RT_ACCELERATOR, 109).empty());
    CHECK(resource(RT_MANIFEST, 1, 0)
              .find("<requestedExecutionLevel level=\"asInvoker\" "
                    "uiAccess=\"false\"/>") != std::string::npos);
    // The program file's icon: a directory of five images.
    const std::string group = resource(RT_GROUP_ICON, 131);
    CHECK(group.size() == 6 + 5 * 14 && group[4] == 5);
}

// A menu as text: each item's text, state and command, or its drop-down in brackets.
std::wstring describe(HMENU menu) {
    std::wstring out;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
        HMENU drop = GetSubMenu(menu, i);
        out += text + (drop ? L"[" + describe(drop) + L"]"
                            : L" " + std::to_wstring(GetMenuState(menu, i, MF_BYPOSITION)) + L" " +
                                  std::to_wstring(GetMenuItemID(menu, i)) + L";");
    }
    return out;
}

void checkShellWindow(HINSTANCE instance) {
    WNDCLASSEXW c = {};
    c.cbSize = sizeof c;
    CHECK(GetClassInfoExW(instance, L"QUORV", &c) && c.lpfnWndProc == shellWindowProc &&
          c.lpszMenuName == MAKEINTRESOURCEW(109));
    HWND window = CreateWindowExW(0, shellClassName, shellTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  0, 0, 400, 300, nullptr, nullptr, instance, nullptr);
    // The window has the class's menu (which a failed creation lacks); states 0 are MF_STRING |
    // MF_ENABLED.
    CHECK(describe(GetMenu(window)) == L"&Archivo[&Salir 0 105;]Ay&uda[&Acerca de... 0 104;]");

    ValidateRect(window, nullptr);  // else its endless WM_PAINT would starve the watcher's timer

    // The about box's result is the command that closed it; any other command leaves it open,
    // and the watcher closes it with -2.
    using Close = std::tuple<UINT, WPARAM, INT_PTR>;
    for (auto [message, param, closedWith] :
         {Close{BM_CLICK, 0, IDOK}, {WM_CLOSE, 0, IDCANCEL}, {WM_COMMAND, IDABORT, -2}}) {
        seen = Box(message, param);
        INT_PTR result = DialogBoxParamW(shellInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window,
                                         aboutDialogProc, 0);
        CHECK(result == closedWith && seen.opened == 1, message + param);
    }

    // Accelerator table 109: the characters (not virtual keys) Alt+? and Alt+/ give the about
    // command; bit 0x80 marks the table's last entry.
    ACCEL accel[4] = {};
    CopyAcceleratorTableW(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_QUORV)), accel, 4);
    CHECK(accel[0].key == '?' && accel[1].key == '/' && !accel[2].key);
    for (const ACCEL& a : accel) CHECK(!a.key || ((a.fVirt & ~0x80) == FALT && a.cmd == IDM_ABOUT));

    // The menu's commands: About opens the box over the window, Exit destroys the window and
    // the destruction asks the loop to quit with code 0; other commands change nothing.
    for (auto [command, boxes, closes] :
         {std::tuple{IDM_ABOUT, 1, false}, {IDM_EXIT + 1, 0, false}, {IDM_EXIT, 0, true}}) {
        seen = Box();
        LRESULT result = SendMessageW(window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
        MSG quit = {};
        bool quitAsked = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        CHECK(result == 0 && seen.opened == boxes && !seen.forced && !IsWindow(window) == closes &&
                  quitAsked == closes && quit.wParam == 0,
              command);
        if (command != IDM_ABOUT) continue;
        // The about box the menu opened: over the window, its texts and layout. Styles: the box's
        // WS_POPUP | WS_CAPTION | WS_SYSMENU 0x80c80000, DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS
        // 0xc8, and WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK that the dialog manager adds; the
        // controls' WS_CHILD | WS_VISIBLE 0x50000000 with WS_GROUP 0x20000, WS_TABSTOP 0x10000,
        // SS_ICON 3, SS_NOPREFIX 0x80, BS_DEFPUSHBUTTON 1. Its icon control stays empty: icon 128
        // does not exist.
        CHECK(seen.owner == window && !seen.icon);
        if (!CHECK(seen.text == L"#32770 0 94c800cc Acerca de Quorv 0,0 170x62\n"
                                L"Static -1 50000003 #128 14,14 21x20\n"
                                L"Static -1 50020080 Quorv, versi\u00f3n 1.0 42,14 114x8\n"
                                L"Static -1 50020000 Copyright (c) 2026 42,26 114x8\n"
                                L"Button 1 50030001 Aceptar 113,41 50x14\n"))
            std::printf("seen:\n%ls", seen.text.c_str());
    }
}

void report() {
    CHECK(steps == "App setUpExhibit runFrameLoop tearDown ");
    // Without failures, the process's exit status is what the entry returned.
    std::printf("win32: %d checks failed\n", failures), std::fflush(stdout);
    if (failures > 0) _exit(1);
}

// Before the entry runs: the watcher, and the report when the entry has returned.
[[maybe_unused]] const bool watching = (SetTimer(nullptr, 0, 20, watch), !std::atexit(report));

}  // namespace

// By now the entry has loaded the strings and stored the module; the notice is not up yet.
App::App() {
    steps += "App ";
    CHECK(std::wstring(shellTitle) == L"Quorv" && std::wstring(shellClassName) == L"QUORV" &&
          shellInstance == GetModuleHandleW(nullptr) && seen.opened == 0);
}

// The loading notice has come and gone: its caption, text, information icon and one button,
// IDOK, with no owner window.
void App::setUpExhibit() {
    steps += "setUpExhibit ";
    const std::wstring& text = seen.text;
    CHECK(seen.opened == 1 && !seen.forced && !seen.owner &&
          seen.icon == LoadIconW(nullptr, IDI_INFORMATION) &&
          text.find(L" Cargando Quorv 0,0 ") < text.find(L'\n') &&
          text.find(L"\nButton 1 ") != text.npos &&
          text.find(L"\nButton ") == text.rfind(L"\nButton "));
    CHECK(text.find(L" Quorv est\u00e1 inici\u00e1ndose.\nEste proceso puede tardar unos "
                    L"segundos.\nPresione Aceptar para continuar.\n ") != text.npos);
}

// The frame loop is where the program would use its shell: check what the entry prepared.
void App::runFrameLoop() {
    steps += "runFrameLoop ";
    checkResources();
    checkShellWindow(GetModuleHandleW(nullptr));
}

void App::tearDown() { steps += "tearDown "; }
