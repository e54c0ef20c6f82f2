// Drives another program's windows for the demo and the tests: waits for a top-level window by
// title, prints the texts it shows, and closes it.
//   wintool wait TITLE [MS]   exit 0 once a visible window of that title exists
//   wintool text TITLE        print the texts of the window and its children
//   wintool close TITLE       press OK on a dialog box, else ask the window to close
//   wintool click TITLE TEXT  press the window's button that shows TEXT
//   wintool hoverclick TITLE Y PREFIX
//                             move the real mouse along the window's client row Y, left to
//                             right, until a child window's text starts with PREFIX (what
//                             the program shows for the thing under the cursor), and click
//                             there: for a toolbar item, which has no window of its own
//   wintool hold TITLE        keep a hidden window of that title until ended: Wine's desktop
//                             lives as long as a window is on it, so the desktop process
//                             is started once, by this, not again by each program after a
//                             pause (which it would hand its standard handles to)
//   wintool children TITLE [MS]
//                             wait up to MS (default 10000) for a visible window of that
//                             title, then print one line per child window, hidden ones too:
//                             "ID<tab>CLASS<tab>VISIBLE (0|1)<tab>TEXT", the text asked of the
//                             control itself (an edit control keeps its own), in UTF-8, with
//                             backslash, CR, LF and tab written as \\, \r, \n and \t
//   wintool list              print one line per visible top-level window:
//                             "PID<tab>CLASS<tab>X,Y,WIDTH,HEIGHT<tab>TITLE" (UTF-8, escaped so)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// MatchTitle, PrintText and MatchButton call nothing that can throw; the callbacks that build
// strings catch everything.
struct Search {
    const char* title;
    HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM data)
{
    auto* s = reinterpret_cast<Search*>(data);
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    if (IsWindowVisible(window) && std::strcmp(text, s->title) == 0) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK PrintText(HWND child, LPARAM)
{
    char text[4096] = {};
    GetWindowTextA(child, text, sizeof text);
    if (text[0]) std::printf("%s\n", text);
    return TRUE;
}

HWND FindTopLevel(const char* title)
{
    Search search{title, nullptr};
    EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct ButtonSearch {
    const char* text;
    HWND found;
};

BOOL CALLBACK MatchButton(HWND child, LPARAM data)
{
    auto* s = reinterpret_cast<ButtonSearch*>(data);
    char name[64] = {}, text[512] = {};
    GetClassNameA(child, name, sizeof name);
    GetWindowTextA(child, text, sizeof text);
    if (_stricmp(name, "Button") == 0 && std::strcmp(text, s->text) == 0) {
        s->found = child;
        return FALSE;
    }
    return TRUE;
}

void PrintTexts(HWND window)
{
    EnumChildWindows(window, PrintText, 0);
}

// One line per window for a script: UTF-8, the line breaks and tabs of a text made visible.
std::string Escaped(const std::wstring& text)
{
    std::string out;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    for (const char c : utf8) {
        if (c == '\\') out += "\\\\";
        else if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else out += c;
    }
    return out;
}

// The control's own text: another process's edit control keeps it where GetWindowText does
// not look. A window that does not answer within the bound shows none.
std::wstring AskedText(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
            2000, &copied))
        return {};
    text.resize(copied < length ? copied : length);
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM)
{
    try {
        std::printf("%d\t%s\t%d\t%s\n", GetDlgCtrlID(child), Escaped(ClassOf(child)).c_str(),
            IsWindowVisible(child) ? 1 : 0, Escaped(AskedText(child)).c_str());
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

void PrintWindowLine(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT r{};
    GetWindowRect(window, &r);
    wchar_t title[1024] = {};
    GetWindowTextW(window, title, 1024);
    std::printf("%lu\t%s\t%ld,%ld,%ld,%ld\t%s\n", pid, Escaped(ClassOf(window)).c_str(), r.left, r.top, r.right - r.left,
        r.bottom - r.top, Escaped(title).c_str());
}

BOOL CALLBACK PrintTopLevel(HWND window, LPARAM)
{
    try {
        if (IsWindowVisible(window)) PrintWindowLine(window);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

// Waits up to `limit` ms for a visible top-level window of that title.
HWND WaitForTopLevel(const char* title, DWORD limit)
{
    const DWORD start = GetTickCount();
    HWND window;
    while (!(window = FindTopLevel(title))) {
        if (GetTickCount() - start > limit) {
            std::fprintf(stderr, "wintool: no window \"%s\" after %lu ms\n", title, limit);
            return nullptr;
        }
        Sleep(50);
    }
    return window;
}

struct PrefixSearch {
    std::wstring prefix;
    bool found;
};

BOOL CALLBACK MatchPrefix(HWND child, LPARAM data)
{
    try {
        auto* s = reinterpret_cast<PrefixSearch*>(data);
        if (AskedText(child).compare(0, s->prefix.size(), s->prefix) == 0) {
            s->found = true;
            return FALSE;
        }
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

INPUT MouseAt(POINT at, DWORD flags)
{
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = at.x * 65535 / (w - 1);
    in.mi.dy = at.y * 65535 / (h - 1);
    // Every event carries its position: under Wine's desktop a late echo of a move can put
    // the cursor back where it was.
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags;
    return in;
}

int HoverClick(HWND window, int y, const char* prefix)
{
    PrefixSearch search{{}, false};
    const int length = MultiByteToWideChar(CP_UTF8, 0, prefix, -1, nullptr, 0);
    search.prefix.resize(length > 0 ? length - 1 : 0);
    if (length > 1) MultiByteToWideChar(CP_UTF8, 0, prefix, -1, search.prefix.data(), length);
    SetForegroundWindow(window);
    RECT client{};
    GetClientRect(window, &client);
    for (int x = 0; x < client.right; x += 4) {
        POINT at{x, y};
        ClientToScreen(window, &at);
        INPUT move = MouseAt(at, 0);
        SendInput(1, &move, sizeof move);
        // The program answers the move in its own time; another process gives no event to
        // wait on.
        for (int look = 0; look < 10 && !search.found; ++look) {
            Sleep(10);
            EnumChildWindows(window, MatchPrefix, reinterpret_cast<LPARAM>(&search));
        }
        if (search.found) {
            INPUT click[2] = {MouseAt(at, MOUSEEVENTF_LEFTDOWN), MouseAt(at, MOUSEEVENTF_LEFTUP)};
            return SendInput(2, click, sizeof(INPUT)) == 2 ? 0 : 1;
        }
    }
    std::fprintf(stderr, "wintool: nothing along row %d shows \"%s\"\n", y, prefix);
    return 1;
}

bool IsDialogBox(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return std::strcmp(name, "#32770") == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "list") == 0) {
        EnumWindows(PrintTopLevel, 0);
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: wintool wait|text|close|click|hoverclick|hold|children|list TITLE [MS|TEXT|Y PREFIX]\n");
        return 2;
    }
    const std::string verb = argv[1];
    const char* title = argv[2];
    if (verb == "hold") {
        if (!CreateWindowExA(0, "STATIC", title, WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr)) return 1;
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
        return 0;
    }
    if (verb == "wait") return WaitForTopLevel(title, argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 10000) ? 0 : 1;
    if (verb == "children") {
        const HWND window = WaitForTopLevel(title, argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 10000);
        if (!window) return 1;
        EnumChildWindows(window, PrintChild, 0);
        return 0;
    }
    HWND window = FindTopLevel(title);
    if (!window) {
        std::fprintf(stderr, "wintool: no window \"%s\"\n", title);
        return 1;
    }
    if (verb == "text") {
        PrintTexts(window);
        return 0;
    }
    if (verb == "close") {
        if (IsDialogBox(window)) PostMessageA(window, WM_COMMAND, IDOK, 0);
        else PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (verb == "click" && argc > 3) {
        ButtonSearch search{argv[3], nullptr};
        EnumChildWindows(window, MatchButton, reinterpret_cast<LPARAM>(&search));
        if (!search.found) {
            std::fprintf(stderr, "wintool: no button \"%s\" in \"%s\"\n", argv[3], title);
            return 1;
        }
        PostMessageA(search.found, BM_CLICK, 0, 0);
        return 0;
    }
    if (verb == "hoverclick" && argc > 4) return HoverClick(window, std::atoi(argv[3]), argv[4]);
    std::fprintf(stderr, "wintool: unknown verb %s\n", verb.c_str());
    return 2;
}
