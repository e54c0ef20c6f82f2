// Driving and looking at windows from a test: real mouse input, typed characters,
// dialog boxes answered from another thread, and screenshots of the Xvfb screen.
#pragma once

#include "Barrier.h"
#include "Controls.h"
#include "ScreenCapture.h"
#include "TestSupport.h"
#include "UtilWindow.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

inline POINT CentreOf(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// A modal loop that a failed step leaves running would hang the test: once the time is up,
// the watchdog takes the capture away, which ends the loop, and says so.
class TLoopWatchdog {
public:
    explicit TLoopWatchdog(UINT ms)
    {
        fired_ = false;
        timer_ = SetTimer(nullptr, 0, ms, &TLoopWatchdog::Fire);
    }
    TLoopWatchdog(const TLoopWatchdog&) = delete;
    TLoopWatchdog& operator=(const TLoopWatchdog&) = delete;
    ~TLoopWatchdog() { KillTimer(nullptr, timer_); }

    static bool Fired() { return fired_; }

private:
    static void CALLBACK Fire(HWND, UINT, UINT_PTR, DWORD)
    {
        Guarded([] {
            fired_ = true;
            ReleaseCapture();
        });
    }

    inline static bool fired_ = false;
    UINT_PTR timer_ = 0;
};

// Steps run one at a time from inside a modal loop the test has started: each `Post` runs
// the next step added once the loop's queue gets to it.
class TLoopSteps {
public:
    TLoopSteps()
        : window_([this](UINT message, WPARAM, LPARAM, LRESULT& result) {
              if (message != WM_APP + 41) return false;
              if (!steps_.empty()) {
                  const std::function<void()> step = std::move(steps_.front());
                  steps_.pop_front();
                  step();
              }
              result = 0;
              return true;
          })
    {
    }

    void Add(std::function<void()> step) { steps_.push_back(std::move(step)); }
    void Post() const { PostMessageA(window_.Handle(), WM_APP + 41, 0, 0); }

private:
    std::deque<std::function<void()>> steps_;
    TUtilWindow window_;
};

// A real mouse event at a point of the screen. Each carries its position: under Wine's
// virtual desktop the X server's echo of an earlier move can arrive late and put the cursor
// back where it was.
inline INPUT MouseInputAt(POINT at, DWORD flags)
{
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = at.x * 65535 / (w - 1);
    in.mi.dy = at.y * 65535 / (h - 1);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags;
    return in;
}

// The real mouse moves to `at`.
inline testing::AssertionResult MoveScreen(POINT at)
{
    INPUT in = MouseInputAt(at, 0);
    if (SendInput(1, &in, sizeof(INPUT)) != 1) return testing::AssertionFailure() << "SendInput refused";
    return testing::AssertionSuccess();
}

// The pointer to the screen's bottom-right corner, away from every window a test shows,
// once every move before it has been handled: under load the virtual desktop can hand on
// a move an earlier test gave (it puts the pointer back there) well after it was given.
// Moves are handled in order, so once a window of our own at the corner has seen the
// pointer arrive, no earlier move can still come.
inline testing::AssertionResult ParkPointer()
{
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    // SS_NOTIFY: a static control is transparent to the mouse without it.
    const HWND window = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, "STATIC", "",
                                        WS_POPUP | WS_VISIBLE | SS_NOTIFY, w - 8, h - 8, 8, 8, nullptr, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    if (!window) return testing::AssertionFailure() << "no window for the pointer to park on";
    // Two points, so that a pointer standing on the second already still moves.
    const POINT a = {w - 6, h - 6}, b = {w - 2, h - 2};
    bool arrived = false;
    const DWORD start = GetTickCount();
    while (!arrived && GetTickCount() - start < 5000) {
        if (!MoveScreen(a) || !MoveScreen(b)) break;
        // Given again when it has not come within a while: a move can be lost to another.
        const DWORD given = GetTickCount();
        while (!arrived && GetTickCount() - given < 250) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    PostQuitMessage(static_cast<int>(msg.wParam));
                    DestroyWindow(window);
                    return testing::AssertionFailure() << "WM_QUIT while parking the pointer";
                }
                // Within a pixel: the input's absolute coordinates are scaled.
                if (msg.hwnd == window && msg.message == WM_MOUSEMOVE && std::abs(msg.pt.x - b.x) <= 1 &&
                    std::abs(msg.pt.y - b.y) <= 1)
                    arrived = true;
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (!arrived) MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        }
    }
    DestroyWindow(window);
    if (!arrived) return testing::AssertionFailure() << "the pointer never reached the corner";
    return testing::AssertionSuccess();
}

