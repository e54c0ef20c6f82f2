// The serial port as a component: its settings, opening through a dispatcher, sending and
// flushing, the trigger events delivered on the GUI thread by a hidden window, the
// notifications to clients, and the closing path.
#pragma once

#include "Classes.h"
#include "SioTraceLog.h"
#include "SioUser.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#ifndef TAVRIN_TPARITY
#define TAVRIN_TPARITY
enum TParity { pNone, pOdd, pEven, pMark, pSpace };
#endif

class TSioBaseComponent : public TComponent {
public:
    using TComponent::TComponent;
    std::string Version() const { return "v1.00"; }
};

enum TDeviceLayer { dlWin32 };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };
enum TSioPortState { psClosed, psTransitional, psOpen };
using THWFlowOptions = unsigned;
const THWFlowOptions hwfUseDTR = 1, hwfUseRTS = 2, hwfRequireDSR = 4, hwfRequireCTS = 8;
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };

// What a client is told: the port opened, closed, or is starting to close; clients of all
// events also hear that the input was flushed (no window message carries that).
enum TSioNotifyKind { snOpened, snClosed, snClosing, snInputFlushed };

class TSioCustomComPort;
using TSioTriggerEvent = std::function<void(TObject* sender, UINT message, unsigned handle, unsigned data)>;
using TSioCountEvent = std::function<void(TObject* sender, unsigned count)>;
using TSioHandleEvent = std::function<void(TObject* sender, unsigned handle)>;
using TSioLineErrorEvent = std::function<void(TObject* sender, int error, bool lineBreak)>;
using TSioNotifyCallback = std::function<void(TSioCustomComPort* port, TSioNotifyKind kind)>;
using TSioDispatcherFactory = std::function<TSioBaseDispatcher*(TSioCustomComPort& port)>;

// Tells the port that one of its trigger events was assigned.
void SioTriggerEventAssigned(TSioCustomComPort& port);

// A trigger event of the port, assigned and called like the std::function it holds. Every
// assignment tells the port, so that its handler follows the ten events on an open port.
template <class Event>
class TSioTriggerProperty {
public:
    explicit TSioTriggerProperty(TSioCustomComPort& port) : port_(port) {}
    TSioTriggerProperty(const TSioTriggerProperty&) = delete;
    // Takes the other event's handler, not its port.
    TSioTriggerProperty& operator=(const TSioTriggerProperty& other) { return *this = other.event_; }
    template <class F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, TSioTriggerProperty> && std::is_assignable_v<Event&, F &&>)
    TSioTriggerProperty& operator=(F&& handler)
    {
        event_ = std::forward<F>(handler);
        SioTriggerEventAssigned(port_);
        return *this;
    }

    explicit operator bool() const { return static_cast<bool>(event_); }
    operator const Event&() const { return event_; }
    const Event& Get() const { return event_; }
    // Calls a copy: a handler may assign its own event while it runs.
    template <class... A>
    void operator()(A&&... args) const
    {
        const Event call = event_;
        call(std::forward<A>(args)...);
    }

private:
    TSioCustomComPort& port_;
    Event event_;
};

class TSioCustomComPort : public TSioBaseComponent {
public:
    explicit TSioCustomComPort(TComponent* owner);
    ~TSioCustomComPort() override;

