#include "Thread.h"

#include "Application.h"
#include "Barrier.h"
#include "SysUtils.h"
#include "UtilWindow.h"

#include <process.h>

namespace {

const UINT WM_SYNCHRONIZE = WM_APP + 0x3A1;

struct TSyncRequest {
    const std::function<void()>* method;
    std::exception_ptr failure;
};

HWND SyncWindow()
{
    static TUtilWindow window([](UINT message, WPARAM, LPARAM lParam, LRESULT& result) {
        if (message != WM_SYNCHRONIZE) return false;
        auto* request = reinterpret_cast<TSyncRequest*>(lParam);
        try {
            (*request->method)();
        } catch (...) {
            request->failure = std::current_exception();
        }
        result = 0;
        return true;
    });
    return window.Handle();
}

// The window must belong to the GUI thread: make it while the program starts.
const HWND syncWindowAtStart = SyncWindow();

const int Priorities[] = {THREAD_PRIORITY_IDLE,   THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL,
                          THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                          THREAD_PRIORITY_TIME_CRITICAL};

}  // namespace

DWORD WaitServingSentMessages(HANDLE handle, DWORD timeout)
{
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD left = INFINITE;
        if (timeout != INFINITE) {
            const DWORD elapsed = GetTickCount() - start;
            left = elapsed >= timeout ? 0 : timeout - elapsed;
        }
        const DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) return r;
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // runs the sent messages
    }
}

TThread::TThread()
{
    unsigned id = 0;
    handle_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &id));
    if (!handle_) throw Exception("Thread creation error: " + SysErrorMessage(GetLastError()));
    threadId_ = id;
}

TThread::~TThread()
{
    if (handle_ && GetCurrentThreadId() != threadId_) {
        if (!finished_) {
            Terminate();
            while (suspended_) Resume();
        }
        WaitServingSentMessages(handle_, INFINITE);
    }
    if (handle_) CloseHandle(handle_);
}

void TThread::Resume()
{
    const DWORD before = ResumeThread(handle_);
    if (before == static_cast<DWORD>(-1)) throw Exception("Thread error: " + SysErrorMessage(GetLastError()));
    if (before <= 1) suspended_ = false;
}

void TThread::Suspend()
{
    suspended_ = true;
    if (SuspendThread(handle_) == static_cast<DWORD>(-1)) {
        suspended_ = false;
        throw Exception("Thread error: " + SysErrorMessage(GetLastError()));
    }
}

int TThread::WaitFor()
{
    WaitServingSentMessages(handle_, INFINITE);
    return ReturnValue;
}

TThreadPriority TThread::Priority() const
{
    const int p = GetThreadPriority(handle_);
    for (int i = 0; i <= tpTimeCritical; ++i)
        if (Priorities[i] == p) return static_cast<TThreadPriority>(i);
    return tpNormal;
}

void TThread::SetPriority(TThreadPriority priority)
{
    if (!SetThreadPriority(handle_, Priorities[priority]))
        throw Exception("Thread error: " + SysErrorMessage(GetLastError()));
}

void TThread::Synchronize(const std::function<void()>& method)
{
    if (InMainThread()) {
        method();
        return;
    }
    TSyncRequest request{&method, nullptr};
    SendMessageA(SyncWindow(), WM_SYNCHRONIZE, 0, reinterpret_cast<LPARAM>(&request));
    if (request.failure) std::rethrow_exception(request.failure);
}

void TThread::DoTerminate()
{
    if (OnTerminate) Synchronize([this] { OnTerminate(this); });
}

unsigned __stdcall TThread::ThreadProc(void* parameter)
{
    auto* thread = static_cast<TThread*>(parameter);
    if (!thread->terminated_) {
        try {
            thread->Execute();
        } catch (...) {
            thread->fatal_ = std::current_exception();
        }
    }
    const bool freeThread = thread->FreeOnTerminate;
    const int result = thread->ReturnValue;
    Guarded([thread] { thread->DoTerminate(); });
    thread->finished_ = true;
    if (freeThread) Guarded([thread] { delete thread; });
    return static_cast<unsigned>(result);
}
