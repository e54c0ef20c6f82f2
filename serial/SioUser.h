// The per-port engine of the serial library: the input ring and the output ring, the
// trigger and handler lists, moving received bytes into the ring, checking the triggers
// and delivering the fired ones. The device itself is reached only through the virtual
// operations, which the Win32 layer supplies (and a test's fake device).
#pragma once

#include "SioMisc.h"
#include "SioTraceLog.h"

#include "Thread.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TComponent;

// Messages through which triggers reach window handlers.
const UINT SioAvailMessage = 32257;
const UINT SioDataMessage = 32258;
const UINT SioTimerMessage = 32259;
const UINT SioStatusMessage = 32260;
const UINT SioPortOpenMessage = 32264;
const UINT SioPortCloseMessage = 32265;
const UINT SioClosePendingMessage = 32266;

const uint32_t SioInputRingSize = 1u << 20;
// How long one dispatch pass goes on reading while bytes keep coming.
const DWORD SioFloodPassMs = 50;
// During a flood (this much read in one drain) an empty driver is given this long to refill
// before the bytes are offered: fewer, larger offers, each a hand-over to the GUI thread.
const unsigned SioFloodBytes = 16u << 10;
const DWORD SioFloodWaitMs = 2;
const unsigned SioFloodLimit = 256u << 10;  // then offered whatever comes

// Status trigger kinds, carried in the low three bits of a status trigger's handle.
enum TSioStatusKind { skModem = 1, skLineError = 2, skOutFree = 3, skOutUsed = 4, skOutSent = 5 };

// Line-error bits from the driver.
const unsigned SioErrorOverflow = 1, SioErrorOverrun = 2, SioErrorParity = 4, SioErrorFraming = 8, SioErrorBreak = 16;
// Modem status byte: current lines in the high nibble, changes in the low one.
const uint8_t SioCTS = 0x10, SioDSR = 0x20, SioRI = 0x40, SioDCD = 0x80;
const uint8_t SioDeltaCTS = 1, SioDeltaDSR = 2, SioTrailingRI = 4, SioDeltaDCD = 8;

// OpenDevice flag bits.
const unsigned SioOpenDTR = 1, SioOpenRTS = 2, SioOpenDTRAuto = 16, SioOpenRTSAuto = 32;

// Option flag bits of the dispatcher, set by its port.
const unsigned SioOptionEventWord = 16;

struct TSioTimerTrigger {
    unsigned Handle;
    TSioTickTimer Timer;
    int32_t Ticks;
    int32_t Reserved;
    bool Active;
};

const int SioMaxTriggerLength = 22;
struct TSioDataTrigger {
    unsigned Handle;
    unsigned Length;  // 0: slot not in use
    std::array<int32_t, SioMaxTriggerLength> State;
    bool Matched;
    bool IgnoreCase;
    std::string Text;
};

struct TSioStatusTrigger {
    unsigned Handle;
    unsigned Kind;
    uint16_t Value;
    bool Active;
    bool Hit;
};

// Feeds one byte to a data trigger's matcher; true when the byte completes its string.
bool SioMatchByte(TSioDataTrigger& trigger, uint8_t byte);

// The bytes waiting in the driver and the line errors, as the status refresh returns them.
struct TSioCommStatus {
    unsigned Errors = 0;
    unsigned InQueue = 0;
    unsigned OutQueue = 0;
};

using TSioTriggerProc = void (*)(UINT message, WPARAM first, LPARAM second);
using TSioTriggerMethod = std::function<void(UINT message, WPARAM first, LPARAM second)>;

// What SaveTriggers keeps across a close and reopen.
struct TSioTriggerStore {
    unsigned AvailThreshold = 0;
    std::vector<TSioTimerTrigger> Timers;
    std::vector<TSioDataTrigger> Data;
    std::vector<TSioStatusTrigger> Status;
};

class TSioBaseDispatcher {
public:
    explicit TSioBaseDispatcher(TComponent* owner);
    virtual ~TSioBaseDispatcher();
    TSioBaseDispatcher(const TSioBaseDispatcher&) = delete;
    TSioBaseDispatcher& operator=(const TSioBaseDispatcher&) = delete;

    TComponent* Owner() const { return owner_; }
    // The owner is gone; the dispatcher ends without it.
    void ReleaseOwner() { owner_ = nullptr; }
    int Handle() const { return handle_; }
    std::string DeviceName;  // "COM3"

