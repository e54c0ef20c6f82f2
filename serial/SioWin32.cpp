#include "SioWin32.h"

#include <algorithm>
#include <utility>

namespace {

using TLock = TSioLock;

int LastErrorCode()
{
    const DWORD error = GetLastError();
    return error ? -static_cast<int>(error) : -1;
}

bool NTFamily()
{
    return (GetVersion() & 0x80000000u) == 0;
}

}  // namespace

TSioWin32Dispatcher::TSioWin32Dispatcher(TComponent* owner) : TSioBaseDispatcher(owner) {}

TSioWin32Dispatcher::~TSioWin32Dispatcher()
{
    CloseDevice();
    // A close left to the dispatch thread: it runs this layer's FreeBuffers, so it must be
    // over before this layer goes.
    for (TThread* t : {outThread_, comThread_, dispThread_})
        if (t && t->ThreadID() != GetCurrentThreadId()) WaitServingSentMessages(t->Handle(), INFINITE);
    if (device_) ReleaseDevice();
}

int TSioWin32Dispatcher::EscapeFunction(int code)
{
    return EscapeCommFunction(device_.Get(), static_cast<DWORD>(code)) ? 0 : LastErrorCode();
}

int TSioWin32Dispatcher::Flush(bool input)
{
    if (input) return PurgeComm(device_.Get(), PURGE_RXABORT | PURGE_RXCLEAR) ? 0 : LastErrorCode();
    return FlushOutput(false);
}

int TSioWin32Dispatcher::EndOutput()
{
    // A line sent just before the close (the last command) must reach the instrument: a
    // purge right after the write drops what the device has not passed on yet.
    return FlushOutput(true);
}

int TSioWin32Dispatcher::FlushOutput(bool keepWritten)
{
    // The output thread may be in the middle of a write: it lets go of the device first.
    const bool outputThreadRuns = threadsRunning_ && !killThreads_ && outThread_ && !outThread_->Finished() &&
                                  flushRequest_ && dispatcherGeneral_;
    bool acknowledged = true;
    if (outputThreadRuns) {
        ResetEvent(dispatcherGeneral_);  // a leftover signal is no acknowledgement
        SetEvent(flushRequest_);
        acknowledged = WaitForSingleObject(dispatcherGeneral_, SioFlushAckMs) == WAIT_OBJECT_0;
    }
    // Without an output thread only the transmit side goes: received bytes stay unread.
    ResetOutput();
    // What flow control holds back is still purged, so it cannot keep a close waiting.
    if (!(keepWritten && DriverOutputLeaves()) && !PurgeComm(device_.Get(), PURGE_TXABORT | PURGE_TXCLEAR))
        return LastErrorCode();
    return acknowledged ? 0 : -static_cast<int>(ERROR_TIMEOUT);
}

bool TSioWin32Dispatcher::DriverOutputLeaves()
{
    const auto queued = [this]() -> long {
        DWORD errors = 0;
        COMSTAT comStat = {};
        if (!ClearCommError(device_.Get(), &errors, &comStat)) return -1;
        lineErrors_ |= errors & 0x1F;  // kept, as the status refresh keeps them
        return static_cast<long>(comStat.cbOutQue);
    };
    long left = queued();
    if (left <= 0) return left == 0;
    // Twice the ten bit times of each byte, and a margin; never more than two seconds.
    const unsigned rate = lastBaud_ ? lastBaud_ : 9600;
    const DWORD bound = static_cast<DWORD>(std::min<unsigned long long>(
        static_cast<unsigned long long>(left) * 20000 / rate + 50, 2000));
    const DWORD start = GetTickCount();
    while (left > 0 && GetTickCount() - start < bound) {
        Sleep(2);  // nothing to wait on: the comm events are the communications thread's
        left = queued();
    }
    return left == 0;
}

unsigned TSioWin32Dispatcher::RefreshCommStatus(TSioCommStatus& status)
{
    DWORD errors = 0;
    COMSTAT comStat = {};
    if (!ClearCommError(device_.Get(), &errors, &comStat)) {
        errors = 0;
        comStat.cbInQue = 0;
    }
    status.Errors = errors;
    status.InQueue = comStat.cbInQue;
    status.OutQueue = OutputUsed();  // the driver's own queue is not what the callers count
    return errors;
}

