// A hidden message-only window owned by the thread that makes it: the receiver of timer
// ticks, synchronised calls and other messages that have no visible window.
#pragma once

#include <windows.h>

#include <functional>

class TUtilWindow {
public:
    // Returns true when it handled the message, with its result in `result`.
    using THandler = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)>;

    explicit TUtilWindow(THandler handler);
    TUtilWindow(const TUtilWindow&) = delete;
    TUtilWindow& operator=(const TUtilWindow&) = delete;
    ~TUtilWindow();

    HWND Handle() const { return handle_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    THandler handler_;
    HWND handle_ = nullptr;
};

// How many messages sent from other threads (synchronised calls among them) the calling
// thread's toolkit windows have handled. A loop that sleeps between messages compares it
// before and after a pump: a sent message is handled inside the pump and wakes no wait.
unsigned CrossThreadCalls();
// Counts the message being handled when another thread sent it; window procedures call it.
void NoteCrossThreadCall();
