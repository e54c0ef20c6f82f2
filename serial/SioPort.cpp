#include "SioPort.h"

#include "Application.h"
#include "Barrier.h"
#include "SioExcept.h"
#include "SioSelCom.h"
#include "SioWin32.h"
#include "SysUtils.h"

#include <algorithm>

namespace {

const char* const WindowClass = "awComWindow";

void RegisterWindowClass(WNDPROC proc)
{
    static const bool registered = [proc] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = WindowClass;
        return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    if (!registered) throw EOutOfResources("Cannot register the port's window class");
}

unsigned Share(unsigned size, double part)
{
    return static_cast<unsigned>(Round(size * part));
}

// How often a close that waits for the threads is looked at again.
const UINT CloseTimer = 1;
const UINT CloseRetryMs = 10;

// Dispatchers whose port went while their threads still ran, with the window that ends them.
struct TOrphan {
    HWND Window;
    std::unique_ptr<TSioBaseDispatcher> Dispatcher;
};
std::vector<TOrphan>& Orphans()
{
    static std::vector<TOrphan> list;
    return list;
}

bool Busy(const TSioBaseDispatcher& d)
{
    return d.Delivering() || d.ThreadsRunning();
}

// True when the window is an orphan's: it is ended once the threads are over.
bool EndOrphan(HWND window)
{
    auto& list = Orphans();
    const auto it = std::find_if(list.begin(), list.end(), [window](const TOrphan& o) { return o.Window == window; });
    if (it == list.end()) return false;
    if (Busy(*it->Dispatcher)) {
        SetTimer(window, CloseTimer, CloseRetryMs, nullptr);
        return true;
    }
    KillTimer(window, CloseTimer);
    std::unique_ptr<TSioBaseDispatcher> dispatcher = std::move(it->Dispatcher);
    list.erase(it);
    dispatcher.reset();
    DestroyWindow(window);
    return true;
}

// Sets the force flag for a scope and gives it back its value after.
class TForce {
public:
    explicit TForce(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
    ~TForce() { flag_ = was_; }
    TForce(const TForce&) = delete;
    TForce& operator=(const TForce&) = delete;

private:
    bool& flag_;
    bool was_;
};

}  // namespace

void SioTriggerEventAssigned(TSioCustomComPort& port)
{
    port.TriggerEventsChanged();
}

TSioCustomComPort::TSioCustomComPort(TComponent* owner) : TSioBaseComponent(owner) {}

TSioCustomComPort::~TSioCustomComPort()
{
    *alive_ = false;
    SetDestroying();
    if (open_ || dispatcher_) {
        try {
            ClosePort();
        } catch (...) {
        }
    }
    clients_.clear();
}

int TSioCustomComPort::Check(int code)
{
    return SioCheck(this, code);
}

TSioCustomComPort* TSioCustomComPort::FindPort(TComponent* owner)
{
    if (!owner) return nullptr;
    for (int i = 0; i < owner->ComponentCount(); ++i) {
        if (auto* port = dynamic_cast<TSioCustomComPort*>(owner->Components(i))) return port;
        if (auto* found = FindPort(owner->Components(i))) return found;
    }
    return nullptr;
}

TSioBaseDispatcher* TSioCustomComPort::CreateDispatcher()
{
    if (DispatcherFactory) return DispatcherFactory(*this);
    if (deviceLayer_ != dlWin32) Check(-3001);
    // The line's handle serves one open: the dispatcher owns it from here on.
    if (TapiMode == tmOn) return new TSioTAPI32Dispatcher(this, std::exchange(tapiLine_, nullptr));
    return new TSioWin32Dispatcher(this);
}

TSioBaseDispatcher* TSioCustomComPort::Dispatcher()
{
    if (!dispatcher_ && AutoOpen && state_ == psClosed) SetOpen(true);
    if (!dispatcher_ || state_ != psOpen) Check(-2007);
    return state_ == psOpen ? dispatcher_.get() : nullptr;  // none while loading, where codes pass
}

TSioBaseDispatcher* TSioCustomComPort::OperationDispatcher()
{
    return state_ == psTransitional ? nullptr : Dispatcher();
}

void TSioCustomComPort::SetOpen(bool open)
{
    if (open == open_ && !(open && state_ == psTransitional)) return;
    if (ComponentState() & csLoading) {
        open_ = open;
        openRequested_ = open;
        return;
    }
    if (!open) {
        openRequested_ = false;
        if (state_ == psOpen) ClosePort();
        open_ = false;
        return;
    }
    if (state_ == psTransitional) {
        openRequested_ = true;  // carried out when the close completes
        return;
    }
    OpenPort();
}

void TSioCustomComPort::OpenPort()
{
    if (comNumber_ == 0) {
        if (!PromptForPort) Check(-2011);
        const int chosen = PickComPort();
        if (chosen <= 0) Check(-2011);
        comNumber_ = chosen;
    }
    state_ = psTransitional;
    try {
        dispatcher_.reset(CreateDispatcher());
        dispatcher_->DeviceName = "COM" + std::to_string(comNumber_);
        dispatcher_->SetThreadBoost(threadBoost_);  // the threads start with it
        RegisterWindowClass(&TSioCustomComPort::WindowProc);
        window_ = CreateWindowExA(0, WindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                                  nullptr);
        if (!window_) throw EOutOfResources("Cannot create the port's window");
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        unsigned flags = 0;
        if (dtr_) flags |= SioOpenDTR;
        if (rts_) flags |= SioOpenRTS;
        if (hwFlow_ & hwfUseDTR) flags |= SioOpenDTRAuto;
        if (hwFlow_ & hwfUseRTS) flags |= SioOpenRTSAuto;
        // A TAPI line comes opened: it has no device name.
        const std::string name = TapiMode == tmOn ? "" : "\\\\.\\COM" + std::to_string(comNumber_);
        int r = dispatcher_->OpenDevice(name, baud_, parity_, dataBits_, stopBits_, inSize_, outSize_, flags);
        if (r == -5) r = -2008;
        else if (r == -3 || r == -2) r = -2001;
        Check(r);
        dispatcher_->AttachWindowHandler(window_);
        if (storeFilled_) dispatcher_->RestoreTriggers(store_);
        state_ = psOpen;
        ApplySettings();
    } catch (...) {
        if (dispatcher_) {
            dispatcher_->CloseDevice();
            dispatcher_.reset();
        }
        if (window_) DestroyWindow(window_);
        window_ = nullptr;
        state_ = psClosed;
        open_ = false;
        throw;
    }
    open_ = true;
    Notify(snOpened);
    if (OnPortOpen) OnPortOpen(this);
}

void TSioCustomComPort::ApplySettings()
{
    TForce force(force_);
    const TTraceLogState trace = tracing_, log = logging_;
    tracing_ = logging_ = tlOff;
    SetTracing(trace);
    SetLogging(log);
    SetHWFlowOptions(hwFlow_);
    SetSWFlowOptions(swFlow_);
    SetXOnChar(xOn_);
    SetXOffChar(xOff_);
    SetBufferFull(bufferFull_);
    SetBufferResume(bufferResume_);
    SetDTR(dtr_);
    SetRTS(rts_);
    SetUseEventWord(useEventWord_);
    SetRS485Mode(rs485_);
    // The last line option, UseMSRShadow, changes nothing on a port.
    TriggerEventsChanged();
}

void TSioCustomComPort::ApplyHardwareFlow()
{
    if (state_ != psOpen) return;
    // RTS is the flow's now: RS-485 gives it up, in the dispatcher too, before the bits go.
    if (hwFlow_ & (hwfUseRTS | hwfRequireCTS)) SetRS485Mode(false);
    Check(dispatcher_->ApplyHardwareFlow(bufferFull_, bufferResume_, hwFlow_));
}

void TSioCustomComPort::ApplyXonXoffFlow()
{
    if (state_ != psOpen) return;
    if (swFlow_ == swfNone) {
        Check(dispatcher_->StopXonXoffFlow());
        return;
    }
    const unsigned options = swFlow_ == swfReceive ? 2 : swFlow_ == swfTransmit ? 1 : 3;
    Check(dispatcher_->ApplyXonXoffFlow(bufferFull_, bufferResume_, options));
    // The flow takes the usual characters; the port's own stay on the line.
    if (xOn_ != 17 || xOff_ != 19) Check(dispatcher_->ApplyFlowChars(xOn_, xOff_));
}

void TSioCustomComPort::ReapplyFlow()
{
    if (hwFlow_) ApplyHardwareFlow();
    ApplyXonXoffFlow();
}

void TSioCustomComPort::ClosePort()
{
    // A dump that fails (a read-only folder) must not keep the port half closed: it is
    // reported once the close has completed.
    closeError_.clear();
    for (bool trace : {true, false}) {
        try {
            ApplyTraceLog(trace, tlDump);
        } catch (const std::exception& e) {
            if (closeError_.empty()) closeError_ = e.what();
            if (dispatcher_) dispatcher_->WithGeneralLock([&] { trace ? dispatcher_->Trace.Stop() : dispatcher_->Log.Stop(); });
            (trace ? tracing_ : logging_) = tlOff;
        }
    }
    state_ = psTransitional;
    Notify(snClosing);
    if (dispatcher_) {
        dispatcher_->SaveTriggers(store_);
        storeFilled_ = true;
        dispatcher_->CloseDevice();
        if (Busy(*dispatcher_) && window_) {
            // Closed from inside a delivery: the window ends the close once the threads are gone.
            if (Destroying()) {
                LeaveToWindow();
                return;
            }
            PostMessageA(window_, SioClosePendingMessage, 0, static_cast<LPARAM>(dispatcher_->Handle()) << 16);
            SioPumpMessage();
            if (state_ == psTransitional) return;
        } else {
            FinishClose();
        }
    } else {
        FinishClose();
    }
}

void TSioCustomComPort::LeaveToWindow()
{
    // Its handler is only marked gone while the delivery runs; the threads end on their own.
    dispatcher_->DetachWindowHandler(window_);
    dispatcher_->ReleaseOwner();
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    Orphans().push_back({window_, std::move(dispatcher_)});
    // The window's thread looks after it: a message from here, a timer there.
    PostMessageA(window_, SioClosePendingMessage, 0, 0);
    window_ = nullptr;
    state_ = psClosed;
    open_ = false;
}

void TSioCustomComPort::CloseLater()
{
    SetTimer(window_, CloseTimer, CloseRetryMs, nullptr);
}

void TSioCustomComPort::FinishClose()
{
    if (dispatcher_) {
        if (window_) dispatcher_->DetachWindowHandler(window_);
        // Freed while messages are served: a thread may still wait in a synchronised call.
        while (dispatcher_->ThreadsRunning()) {
            SioPumpOrWait();
        }
        dispatcher_.reset();
    }
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    state_ = psClosed;
    open_ = false;
    Notify(snClosed);
    if (OnPortClose && !Destroying()) OnPortClose(this);
    const std::string error = std::exchange(closeError_, std::string());
    if (openRequested_ && !Destroying()) {
        openRequested_ = false;
        OpenPort();
    }
    if (!error.empty()) throw EInOutError(error, 0);
}

void TSioCustomComPort::Notify(TSioNotifyKind kind)
{
    // While the port is being freed its clients may be gone already; they hear of its end
    // through the component's free notification instead.
    if (Destroying()) return;
    const UINT messages[] = {SioPortOpenMessage, SioPortCloseMessage, SioClosePendingMessage};
    const std::vector<TClient> clients = clients_;
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        if ((kind == snClosing || kind == snInputFlushed) && !it->AllEvents) continue;
        if (it->Window) {
            if (kind != snInputFlushed) SendMessageA(it->Window, messages[kind], 0, 0);
        } else if (it->Callback) {
            it->Callback(this, kind);
        }
    }
}