    int ComNumber() const { return comNumber_; }
    void SetComNumber(int n);
    unsigned Baud() const { return baud_; }
    void SetBaud(unsigned baud);
    TParity Parity() const { return parity_; }
    void SetParity(TParity parity);
    int DataBits() const { return dataBits_; }
    void SetDataBits(int bits);
    int StopBits() const { return stopBits_; }
    void SetStopBits(int bits);
    unsigned InSize() const { return inSize_; }
    void SetInSize(unsigned size);
    unsigned OutSize() const { return outSize_; }
    void SetOutSize(unsigned size);
    THWFlowOptions HWFlowOptions() const { return hwFlow_; }
    void SetHWFlowOptions(THWFlowOptions options);
    TSWFlowOptions SWFlowOptions() const { return swFlow_; }
    void SetSWFlowOptions(TSWFlowOptions options);
    unsigned BufferFull() const { return bufferFull_; }
    void SetBufferFull(unsigned n);
    unsigned BufferResume() const { return bufferResume_; }
    void SetBufferResume(unsigned n);
    char XOnChar() const { return xOn_; }
    void SetXOnChar(char c);
    char XOffChar() const { return xOff_; }
    void SetXOffChar(char c);
    bool DTR() const { return dtr_; }
    void SetDTR(bool on);
    bool RTS() const { return rts_; }
    void SetRTS(bool on);
    bool PromptForPort = true;
    bool AutoOpen = true;
    TDeviceLayer DeviceLayer() const { return deviceLayer_; }
    void SetDeviceLayer(TDeviceLayer layer);
    TTapiMode TapiMode = tmAuto;
    TTraceLogState Tracing() const { return tracing_; }
    void SetTracing(TTraceLogState state);
    TTraceLogState Logging() const { return logging_; }
    void SetLogging(TTraceLogState state);
    unsigned TraceSize() const { return traceSize_; }
    void SetTraceSize(unsigned size);
    unsigned LogSize() const { return logSize_; }
    void SetLogSize(unsigned size);
    std::string TraceName = "SERIAL.TRC";
    std::string LogName = "SERIAL.LOG";
    bool TraceHex = true, LogHex = true, TraceAllHex = false, LogAllHex = false;
    bool UseEventWord() const { return useEventWord_; }
    void SetUseEventWord(bool on);
    int CommNotificationLevel = 10;
    bool RS485Mode() const { return rs485_; }
    void SetRS485Mode(bool on);
    // Has no effect on the port, open or not.
    bool UseMSRShadow = false;
    // A device handle a modem-line service opened (overlapped), used by the next open in
    // tmOn; the port's dispatcher takes it over then, and closes it when the port closes.
    HANDLE TapiLineHandle() const { return tapiLine_; }
    void SetTapiLineHandle(HANDLE line) { tapiLine_ = line; }
    // Not published: the dispatch threads' priority boost and the avail threshold.
    int ThreadBoost() const { return threadBoost_; }
    void SetThreadBoost(int boost);
    unsigned AvailThreshold() const { return availThreshold_; }
    void SetAvailThreshold(unsigned n);

    bool Open() const { return open_; }
    void SetOpen(bool open);
    TSioPortState State() const { return state_; }

    // Queues the bytes for sending; nothing while the port is opening or closing.
    void SendString(const std::string& s);
    void FlushInput();
    void FlushOutput();

    // The dispatcher, opening the port first when AutoOpen is set; ECommNotOpen without one.
    TSioBaseDispatcher* Dispatcher();
    TSioBaseDispatcher* CurrentDispatcher() const { return dispatcher_.get(); }

    // The operations below reach the dispatcher through Dispatcher() and do nothing while
    // the port is opening or closing.
    void StartTrace();
    void DumpTrace() { TraceLogOperation(true, tlDump); }
    void AppendTrace() { TraceLogOperation(true, tlAppend); }
    void ClearTrace() { TraceLogOperation(true, tlClear); }
    void StopTrace() { TraceLogOperation(true, tlOff); }
    void PauseTrace() { TraceLogOperation(true, tlPause); }
    void ResumeTrace();
    void StartLog();
    void DumpLog() { TraceLogOperation(false, tlDump); }
    void AppendLog() { TraceLogOperation(false, tlAppend); }
    void ClearLog() { TraceLogOperation(false, tlClear); }
    void StopLog() { TraceLogOperation(false, tlOff); }
    void PauseLog() { TraceLogOperation(false, tlPause); }
    void ResumeLog();
    // The new timer trigger's handle (0 while opening or closing).
    int AddTimerTrigger();
    void SetTimerTrigger(unsigned handle, int ticks, bool activate);
    void YieldDevice();
    // The line error code, and whether a break came; both are cleared by reading.
    int LineError();
    bool LineBreak();

    // Clients told of the opening and closing: a callback (identified by `key`) or a window.
    void RegisterNotification(const void* key, TSioNotifyCallback callback, bool allEvents);
    void RegisterNotification(HWND window, bool allEvents);
    void DeregisterNotification(const void* key);
    void DeregisterNotification(HWND window);

