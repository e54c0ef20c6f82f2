// Answers the dialog boxes that this thread opens: once a box of this process has handled its
// WM_INITDIALOG, `answer` sees it, and may read it and post to it. A hook on the thread's
// window procedures, so the case waits for nothing: the box is met the moment it exists.
// A box still open after the bound is ended from a timer of the thread, and noted.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class dialog_answerer {
public:
    explicit dialog_answerer(std::function<void(HWND)> answer, UINT boundMs = 10000) : answer_(std::move(answer))
    {
        current_ = this;
        hook_ = SetWindowsHookExW(WH_CALLWNDPROCRET, on_return, nullptr, GetCurrentThreadId());
        timer_ = SetTimer(nullptr, 0, boundMs, on_bound);
    }
    ~dialog_answerer()
    {
        if (timer_) KillTimer(nullptr, timer_);
        if (hook_) UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    dialog_answerer(const dialog_answerer&) = delete;
    dialog_answerer& operator=(const dialog_answerer&) = delete;

    bool hooked() const { return hook_ != nullptr && timer_ != 0; }
    int boxes() const { return boxes_; }
    bool timed_out() const { return timed_out_; }

private:
    static LRESULT CALLBACK on_return(int code, WPARAM wParam, LPARAM lParam)
    {
        try {
            const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
            if (code == HC_ACTION && current_ && call->message == WM_INITDIALOG && is_own_box(call->hwnd)) {
                ++current_->boxes_;
                current_->answer_(call->hwnd);
            }
        } catch (...) {
            // The box stays open and the case fails on its bound.
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static void CALLBACK on_bound(HWND, UINT, UINT_PTR, DWORD)
    {
        try {
            if (current_) EnumThreadWindows(GetCurrentThreadId(), end_box, 0);
        } catch (...) {
        }
    }

    static BOOL CALLBACK end_box(HWND window, LPARAM)
    {
        try {
            if (is_own_box(window)) {
                current_->timed_out_ = true;
                EndDialog(window, -2);
            }
        } catch (...) {
        }
        return TRUE;
    }

    static bool is_own_box(HWND window)
    {
        wchar_t name[16] = L"";
        GetClassNameW(window, name, 16);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        return std::wstring(name) == L"#32770" && process == GetCurrentProcessId();
    }

    static inline dialog_answerer* current_ = nullptr;
    std::function<void(HWND)> answer_;
    HHOOK hook_ = nullptr;
    UINT_PTR timer_ = 0;
    int boxes_ = 0;
    bool timed_out_ = false;
};

// A button pressed as the keyboard or mouse would: the box ends in its own message loop.
inline void press(HWND box, int button)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

inline std::wstring window_text(HWND window)
{
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}