    // The device operations, in the library's order.
    virtual int EscapeFunction(int code) = 0;
    virtual int Flush(bool input) = 0;
    // The close's end of the output: what is still queued goes. A layer may first let what
    // it already handed to the device leave.
    virtual int EndOutput() { return DiscardOutput(); }
    virtual unsigned RefreshCommStatus(TSioCommStatus& status) = 0;
    virtual void ReportError(int code) { (void)code; }
    virtual int ReadDeviceState(DCB& dcb) = 0;
    virtual int ReadDevice(void* buffer, unsigned count) = 0;
    // Reads what comes within `ms` when nothing waits: a flood's next bytes are usually on
    // their way. Returns the bytes read (0 when none came), or a negative code.
    virtual int ReadDeviceWithin(void* buffer, unsigned count, DWORD ms)
    {
        (void)buffer;
        (void)count;
        (void)ms;
        return 0;
    }
    virtual int WriteDeviceState(const DCB& dcb) = 0;
    virtual int QueueOutputBytes(const uint8_t* bytes, unsigned count);
    // Blocks until a comm event (its mask) or the end; false ends the communications thread.
    virtual bool WaitCommEvent(DWORD& mask) = 0;
    // Ends a WaitCommEvent under way (the comm mask cleared).
    virtual void CancelCommWait() {}
    virtual bool SetQueueSizes(unsigned in, unsigned out) = 0;
    virtual void FreeBuffers();
    virtual void StartThreads();
    virtual void StopThreads();
    virtual int OpenDeviceHandle(const std::string& name) = 0;
    virtual int CloseDeviceHandle() = 0;
    virtual void YieldCpu() { Sleep(0); }
    virtual void SetThreadBoost(int boost);
    virtual void UpdateHandlerFlags(int mode);
    // The modem lines (MS_CTS_ON and the like) and one write to the device; the output
    // thread's write returns the bytes written, or -1 when a flush request ended it.
    virtual int ReadModemLines(DWORD& lines) = 0;
    virtual int WriteDevice(const uint8_t* bytes, unsigned count) = 0;

    int OpenDevice(const std::string& name, unsigned baud, int parity, int dataBits, int stopBits, unsigned inSize,
                   unsigned outSize, unsigned flags);
    void CloseDevice();
    bool IsOpen() const { return open_; }

    int QueueOutput(const void* bytes, unsigned count);
    int TakeInput(void* buffer, unsigned count);
    unsigned InputCount();
    unsigned OutputUsedCount();
    unsigned OutputFreeCount();
    int DiscardInput();
    int DiscardOutput();

    int ApplyLineSettings(unsigned baud, int parity, int dataBits, int stopBits);
    int ApplyHardwareFlow(unsigned bufferFull, unsigned bufferResume, unsigned options);
    int ApplyXonXoffFlow(unsigned bufferFull, unsigned bufferResume, unsigned options);
    int StopXonXoffFlow();
    int ApplyFlowChars(char on, char off);
    int DriveDTR(bool state);
    int DriveRTS(bool state);
    uint8_t ReadModemStatus(uint8_t keepMask);
    int TakeLineError();
    bool TakeBreak();
    void RingSeen() { ringSeen_ = true; }

    int NewTimerTrigger();
    int ArmTimerTrigger(unsigned handle, int32_t ticks, bool activate);
    int DropTrigger(unsigned handle);
    void SetAvailThreshold(unsigned n);
    // Data and status triggers: the library has no public way to make them; these serve
    // the components built on it and the tests.
    int NewDataTrigger(const std::string& text, bool ignoreCase);
    int NewStatusTrigger(TSioStatusKind kind, uint16_t value);

    void AttachWindowHandler(HWND window);
    void DetachWindowHandler(HWND window);
    void AttachProcHandler(TSioTriggerProc proc);
    void DetachProcHandler(TSioTriggerProc proc);
    // `key` identifies the method for detaching.
    void AttachMethodHandler(const void* key, TSioTriggerMethod method, bool synchronize);
    void DetachMethodHandler(const void* key);

    void SaveTriggers(TSioTriggerStore& store);
    void RestoreTriggers(const TSioTriggerStore& store);
    void SetRS485(bool on);
    unsigned OptionFlags() const { return optionFlags_; }
    void SetOptionFlag(unsigned bit, bool on)
    {
        if (on) optionFlags_ |= bit;
        else optionFlags_ &= ~bit;
    }
    DWORD Elapsed() const { return SioClock() - openTime_; }

    // The steps the threads run; tests run them one by one on a fake device.
    bool DrainDevice();
    void HandleCommEvent(DWORD mask);
    void PollTimersAndStatus();
    void OutputStep();

    TSioTrace Trace;
    TSioLog Log;
    // Runs `f` under the general lock (the trace and log are kept under it).
    void WithGeneralLock(const std::function<void()>& f);
    // Adds a log record under the general lock, with the time since the open.
    void LogEvent(int type, int subtype, unsigned data, const void* extra = nullptr, int length = 0);

    unsigned LineErrors() const { return lineErrors_; }
    bool OutputFull() const { return outputFull_; }
    bool InputFull() const { return inputFull_; }
    bool ThreadsRunning() const { return threadsRunning_; }
    bool Delivering() const { return delivering_; }
    unsigned LastBaud() const { return lastBaud_; }
    bool DTRState() const { return dtr_; }
    bool RTSState() const { return rts_; }

