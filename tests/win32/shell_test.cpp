// Checks the Windows program under wine (run.sh builds and runs it). The entry (app/WinMain.cpp)
// runs with this recording App in place of the real one, whose viewer, sound and movies cannot be
// built for Windows here; the App's frame loop then checks the shell the entry has prepared: the
// resources, the window class, the menu, the accelerators and the about box.
// A thread timer, dispatched by the modal loops of the loading notice and the about box, reads
// each box as it opens and closes it the way a visitor would.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "App.h"
#include "WinShell.h"
#include "resource.h"

namespace {

int failures = 0;
bool check(bool ok, const char* what, int line, int row = -1) {
    if (!ok) std::printf("FAILED line %d row %d: %s\n", line, row, what), ++failures;
    return ok;
}
#define CHECK(c) check((c), #c, __LINE__)
#define CHECK_ROW(c, row) check((c), #c, __LINE__, row)

std::vector<std::string> steps;

// A window's text or class name; the text of an icon control is the icon's number, as "#N".
std::wstring textOf(HWND w, bool className = false) {
    wchar_t text[512] = {};
    className ? GetClassNameW(w, text, 512) : GetWindowTextW(w, text, 512);
    return text[0] == 0xFFFF ? L"#" + std::to_wstring(text[1]) : text;
}

// What the watcher saw of the last box, and how it is to close it: BM_CLICK presses the Aceptar
// button, any other message is posted to the box.
struct Box {
    UINT closeMessage = BM_CLICK;
    WPARAM closeParam = 0;
    int opened = 0, ticks = 0;
    bool forced = false, ownerDisabled = false;
    HWND box = nullptr, owner = nullptr;
    HICON icon = nullptr;  // the last icon a control shows
    // The caption, then each control's class, id, style and text; each with its position and
    // size in dialog units.
    std::vector<std::wstring> lines;
    long count(const std::wstring& part) const {
        return std::count_if(lines.begin(), lines.end(), [&](const std::wstring& line) {
            return line.find(part) != line.npos;
        });
    }
} seen;

// Sets the watcher to close the next box by `message`.
void expectBox(UINT message, WPARAM param = 0) {
    seen = Box();
    seen.closeMessage = message, seen.closeParam = param;
}

// Runs every 20 ms on the main thread while a modal loop pumps its messages.
void CALLBACK watch(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = nullptr;
    auto find = [](HWND w, LPARAM out) {
        if (textOf(w, true) != L"#32770" || !IsWindowVisible(w)) return TRUE;
        return *reinterpret_cast<HWND*>(out) = w, FALSE;
    };
    EnumThreadWindows(GetCurrentThreadId(), find, reinterpret_cast<LPARAM>(&box));
    if (!box) return;
    if (box == seen.box) {
        // Still open ten ticks after it was told to close: close it so that the run goes on.
        if (++seen.ticks == 10) seen.forced = true, EndDialog(box, -2);
        return;
    }
    seen.box = box, ++seen.opened, seen.owner = GetWindow(box, GW_OWNER);
    seen.ownerDisabled = seen.owner && !IsWindowEnabled(seen.owner);
    // Pixels back to dialog units: exact while a unit is wider than a pixel.
    RECT unit = {0, 0, 4, 8}, r;
    MapDialogRect(box, &unit);
    auto describe = [&](const std::wstring& what) {
        wchar_t line[600];
        swprintf(line, 600, L"%ls %d,%d %dx%d", what.c_str(), MulDiv(r.left, 4, unit.right),
                 MulDiv(r.top, 8, unit.bottom), MulDiv(r.right - r.left, 4, unit.right),
                 MulDiv(r.bottom - r.top, 8, unit.bottom));
        return std::wstring(line);
    };
    GetClientRect(box, &r);
    seen.lines = {describe(textOf(box))};
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (auto icon = reinterpret_cast<HICON>(SendMessageW(c, STM_GETICON, 0, 0)))
            seen.icon = icon;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&r), 2);
        wchar_t what[600];
        swprintf(what, 600, L"%ls %d %lx %ls", textOf(c, true).c_str(), GetDlgCtrlID(c),
                 GetWindowLongW(c, GWL_STYLE), textOf(c).c_str());
        seen.lines.push_back(describe(what));
    }
    if (seen.closeMessage == BM_CLICK) SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    if (seen.closeMessage != BM_CLICK) PostMessageW(box, seen.closeMessage, seen.closeParam, 0);
}

