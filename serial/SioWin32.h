// The dispatcher's device operations on the Windows serial API, and its TAPI variant, which
// takes a device handle that a modem-line service has opened.
#pragma once

#include "SioUser.h"

#include "Handles.h"

#include <windows.h>

#include <atomic>
#include <string>

// The communications thread's event mask: EV_RXCHAR, EV_CTS, EV_DSR, EV_RLSD, EV_BREAK,
// EV_ERR and EV_RING; outside the NT family also 0x2000.
const DWORD SioEventMaskNT = 505;
const DWORD SioEventMaskExtended = 8697;

// How long a read the driver leaves pending may take before it is cancelled.
const DWORD SioReadPendingMs = 500;
// How long an output flush waits for the output thread to let go of the device.
const DWORD SioFlushAckMs = 5000;

class TSioWin32Dispatcher : public TSioBaseDispatcher {
public:
    explicit TSioWin32Dispatcher(TComponent* owner);
    ~TSioWin32Dispatcher() override;

    int EscapeFunction(int code) override;
    int Flush(bool input) override;
    int EndOutput() override;
    unsigned RefreshCommStatus(TSioCommStatus& status) override;
    int ReadDeviceState(DCB& dcb) override;
    int ReadDevice(void* buffer, unsigned count) override;
    int ReadDeviceWithin(void* buffer, unsigned count, DWORD ms) override;
    int WriteDeviceState(const DCB& dcb) override;
    bool WaitCommEvent(DWORD& mask) override;
    void CancelCommWait() override;
    bool SetQueueSizes(unsigned in, unsigned out) override;
    void FreeBuffers() override;
    int OpenDeviceHandle(const std::string& name) override;
    int CloseDeviceHandle() override;
    int ReadModemLines(DWORD& lines) override;
    int WriteDevice(const uint8_t* bytes, unsigned count) override;

    HANDLE DeviceHandle() const { return device_.Get(); }
    DWORD EventMask() const { return eventMask_; }

protected:
    // Takes `device` (opened overlapped) over: the read and wait events, the comm event mask
    // and read time-outs that return at once. Returns the handle's value, -1 (system error)
    // or -8 (no event).
    int AdoptHandle(HANDLE device);
    // Closes the events and the device; 0, or -1 when CloseHandle failed.
    int ReleaseDevice();
    bool OnOwnThread() const;
    // Empties the output ring, the output thread having let go of the device; with
    // `keepWritten`, what the driver holds is purged only if it does not leave in time.
    int FlushOutput(bool keepWritten);
    // Waits, bounded by the time the bytes take at the line's speed, for the driver's
    // transmit queue to empty; false when bytes are still there.
    bool DriverOutputLeaves();

    TFileHandle device_;
    TKernelHandle readEvent_, waitEvent_;
    std::atomic<DWORD> eventMask_{SioEventMaskNT};
    // A handler closed the port: the handles go when the threads have ended.
    std::atomic<bool> closePending_{false};
};

class TSioTAPI32Dispatcher : public TSioWin32Dispatcher {
public:
    // `device` is opened overlapped by the modem-line service and owned here from now on;
    // the first open uses it and the close closes it.
    TSioTAPI32Dispatcher(TComponent* owner, HANDLE device);

    int OpenDeviceHandle(const std::string& name) override;

private:
    TFileHandle given_;
};
