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

// Pumps the thread's messages until `done` holds or `timeoutMs` pass; true when it held.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
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