void TSioCustomComPort::RegisterNotification(const void* key, TSioNotifyCallback callback, bool allEvents)
{
    clients_.push_back({key, nullptr, std::move(callback), allEvents});
}

void TSioCustomComPort::RegisterNotification(HWND window, bool allEvents)
{
    clients_.push_back({nullptr, window, nullptr, allEvents});
}

void TSioCustomComPort::DeregisterNotification(const void* key)
{
    if (Destroying()) return;
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [key](auto& c) { return !c.Window && c.Key == key; }),
                   clients_.end());
}

void TSioCustomComPort::DeregisterNotification(HWND window)
{
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [window](auto& c) { return c.Window == window; }),
                   clients_.end());
}

void TSioCustomComPort::SendString(const std::string& s)
{
    if (TSioBaseDispatcher* d = OperationDispatcher()) Check(d->QueueOutput(s.data(), static_cast<unsigned>(s.size())));
}

void TSioCustomComPort::FlushInput()
{
    if (TSioBaseDispatcher* d = OperationDispatcher()) {
        Check(d->DiscardInput());
        // Input a client took before the flush goes too: half a packet would join the next one.
        Notify(snInputFlushed);
    }
}

void TSioCustomComPort::FlushOutput()
{
    if (TSioBaseDispatcher* d = OperationDispatcher()) Check(d->DiscardOutput());
}

