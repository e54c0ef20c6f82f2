// The serial port as a component: its settings, opening through a dispatcher, sending and
// flushing, the trigger events delivered on the GUI thread by a hidden window, the
// notifications to clients, and the closing path.
#pragma once

#include "Classes.h"
#include "SioTraceLog.h"
#include "SioUser.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
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
    bool UseEventWord = true;
    int CommNotificationLevel = 10;
    bool RS485Mode() const { return rs485_; }
    void SetRS485Mode(bool on);
    bool UseMSRShadow = false;

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
    int AddTimerTrigger();
    void SetTimerTrigger(unsigned handle, int ticks, bool activate);
    void StartTrace() { SetTracing(tlOn); }
    void DumpTrace() { SetTracing(tlDump); }
    void StartLog() { SetLogging(tlOn); }
    void DumpLog() { SetLogging(tlDump); }

    // Clients told of the opening and closing: a callback (identified by `key`) or a window.
    void RegisterNotification(const void* key, TSioNotifyCallback callback, bool allEvents);
    void RegisterNotification(HWND window, bool allEvents);
    void DeregisterNotification(const void* key);
    void DeregisterNotification(HWND window);

    TSioDispatcherFactory DispatcherFactory;

    // Call after assigning trigger events on an open port: the port's handler follows them.
    void TriggerEventsChanged();

    TSioTriggerEvent OnTrigger;
    TSioCountEvent OnTriggerAvail;
    TSioHandleEvent OnTriggerData;
    TSioHandleEvent OnTriggerTimer;
    TSioHandleEvent OnTriggerStatus;
    TNotifyEvent OnTriggerModemStatus;
    TSioLineErrorEvent OnTriggerLineError;
    TNotifyEvent OnTriggerOutbuffFree;
    TNotifyEvent OnTriggerOutbuffUsed;
    TNotifyEvent OnTriggerOutSent;
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
