// Checks the Windows entry (app/WinMain.cpp) by linking it with this recording App in place of
// the real one, whose viewer, sound and movies cannot be built for Windows here. The App's steps
// record what the entry has done by the time they run; a watcher thread, started before the
// entry, answers the loading notice the way the visitor would. Built by run.sh with mingw-w64
// and run under wine; the process's exit code is the entry's return value unless a check failed.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "App.h"
#include "WinShell.h"

namespace {

int passedCount = 0;
int failedCount = 0;

void check(bool ok, const char* what) {
    if (ok) {
        ++passedCount;
    } else {
        ++failedCount;
        std::printf("FAILED: %s\n", what);
    }
}

#define CHECK(condition) check((condition), #condition)

// The steps of the application and the notice, in the order they happened.
std::vector<std::string> steps;
CRITICAL_SECTION stepsLock;

void recordStep(const char* step) {
    EnterCriticalSection(&stepsLock);
    steps.push_back(step);
    LeaveCriticalSection(&stepsLock);
}

// What the watcher saw of the loading notice.
struct Notice {
    HWND box = nullptr;
    std::wstring caption;
    std::wstring text;
    HWND owner = nullptr;
    HICON icon = nullptr;
    std::vector<int> buttons;
    volatile LONG confirmed = 0;  // set just before the watcher presses the button
};

Notice notice;
DWORD mainThread = 0;

std::wstring windowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

BOOL CALLBACK findBox(HWND window, LPARAM out) {
    if (className(window) == L"#32770" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(out) = window;
        return FALSE;
    }
    return TRUE;
}

HWND visibleBoxOnMainThread() {
    HWND box = nullptr;
    EnumThreadWindows(mainThread, findBox, reinterpret_cast<LPARAM>(&box));
    return box;
}

// Waits for the notice on the main thread, reads it, and confirms it with its button. If the
// entry ends without one, the report finds the notice missing.
DWORD WINAPI answerNotice(void*) {
    for (int i = 0; i < 6000 && !notice.box; ++i) {
        notice.box = visibleBoxOnMainThread();
        if (!notice.box) Sleep(10);
    }
    if (!notice.box) {
        std::printf("FAILED: no loading notice within 60 s\n");
        std::fflush(stdout);
        ExitProcess(2);
    }
    recordStep("notice");
    notice.caption = windowText(notice.box);
    notice.owner = GetWindow(notice.box, GW_OWNER);
    HWND okButton = nullptr;
    for (HWND child = GetWindow(notice.box, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        std::wstring name = className(child);
        if (name == L"Button") {
            notice.buttons.push_back(GetDlgCtrlID(child));
            okButton = child;
        } else if (name == L"Static") {
            if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                notice.icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
            } else if (GetWindowTextLengthW(child) > 0) {
                notice.text = windowText(child);
            }
        }
    }
    // The entry must still be waiting: hold the notice open a little before confirming.
    Sleep(200);
    InterlockedExchange(&notice.confirmed, 1);
    if (okButton) SendMessageW(okButton, BM_CLICK, 0, 0);
    return 0;
}

// Runs when the entry has returned and the process ends normally.
void report() {
    const std::vector<std::string> expectedSteps = {"App", "notice", "setUpExhibit", "runFrameLoop",
                                                    "tearDown"};
    EnterCriticalSection(&stepsLock);
    CHECK(steps == expectedSteps);
    if (steps != expectedSteps) {
        std::printf("steps:");
        for (const std::string& step : steps) std::printf(" %s", step.c_str());
        std::printf("\n");
    }
    LeaveCriticalSection(&stepsLock);

    // The notice: caption, three lines of text, the information icon, one confirm button and
    // no owner window.
    CHECK(notice.caption == L"Cargando Quorv");
    CHECK(notice.text ==
          L"Quorv est\u00e1 inici\u00e1ndose.\nEste proceso puede tardar unos segundos.\n"
          L"Presione Aceptar para continuar.\n");
    CHECK(notice.icon != nullptr && notice.icon == LoadIconW(nullptr, IDI_INFORMATION));
    CHECK(notice.buttons == std::vector<int>{IDOK});
    CHECK(notice.owner == nullptr);

    std::printf("win32 entry: %d passed, %d failed\n", passedCount, failedCount);
    std::fflush(stdout);
    if (failedCount > 0) _exit(1);
}

// Before the entry runs: the report at exit and the watcher for the notice.
struct StartWatching {
    StartWatching() {
        InitializeCriticalSection(&stepsLock);
        mainThread = GetCurrentThreadId();
        std::atexit(report);
        CloseHandle(CreateThread(nullptr, 0, answerNotice, nullptr, 0, nullptr));
    }
} startWatching;

}  // namespace

// Step 5 of the entry: by now the strings are loaded, the class is registered and the instance
// is stored; the notice must not be up yet.
App::App() {
    recordStep("App");

    HINSTANCE instance = GetModuleHandleW(nullptr);
    CHECK(std::wstring(shellTitle) == L"Quorv");
    CHECK(std::wstring(shellClassName) == L"QUORV");
    CHECK(shellInstance == instance);
    WNDCLASSEXW registered = {};
    registered.cbSize = sizeof(registered);
    CHECK(GetClassInfoExW(instance, L"QUORV", &registered) &&
          registered.lpfnWndProc == shellWindowProc);
    CHECK(visibleBoxOnMainThread() == nullptr);
}

// The exhibit is set up only after the visitor confirmed the notice.
void App::setUpExhibit() {
    recordStep("setUpExhibit");
    CHECK(notice.confirmed == 1);
    CHECK(visibleBoxOnMainThread() == nullptr);
}

void App::runFrameLoop() { recordStep("runFrameLoop"); }

void App::tearDown() { recordStep("tearDown"); }