    TSioDispatcherFactory DispatcherFactory;

    // Installs the port's handler on an open port when any trigger event is assigned, else
    // removes it. Each assignment of an event calls it; calling it again does no harm.
    void TriggerEventsChanged();

    TSioTriggerProperty<TSioTriggerEvent> OnTrigger{*this};
    TSioTriggerProperty<TSioCountEvent> OnTriggerAvail{*this};
    TSioTriggerProperty<TSioHandleEvent> OnTriggerData{*this};
    TSioTriggerProperty<TSioHandleEvent> OnTriggerTimer{*this};
    TSioTriggerProperty<TSioHandleEvent> OnTriggerStatus{*this};
    TSioTriggerProperty<TNotifyEvent> OnTriggerModemStatus{*this};
    TSioTriggerProperty<TSioLineErrorEvent> OnTriggerLineError{*this};
    TSioTriggerProperty<TNotifyEvent> OnTriggerOutbuffFree{*this};
    TSioTriggerProperty<TNotifyEvent> OnTriggerOutbuffUsed{*this};
    TSioTriggerProperty<TNotifyEvent> OnTriggerOutSent{*this};
    TNotifyEvent OnPortOpen;
    TNotifyEvent OnPortClose;

    void Assign(TPersistent* source) override;

    // The first port component among those `owner` owns, depth first.
    static TSioCustomComPort* FindPort(TComponent* owner);

protected:
    void Loaded() override;
    virtual TSioBaseDispatcher* CreateDispatcher();

private:
    void OpenPort();
    void ClosePort();
    void FinishClose();
    void ApplyLine();
    void Notify(TSioNotifyKind kind);
    void ApplySettings();
    void ApplyTraceLog(bool trace, TTraceLogState state);
    int StartTraceLog(TSioBaseDispatcher& d, bool trace);
    void TraceLogOperation(bool trace, TTraceLogState state);
    void StartTraceLogOperation(bool trace);
    // The dispatcher for an operation: none while the port opens or closes.
    TSioBaseDispatcher* OperationDispatcher();
    void ApplyHardwareFlow();
    void ApplyXonXoffFlow();
    void ReapplyFlow();
    int Check(int code);
    bool AnyTriggerEvent() const;
    bool HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The close waits for the threads: checked again on a timer, never by a message that
    // posts itself (that would keep the GUI thread busy for as long).
    void CloseLater();
    // The port goes while its threads still run (freed from inside a delivery): the window
    // and the dispatcher finish without it.
    void LeaveToWindow();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    int comNumber_ = 0;
    unsigned baud_ = 19200;
    TParity parity_ = pNone;
    int dataBits_ = 8, stopBits_ = 1;
    unsigned inSize_ = 1u << 20, outSize_ = 1u << 20;
    THWFlowOptions hwFlow_ = 0;
    TSWFlowOptions swFlow_ = swfNone;
    unsigned bufferFull_ = 0, bufferResume_ = 0;
    char xOn_ = 17, xOff_ = 19;
    bool dtr_ = true, rts_ = true;
    TDeviceLayer deviceLayer_ = dlWin32;
    TTraceLogState tracing_ = tlOff, logging_ = tlOff;
    unsigned traceSize_ = 10000, logSize_ = 10000;
    bool rs485_ = false;
    bool useEventWord_ = true;
    HANDLE tapiLine_ = nullptr;
    uint8_t threadBoost_ = 0;
    uint16_t availThreshold_ = 0;
    bool open_ = false;
    bool openRequested_ = false;
    bool force_ = false;
    TSioPortState state_ = psClosed;

    struct TClient {
        const void* Key;
        HWND Window;
        TSioNotifyCallback Callback;
        bool AllEvents;
    };
    std::vector<TClient> clients_;
    TSioTriggerStore store_;
    bool storeFilled_ = false;
    std::unique_ptr<TSioBaseDispatcher> dispatcher_;
    HWND window_ = nullptr;
    std::string closeError_;
    // False once the port is gone: a handler may free it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class TSioComPort : public TSioCustomComPort {
public:
    using TSioCustomComPort::TSioCustomComPort;
};