    static TSioBaseDispatcher* FromHandle(int handle);

protected:
    friend class TSioComThread;
    friend class TSioDispThread;
    friend class TSioOutThread;

    bool DeliverTrigger(UINT message, WPARAM first, uint16_t value);
    bool CheckStatusTriggers();
    bool AnyActiveStatusTrigger(unsigned kind);
    bool CheckTimerTriggers();
    bool ScanDataTriggers();
    int WriteState(DCB& dcb);
    unsigned NextTriggerHandle();
    unsigned Available() const;  // with the input lock held
    void ClearHits();
    // Refreshes the comm status and keeps the line errors it reports.
    void RefreshStatus();
    // Empties the output ring (after the device's own queue was purged).
    void ResetOutput();
    void ThreadEnded();
    // Reports the exception being handled on the GUI thread (the toolkit's display); a
    // serial thread waits for it there.
    void ReportException() noexcept;
    // Runs a handler or a thread's step; what it throws is reported, and the caller goes on.
    template <class F>
    void RunReported(F&& step) noexcept;
    // Ends a delivery: the read position, the message state, the deferred removals.
    bool EndDelivery(UINT message, WPARAM first, bool carryOn);
    unsigned OutputUsed();  // from the output ring, without a status refresh
    void DeferredRemovals();

    std::atomic<TComponent*> owner_;
    int handle_ = -1;
    bool open_ = false;
    std::atomic<unsigned> lineErrors_{0};
    unsigned inSize_ = 0, outSize_ = 0;
    uint8_t modemStatus_ = 0;
    std::atomic<bool> ringSeen_{false};
    TSioCommStatus commStatus_;
    DCB dcb_ = {};
    unsigned lastBaud_ = 115200;
    bool dtr_ = false, dtrAuto_ = false, rts_ = false, rtsAuto_ = false;
    bool rs485_ = false;
    std::atomic<unsigned> optionFlags_{0};
    bool portHandler_ = false, serviceNeeded_ = false;

    struct TWindowHandler {
        HWND Window;
        bool Deleted;
    };
    struct TProcHandler {
        TSioTriggerProc Proc;
        bool Deleted;
    };
    struct TMethodHandler {
        const void* Key;
        TSioTriggerMethod Method;
        bool Deleted;
        bool Synchronize;
    };
    std::vector<TWindowHandler> windowHandlers_;
    std::vector<TProcHandler> procHandlers_;
    std::vector<TMethodHandler> methodHandlers_;
    std::vector<TMethodHandler> deliveryMethods_;
    std::vector<TProcHandler> deliveryProcs_;
    std::vector<TWindowHandler> deliveryWindows_;
    std::vector<std::pair<unsigned, unsigned>> matched_;
    std::vector<TSioTimerTrigger> timers_;
    std::vector<TSioDataTrigger> dataTriggers_;
    std::vector<TSioStatusTrigger> statusTriggers_;

    uint32_t scanPosition_ = 0;
    // Bytes between the scan position and the write position: a full ring is all unscanned
    // or all scanned, which the positions alone cannot tell.
    unsigned unscanned_ = 0;
    unsigned availThreshold_ = 0;
    // Bytes came since the last avail offer (a notify position would repeat after 2^20 bytes).
    bool notifyDue_ = false;
    bool statusHit_ = false;
    bool inAvailMessage_ = false;
    unsigned getCount_ = 0, maxGetCount_ = 0;
    bool inputFull_ = false;
    std::atomic<bool> killThreads_{false};
    TThread* comThread_ = nullptr;
    TThread* dispThread_ = nullptr;
    TThread* outThread_ = nullptr;
    int threadBoost_ = 0;

    CRITICAL_SECTION general_, output_, input_;
    HANDLE commEventPending_ = nullptr, dispatchDone_ = nullptr, dispatcherGeneral_ = nullptr, outputReady_ = nullptr,
           writeDone_ = nullptr, flushRequest_ = nullptr;

    std::vector<uint8_t> input_buffer_;
    uint32_t inWrite_ = 0, inRead_ = 0;
    std::vector<uint8_t> output_buffer_;
    uint32_t outHead_ = 0, outTail_ = 0;
    bool outputFull_ = false;

    std::atomic<bool> delivering_{false};
    bool deletionDeferred_ = false;
    std::atomic<bool> closingRequested_{false};
    bool outputSent_ = false;
    DWORD openTime_ = 0;
    unsigned nextTriggerNumber_ = 1;
    std::atomic<bool> threadsRunning_{false};
    std::atomic<int> liveThreads_{0};
    // The comm events handed over and not yet taken, gathered: none is lost to the next.
    std::atomic<DWORD> pendingMask_{0};
};

// Codes for the triggers' errors.
const int SioNoMoreTriggers = -5001;
const int SioBadTriggerHandle = -5003;
