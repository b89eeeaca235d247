// Checks the Windows shell in a program file that carries Quorv's resources: the strings, the
// window class and its window procedure, the menu, the accelerators, the about box, the icon and
// the manifest. Built by run.sh with mingw-w64 and run under wine.
//
// The about box is modal: while it is open, a thread timer (dispatched by the box's own message
// loop) inspects it and then closes it the way a user would.
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

#include "WinShell.h"
#include "resource.h"

namespace {

int passedCount = 0;
int failedCount = 0;

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], size, nullptr, nullptr);
    result.resize(size - 1);
    return result;
}

bool check(bool ok, const char* what, int line, const std::string& detail = {}) {
    if (ok) {
        ++passedCount;
    } else {
        ++failedCount;
        std::printf("FAILED line %d: %s%s%s\n", line, what, detail.empty() ? "" : "  -- ",
                    detail.c_str());
    }
    return ok;
}

std::string describe(const std::wstring& text) { return "\"" + narrow(text) + "\""; }
template <typename Number>
std::string describe(Number number) {
    return std::to_string(number);
}

// Compares once-evaluated values and shows both when they differ.
template <typename Actual, typename Expected>
bool checkEqual(const Actual& actual, const Expected& expected, const char* what, int line) {
    return check(actual == expected, what, line,
                 "got " + describe(actual) + ", expected " + describe(expected));
}

#define CHECK(condition) check((condition), #condition, __LINE__)
#define CHECK_EQ(actual, expected) \
    checkEqual((actual), (expected), #actual " == " #expected, __LINE__)
#define CHECK_TEXT(actual, expected) CHECK_EQ(std::wstring(actual), std::wstring(expected))

constexpr WORD kSpanishSpain = 3082;
constexpr WORD kNeutral = 0;

HMODULE module() { return GetModuleHandleW(nullptr); }

std::wstring windowText(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The bytes of one resource in one language; empty when it does not exist.
std::vector<unsigned char> resourceBytes(LPCWSTR type, LPCWSTR name, WORD language) {
    HRSRC found = FindResourceExW(module(), type, name, language);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module(), found);
    auto* data = static_cast<const unsigned char*>(LockResource(loaded));
    return std::vector<unsigned char>(data, data + SizeofResource(module(), found));
}

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out) {
    reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
    return TRUE;
}

std::vector<WORD> languagesOf(LPCWSTR type, LPCWSTR name) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module(), type, name, collectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

BOOL CALLBACK collectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) {
    // Every resource of the program is named by number.
    reinterpret_cast<std::set<int>*>(out)->insert(IS_INTRESOURCE(name) ? LOWORD(name) : -1);
    return TRUE;
}

std::set<int> namesOf(LPCWSTR type) {
    std::set<int> names;
    EnumResourceNamesW(module(), type, collectName, reinterpret_cast<LONG_PTR>(&names));
    return names;
}

BOOL CALLBACK collectType(HMODULE, LPWSTR type, LONG_PTR out) {
    reinterpret_cast<std::set<int>*>(out)->insert(IS_INTRESOURCE(type) ? LOWORD(type) : -1);
    return TRUE;
}

// Reads little-endian fields of a resource in order, the way the loader lays them out.
class ResourceReader {
  public:
    explicit ResourceReader(const std::vector<unsigned char>& bytes) : _bytes(bytes) {}

    bool ok() const { return _ok; }

    unsigned word() { return read(2); }
    unsigned dword() { return read(4); }
    int shortValue() { return static_cast<short>(read(2)); }

    // A zero-terminated UTF-16 string.
    std::wstring text() {
        std::wstring result;
        for (unsigned c = word(); _ok && c != 0; c = word()) result += static_cast<wchar_t>(c);
        return result;
    }

    // A name field of a dialog template: empty, an ordinal (0xFFFF, number) or a string.
    // An ordinal comes back as "#number".
    std::wstring nameOrOrdinal() {
        if (peekWord() == 0xFFFF) {
            word();
            return L"#" + std::to_wstring(word());
        }
        return text();
    }

    void alignTo(std::size_t boundary) { _offset = (_offset + boundary - 1) / boundary * boundary; }

  private:
    unsigned peekWord() {
        std::size_t at = _offset;
        unsigned value = word();
        _offset = at;
        return value;
    }