int TSioWin32Dispatcher::ReadDeviceState(DCB& dcb)
{
    dcb = {};
    dcb.DCBlength = sizeof dcb;
    return GetCommState(device_.Get(), &dcb) ? 0 : -1;
}

int TSioWin32Dispatcher::ReadDevice(void* buffer, unsigned count)
{
    // Only bytes counted as waiting are asked for, but Wine leaves a read pending (in spite
    // of the time-outs) when they went in between, until more come: bounded.
    return ReadDeviceWithin(buffer, count, SioReadPendingMs);
}

int TSioWin32Dispatcher::ReadDeviceWithin(void* buffer, unsigned count, DWORD ms)
{
    if (count == 0) return 0;
    const HANDLE device = device_.Get();
    OVERLAPPED overlapped = {};
    overlapped.hEvent = readEvent_.Get();  // ReadFile resets it
    DWORD got = 0;
    // A read of bytes that are there completes at once, its count in the OVERLAPPED (no
    // further call per read).
    if (ReadFile(device, buffer, count, &got, &overlapped)) return static_cast<int>(overlapped.InternalHigh);
    if (GetLastError() != ERROR_IO_PENDING) return LastErrorCode();
    if (WaitForSingleObject(overlapped.hEvent, ms) != WAIT_OBJECT_0) CancelIo(device);
    if (!GetOverlappedResult(device, &overlapped, &got, TRUE))
        return GetLastError() == ERROR_OPERATION_ABORTED ? static_cast<int>(got) : LastErrorCode();
    return static_cast<int>(got);
}

int TSioWin32Dispatcher::WriteDeviceState(const DCB& dcb)
{
    DCB copy = dcb;
    copy.DCBlength = sizeof copy;
    return SetCommState(device_.Get(), &copy) ? 0 : LastErrorCode();
}

bool TSioWin32Dispatcher::WaitCommEvent(DWORD& mask)
{
    const HANDLE device = device_.Get();
    for (;;) {
        if (killThreads_ || closingRequested_) return false;
        OVERLAPPED overlapped = {};
        overlapped.hEvent = waitEvent_.Get();
        ResetEvent(overlapped.hEvent);
        DWORD events = 0;
        if (::WaitCommEvent(device, &events, &overlapped)) {
            mask = events;
            return true;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_INVALID_PARAMETER && eventMask_ != SioEventMaskNT) {
            eventMask_ = SioEventMaskNT;
            if (!SetCommMask(device, eventMask_)) return false;
            continue;
        }
        // A wait that fails at once ends the thread rather than spin; the dispatch thread's
        // poll still moves the data.
        if (error != ERROR_IO_PENDING) return false;
        // Stopping sets the kill flag before it clears the mask: a wait begun after that
        // clearing ends itself here. Only a mask change ends a wait (Wine ignores CancelIo).
        if (killThreads_) SetCommMask(device, 0);
        DWORD unused = 0;
        if (!GetOverlappedResult(device, &overlapped, &unused, TRUE)) return false;
        if (killThreads_) return false;
        mask = events;
        return true;
    }
}

void TSioWin32Dispatcher::CancelCommWait()
{
    if (device_) SetCommMask(device_.Get(), 0);  // ends a pending wait (995 on Wine)
}

bool TSioWin32Dispatcher::SetQueueSizes(unsigned in, unsigned out)
{
    return SetupComm(device_.Get(), in, out) != 0;
}

void TSioWin32Dispatcher::FreeBuffers()
{
    TSioBaseDispatcher::FreeBuffers();  // stops the threads when they run
    if (closePending_) ReleaseDevice();
}

int TSioWin32Dispatcher::OpenDeviceHandle(const std::string& name)
{
    const HANDLE device = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) return -1;
    return AdoptHandle(device);
}

