// Drives another program's windows for the demo: waits for a top-level window by title,
// prints the texts it shows, and closes it.
//   wintool wait TITLE [MS]   exit 0 once a visible window of that title exists
//   wintool text TITLE        print the texts of the window and its children
//   wintool close TITLE       press OK on a dialog box, else ask the window to close
//   wintool click TITLE TEXT  press the window's button that shows TEXT
//   wintool hold TITLE        keep a hidden window of that title until ended: Wine's desktop
//                             lives as long as a window is on it, so the desktop process
//                             is started once, by this, not again by each program after a
//                             pause (which it would hand its standard handles to)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The callbacks below call nothing that can throw.
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

bool IsDialogBox(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return std::strcmp(name, "#32770") == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: wintool wait|text|close|click|hold TITLE [MS|TEXT]\n");
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
    if (verb == "wait") {
        const DWORD limit = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 10000;
        const DWORD start = GetTickCount();
        while (!FindTopLevel(title)) {
            if (GetTickCount() - start > limit) {
                std::fprintf(stderr, "wintool: no window \"%s\" after %lu ms\n", title, limit);
                return 1;
            }
            Sleep(50);
        }
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
    std::fprintf(stderr, "wintool: unknown verb %s\n", verb.c_str());
    return 2;
}
