// Threads of the component toolkit. A thread is created suspended and starts on Resume.
// Synchronize runs a call on the GUI thread as a message sent to a hidden window there, so
// every pump or wait that serves sent messages serves it; WaitFor serves them too, so a
// GUI thread that frees a thread stuck inside Synchronize does not deadlock.
#pragma once

#include "Classes.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread : public TObject {
public:
    TThread();
    // Ends the thread: marks it terminated, starts it if it never ran, and waits for it.
    ~TThread() override;

    void Resume();
    void Start() { Resume(); }
    void Suspend();
    bool Suspended() const { return suspended_; }

    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    bool Finished() const { return finished_; }

    // Waits for the end of the thread, serving messages sent to this thread meanwhile;
    // returns ReturnValue.
    int WaitFor();

    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority priority);

    HANDLE Handle() const { return handle_; }
    DWORD ThreadID() const { return threadId_; }
    // What Execute raised, if it did.
    std::exception_ptr FatalException() const { return fatal_; }

    bool FreeOnTerminate = false;
    // Runs on the GUI thread when the thread ends.
    TNotifyEvent OnTerminate;

    // Runs `method` on the GUI thread and waits for it; an exception it raises is raised
    // again here. On the GUI thread itself it just calls it.
    static void Synchronize(const std::function<void()>& method);

protected:
    virtual void Execute() = 0;
    virtual void DoTerminate();

    int ReturnValue = 0;

private:
    static unsigned __stdcall ThreadProc(void* parameter);

    HANDLE handle_ = nullptr;
    DWORD threadId_ = 0;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> suspended_{true};
    std::exception_ptr fatal_;
};

// Serves the messages sent to the calling thread while it waits for `handle`, up to
// `timeout` ms. Returns the wait's result (WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_FAILED).
DWORD WaitServingSentMessages(HANDLE handle, DWORD timeout);