// A resource's bytes; all but the manifest are in Spanish (Spain), language 3082.
std::string resource(LPCWSTR type, int name, WORD language = 3082) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(name), language);
    if (!found) return {};
    return std::string(static_cast<const char*>(LockResource(LoadResource(module, found))),
                       SizeofResource(module, found));
}

#pragma pack(push, 2)
struct IconGroup {
    WORD reserved, type, count;
    struct {
        BYTE width, height, colours, reserved;
        WORD planes, bits;
        DWORD bytes;
        WORD id;
    } images[5];
};
#pragma pack(pop)

// The resources in their languages (string block 7 holds strings 103 and 109), the manifest, and
// the program file's icon: 16 to 64 px at 8 bits with a palette, 256 px as PNG with alpha.
void checkResources() {
    for (auto [type, name] : {std::pair{RT_STRING, 7},
                              {RT_MENU, IDC_QUORV},
                              {RT_DIALOG, 103},
                              {RT_ACCELERATOR, IDC_QUORV},
                              {RT_GROUP_ICON, IDI_PROGRAM_FILE}})
        CHECK_ROW(!resource(type, name).empty(), name);
    CHECK(resource(RT_MANIFEST, 1, 0)
              .find("<requestedExecutionLevel level=\"asInvoker\" "
                    "uiAccess=\"false\"/>") != std::string::npos);
    std::string bytes = resource(RT_GROUP_ICON, IDI_PROGRAM_FILE);
    IconGroup group = {};
    std::memcpy(&group, bytes.data(), std::min(bytes.size(), sizeof group));
    CHECK(bytes.size() == sizeof group && group.type == 1 && group.count == 5);
    const int sizes[] = {16, 32, 48, 64, 256};
    for (int i = 0; i < 5; ++i) {
        const auto& entry = group.images[i];
        int size = sizes[i], bits = size == 256 ? 32 : 8;
        std::string image = resource(RT_ICON, entry.id);
        BITMAPINFOHEADER dib = {};
        std::memcpy(&dib, image.data(), std::min(image.size(), sizeof dib));
        bool content = size == 256 ? image.compare(0, 4, "\x89PNG") == 0
                                   : dib.biWidth == size && dib.biBitCount == 8;
        CHECK_ROW(entry.width == size % 256 && entry.height == size % 256 && entry.colours == 0 &&
                      entry.planes == 1 && entry.bits == bits && image.size() == entry.bytes &&
                      content,
                  size);
        // The system picks the image of that size and takes it.
        auto icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                                  MAKEINTRESOURCEW(IDI_PROGRAM_FILE), IMAGE_ICON,
                                                  size, size, LR_DEFAULTCOLOR));
        ICONINFO info = {};
        BITMAP bitmap = {};
        CHECK_ROW(icon && GetIconInfo(icon, &info) &&
                      GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) && bitmap.bmWidth == size,
                  size);
    }
}

void checkWindowClass(HINSTANCE instance) {
    WNDCLASSEXW c = {};
    c.cbSize = sizeof c;
    // Icons 107 and 108 do not exist, so the class has none.
    CHECK(GetClassInfoExW(instance, L"QUORV", &c) && c.style == (CS_HREDRAW | CS_VREDRAW) &&
          c.lpfnWndProc == shellWindowProc && c.cbClsExtra == 0 && c.cbWndExtra == 0 &&
          c.hInstance == instance && !c.hIcon && !c.hIconSm &&
          c.hCursor == LoadCursorW(nullptr, IDC_ARROW) &&
          c.hbrBackground == reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1) &&
          c.lpszMenuName == MAKEINTRESOURCEW(IDC_QUORV));
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