int TSioCustomComPort::AddTimerTrigger()
{
    TSioBaseDispatcher* d = OperationDispatcher();
    return d ? Check(d->NewTimerTrigger()) : 0;
}

void TSioCustomComPort::SetTimerTrigger(unsigned handle, int ticks, bool activate)
{
    if (TSioBaseDispatcher* d = OperationDispatcher()) Check(d->ArmTimerTrigger(handle, ticks, activate));
}

void TSioCustomComPort::YieldDevice()
{
    if (TSioBaseDispatcher* d = OperationDispatcher()) d->YieldCpu();
}

int TSioCustomComPort::LineError()
{
    TSioBaseDispatcher* d = OperationDispatcher();
    return d ? d->TakeLineError() : 0;
}

bool TSioCustomComPort::LineBreak()
{
    TSioBaseDispatcher* d = OperationDispatcher();
    return d && d->TakeBreak();
}

void TSioCustomComPort::TraceLogOperation(bool trace, TTraceLogState state)
{
    if (OperationDispatcher()) ApplyTraceLog(trace, state);
}

void TSioCustomComPort::StartTraceLogOperation(bool trace)
{
    TSioBaseDispatcher* d = OperationDispatcher();
    if (!d) return;
    int result = 0;
    d->WithGeneralLock([&] { result = StartTraceLog(*d, trace); });
    Check(result);
}