int TSioWin32Dispatcher::AdoptHandle(HANDLE handle)
{
    TFileHandle device(handle);
    // The caller sees the error of the failure, not of the closing after it.
    const auto fail = [&device](DWORD error) {
        device.Reset();
        SetLastError(error);
        return -1;
    };
    if (device_ || closePending_ || threadsRunning_) return fail(ERROR_BUSY);  // the last open's threads still end
    TKernelHandle readEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    TKernelHandle waitEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!readEvent || !waitEvent) return -8;
    // What the communications thread needs before its first wait.
    eventMask_ = NTFamily() ? SioEventMaskNT : SioEventMaskExtended;
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommMask(device.Get(), eventMask_) || !SetCommTimeouts(device.Get(), &timeouts)) return fail(GetLastError());
    device_ = std::move(device);
    readEvent_ = std::move(readEvent);
    waitEvent_ = std::move(waitEvent);
    return static_cast<int>(reinterpret_cast<INT_PTR>(device_.Get()));
}

bool TSioWin32Dispatcher::OnOwnThread() const
{
    const DWORD self = GetCurrentThreadId();
    for (const TThread* t : {comThread_, dispThread_, outThread_})
        if (t && t->ThreadID() == self) return true;
    return false;
}

int TSioWin32Dispatcher::CloseDeviceHandle()
{
    if (!device_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    if (threadsRunning_) {
        if (OnOwnThread() || (delivering_ && InSendMessage())) {
            // A handler closes the port (on the dispatch thread, or on the GUI thread inside
            // the call the dispatch thread waits for), so its threads cannot be waited for
            // here. The communications thread ends with its wait; the dispatch thread stops
            // the output thread as it ends (closing requested), and the handles go then.
            closePending_ = true;
            SetCommMask(device_.Get(), 0);
            return 0;
        }
        killThreads_ = true;
        SetCommMask(device_.Get(), 0);
        SetEvent(commEventPending_);
        ResetEvent(dispatcherGeneral_);
        // The threads use the handles until they end.
        StopThreads();
    }
    return ReleaseDevice();
}

int TSioWin32Dispatcher::ReleaseDevice()
{
    readEvent_.Reset();
    waitEvent_.Reset();
    closePending_ = false;
    return CloseHandle(device_.Release()) ? 0 : -1;  // by hand, for its result
}

int TSioWin32Dispatcher::ReadModemLines(DWORD& lines)
{
    return GetCommModemStatus(device_.Get(), &lines) ? 0 : LastErrorCode();
}

int TSioWin32Dispatcher::WriteDevice(const uint8_t* bytes, unsigned count)
{
    const HANDLE device = device_.Get();
    OVERLAPPED overlapped = {};
    overlapped.hEvent = writeDone_;
    ResetEvent(writeDone_);
    DWORD written = 0;
    if (WriteFile(device, bytes, count, &written, &overlapped)) {
        GetOverlappedResult(device, &overlapped, &written, FALSE);
        return static_cast<int>(written);
    }
    if (GetLastError() != ERROR_IO_PENDING) return static_cast<int>(count);  // given up
    const HANDLE waits[2] = {writeDone_, flushRequest_};
    const DWORD r = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (r == WAIT_OBJECT_0)
        return GetOverlappedResult(device, &overlapped, &written, FALSE) ? static_cast<int>(written)
                                                                         : static_cast<int>(count);
    // The write may not outlive this frame, whose OVERLAPPED it uses.
    CancelIo(device);
    GetOverlappedResult(device, &overlapped, &written, TRUE);
    if (r != WAIT_OBJECT_0 + 1) return static_cast<int>(count);
    SetEvent(flushRequest_);  // the output step takes the request from the event itself
    return -1;
}

TSioTAPI32Dispatcher::TSioTAPI32Dispatcher(TComponent* owner, HANDLE device)
    : TSioWin32Dispatcher(owner), given_(device)
{
}

int TSioTAPI32Dispatcher::OpenDeviceHandle(const std::string&)
{
    if (!given_) {
        SetLastError(ERROR_INVALID_HANDLE);  // the handle served one open
        return -1;
    }
    return AdoptHandle(given_.Release());
}
