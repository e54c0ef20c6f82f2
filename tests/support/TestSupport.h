// Helpers the tests share: a message sink that records and answers, bounded pumping, and
// text in the locale's decimal notation.
#pragma once

#include "Application.h"
#include "SysUtils.h"

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

// Takes over the application's message sink for its lifetime.
class TRecordingSink {
public:
    TRecordingSink()
    {
        previous_ = Application->SetMessageSink([this](const TMessageRequest& r) {
            Requests.push_back(r);
            if (Answers.empty()) return IDOK;
            const int answer = Answers.front();
            Answers.pop_front();
            return answer;
        });
    }
    ~TRecordingSink() { Application->SetMessageSink(previous_); }

    std::vector<TMessageRequest> Requests;
    std::deque<int> Answers;  // given in order; IDOK once they run out

private:
    TMessageSink previous_;
};

// A file name in the temp folder that no other test process uses.
inline std::string TempFileName(const std::string& name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "tavrin_test_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

// Handles the posted, sent and input messages waiting, and those they post in turn; not
// timers and painting, which never run dry while a caret blinks.
inline void PumpPending(DWORD boundMs = 5000)
{
    const DWORD start = GetTickCount();
    while ((GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE | QS_INPUT) >> 16) && GetTickCount() - start < boundMs) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) continue;
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Pumps the thread's messages until `done` holds or `timeoutMs` pass; true when it held.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000)
{
    const DWORD start = GetTickCount();
    for (;;) {
        // What waits already is handled first: a wait only wakes for what comes after.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return done();
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (done()) return true;
        }
        if (done()) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

// "0.25" written with the locale's decimal separator.
inline std::string Local(std::string text)
{
    for (char& c : text)
        if (c == '.') c = DecimalSeparator;
    return text;
}

// The decimal separator a test run was started for (TAVRIN_TEST_DECIMAL), or 0 when any.
inline char ExpectedDecimalSeparator()
{
    char value[8] = {};
    return GetEnvironmentVariableA("TAVRIN_TEST_DECIMAL", value, sizeof value) ? value[0] : 0;
}