    unsigned read(std::size_t size) {
        if (_offset + size > _bytes.size()) {
            _ok = false;
            _offset = _bytes.size();
            return 0;
        }
        unsigned value = 0;
        for (std::size_t i = 0; i < size; ++i) value |= unsigned(_bytes[_offset + i]) << (8 * i);
        _offset += size;
        return value;
    }

    const std::vector<unsigned char>& _bytes;
    std::size_t _offset = 0;
    bool _ok = true;
};

// ---------------------------------------------------------------------------------------------
// What every resource is and in which language.

void checkResourceSet() {
    std::set<int> types;
    EnumResourceTypesW(module(), collectType, reinterpret_cast<LONG_PTR>(&types));
    const std::set<int> expectedTypes = {
        LOWORD(RT_ICON),        LOWORD(RT_MENU),       LOWORD(RT_DIALOG),  LOWORD(RT_STRING),
        LOWORD(RT_ACCELERATOR), LOWORD(RT_GROUP_ICON), LOWORD(RT_MANIFEST)};
    CHECK(types == expectedTypes);

    // One of each, under the numbers the program uses; string 103 and 109 share block 7.
    // In particular there are no icons 107, 108 or 128.
    CHECK(namesOf(RT_STRING) == std::set<int>{7});
    CHECK(namesOf(RT_MENU) == std::set<int>{109});
    CHECK(namesOf(RT_ACCELERATOR) == std::set<int>{109});
    CHECK(namesOf(RT_DIALOG) == std::set<int>{103});
    CHECK(namesOf(RT_GROUP_ICON) == std::set<int>{131});
    CHECK(namesOf(RT_MANIFEST) == std::set<int>{1});

    for (LPCWSTR type : {RT_STRING, RT_MENU, RT_ACCELERATOR, RT_DIALOG, RT_GROUP_ICON, RT_ICON}) {
        for (int name : namesOf(type)) {
            std::vector<WORD> languages = languagesOf(type, MAKEINTRESOURCEW(name));
            check(languages == std::vector<WORD>{kSpanishSpain}, "resource in Spanish (Spain) only",
                  __LINE__,
                  "type " + std::to_string(LOWORD(type)) + " name " + std::to_string(name));
        }
    }
    CHECK(languagesOf(RT_MANIFEST, MAKEINTRESOURCEW(1)) == std::vector<WORD>{kNeutral});
}

void checkStrings() {
    wchar_t text[kShellStringLength] = {};
    CHECK_EQ(LoadStringW(module(), 103, text, kShellStringLength), 5);
    CHECK_TEXT(text, L"Quorv");
    CHECK_EQ(LoadStringW(module(), 109, text, kShellStringLength), 5);
    CHECK_TEXT(text, L"QUORV");
}