// The about box as the menu opened it: modal over the window, its texts and layout (styles:
// WS_CHILD | WS_VISIBLE 0x50000000, WS_GROUP 0x20000, WS_TABSTOP 0x10000, SS_ICON 3,
// SS_NOPREFIX 0x80, BS_DEFPUSHBUTTON 1). Its icon control stays empty: icon 128 does not exist.
void checkAboutBoxSeen(HWND window) {
    CHECK(seen.owner == window && seen.ownerDisabled && !seen.icon);
    if (!CHECK((seen.lines ==
                std::vector<std::wstring>{L"Acerca de Quorv 0,0 170x62",
                                          L"Static -1 50000003 #128 14,14 21x20",
                                          L"Static -1 50020080 Quorv, versi\u00f3n 1.0 42,14 114x8",
                                          L"Static -1 50020000 Copyright (c) 2026 42,26 114x8",
                                          L"Button 1 50030001 Aceptar 113,41 50x14"})))
        for (const std::wstring& line : seen.lines) std::printf("  seen: %ls\n", line.c_str());
}

void checkShellWindow(HINSTANCE instance) {
    HWND window = CreateWindowExW(0, shellClassName, shellTitle, WS_OVERLAPPEDWINDOW, 0, 0, 400,
                                  300, nullptr, nullptr, instance, nullptr);
    if (!CHECK(window != nullptr)) return;
    // The class's menu: states 0, MF_STRING | MF_ENABLED.
    CHECK(describe(GetMenu(window)) == L"&Archivo[&Salir 0 105;]Ay&uda[&Acerca de... 0 104;]");

    // Painting draws nothing but leaves the window valid.
    InvalidateRect(window, nullptr, TRUE);
    CHECK(SendMessageW(window, WM_PAINT, 0, 0) == 0 && !GetUpdateRect(window, nullptr, FALSE));

    // The about box's result is the command that closed it; any other command leaves it open,
    // and the watcher closes it with -2.
    for (auto [message, param, closedWith] : {std::tuple<UINT, WPARAM, INT_PTR>{BM_CLICK, 0, IDOK},
                                              {WM_CLOSE, 0, IDCANCEL},
                                              {WM_COMMAND, IDCANCEL, IDCANCEL},
                                              {WM_COMMAND, IDABORT, -2}}) {
        expectBox(message, param);
        INT_PTR result = DialogBoxParamW(shellInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window,
                                         aboutDialogProc, 0);
        CHECK_ROW(result == closedWith && seen.opened == 1, message + param);
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
        expectBox(BM_CLICK);
        LRESULT result = SendMessageW(window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
        MSG quit = {};
        bool quitAsked = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        CHECK_ROW(result == 0 && seen.opened == boxes && !seen.forced &&
                      !IsWindow(window) == closes && quitAsked == closes && quit.wParam == 0,
                  command);
        if (command == IDM_ABOUT) checkAboutBoxSeen(window);
    }
}

void report() {
    CHECK((steps == std::vector<std::string>{"App", "setUpExhibit", "runFrameLoop", "tearDown"}));
    std::printf("win32: %d checks failed\n", failures);
    std::fflush(stdout);
    if (failures > 0) _exit(1);
}

// Before the entry runs: the watcher, and the report when the entry has returned.
struct StartWatching {
    StartWatching() { SetTimer(nullptr, 0, 20, watch), std::atexit(report); }
} startWatching;

}  // namespace

// By now the entry has loaded the strings and stored the module; the notice is not up yet.
App::App() {
    steps.push_back("App");
    CHECK(std::wstring(shellTitle) == L"Quorv" && std::wstring(shellClassName) == L"QUORV");
    CHECK(shellInstance == GetModuleHandleW(nullptr) && seen.opened == 0);
}

// The loading notice has come and gone: its caption, text, information icon and one button,
// IDOK, with no owner window.
void App::setUpExhibit() {
    steps.push_back("setUpExhibit");
    CHECK(seen.opened == 1 && !seen.forced && !seen.owner && seen.count(L"Cargando Quorv 0,0"));
    CHECK(seen.count(L"Quorv est\u00e1 inici\u00e1ndose.\nEste proceso puede tardar unos "
                     L"segundos.\nPresione Aceptar para continuar.\n") == 1);
    CHECK(seen.icon == LoadIconW(nullptr, IDI_INFORMATION) && seen.count(L"Button ") == 1 &&
          seen.count(L"Button 1 ") == 1);
}

// The frame loop is where the program would use its shell: check what the entry prepared.
void App::runFrameLoop() {
    steps.push_back("runFrameLoop");
    HINSTANCE instance = GetModuleHandleW(nullptr);
    checkResources();
    checkWindowClass(instance);
    checkShellWindow(instance);
}

void App::tearDown() { steps.push_back("tearDown"); }