void TSioCustomComPort::StartTrace()
{
    StartTraceLogOperation(true);
}

void TSioCustomComPort::StartLog()
{
    StartTraceLogOperation(false);
}

void TSioCustomComPort::ResumeTrace()
{
    if (OperationDispatcher() && tracing_ == tlPause) ApplyTraceLog(true, tlOn);
}

void TSioCustomComPort::ResumeLog()
{
    if (OperationDispatcher() && logging_ == tlPause) ApplyTraceLog(false, tlOn);
}

void TSioCustomComPort::SetComNumber(int n)
{
    if (n == comNumber_) return;
    if (state_ != psOpen) {
        comNumber_ = n;
        return;
    }
    const TTraceLogState trace = tracing_, log = logging_;
    SetOpen(false);
    comNumber_ = n;
    tracing_ = trace == tlPause ? tlOn : trace;
    logging_ = log == tlPause ? tlOn : log;
    SetOpen(true);
}

// An open port takes a changed line setting at once.
void TSioCustomComPort::ApplyLine()
{
    if (state_ == psOpen) Check(dispatcher_->ApplyLineSettings(baud_, parity_, dataBits_, stopBits_));
}

void TSioCustomComPort::SetBaud(unsigned baud)
{
    if (baud == baud_ && !force_) return;
    baud_ = baud;
    ApplyLine();
}

void TSioCustomComPort::SetParity(TParity parity)
{
    if (parity == parity_ && !force_) return;
    parity_ = parity;
    ApplyLine();
}

void TSioCustomComPort::SetDataBits(int bits)
{
    if (bits == dataBits_ && !force_) return;
    dataBits_ = bits;
    ApplyLine();
}

void TSioCustomComPort::SetStopBits(int bits)
{
    if (bits == stopBits_ && !force_) return;
    stopBits_ = bits;
    ApplyLine();
}

void TSioCustomComPort::SetInSize(unsigned size)
{
    if (size == inSize_) return;
    inSize_ = size;
    if (state_ == psOpen) dispatcher_->SetQueueSizes(inSize_, outSize_);  // the driver's result does not matter
}

void TSioCustomComPort::SetOutSize(unsigned size)
{
    if (size == outSize_) return;
    outSize_ = size;
    if (state_ == psOpen) dispatcher_->SetQueueSizes(inSize_, outSize_);
}

void TSioCustomComPort::SetHWFlowOptions(THWFlowOptions options)
{
    if (options == hwFlow_ && !force_) return;
    if (options) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = Share(inSize_, 0.9);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_) bufferResume_ = Share(inSize_, 0.1);
    }
    // Without options the device is told only when the last one goes: its bits are cleared.
    const bool lastGoes = options == 0 && hwFlow_ != 0;
    hwFlow_ = options;
    if (hwFlow_ || lastGoes) ApplyHardwareFlow();
}