void checkManifest() {
    std::vector<unsigned char> bytes = resourceBytes(RT_MANIFEST, MAKEINTRESOURCEW(1), kNeutral);
    std::string manifest(bytes.begin(), bytes.end());
    CHECK(manifest.find("<requestedExecutionLevel") != std::string::npos);
    CHECK(manifest.find("level=\"asInvoker\"") != std::string::npos);
    CHECK(manifest.find("uiAccess=\"false\"") != std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// The icon group: five images, four palette ones and a PNG.

void checkIcons() {
    std::vector<unsigned char> group =
        resourceBytes(RT_GROUP_ICON, MAKEINTRESOURCEW(131), kSpanishSpain);
    ResourceReader reader(group);
    CHECK_EQ(reader.word(), 0u);  // reserved
    CHECK_EQ(reader.word(), 1u);  // icons, not cursors
    unsigned count = reader.word();
    if (!CHECK_EQ(count, 5u)) return;

    struct Expected {
        int size;
        unsigned bitCount;
    };
    const Expected expected[] = {{16, 8}, {32, 8}, {48, 8}, {64, 8}, {256, 32}};
    std::vector<int> ids;
    // The entries follow as packed 14-byte records.
    for (const Expected& image : expected) {
        unsigned widthAndHeight = reader.word();
        unsigned colourCountAndReserved = reader.word();
        unsigned planes = reader.word();
        unsigned bitCount = reader.word();
        unsigned bytesInResource = reader.dword();
        int id = static_cast<int>(reader.word());
        ids.push_back(id);
        std::string what = std::to_string(image.size) + " px image";

        // Width and height 256 are stored as 0.
        unsigned sizeByte = image.size % 256;
        check(widthAndHeight == (sizeByte | sizeByte << 8), "size in the directory", __LINE__,
              what);
        check(colourCountAndReserved == 0, "colour count 0 (256 or more colours)", __LINE__, what);
        check(planes == 1, "one plane", __LINE__, what);
        check(bitCount == image.bitCount, "bits per pixel in the directory", __LINE__,
              what + ": " + std::to_string(bitCount));

        std::vector<unsigned char> data =
            resourceBytes(RT_ICON, MAKEINTRESOURCEW(id), kSpanishSpain);
        check(data.size() == bytesInResource && !data.empty(), "image present with its size",
              __LINE__, what);
        if (data.size() < 40) continue;
        ResourceReader header(data);
        if (image.size == 256) {
            const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
            check(std::memcmp(data.data(), signature, 8) == 0, "stored as PNG", __LINE__, what);
            // IHDR: big-endian width and height, bit depth 8, colour type 6 (RGB with alpha).
            auto bigEndian = [&](std::size_t at) {
                return unsigned(data[at]) << 24 | unsigned(data[at + 1]) << 16 |
                       unsigned(data[at + 2]) << 8 | unsigned(data[at + 3]);
            };
            check(std::memcmp(&data[12], "IHDR", 4) == 0, "PNG header first", __LINE__, what);
            check(bigEndian(16) == 256 && bigEndian(20) == 256, "PNG is 256 x 256", __LINE__, what);
            check(data[24] == 8 && data[25] == 6, "PNG is 8-bit RGBA", __LINE__, what);
        } else {
            // A DIB whose height counts the colour rows and the mask rows together.
            CHECK_EQ(header.dword(), 40u);
            check(header.dword() == unsigned(image.size), "DIB width", __LINE__, what);
            check(header.dword() == unsigned(2 * image.size), "DIB height", __LINE__, what);
            header.word();  // planes
            check(header.word() == 8, "DIB at 8 bits per pixel", __LINE__, what);
            check(header.dword() == BI_RGB, "DIB not compressed", __LINE__, what);
            header.dword();  // image size
            header.dword();  // resolution
            header.dword();
            unsigned paletteSize = header.dword();
            if (paletteSize == 0) paletteSize = 256;
            check(paletteSize <= 256, "palette of at most 256 colours", __LINE__, what);
            // Header, palette, one byte per pixel, then the mask at one bit per pixel; every row
            // padded to four bytes.
            std::size_t size = image.size;
            std::size_t colourRow = (size + 3) / 4 * 4;
            std::size_t maskRow = ((size + 7) / 8 + 3) / 4 * 4;
            check(data.size() == 40 + 4 * paletteSize + (colourRow + maskRow) * size,
                  "DIB holds palette, pixels and mask", __LINE__, what);
        }

        // The system takes every image: a 16 px one becomes a 16 px icon, and so on.
        HICON icon = CreateIconFromResourceEx(data.data(), static_cast<DWORD>(data.size()), TRUE,
                                              0x00030000, 0, 0, LR_DEFAULTCOLOR);
        if (check(icon != nullptr, "the system makes an icon of it", __LINE__, what)) {
            ICONINFO info = {};
            GetIconInfo(icon, &info);
            BITMAP bitmap = {};
            GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
            check(bitmap.bmWidth == image.size, "icon width", __LINE__,
                  what + ": " + std::to_string(bitmap.bmWidth));
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
    }

    // The system's choice of image for a wanted size finds each of them.
    for (std::size_t i = 0; i < ids.size(); ++i) {
        int size = expected[i].size;
        int chosen = LookupIconIdFromDirectoryEx(group.data(), TRUE, size, size, LR_DEFAULTCOLOR);
        check(chosen == ids[i], "LookupIconIdFromDirectoryEx picks the image of that size",
              __LINE__, std::to_string(size) + " px: " + std::to_string(chosen));
    }
}

// ---------------------------------------------------------------------------------------------
// The window class and the menu.

void checkMenu(HMENU bar) {
    if (!CHECK(bar != nullptr)) return;
    CHECK_EQ(GetMenuItemCount(bar), 2);

    struct Expected {
        const wchar_t* menu;
        const wchar_t* item;
        unsigned command;
    };
    const Expected expected[] = {{L"&Archivo", L"&Salir", IDM_EXIT},
                                 {L"Ay&uda", L"&Acerca de...", IDM_ABOUT}};
    for (int i = 0; i < 2; ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(bar, i, text, 64, MF_BYPOSITION);
        CHECK_TEXT(text, expected[i].menu);
        HMENU dropDown = GetSubMenu(bar, i);
        if (!CHECK(dropDown != nullptr)) continue;
        CHECK_EQ(GetMenuItemCount(dropDown), 1);
        GetMenuStringW(dropDown, 0, text, 64, MF_BYPOSITION);
        CHECK_TEXT(text, expected[i].item);
        CHECK_EQ(GetMenuItemID(dropDown, 0), expected[i].command);
        CHECK_EQ(GetMenuState(dropDown, 0, MF_BYPOSITION), unsigned(MF_STRING | MF_ENABLED));
    }
}

void checkWindowClass(HINSTANCE instance) {
    WNDCLASSEXW found = {};
    found.cbSize = sizeof(found);
    if (!CHECK(GetClassInfoExW(instance, L"QUORV", &found))) return;
    CHECK_EQ(found.style, unsigned(CS_HREDRAW | CS_VREDRAW));
    CHECK(found.lpfnWndProc == shellWindowProc);
    CHECK_EQ(found.cbClsExtra, 0);
    CHECK_EQ(found.cbWndExtra, 0);
    CHECK(found.hInstance == instance);
    // Icons 107 and 108 do not exist, so the class has no icons.
    CHECK(found.hIcon == nullptr);
    CHECK(found.hIconSm == nullptr);
    CHECK(found.hCursor == LoadCursorW(nullptr, IDC_ARROW));
    CHECK(found.hbrBackground == reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    CHECK(IS_INTRESOURCE(found.lpszMenuName) && LOWORD(found.lpszMenuName) == IDC_QUORV);
}

// ---------------------------------------------------------------------------------------------
// The about box, inspected while it is open.

struct ControlSeen {
    std::wstring className;
    int id;
    std::wstring text;
    bool visible;
    HICON icon;
};

enum class CloseBy { kAceptar, kCloseRequest };

// What the timer saw of the last about box, and how it is to close it.
struct AboutVisit {
    CloseBy closeBy = CloseBy::kAceptar;
    int opened = 0;
    int ticks = 0;
    HWND dialog = nullptr;
    bool inspected = false;
    bool askedOtherCommand = false;
    bool stayedOpenOnOtherCommand = false;
    bool forcedClosed = false;
    std::wstring caption;
    HWND owner = nullptr;
    bool ownerDisabled = false;
    LONG style = 0;
    std::vector<ControlSeen> controls;
};

AboutVisit visit;

BOOL CALLBACK findDialog(HWND window, LPARAM out) {
    if (className(window) == L"#32770" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(out) = window;
        return FALSE;
    }
    return TRUE;
}

void inspectAboutBox(HWND dialog) {
    visit.caption = windowText(dialog);
    visit.owner = GetWindow(dialog, GW_OWNER);
    visit.ownerDisabled = visit.owner && !IsWindowEnabled(visit.owner);
    visit.style = GetWindowLongW(dialog, GWL_STYLE);
    visit.controls.clear();
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        ControlSeen control;
        control.className = className(child);
        control.id = GetDlgCtrlID(child);
        control.text = windowText(child);
        control.visible = IsWindowVisible(child) != FALSE;
        control.icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        visit.controls.push_back(control);
    }
}

// Runs every 20 ms on the test's thread, also inside the about box's modal loop.
void CALLBACK watchAboutBox(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) return;
    if (dialog != visit.dialog) {
        visit.dialog = dialog;
        visit.ticks = 0;
        ++visit.opened;
    }
    ++visit.ticks;
    if (!visit.inspected) {
        inspectAboutBox(dialog);
        visit.inspected = true;
    }
    if (visit.ticks > 250) {
        // Five seconds without closing: close it from here so that the test goes on.
        visit.forcedClosed = true;
        EndDialog(dialog, -2);
        return;
    }
    if (visit.closeBy == CloseBy::kAceptar) {
        if (visit.ticks == 1) SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        return;
    }
    // Another command first: the box must ignore it. Then the close request.
    if (!visit.askedOtherCommand) {
        visit.askedOtherCommand = true;
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDABORT, BN_CLICKED), 0);
    } else if (visit.ticks == 3) {
        visit.stayedOpenOnOtherCommand = IsWindowVisible(dialog) != FALSE;
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
}

void startVisit(CloseBy closeBy) {
    visit = AboutVisit();
    visit.closeBy = closeBy;
}

// The template of dialog 103, field by field.
void checkAboutTemplate() {
    std::vector<unsigned char> bytes =
        resourceBytes(RT_DIALOG, MAKEINTRESOURCEW(IDD_ABOUTBOX), kSpanishSpain);
    ResourceReader reader(bytes);
    CHECK_EQ(reader.word(), 1u);       // extended template, version 1
    CHECK_EQ(reader.word(), 0xFFFFu);  // signature of the extended template
    CHECK_EQ(reader.dword(), 0u);      // help id
    CHECK_EQ(reader.dword(), 0u);      // extended style
    CHECK_EQ(reader.dword(), unsigned(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                      DS_SETFONT | DS_FIXEDSYS));
    unsigned controlCount = reader.word();
    CHECK_EQ(reader.shortValue(), 0);
    CHECK_EQ(reader.shortValue(), 0);
    CHECK_EQ(reader.shortValue(), 170);
    CHECK_EQ(reader.shortValue(), 62);
    CHECK_TEXT(reader.nameOrOrdinal(), L"");  // no menu
    CHECK_TEXT(reader.nameOrOrdinal(), L"");  // no class of its own
    CHECK_TEXT(reader.text(), L"Acerca de Quorv");
    CHECK_EQ(reader.word(), 8u);  // points
    CHECK_EQ(reader.word(), 0u);  // weight: the default, normal
    unsigned italicAndCharset = reader.word();
    CHECK_EQ(italicAndCharset & 0xFF, 0u);  // not italic
    CHECK_EQ(italicAndCharset >> 8, 1u);    // DEFAULT_CHARSET
    CHECK_TEXT(reader.text(), L"MS Shell Dlg");
    CHECK(reader.ok());

    struct Expected {
        DWORD style;
        int x, y, cx, cy;
        int id;
        const wchar_t* className;
        std::wstring text;
    };
    const DWORD child = WS_CHILD | WS_VISIBLE;
    const Expected expected[] = {
        {child | SS_ICON, 14, 14, 21, 20, -1, L"static", L"#128"},
        {child | SS_LEFT | SS_NOPREFIX | WS_GROUP, 42, 14, 114, 8, -1, L"static",
         L"Quorv, versi\u00f3n 1.0"},
        {child | SS_LEFT | WS_GROUP, 42, 26, 114, 8, -1, L"static", L"Copyright (c) 2026"},
        {child | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 113, 41, 50, 14, IDOK, L"button",
         L"Aceptar"},
    };
    if (!CHECK_EQ(controlCount, 4u)) return;
    for (const Expected& control : expected) {
        std::string what = narrow(control.text);
        reader.alignTo(4);
        CHECK_EQ(reader.dword(), 0u);  // help id
        check(reader.dword() == 0, "no extended style", __LINE__, what);
        DWORD style = reader.dword();
        check(style == control.style, "control style", __LINE__,
              what + ": " + std::to_string(style));
        int x = reader.shortValue(), y = reader.shortValue();
        int cx = reader.shortValue(), cy = reader.shortValue();
        check(x == control.x && y == control.y && cx == control.cx && cy == control.cy,
              "control position and size", __LINE__,
              what + ": " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(cx) +
                  "x" + std::to_string(cy));
        check(static_cast<int>(reader.dword()) == control.id, "control id", __LINE__, what);
        // The class is an atom (0x80 button, 0x82 static) or its name.
        std::wstring windowClass = reader.nameOrOrdinal();
        if (windowClass == L"#128") windowClass = L"button";
        if (windowClass == L"#130") windowClass = L"static";
        for (wchar_t& c : windowClass) c = towlower(c);
        check(windowClass == control.className, "control class", __LINE__,
              what + ": " + narrow(windowClass));
        std::wstring text = reader.nameOrOrdinal();
        check(text == control.text, "control text", __LINE__, narrow(text));
        check(reader.word() == 0, "no creation data", __LINE__, what);
    }
    CHECK(reader.ok());
}

// The about box as it stands on screen, from the last visit.
void checkAboutBoxSeen(HWND expectedOwner) {
    CHECK_TEXT(visit.caption, L"Acerca de Quorv");
    CHECK(visit.owner == expectedOwner);
    CHECK(visit.ownerDisabled);  // modal: the owner takes no input while the box is open
    const LONG frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    CHECK((visit.style & frame) == frame);

    struct Expected {
        const wchar_t* className;
        int id;
        std::wstring text;
    };
    // The icon control's text is the icon's number, not a string; it is not compared.
    const Expected expected[] = {{L"Static", -1, L""},
                                 {L"Static", -1, L"Quorv, versi\u00f3n 1.0"},
                                 {L"Static", -1, L"Copyright (c) 2026"},
                                 {L"Button", IDOK, L"Aceptar"}};
    if (!CHECK_EQ(visit.controls.size(), std::size_t(4))) return;
    for (std::size_t i = 0; i < 4; ++i) {
        const ControlSeen& seen = visit.controls[i];
        CHECK_TEXT(seen.className, expected[i].className);
        CHECK_EQ(seen.id, expected[i].id);
        if (i > 0) CHECK_TEXT(seen.text, expected[i].text);
        CHECK(seen.visible);
    }
    // Icon 128 does not exist: the icon control stays empty.
    CHECK(visit.controls[0].icon == nullptr);
}

// Runs `open` with the timer watching for about boxes; returns how many opened.
template <typename Open>
int countAboutBoxes(CloseBy closeBy, Open open) {
    startVisit(closeBy);
    UINT_PTR timer = SetTimer(nullptr, 0, 20, watchAboutBox);
    open();
    KillTimer(nullptr, timer);
    CHECK(!visit.forcedClosed);
    CHECK(visit.dialog == nullptr || !IsWindow(visit.dialog));
    return visit.opened;
}

// Runs `open`, which must open the about box once; the timer closes it by `closeBy`.
template <typename Open>
void visitAboutBox(CloseBy closeBy, Open open) {
    CHECK_EQ(countAboutBoxes(closeBy, open), 1);
}

// Sets whether the thread's keyboard state has Alt held, as the accelerator lookup reads it.
void holdAlt(bool held) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_MENU] = held ? 0x80 : 0;
    SetKeyboardState(keys);
}