// The real mouse moves to `at` and clicks the left button there. Fails, naming what is
// there, when `expected` is not the window at that point: a click that lands elsewhere
// would only time out later.
inline testing::AssertionResult ClickScreen(POINT at, HWND expected)
{
    const HWND there = WindowFromPoint(at);
    if (there != expected) {
        char cls[64] = "", title[64] = "";
        GetClassNameA(there, cls, sizeof cls);
        GetWindowTextA(there, title, sizeof title);
        return testing::AssertionFailure() << "the point (" << at.x << "," << at.y << ") shows "
                                           << cls << " \"" << title << "\"";
    }
    INPUT inputs[3] = {MouseInputAt(at, 0), MouseInputAt(at, MOUSEEVENTF_LEFTDOWN),
                       MouseInputAt(at, MOUSEEVENTF_LEFTUP)};
    if (SendInput(3, inputs, sizeof(INPUT)) != 3) return testing::AssertionFailure() << "SendInput refused";
    return testing::AssertionSuccess();
}

// Brings the control's form to the top, then clicks the middle of `control` as a user would.
inline testing::AssertionResult ClickAt(TWinControl* control)
{
    const HWND target = control->Handle();
    const HWND root = GetAncestor(target, GA_ROOT);
    SetWindowPos(root, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(root);
    PumpPending();
    RECT r;
    GetWindowRect(target, &r);
    return ClickScreen(CentreOf(r), target);
}

// Posts the characters to the window as typed keys would arrive, and handles them.
inline void TypeChars(HWND window, const std::string& text)
{
    for (char c : text) PostMessageA(window, WM_CHAR, static_cast<unsigned char>(c), 1);
    PumpPending();
}

// Puts `text` into `edit` while it has the focus, then moves the focus to `next` as the Tab
// key would: the edit's exit handlers run.
inline void EnterAndLeave(TWinControl* edit, const std::string& text, TWinControl* next)
{
    edit->SetFocus();
    PumpPending();
    edit->SetText(text);
    next->SetFocus();
    PumpPending();
}

// Presses the keys in order and lets them go in reverse, as fingers on the keyboard do
// ({VK_CONTROL, 'S'} is Ctrl+S). They reach the focus of the foreground window.
inline testing::AssertionResult PressKeys(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
        INPUT in = {};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = key;
        in.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, 0));
        inputs.push_back(in);
    }
    for (auto it = keys.end(); it != keys.begin();) {
        INPUT in = inputs[--it - keys.begin()];
        in.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(in);
    }
    const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    if (sent != inputs.size()) return testing::AssertionFailure() << "SendInput took " << sent << " of " << inputs.size();
    return testing::AssertionSuccess();
}

// As PumpUntil, but through the application's own dispatch, as its message loop would: a
// form's shortcuts and dialog keys are seen only there.
inline bool PumpApplicationUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000)
{
    const DWORD start = GetTickCount();
    for (;;) {
        Application->ProcessMessages();
        if (done()) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

// Waits on its own thread for a dialog box of this process with the given title and hands
// it to `answer`; gives up after the bound.
class TDialogAnswerer {
public:
    TDialogAnswerer(std::string title, std::function<void(HWND)> answer, DWORD boundMs = 10000)
        : thread_([this, title, answer, boundMs] {
              const DWORD start = GetTickCount();
              while (!stop_ && GetTickCount() - start < boundMs) {
                  HWND found = nullptr;
                  while ((found = FindWindowExA(nullptr, found, "#32770", title.c_str()))) {
                      DWORD pid = 0;
                      GetWindowThreadProcessId(found, &pid);
                      if (pid == GetCurrentProcessId() && IsWindowVisible(found)) {
                          answer(found);
                          answered = true;
                          return;
                      }
                  }
                  Sleep(20);  // another thread's window; nothing here to wait on
              }
          })
    {
    }
    ~TDialogAnswerer() { thread_.join(); }
    std::atomic<bool> answered{false};
    // Stops looking, for a dialog that must not come: check `answered` first.
    void Stop() { stop_ = true; }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Saves what the screen shows of a window as a 24-bit BMP file.
inline bool SaveScreenshot(HWND window, const std::string& path)
{
    RECT r;
    GetWindowRect(window, &r);
    wchar_t wide[MAX_PATH] = L"";
    if (!MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH)) return false;
    return SaveScreenRect(r, wide);
}

// Where a test leaves what a person should look at (TAVRIN_ARTIFACTS, else the temp folder).
inline std::string ArtifactPath(const std::string& name)
{
    const std::wstring folder = ArtifactFolder();
    char narrow[MAX_PATH] = "";
    WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, narrow, MAX_PATH, nullptr, nullptr);
    return narrow + name;
}