void TSioCustomComPort::SetSWFlowOptions(TSWFlowOptions options)
{
    if (options == swFlow_ && !force_) return;
    if (options != swfNone) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = Share(inSize_, 0.75);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_) bufferResume_ = Share(inSize_, 0.25);
    }
    swFlow_ = options;
    ApplyXonXoffFlow();
}

void TSioCustomComPort::SetBufferFull(unsigned n)
{
    if (n == bufferFull_ && !force_) return;
    bufferFull_ = n > inSize_ ? Share(n, 0.9) : n;
    TForce force(force_);
    ReapplyFlow();
}

void TSioCustomComPort::SetBufferResume(unsigned n)
{
    if (n == bufferResume_ && !force_) return;
    bufferResume_ = n > bufferFull_ ? Share(bufferFull_, 0.1) : n;
    TForce force(force_);
    ReapplyFlow();
}

void TSioCustomComPort::SetXOnChar(char c)
{
    if (c == xOn_ && !force_) return;
    xOn_ = c;
    if (state_ == psOpen) Check(dispatcher_->ApplyFlowChars(xOn_, xOff_));
}

void TSioCustomComPort::SetXOffChar(char c)
{
    if (c == xOff_ && !force_) return;
    xOff_ = c;
    if (state_ == psOpen) Check(dispatcher_->ApplyFlowChars(xOn_, xOff_));
}

void TSioCustomComPort::SetDTR(bool on)
{
    if (on == dtr_ && !force_) return;
    if (state_ != psOpen) {
        dtr_ = on;
        return;
    }
    // A line under automatic flow control keeps its old value.
    if (Check(dispatcher_->DriveDTR(on)) == 0) dtr_ = on;
}

void TSioCustomComPort::SetRTS(bool on)
{
    if (on == rts_ && !force_) return;
    if (state_ != psOpen) {
        rts_ = on;
        return;
    }
    if (Check(dispatcher_->DriveRTS(on)) == 0) rts_ = on;
}

void TSioCustomComPort::SetDeviceLayer(TDeviceLayer layer)
{
    if (state_ == psClosed && layer == dlWin32) deviceLayer_ = layer;
}

void TSioCustomComPort::SetUseEventWord(bool on)
{
    if (on == useEventWord_ && !force_) return;
    useEventWord_ = on;
    if (state_ == psOpen) dispatcher_->SetOptionFlag(SioOptionEventWord, on);
}

void TSioCustomComPort::SetThreadBoost(int boost)
{
    threadBoost_ = static_cast<uint8_t>(boost);
    if (state_ == psOpen) dispatcher_->SetThreadBoost(threadBoost_);
}

void TSioCustomComPort::SetAvailThreshold(unsigned n)
{
    availThreshold_ = static_cast<uint16_t>(n);
    if (state_ == psOpen) dispatcher_->SetAvailThreshold(availThreshold_);
}

void TSioCustomComPort::SetRS485Mode(bool on)
{
    rs485_ = on;
    if (on) {
        hwFlow_ &= ~(hwfUseRTS | hwfRequireCTS);
        rts_ = false;
    }
    if (state_ == psOpen) dispatcher_->SetRS485(on);
}

void TSioCustomComPort::SetTraceSize(unsigned size)
{
    traceSize_ = std::min(size, 4000000u);
    if (state_ != psOpen || (tracing_ != tlOn && tracing_ != tlPause)) return;
    const TTraceLogState state = tracing_;
    ApplyTraceLog(true, tlOff);
    ApplyTraceLog(true, state);  // a paused trace ends up off
}

void TSioCustomComPort::SetLogSize(unsigned size)
{
    logSize_ = std::min(size, 16000000u);
    if (state_ != psOpen || (logging_ != tlOn && logging_ != tlPause)) return;
    const TTraceLogState state = logging_;
    ApplyTraceLog(false, tlOff);
    ApplyTraceLog(false, state);
}

void TSioCustomComPort::SetTracing(TTraceLogState state)
{
    ApplyTraceLog(true, state);
}

void TSioCustomComPort::SetLogging(TTraceLogState state)
{
    ApplyTraceLog(false, state);
}

int TSioCustomComPort::StartTraceLog(TSioBaseDispatcher& d, bool trace)
{
    // With the general lock held.
    int result;
    if (trace) {
        d.Trace.TraceHex = TraceHex;
        d.Trace.TraceAllHex = TraceAllHex;
        result = d.Trace.Start(traceSize_);
    } else {
        d.Log.LogHex = LogHex;
        d.Log.LogAllHex = LogAllHex;
        result = d.Log.Start(logSize_, std::max(inSize_, outSize_));
    }
    if (result == 0) (trace ? tracing_ : logging_) = tlOn;
    return result;
}