bool quitMessagePending(WPARAM* exitCode) {
    MSG message;
    if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
    *exitCode = message.wParam;
    return true;
}

// A keyboard message as the window would receive it; bit 29 of lParam tells that Alt is held.
MSG characterMessage(HWND window, UINT message, WPARAM key, bool alt) {
    MSG result = {};
    result.hwnd = window;
    result.message = message;
    result.wParam = key;
    result.lParam = 1 | (alt ? 0x20000000 : 0);
    return result;
}

void checkShellWindow(HINSTANCE instance) {
    HWND window = CreateWindowExW(0, shellClassName, shellTitle, WS_OVERLAPPEDWINDOW, 0, 0, 400,
                                  300, nullptr, nullptr, instance, nullptr);
    if (!CHECK(window != nullptr)) return;

    // The window takes its menu from the class.
    checkMenu(GetMenu(window));

    // Painting draws nothing but leaves the window valid.
    InvalidateRect(window, nullptr, TRUE);
    CHECK_EQ(SendMessageW(window, WM_PAINT, 0, 0), 0);
    CHECK(!GetUpdateRect(window, nullptr, FALSE));

    // Menu command 104 opens the about box, owned by the window; "Aceptar" closes it.
    LRESULT result = 1;
    visitAboutBox(CloseBy::kAceptar,
                  [&] { result = SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0); });
    CHECK_EQ(result, 0);
    checkAboutBoxSeen(window);
    CHECK(IsWindowEnabled(window));

    // The box's own result: the id of the command that closed it.
    INT_PTR closedWith = 0;
    visitAboutBox(CloseBy::kAceptar, [&] {
        closedWith = DialogBoxParamW(shellInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window,
                                     aboutDialogProc, 0);
    });
    CHECK_EQ(closedWith, INT_PTR(IDOK));
    visitAboutBox(CloseBy::kCloseRequest, [&] {
        closedWith = DialogBoxParamW(shellInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window,
                                     aboutDialogProc, 0);
    });
    CHECK(visit.stayedOpenOnOtherCommand);
    CHECK_EQ(closedWith, INT_PTR(IDCANCEL));

    // Accelerator table 109: Alt+? and Alt+/ as characters give command 104, which opens the box.
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_QUORV));
    if (CHECK(accelerators != nullptr)) {
        ACCEL table[8] = {};
        int count = CopyAcceleratorTableW(accelerators, table, 8);
        if (CHECK_EQ(count, 2)) {
            const WORD keys[] = {'?', '/'};
            for (int i = 0; i < 2; ++i) {
                CHECK_EQ(table[i].key, keys[i]);
                CHECK_EQ(table[i].cmd, WORD(IDM_ABOUT));
                CHECK_EQ(table[i].fVirt & ~0x80, FALT);  // no FVIRTKEY: a character key
            }
        }
        // What the keyboard gives for Alt+?: WM_SYSCHAR '?' with Alt held.
        holdAlt(true);
        for (WPARAM key : {WPARAM('?'), WPARAM('/')}) {
            int translated = 0;
            visitAboutBox(CloseBy::kAceptar, [&] {
                MSG message = characterMessage(window, WM_SYSCHAR, key, true);
                translated = TranslateAcceleratorW(window, accelerators, &message);
            });
            CHECK(translated);
        }
        // The key itself is no accelerator: Alt with the key that types "/" and "?" on a US
        // keyboard (VK_OEM_2) passes through.
        int opened = countAboutBoxes(CloseBy::kAceptar, [&] {
            MSG message = characterMessage(window, WM_SYSKEYDOWN, VK_OEM_2, true);
            CHECK(!TranslateAcceleratorW(window, accelerators, &message));
        });
        CHECK_EQ(opened, 0);
        // Without Alt, "?" is just a character.
        holdAlt(false);
        opened = countAboutBoxes(CloseBy::kAceptar, [&] {
            MSG message = characterMessage(window, WM_CHAR, '?', false);
            CHECK(!TranslateAcceleratorW(window, accelerators, &message));
        });
        CHECK_EQ(opened, 0);
        DestroyAcceleratorTable(accelerators);
    }

    // Other commands leave the window alone.
    CHECK_EQ(
        countAboutBoxes(CloseBy::kAceptar,
                        [&] { SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_EXIT + 1, 0), 0); }),
        0);
    CHECK(IsWindow(window));

    // No quit yet: closing the about box does not end the loop.
    WPARAM exitCode = 99;
    CHECK(!quitMessagePending(&exitCode));

    // Menu command 105 destroys the window, and the destruction asks to quit with code 0.
    CHECK_EQ(SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0), 0);
    CHECK(!IsWindow(window));
    CHECK(quitMessagePending(&exitCode));
    CHECK_EQ(exitCode, WPARAM(0));
}

// Ends the test if something blocks, for example a modal box that nothing closes.
DWORD WINAPI watchdog(void*) {
    Sleep(120 * 1000);
    std::printf("win32 shell: still running after 120 s, stopped\n");
    std::fflush(stdout);
    ExitProcess(3);
}

}  // namespace

int wmain() {
    CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
    HINSTANCE instance = GetModuleHandleW(nullptr);

    checkResourceSet();
    checkStrings();
    checkManifest();
    checkIcons();
    checkAboutTemplate();

    // Prepare the shell as the entry does, then use it.
    LoadStringW(instance, IDS_APP_TITLE, shellTitle, kShellStringLength);
    LoadStringW(instance, IDC_QUORV, shellClassName, kShellStringLength);
    CHECK(registerShellWindowClass(instance) != 0);
    shellInstance = instance;
    checkWindowClass(instance);
    checkShellWindow(instance);

    std::printf("win32 shell: %d passed, %d failed\n", passedCount, failedCount);
    std::fflush(stdout);
    return failedCount == 0 ? 0 : 1;
}