void TSioCustomComPort::ApplyTraceLog(bool trace, TTraceLogState wanted)
{
    TTraceLogState& current = trace ? tracing_ : logging_;
    if (state_ != psOpen || !dispatcher_) {
        current = wanted > tlOn ? tlOff : wanted;
        return;
    }
    const bool active = current == tlOn || current == tlPause;
    int result = 0;
    TSioBaseDispatcher& d = *dispatcher_;
    d.WithGeneralLock([&] {
        switch (wanted) {
        case tlOff:
            if (active) trace ? d.Trace.Stop() : d.Log.Stop();
            current = tlOff;
            break;
        case tlOn:
            if (current == tlPause) {
                trace ? d.Trace.Resume() : d.Log.Resume();
                current = tlOn;
            } else if (!active) {
                result = StartTraceLog(d, trace);
            }
            break;
        case tlDump:
        case tlAppend:
            if (active) {
                SYSTEMTIME now;
                GetLocalTime(&now);
                if (trace) {
                    d.Trace.Resume();
                    d.Trace.TraceHex = TraceHex;
                    d.Trace.TraceAllHex = TraceAllHex;
                    result = d.Trace.Dump(TraceName, wanted == tlAppend);
                } else {
                    d.Log.Resume();
                    d.Log.LogHex = LogHex;
                    d.Log.LogAllHex = LogAllHex;
                    result = d.Log.Dump(LogName, wanted == tlAppend, d.DeviceName, now);
                }
            }
            // A failed dump may keep its record (the log does), resumed: the state says so.
            current = !active ? tlOff : trace ? d.Trace.State() : d.Log.State();
            break;
        case tlClear:
            if (active) trace ? d.Trace.Clear() : d.Log.Clear();
            break;
        case tlPause:
            if (current == tlOn) {
                trace ? d.Trace.Pause() : d.Log.Pause();
                current = tlPause;
            }
            break;
        }
    });
    Check(result);
}

bool TSioCustomComPort::AnyTriggerEvent() const
{
    return OnTrigger || OnTriggerAvail || OnTriggerData || OnTriggerTimer || OnTriggerStatus || OnTriggerModemStatus ||
           OnTriggerLineError || OnTriggerOutbuffFree || OnTriggerOutbuffUsed || OnTriggerOutSent;
}

void TSioCustomComPort::TriggerEventsChanged()
{
    if (!dispatcher_ || state_ != psOpen) return;
    const int mode = AnyTriggerEvent() ? 1 : 2;
    // The dispatch thread reads the flags under the general lock.
    dispatcher_->WithGeneralLock([&] { dispatcher_->UpdateHandlerFlags(mode); });
}

void TSioCustomComPort::Loaded()
{
    TSioBaseComponent::Loaded();
    if (!openRequested_) return;
    openRequested_ = false;
    open_ = false;
    try {
        SetOpen(true);
    } catch (...) {
        open_ = false;
        Application->HandleException(this);
    }
}

void TSioCustomComPort::Assign(TPersistent* source)
{
    auto* other = dynamic_cast<TSioCustomComPort*>(source);
    if (!other) return TSioBaseComponent::Assign(source);
    if (other == this) return;
    // The settings below belong to a port that is not open.
    if (state_ == psOpen) SetOpen(false);
    clients_ = other->clients_;
    if (other->dispatcher_ && other->state_ == psOpen) {
        other->dispatcher_->SaveTriggers(store_);
        storeFilled_ = true;
    }
    deviceLayer_ = other->deviceLayer_;
    comNumber_ = other->comNumber_;
    baud_ = other->baud_;
    parity_ = other->parity_;
    dataBits_ = other->dataBits_;
    stopBits_ = other->stopBits_;
    inSize_ = other->inSize_;
    outSize_ = other->outSize_;
    AutoOpen = other->AutoOpen;
    PromptForPort = other->PromptForPort;
    rs485_ = other->rs485_;
    threadBoost_ = other->threadBoost_;
    dtr_ = other->dtr_;
    rts_ = other->rts_;
    bufferFull_ = other->bufferFull_;
    bufferResume_ = other->bufferResume_;
    hwFlow_ = other->hwFlow_;
    swFlow_ = other->swFlow_;
    xOn_ = other->xOn_;
    xOff_ = other->xOff_;
    // Stored as on a port that is not open.
    tracing_ = other->tracing_ > tlOn ? tlOff : other->tracing_;
    logging_ = other->logging_ > tlOn ? tlOff : other->logging_;
    traceSize_ = other->traceSize_;
    logSize_ = other->logSize_;
    TraceName = other->TraceName;
    LogName = other->LogName;
    TraceHex = other->TraceHex;
    LogHex = other->LogHex;
    TraceAllHex = other->TraceAllHex;
    LogAllHex = other->LogAllHex;
    availThreshold_ = other->availThreshold_;
    OnTrigger = other->OnTrigger;
    OnTriggerAvail = other->OnTriggerAvail;
    OnTriggerData = other->OnTriggerData;
    OnTriggerTimer = other->OnTriggerTimer;
    OnTriggerStatus = other->OnTriggerStatus;
    OnPortOpen = other->OnPortOpen;
    OnPortClose = other->OnPortClose;
    TapiMode = other->TapiMode;
    open_ = false;
    openRequested_ = false;
}

LRESULT CALLBACK TSioCustomComPort::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const bool closing = message == SioClosePendingMessage || (message == WM_TIMER && wParam == CloseTimer);
    if (!closing && (message < SioAvailMessage || message > SioClosePendingMessage))
        return DefWindowProcA(window, message, wParam, lParam);
    return Guarded<LRESULT>(0, [&]() -> LRESULT {
        if (closing && EndOrphan(window)) return 0;
        TSioCustomComPort* port = nullptr;
        if (message == WM_TIMER) {
            KillTimer(window, CloseTimer);
            port = reinterpret_cast<TSioCustomComPort*>(GetWindowLongPtrA(window, GWLP_USERDATA));
            if (!port || !port->dispatcher_) return 0;
            message = SioClosePendingMessage;
        } else {
            TSioBaseDispatcher* d = TSioBaseDispatcher::FromHandle(static_cast<int>((lParam >> 16) & 0xFFFF));
            port = d ? dynamic_cast<TSioCustomComPort*>(d->Owner()) : nullptr;
        }
        if (!port || port->window_ != window) return 0;
        const std::shared_ptr<bool> alive = port->alive_;
        try {
            port->HandleWindowMessage(message, wParam, lParam);
        } catch (...) {
            if (InMainThread()) Application->HandleException(*alive ? port : nullptr);
        }
        return 0;
    });
}

bool TSioCustomComPort::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == SioClosePendingMessage) {
        if (dispatcher_ && Busy(*dispatcher_)) {
            CloseLater();
            return true;
        }
        FinishClose();
        return true;
    }
    if (Destroying()) return true;
    const unsigned handle = static_cast<unsigned>(wParam);
    const unsigned data = message == SioAvailMessage ? handle : static_cast<unsigned>(lParam & 0xFFFF);
    // A handler may free the port: nothing of it is touched after that.
    const std::shared_ptr<bool> alive = alive_;
    if (OnTrigger) OnTrigger(this, message, handle, data);
    if (!*alive) return true;
    switch (message) {
    case SioAvailMessage:
        if (OnTriggerAvail) OnTriggerAvail(this, handle);
        break;
    case SioDataMessage:
        if (OnTriggerData) OnTriggerData(this, handle);
        break;
    case SioTimerMessage:
        if (OnTriggerTimer) OnTriggerTimer(this, handle);
        break;
    case SioStatusMessage:
        if (OnTriggerStatus) OnTriggerStatus(this, handle);
        if (!*alive) break;
        switch (handle & 7) {
        case skModem:
            if (OnTriggerModemStatus) OnTriggerModemStatus(this);
            break;
        case skLineError: {
            const bool lineBreak = LineBreak();  // read and cleared before the error code
            const int error = LineError();
            if (OnTriggerLineError) OnTriggerLineError(this, error, lineBreak);
            break;
        }
        case skOutFree:
            if (OnTriggerOutbuffFree) OnTriggerOutbuffFree(this);
            break;
        case skOutUsed:
            if (OnTriggerOutbuffUsed) OnTriggerOutbuffUsed(this);
            break;
        case skOutSent:
            if (OnTriggerOutSent) OnTriggerOutSent(this);
            break;
        }
        break;
    }
    return true;
}
