#include "SioUser.h"

#include "Application.h"
#include "Barrier.h"
#include "Classes.h"
#include "SysUtils.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

namespace {

using TLock = TSioLock;

// The library-wide list of dispatchers; a dispatcher's handle is its index.
std::mutex& ListLock()
{
    static std::mutex lock;
    return lock;
}
std::vector<TSioBaseDispatcher*>& Dispatchers()
{
    static std::vector<TSioBaseDispatcher*> list;
    return list;
}

// The DCB's flag bits as one number, in the layout the flow and line rules speak of.
DWORD Flags(const DCB& dcb)
{
    DWORD flags;
    std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD), sizeof flags);
    return flags;
}
void SetFlags(DCB& dcb, DWORD flags)
{
    std::memcpy(reinterpret_cast<char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD), &flags, sizeof flags);
}
const DWORD fBinaryBit = 0x1, fParityBit = 0x2, fOutxCtsBit = 0x4, fOutxDsrBit = 0x8, fDtrBits = 0x30,
            fDtrEnable = 0x10, fDtrHandshake = 0x20, fDsrSensitivityBit = 0x40, fTXContinueBit = 0x80, fOutXBit = 0x100,
            fInXBit = 0x200, fNullBit = 0x800, fRtsBits = 0x3000, fRtsEnable = 0x1000, fRtsHandshake = 0x2000,
            fRtsToggle = 0x3000;

bool SameLine(const DCB& a, const DCB& b)
{
    return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.Parity == b.Parity && a.StopBits == b.StopBits &&
           Flags(a) == Flags(b) && a.XonLim == b.XonLim && a.XoffLim == b.XoffLim && a.XonChar == b.XonChar &&
           a.XoffChar == b.XoffChar;
}

}  // namespace

bool SioMatchByte(TSioDataTrigger& t, uint8_t byte)
{
    if (t.Length == 0) return false;
    const auto expected = [&](unsigned i) {
        const auto c = static_cast<uint8_t>(t.Text[i]);
        return t.IgnoreCase ? static_cast<uint8_t>(std::toupper(c)) : c;
    };
    const uint8_t c = t.IgnoreCase ? static_cast<uint8_t>(std::toupper(byte)) : byte;
    const uint8_t first = expected(0);
    // One slot per attempt under way. A match ends every attempt: the next occurrence is
    // looked for after it ("aa" once in "aaa").
    bool started = false;
    for (unsigned slot = 0; slot < t.Length && slot < t.State.size(); ++slot) {
        int32_t& s = t.State[slot];
        if (s == 0 && (started || c != first)) continue;
        if (c == expected(s)) {
            if (s == 0) started = true;
            if (++s == static_cast<int32_t>(t.Length)) {
                t.State.fill(0);
                return true;
            }
        } else {
            s = c == first ? 1 : 0;
            if (s) started = true;
        }
    }
    return false;
}

TSioBaseDispatcher::TSioBaseDispatcher(TComponent* owner) : owner_(owner)
{
    {
        std::lock_guard<std::mutex> guard(ListLock());
        auto& list = Dispatchers();
        auto empty = std::find(list.begin(), list.end(), nullptr);
        if (empty != list.end()) {
            *empty = this;
            handle_ = static_cast<int>(empty - list.begin());
        } else {
            list.push_back(this);
            handle_ = static_cast<int>(list.size() - 1);
        }
    }
    InitializeCriticalSection(&general_);
    InitializeCriticalSection(&output_);
    InitializeCriticalSection(&input_);
}

TSioBaseDispatcher::~TSioBaseDispatcher()
{
    // A descendant closes its device in its own destructor; here only what is left.
    if (threadsRunning_) {
        killThreads_ = true;
        while (liveThreads_ > 0)
            SioPumpOrWait();
    }
    delete comThread_;
    delete dispThread_;
    delete outThread_;
    {
        std::lock_guard<std::mutex> guard(ListLock());
        auto& list = Dispatchers();
        if (handle_ >= 0 && handle_ < static_cast<int>(list.size())) list[handle_] = nullptr;
        while (!list.empty() && !list.back()) list.pop_back();
    }
    for (HANDLE* e : {&commEventPending_, &dispatchDone_, &dispatcherGeneral_, &outputReady_, &writeDone_, &flushRequest_})
        if (*e) CloseHandle(*e);
    DeleteCriticalSection(&general_);
    DeleteCriticalSection(&output_);
    DeleteCriticalSection(&input_);
}

TSioBaseDispatcher* TSioBaseDispatcher::FromHandle(int handle)
{
    std::lock_guard<std::mutex> guard(ListLock());
    auto& list = Dispatchers();
    return handle >= 0 && handle < static_cast<int>(list.size()) ? list[handle] : nullptr;
}

void TSioBaseDispatcher::WithGeneralLock(const std::function<void()>& f)
{
    TLock lock(general_);
    f();
}

void TSioBaseDispatcher::LogEvent(int type, int subtype, unsigned data, const void* extra, int length)
{
    TLock lock(general_);
    if (Log.Active()) Log.Add(type, subtype, static_cast<int>(Elapsed()), data, extra, length);
}

int TSioBaseDispatcher::OpenDevice(const std::string& name, unsigned baud, int parity, int dataBits, int stopBits,
                                   unsigned inSize, unsigned outSize, unsigned flags)
{
    outputFull_ = false;
    input_buffer_.clear();
    output_buffer_.clear();
    delivering_ = false;
    deletionDeferred_ = false;
    closingRequested_ = false;
    for (HANDLE* e : {&commEventPending_, &dispatchDone_, &dispatcherGeneral_, &outputReady_, &flushRequest_})
        if (!*e) *e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!writeDone_) writeDone_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    int r = OpenDeviceHandle(name);
    if (r < 0) return r == -8 ? -8 : -static_cast<int>(GetLastError() ? GetLastError() : 1);
    open_ = true;
    inSize_ = inSize;
    outSize_ = outSize;
    const auto fail = [this](int code) {
        CloseDevice();
        return code;
    };
    if (!SetQueueSizes(inSize, outSize)) return fail(-static_cast<int>(GetLastError() ? GetLastError() : 1));
    input_buffer_.assign(SioInputRingSize, 0);
    output_buffer_.assign(std::max(1u, outSize), 0);
    inWrite_ = inRead_ = 0;
    inputFull_ = false;
    outHead_ = outTail_ = 0;
    getCount_ = maxGetCount_ = 0;
    rs485_ = false;
    ReadDeviceState(dcb_);

    dtrAuto_ = (flags & SioOpenDTRAuto) != 0;
    if (!dtrAuto_) dtr_ = (flags & SioOpenDTR) != 0;
    rtsAuto_ = (flags & SioOpenRTSAuto) != 0;
    if (!rtsAuto_) rts_ = (flags & SioOpenRTS) != 0;

    scanPosition_ = 0;
    unscanned_ = 0;
    notifyDue_ = false;
    pendingMask_ = 0;
    {
        TLock lock(general_);
        timers_.clear();
        dataTriggers_.clear();
        statusTriggers_.clear();
        nextTriggerNumber_ = 1;
        availThreshold_ = 0;
        statusHit_ = false;
    }
    ReadModemStatus(240);
    lastBaud_ = 115200;

    r = ApplyLineSettings(baud, parity, dataBits, stopBits);
    if (r < 0) return fail(r);
    RefreshStatus();
    Trace.Stop();
    Log.Stop();
    openTime_ = SioClock();
    StartThreads();
    return 0;
}

void TSioBaseDispatcher::CloseDevice()
{
    if (!open_) return;
    if (!output_buffer_.empty()) EndOutput();
    if (!input_buffer_.empty()) DiscardInput();
    CloseDeviceHandle();
    open_ = false;
    if (delivering_) closingRequested_ = true;  // the dispatch thread frees the buffers as it ends
    else FreeBuffers();
}

void TSioBaseDispatcher::FreeBuffers()
{
    if (threadsRunning_) StopThreads();
    TLock out(output_);
    TLock in(input_);
    output_buffer_.clear();
    output_buffer_.shrink_to_fit();
    input_buffer_.clear();
    input_buffer_.shrink_to_fit();
}

int TSioBaseDispatcher::QueueOutputBytes(const uint8_t* bytes, unsigned count)
{
    // With the output lock held: into the ring at head, in two pieces when it wraps.
    const unsigned size = static_cast<unsigned>(output_buffer_.size());
    const unsigned first = std::min(count, size - outHead_);
    std::memcpy(&output_buffer_[outHead_], bytes, first);
    std::memcpy(&output_buffer_[0], bytes + first, count - first);
    outHead_ = (outHead_ + count) % size;
    if (outputReady_) SetEvent(outputReady_);
    return static_cast<int>(count);
}

int TSioBaseDispatcher::QueueOutput(const void* bytes, unsigned count)
{
    {
        TLock lock(output_);
        RefreshStatus();
        const unsigned size = static_cast<unsigned>(output_buffer_.size());
        const unsigned used = outputFull_ ? size : (outHead_ + size - outTail_) % size;
        const unsigned free = size - used;
        if (size == 0 || free < count) return -3006;
        if (count == 0) return 0;
        const bool fills = free == count;
        if (QueueOutputBytes(static_cast<const uint8_t*>(bytes), count) <= 0) {
            RefreshStatus();
            return -3004;
        }
        if (fills) outputFull_ = true;
        outputSent_ = true;
    }
    TLock lock(general_);
    if (Log.Active())
        Log.Add(ltDispatch, lsWriteCom, static_cast<int>(Elapsed()), count, bytes, static_cast<int>(count));
    if (Trace.Active())
        for (unsigned i = 0; i < count; ++i) Trace.Add('T', static_cast<const uint8_t*>(bytes)[i]);
    return 0;
}

unsigned TSioBaseDispatcher::Available() const
{
    const unsigned raw = inputFull_ ? SioInputRingSize : (inWrite_ - inRead_) & (SioInputRingSize - 1);
    return inAvailMessage_ ? raw - std::min(raw, getCount_) : raw;
}

int TSioBaseDispatcher::TakeInput(void* buffer, unsigned count)
{
    auto* out = static_cast<uint8_t*>(buffer);
    {
        TLock lock(input_);
        if (input_buffer_.empty() || Available() < count) return -3007;
        const uint32_t from = (inRead_ + (inAvailMessage_ ? getCount_ : 0)) & (SioInputRingSize - 1);
        const unsigned first = std::min(count, SioInputRingSize - from);
        std::memcpy(out, &input_buffer_[from], first);
        std::memcpy(out + first, &input_buffer_[0], count - first);
        if (inAvailMessage_) {
            getCount_ += count;  // the read position moves once every handler had the message
        } else {
            inRead_ = (inRead_ + count) & (SioInputRingSize - 1);
            if (count) inputFull_ = false;
        }
    }
    TLock lock(general_);
    if (Trace.Active())
        for (unsigned i = 0; i < count; ++i) Trace.Add('R', out[i]);
    return static_cast<int>(count);
}

unsigned TSioBaseDispatcher::InputCount()
{
    RefreshStatus();
    TLock lock(input_);
    return input_buffer_.empty() ? 0 : Available();
}

unsigned TSioBaseDispatcher::OutputUsedCount()
{
    RefreshStatus();
    return OutputUsed();
}

unsigned TSioBaseDispatcher::OutputFreeCount()
{
    const unsigned used = OutputUsedCount();
    TLock lock(output_);
    return static_cast<unsigned>(output_buffer_.size()) - used;
}

int TSioBaseDispatcher::DiscardInput()
{
    const int r = Flush(true);
    {
        TLock lock(input_);
        if (inAvailMessage_) getCount_ = Available() + getCount_;  // all of it counts as taken
        else inRead_ = inWrite_;
        inputFull_ = false;
        // Bytes gone unread are not scanned for triggers either.
        scanPosition_ = inWrite_;
        unscanned_ = 0;
        notifyDue_ = false;
    }
    TLock lock(general_);
    for (auto& t : dataTriggers_) t.State.fill(0);
    return r;
}

int TSioBaseDispatcher::DiscardOutput()
{
    return Flush(false);
}

int TSioBaseDispatcher::WriteState(DCB& dcb)
{
    DWORD flags = Flags(dcb);
    if (!dtrAuto_) flags = (flags & ~fDtrBits) | (dtr_ ? fDtrEnable : 0);
    if (!rtsAuto_) flags = (flags & ~fRtsBits) | (rts_ ? fRtsEnable : 0);
    SetFlags(dcb, flags);
    const int r = WriteDeviceState(dcb);
    if (r < 0) return r;
    dcb_ = dcb;
    lastBaud_ = dcb.BaudRate;
    DriveDTR(dtr_);
    if (!rs485_) DriveRTS(rts_);
    return 0;
}

int TSioBaseDispatcher::ApplyLineSettings(unsigned baud, int parity, int dataBits, int stopBits)
{
    DCB current = {};
    DCB wanted = {};
    {
        TLock lock(general_);
        if (ReadDeviceState(current) < 0) return -1;
        wanted = current;
        DWORD flags = Flags(wanted);
        flags = (flags | fBinaryBit | fTXContinueBit) & ~(fParityBit | fDsrSensitivityBit | fNullBit);
        SetFlags(wanted, flags);
        if (stopBits == 0) stopBits = 1;
        else if (stopBits > 2 && stopBits != 3) stopBits = 2;
        if (baud != 0) wanted.BaudRate = baud;
        if (parity != 5) wanted.Parity = static_cast<BYTE>(parity);
        if (dataBits != 9) wanted.ByteSize = static_cast<BYTE>(dataBits);
        if (wanted.ByteSize == 5) wanted.StopBits = ONE5STOPBITS;
        else if (stopBits == 1) wanted.StopBits = ONESTOPBIT;
        else if (stopBits == 2) wanted.StopBits = TWOSTOPBITS;
        if (SameLine(wanted, current)) return 0;
    }
    // Let what is queued go out at the old settings, then one character time more.
    for (int i = 0; i < 5000 && OutputUsedCount() > 0; ++i) Sleep(2);
    unsigned rate = current.BaudRate == 65279 ? 115200 : current.BaudRate;
    if (rate != 0) {
        const unsigned bits = current.ByteSize + (current.Parity != NOPARITY ? 1 : 0) + 3 -
                              (current.StopBits == ONESTOPBIT ? 1 : 0);
        unsigned t = 10000000 / rate * bits * 18;
        if (t < 10000) t *= 2;
        Sleep((t + 9999) / 10000);
    }
    TLock lock(general_);
    return WriteState(wanted);
}

int TSioBaseDispatcher::ApplyHardwareFlow(unsigned bufferFull, unsigned bufferResume, unsigned options)
{
    if (bufferFull < bufferResume || bufferFull > inSize_) return -1002;
    TLock lock(general_);
    DCB dcb = dcb_;
    ReadDeviceState(dcb);
    DWORD flags = Flags(dcb) & ~(fDtrBits | fRtsBits | fOutxCtsBit | fOutxDsrBit);
    dtrAuto_ = rtsAuto_ = false;
    if (options & 1) {
        flags |= fDtrHandshake;
        dtrAuto_ = true;
    } else if (dtr_) {
        flags |= fDtrEnable;
    }
    if (options & 2) {
        flags |= fRtsHandshake;
        rtsAuto_ = true;
    } else if (rts_) {
        flags |= fRtsEnable;
    }
    if (rs485_) {
        flags = (flags & ~fRtsBits) | fRtsToggle;
        rtsAuto_ = true;
    }
    dcb.XoffLim = static_cast<WORD>(inSize_ - bufferFull);
    dcb.XonLim = static_cast<WORD>(bufferResume);
    if (options & 4) flags |= fOutxDsrBit;
    if (options & 8) flags |= fOutxCtsBit;
    SetFlags(dcb, flags);
    return WriteState(dcb);
}

int TSioBaseDispatcher::ApplyXonXoffFlow(unsigned bufferFull, unsigned bufferResume, unsigned options)
{
    if (bufferFull < bufferResume || bufferFull > inSize_) return -1002;
    TLock lock(general_);
    DCB dcb = dcb_;
    ReadDeviceState(dcb);
    // A mode given up loses its bit.
    DWORD flags = Flags(dcb) & ~(fInXBit | fOutXBit);
    if (options & 2) {
        flags |= fInXBit;
        dcb.XoffLim = static_cast<WORD>(inSize_ - bufferFull);
        dcb.XonLim = static_cast<WORD>(bufferResume);
    }
    if (options & 1) flags |= fOutXBit;
    if (options & 3) {
        dcb.XonChar = 17;
        dcb.XoffChar = 19;
    }
    SetFlags(dcb, flags);
    return WriteState(dcb);
}

int TSioBaseDispatcher::StopXonXoffFlow()
{
    TLock lock(general_);
    DCB dcb = dcb_;
    ReadDeviceState(dcb);
    SetFlags(dcb, Flags(dcb) & ~(fInXBit | fOutXBit));
    return WriteState(dcb);
}

int TSioBaseDispatcher::ApplyFlowChars(char on, char off)
{
    TLock lock(general_);
    DCB dcb = dcb_;
    ReadDeviceState(dcb);
    dcb.XonChar = on;
    dcb.XoffChar = off;
    return WriteState(dcb);
}

int TSioBaseDispatcher::DriveDTR(bool state)
{
    if (dtrAuto_) return 1;
    dtr_ = state;
    const int r = EscapeFunction(state ? SETDTR : CLRDTR);
    return r < 0 ? -1002 : r;
}

int TSioBaseDispatcher::DriveRTS(bool state)
{
    if (rtsAuto_) return 1;
    rts_ = state;
    const int r = EscapeFunction(state ? SETRTS : CLRRTS);
    return r < 0 ? -1002 : r;
}

uint8_t TSioBaseDispatcher::ReadModemStatus(uint8_t keepMask)
{
    TLock lock(general_);
    DWORD lines = 0;
    if (ReadModemLines(lines) < 0) lines = modemStatus_ & 0xF0;
    const uint8_t high = static_cast<uint8_t>(lines & 0xF0);
    // Every read keeps a change as its delta bit: a change that a poll read first would
    // otherwise never show when its comm event is handled.
    modemStatus_ |= static_cast<uint8_t>(((modemStatus_ & 0xF0) ^ high) >> 4);
    modemStatus_ = static_cast<uint8_t>(high | (modemStatus_ & 0x0F));
    if (ringSeen_.exchange(false)) modemStatus_ |= SioTrailingRI;
    const uint8_t status = modemStatus_;
    modemStatus_ &= keepMask;
    return status;
}

int TSioBaseDispatcher::TakeLineError()
{
    TLock lock(general_);
    const unsigned errors = lineErrors_;
    int code = 0;
    if (errors & SioErrorOverflow) code = 1;
    else if (errors & SioErrorOverrun) code = 2;
    else if (errors & SioErrorParity) code = 3;
    else if (errors & SioErrorFraming) code = 4;
    else if (errors & SioErrorBreak) code = 9;
    if (code) lineErrors_ &= ~0xFu;
    return code;
}

bool TSioBaseDispatcher::TakeBreak()
{
    TLock lock(general_);
    const bool seen = (lineErrors_ & SioErrorBreak) != 0;
    lineErrors_ &= ~SioErrorBreak;
    return seen;
}

unsigned TSioBaseDispatcher::NextTriggerHandle()
{
    if (nextTriggerNumber_ < 4096) return 8 * nextTriggerNumber_++;
    for (unsigned h = 8; h <= 4096; h += 8) {
        bool used = std::any_of(timers_.begin(), timers_.end(), [h](auto& t) { return t.Handle == h; }) ||
                    std::any_of(statusTriggers_.begin(), statusTriggers_.end(), [h](auto& t) { return (t.Handle & ~7u) == h; }) ||
                    std::any_of(dataTriggers_.begin(), dataTriggers_.end(), [h](auto& t) { return t.Handle == h; });
        if (!used) return h;
    }
    return 0;
}

int TSioBaseDispatcher::NewTimerTrigger()
{
    unsigned handle;
    {
        TLock lock(general_);
        handle = NextTriggerHandle();
        if (!handle) return SioNoMoreTriggers;
        timers_.push_back({handle, {}, 0, -1, false});
    }
    LogEvent(ltTrigAllc, lsTimerTrigger, handle);
    return static_cast<int>(handle);
}

int TSioBaseDispatcher::NewDataTrigger(const std::string& text, bool ignoreCase)
{
    if (text.empty() || text.size() > SioMaxTriggerLength) return -5002;
    TLock lock(general_);
    const unsigned handle = NextTriggerHandle();
    if (!handle) return SioNoMoreTriggers;
    TSioDataTrigger t{handle, static_cast<unsigned>(text.size()), {}, false, ignoreCase, text};
    t.State.fill(0);
    dataTriggers_.push_back(t);
    return static_cast<int>(handle);
}

int TSioBaseDispatcher::NewStatusTrigger(TSioStatusKind kind, uint16_t value)
{
    TLock lock(general_);
    const unsigned handle = NextTriggerHandle();
    if (!handle) return SioNoMoreTriggers;
    statusTriggers_.push_back({handle | kind, static_cast<unsigned>(kind), value, true, false});
    return static_cast<int>(handle | kind);
}

int TSioBaseDispatcher::ArmTimerTrigger(unsigned handle, int32_t ticks, bool activate)
{
    TLock lock(general_);
    auto t = std::find_if(timers_.begin(), timers_.end(), [handle](auto& x) { return x.Handle == handle; });
    if (t == timers_.end()) return SioBadTriggerHandle;
    if (activate) {
        if (ticks != 0) t->Ticks = ticks;
        SioStartTimer(t->Timer, t->Ticks);
    }
    t->Active = activate;
    if (Log.Active()) {
        if (activate) Log.Add(ltTrDatChg, lsTimerTrigger, static_cast<int>(Elapsed()), handle, &t->Ticks, 4);
        else Log.Add(ltTrDatChg, lsTimerTrigger, static_cast<int>(Elapsed()), handle, "Deactivated", 11);
    }
    return 0;
}

int TSioBaseDispatcher::DropTrigger(unsigned handle)
{
    if (handle == 1) {
        SetAvailThreshold(0);
        return 0;
    }
    TLock lock(general_);
    const int time = static_cast<int>(Elapsed());
    auto t = std::find_if(timers_.begin(), timers_.end(), [handle](auto& x) { return x.Handle == handle; });
    if (t != timers_.end()) {
        timers_.erase(t);
        if (Log.Active()) Log.Add(ltTrigDisp, lsTimerTrigger, time, handle, nullptr, 0);
        return 0;
    }
    auto s = std::find_if(statusTriggers_.begin(), statusTriggers_.end(), [handle](auto& x) { return x.Handle == handle; });
    if (s != statusTriggers_.end()) {
        const uint8_t kind = static_cast<uint8_t>(s->Kind);
        statusTriggers_.erase(s);
        if (Log.Active()) Log.Add(ltTrigDisp, lsStatusTrigger, time, handle, &kind, 1);
        return 0;
    }
    auto d = std::find_if(dataTriggers_.begin(), dataTriggers_.end(), [handle](auto& x) { return x.Handle == handle; });
    if (d != dataTriggers_.end()) {
        dataTriggers_.erase(d);
        if (Log.Active()) Log.Add(ltTrigDisp, lsDataTrigger, time, handle, nullptr, 0);
        return 0;
    }
    return SioBadTriggerHandle;
}

void TSioBaseDispatcher::SetAvailThreshold(unsigned n)
{
    {
        TLock lock(general_);
        availThreshold_ = n;
    }
    LogEvent(ltTrDatChg, lsAvailTrigger, n);
}

void TSioBaseDispatcher::UpdateHandlerFlags(int mode)
{
    if (mode == 1) portHandler_ = true;
    if (mode == 2) portHandler_ = false;
    serviceNeeded_ = windowHandlers_.size() > 1 || !procHandlers_.empty() || !methodHandlers_.empty() || portHandler_;
}

void TSioBaseDispatcher::AttachWindowHandler(HWND window)
{
    {
        TLock lock(general_);
        windowHandlers_.push_back({window, false});
        serviceNeeded_ = true;
        UpdateHandlerFlags(0);
    }
    LogEvent(ltTrgHdAlc, lsWindow, static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window)));
}

void TSioBaseDispatcher::AttachProcHandler(TSioTriggerProc proc)
{
    TLock lock(general_);
    procHandlers_.push_back({proc, false});
    UpdateHandlerFlags(0);
}

void TSioBaseDispatcher::AttachMethodHandler(const void* key, TSioTriggerMethod method, bool synchronize)
{
    {
        TLock lock(general_);
        methodHandlers_.push_back({key, std::move(method), false, synchronize});
        UpdateHandlerFlags(0);
    }
    LogEvent(ltTrgHdAlc, lsMethod, 0);
}

// Removes a handler, or only marks it during a delivery (it is removed when that ends).
template <class List, class Match>
static void DetachFrom(List& list, Match match, bool delivering, bool& deferred)
{
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (!match(*it) || it->Deleted) continue;
        if (delivering) {
            it->Deleted = true;
            deferred = true;
        } else {
            list.erase(it);
        }
        return;
    }
}

void TSioBaseDispatcher::DetachWindowHandler(HWND window)
{
    {
        TLock lock(general_);
        DetachFrom(windowHandlers_, [window](auto& h) { return h.Window == window; }, delivering_, deletionDeferred_);
        UpdateHandlerFlags(0);
    }
    LogEvent(ltTrgHdDsp, lsWindow, static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window)));
}

void TSioBaseDispatcher::DetachProcHandler(TSioTriggerProc proc)
{
    TLock lock(general_);
    DetachFrom(procHandlers_, [proc](auto& h) { return h.Proc == proc; }, delivering_, deletionDeferred_);
    UpdateHandlerFlags(0);
}

void TSioBaseDispatcher::DetachMethodHandler(const void* key)
{
    {
        TLock lock(general_);
        DetachFrom(methodHandlers_, [key](auto& h) { return h.Key == key; }, delivering_, deletionDeferred_);
        UpdateHandlerFlags(0);
    }
    LogEvent(ltTrgHdDsp, lsMethod, 0);
}

void TSioBaseDispatcher::DeferredRemovals()
{
    const auto drop = [](auto& list) {
        list.erase(std::remove_if(list.begin(), list.end(), [](auto& h) { return h.Deleted; }), list.end());
    };
    drop(windowHandlers_);
    drop(procHandlers_);
    drop(methodHandlers_);
    deletionDeferred_ = false;
    UpdateHandlerFlags(0);
}

void TSioBaseDispatcher::SaveTriggers(TSioTriggerStore& store)
{
    TLock lock(general_);
    store.AvailThreshold = availThreshold_;
    store.Timers = timers_;
    store.Data = dataTriggers_;
    store.Status = statusTriggers_;
}

void TSioBaseDispatcher::RestoreTriggers(const TSioTriggerStore& store)
{
    TLock lock(general_);
    availThreshold_ = store.AvailThreshold;
    timers_ = store.Timers;
    dataTriggers_ = store.Data;
    statusTriggers_ = store.Status;
    // New handles go on after the restored ones, so none is given twice.
    unsigned highest = 0;
    for (const auto& t : timers_) highest = std::max(highest, t.Handle);
    for (const auto& t : dataTriggers_) highest = std::max(highest, t.Handle);
    for (const auto& t : statusTriggers_) highest = std::max(highest, t.Handle & ~7u);
    nextTriggerNumber_ = std::max(nextTriggerNumber_, highest / 8 + 1);
}

void TSioBaseDispatcher::SetRS485(bool on)
{
    rs485_ = on;
    if (outThread_) outThread_->SetPriority(static_cast<TThreadPriority>(std::min(threadBoost_ + (on ? 4 : 3), 6)));
}

void TSioBaseDispatcher::SetThreadBoost(int boost)
{
    threadBoost_ = boost;
    const auto priority = [](int p) { return static_cast<TThreadPriority>(std::clamp(p, 0, 6)); };
    if (comThread_) comThread_->SetPriority(priority(boost + 3));
    if (dispThread_) dispThread_->SetPriority(priority(boost + 3));
    if (outThread_) outThread_->SetPriority(priority(boost + (rs485_ ? 3 : 4)));
}

bool TSioBaseDispatcher::DrainDevice()
{
    TLock lock(input_);
    if (inputFull_) return true;
    if (input_buffer_.empty()) return false;
    // Everything the driver holds, read after read, into the free space: one offer then
    // covers it, where a read per pass would cost a pass (and a hand-over) per read. The
    // ring's room bounds it.
    bool any = false;
    unsigned moved = 0;
    for (;;) {
        RefreshStatus();
        const unsigned waiting = commStatus_.InQueue;
        const unsigned used = (inWrite_ - inRead_) & (SioInputRingSize - 1);
        const unsigned room = SioInputRingSize - used;  // the ring is not full here
        const unsigned contiguous = std::min(room, SioInputRingSize - inWrite_);
        // A flood's next bytes are usually on their way: waited for briefly, so that the
        // offer (a hand-over to the GUI thread) covers more of them.
        const bool flood = waiting == 0 && moved >= SioFloodBytes && moved < SioFloodLimit;
        const unsigned want = flood ? contiguous : std::min(waiting, contiguous);
        if (want == 0) break;
        int got = flood ? ReadDeviceWithin(&input_buffer_[inWrite_], want, SioFloodWaitMs)
                        : ReadDevice(&input_buffer_[inWrite_], want);
        if (got < 0) {
            ReportError(got);
            got = 0;
        }
        if (got == 0) break;
        any = true;
        LogEvent(ltDispatch, lsReadCom, static_cast<unsigned>(got), &input_buffer_[inWrite_], got);
        inWrite_ = (inWrite_ + static_cast<unsigned>(got)) & (SioInputRingSize - 1);
        unscanned_ += static_cast<unsigned>(got);
        moved += static_cast<unsigned>(got);
        if (inWrite_ == inRead_) {
            inputFull_ = true;
            break;
        }
    }
    return any;
}

void TSioBaseDispatcher::ClearHits()
{
    TLock lock(general_);
    for (auto& t : statusTriggers_) t.Hit = false;
    statusHit_ = false;
}

bool TSioBaseDispatcher::AnyActiveStatusTrigger(unsigned kind)
{
    TLock lock(general_);
    return std::any_of(statusTriggers_.begin(), statusTriggers_.end(),
                       [kind](const TSioStatusTrigger& t) { return t.Active && !t.Hit && (!kind || t.Kind == kind); });
}

unsigned TSioBaseDispatcher::OutputUsed()
{
    TLock lock(output_);
    const unsigned size = static_cast<unsigned>(output_buffer_.size());
    if (size == 0) return 0;
    return outputFull_ ? size : (outHead_ + size - outTail_) % size;
}

bool TSioBaseDispatcher::CheckStatusTriggers()
{
    // Nothing to check costs nothing: no device call on a pass without status triggers.
    if (!AnyActiveStatusTrigger(0)) return false;
    unsigned handle = 0;
    uint16_t passed = 0;
    // The output counts are the ring's own; the line errors come with each status refresh.
    const unsigned used = OutputUsed();
    const unsigned size = static_cast<unsigned>(output_buffer_.size());
    {
        TLock lock(general_);
        for (auto& t : statusTriggers_) {
            if (!t.Active || t.Hit) continue;
            bool fires = false;
            unsigned value = t.Value;
            switch (t.Kind) {
            case skModem: fires = (((t.Value & 0xFF) ^ modemStatus_) & (t.Value >> 8)) != 0; break;
            case skLineError:
                fires = (t.Value & lineErrors_) != 0;
                value = lineErrors_;
                break;
            case skOutFree: fires = size - used >= t.Value; value = size - used; break;
            case skOutUsed: fires = used <= t.Value; value = used; break;
            case skOutSent:
                fires = outputSent_;
                if (fires) outputSent_ = false;
                break;
            }
            if (!fires) continue;
            t.Active = false;
            t.Hit = true;
            statusHit_ = true;
            handle = t.Handle;
            // Packed into the message's 16-bit value: a count of 65536 or more stays there.
            passed = static_cast<uint16_t>(std::min(value, 0xFFFFu));
            if (Log.Active()) Log.Add(ltTrigger, lsStatus, static_cast<int>(Elapsed()), handle, nullptr, 0);
            break;
        }
    }
    if (!handle) return false;
    DeliverTrigger(SioStatusMessage, handle, passed);
    return true;
}

bool TSioBaseDispatcher::CheckTimerTriggers()
{
    unsigned handle = 0;
    {
        TLock lock(general_);
        for (auto& t : timers_) {
            if (!t.Active || !SioTimerExpired(t.Timer)) continue;
            t.Active = false;
            handle = t.Handle;
            if (Log.Active()) Log.Add(ltTrigger, lsTimer, static_cast<int>(Elapsed()), handle, nullptr, 0);
            break;
        }
    }
    if (!handle) return false;
    DeliverTrigger(SioTimerMessage, handle, 0);
    return true;
}

bool TSioBaseDispatcher::ScanDataTriggers()
{
    auto& matched = matched_;  // handle, length; its room is reused
    matched.clear();
    unsigned availCount = 0;
    bool deliverAvail = false;
    {
        TLock in(input_);
        TLock lock(general_);
        if (input_buffer_.empty()) return false;
        const bool anyTrigger =
            std::any_of(dataTriggers_.begin(), dataTriggers_.end(), [](const TSioDataTrigger& t) { return t.Length; });
        if (!anyTrigger) {
            // Nothing to match: the scan only keeps up with the writes.
            if (unscanned_) notifyDue_ = true;
            scanPosition_ = inWrite_;
            unscanned_ = 0;
        }
        while (unscanned_ > 0) {
            const uint8_t byte = input_buffer_[scanPosition_];
            unsigned longest = 0;
            for (auto& t : dataTriggers_) {
                if (t.Length == 0) continue;
                if (!t.Matched) t.Matched = SioMatchByte(t, byte);
                if (t.Matched) longest = std::max(longest, t.Length);
            }
            scanPosition_ = (scanPosition_ + 1) & (SioInputRingSize - 1);
            --unscanned_;
            notifyDue_ = true;
            if (longest == 0) continue;
            // The bytes available up to and including this one.
            const unsigned upToHere = Available() - unscanned_;
            if (availThreshold_ && upToHere - longest >= availThreshold_) {
                deliverAvail = true;
                availCount = upToHere - longest;
                notifyDue_ = false;
            }
            for (auto it = dataTriggers_.rbegin(); it != dataTriggers_.rend(); ++it)
                if (it->Matched) {
                    matched.push_back({it->Handle, it->Length});
                    it->Matched = false;
                }
            break;
        }
        if (matched.empty() && availThreshold_ && notifyDue_) {
            const unsigned available = Available();
            if (available >= availThreshold_) {
                deliverAvail = true;
                availCount = available;
                notifyDue_ = false;
            }
        }
    }
    bool result = false;
    if (deliverAvail) {
        LogEvent(ltTrigger, lsAvail, availCount);
        result = DeliverTrigger(SioAvailMessage, availCount, 0);
    }
    for (const auto& m : matched) {
        LogEvent(ltTrigger, lsData, m.first);
        result = DeliverTrigger(SioDataMessage, m.first, static_cast<uint16_t>(m.second));
    }
    // Another pass while a trigger fired here and its handlers went on.
    return !matched.empty() && result;
}

void TSioBaseDispatcher::ReportException() noexcept
{
    const std::exception_ptr failure = std::current_exception();
    TComponent* const sender = owner_;
    try {
        const auto report = [&] {
            try {
                std::rethrow_exception(failure);
            } catch (...) {
                Application->HandleException(sender);
            }
        };
        if (InMainThread()) report();
        else TThread::Synchronize(report);
    } catch (...) {
        OutputDebugStringA("serial port: an exception could not be reported");
    }
}

template <class F>
void TSioBaseDispatcher::RunReported(F&& step) noexcept
{
    try {
        step();
    } catch (...) {
        ReportException();
    }
}

bool TSioBaseDispatcher::DeliverTrigger(UINT message, WPARAM first, uint16_t value)
{
    // Copies of the lists, kept between deliveries so that their room is reused.
    auto& methods = deliveryMethods_;
    auto& procs = deliveryProcs_;
    auto& windows = deliveryWindows_;
    {
        TLock lock(general_);
        if (!serviceNeeded_) return true;
        delivering_ = true;
        try {
            methods = methodHandlers_;
            procs = procHandlers_;
            windows = windowHandlers_;
        } catch (...) {
            delivering_ = false;
            throw;
        }
    }
    {
        TLock in(input_);
        maxGetCount_ = 0;
        inAvailMessage_ = message == SioAvailMessage || message == SioDataMessage;
    }
    const LPARAM second = static_cast<LPARAM>(value) + static_cast<LPARAM>(handle_) * 65536;
    bool carryOn = true;
    // Handlers run with no lock held: they take input and send. Whatever one throws is
    // reported and the others still get the trigger.
    const auto isDeleted = [this](auto& list, auto pred) {
        TLock lock(general_);
        return std::none_of(list.begin(), list.end(), [&](auto& h) { return pred(h) && !h.Deleted; });
    };
    const auto before = [this] {
        TLock in(input_);
        getCount_ = 0;
    };
    const auto after = [this] {
        TLock in(input_);
        maxGetCount_ = std::max(maxGetCount_, getCount_);
    };
    for (const auto& h : methods) {
        if (!carryOn) break;
        if (isDeleted(methodHandlers_, [&](auto& x) { return x.Key == h.Key; })) continue;
        before();
        // A synchronised handler's exception is reported where it happened, on the GUI thread.
        const auto call = [&] { RunReported([&] { h.Method(message, first, second); }); };
        if (h.Synchronize) RunReported([&] { TThread::Synchronize(call); });
        else call();
        after();
        if (closingRequested_) carryOn = false;
    }
    for (const auto& h : procs) {
        if (!carryOn) break;
        if (isDeleted(procHandlers_, [&](auto& x) { return x.Proc == h.Proc; })) continue;
        before();
        RunReported([&] { h.Proc(message, first, second); });
        after();
        if (closingRequested_) carryOn = false;
    }
    if (windows.size() > 1 || portHandler_) {
        for (const auto& h : windows) {
            if (!carryOn) break;
            if (isDeleted(windowHandlers_, [&](auto& x) { return x.Window == h.Window; })) continue;
            before();
            DWORD_PTR result = 0;
            SendMessageTimeoutA(h.Window, message, first, second, SMTO_BLOCK, 3000, &result);
            after();
            if (closingRequested_) carryOn = false;
        }
    }
    return EndDelivery(message, first, carryOn);
}

bool TSioBaseDispatcher::EndDelivery(UINT message, WPARAM first, bool carryOn)
{
    bool result = carryOn;
    {
        TLock in(input_);
        if (inAvailMessage_ && !input_buffer_.empty()) {
            inRead_ = (inRead_ + maxGetCount_) & (SioInputRingSize - 1);
            if (maxGetCount_) inputFull_ = false;
            if (message == SioAvailMessage && maxGetCount_ != first) result = false;
        }
        inAvailMessage_ = false;
        getCount_ = 0;
    }
    TLock lock(general_);
    delivering_ = false;
    if (deletionDeferred_) DeferredRemovals();
    return result;
}

void TSioBaseDispatcher::HandleCommEvent(DWORD mask)
{
    const auto statusLoop = [this] {
        if (delivering_) return;
        while (!closingRequested_ && CheckStatusTriggers()) {
        }
    };
    if (mask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING | 0x2000)) {
        ReadModemStatus(255);
        statusLoop();
        ClearHits();
    }
    if (mask & (EV_BREAK | EV_ERR)) {
        RefreshStatus();
        statusLoop();
    }
    bool anyStatus = false;
    // What came while the last offer was handled is read at once, not at the next comm
    // event; bounded, so that the timers are still polled during a flood.
    const DWORD start = GetTickCount();
    for (bool first = true;; first = false) {
        const bool moved = DrainDevice();
        if (!first && !moved) break;
        if (delivering_) break;
        // The lines are read only for a modem trigger that may fire; either way the deltas
        // of this pass go once the triggers had them.
        if (AnyActiveStatusTrigger(skModem)) ReadModemStatus(255);
        while (!closingRequested_ && CheckStatusTriggers()) anyStatus = true;
        {
            TLock lock(general_);
            modemStatus_ &= 0xF0;
        }
        while (!closingRequested_ && ScanDataTriggers()) {
        }
        if (closingRequested_ || inputFull_ || GetTickCount() - start >= SioFloodPassMs) break;
    }
    if (anyStatus || statusHit_) ClearHits();
}

void TSioBaseDispatcher::PollTimersAndStatus()
{
    if (closingRequested_ || delivering_) return;
    while (!closingRequested_ && (CheckStatusTriggers() || CheckTimerTriggers())) {
    }
    ClearHits();
}

void TSioBaseDispatcher::OutputStep()
{
    for (;;) {
        std::vector<uint8_t> pending;
        {
            TLock lock(output_);
            const unsigned size = static_cast<unsigned>(output_buffer_.size());
            if (size == 0 || (outHead_ == outTail_ && !outputFull_)) return;
            const unsigned used = outputFull_ ? size : (outHead_ + size - outTail_) % size;
            if (outTail_ + used > size) {
                // Rotated so the bytes lie in one piece from 0.
                std::rotate(output_buffer_.begin(), output_buffer_.begin() + outTail_, output_buffer_.end());
                outHead_ = (outHead_ + size - outTail_) % size;
                outTail_ = 0;
            }
            pending.assign(output_buffer_.begin() + outTail_, output_buffer_.begin() + outTail_ + used);
        }
        const int written = WriteDevice(pending.data(), static_cast<unsigned>(pending.size()));
        if (written < 0 && flushRequest_ && WaitForSingleObject(flushRequest_, 0) == WAIT_OBJECT_0) {
            if (dispatcherGeneral_) SetEvent(dispatcherGeneral_);
            return;
        }
        TLock lock(output_);
        const unsigned size = static_cast<unsigned>(output_buffer_.size());
        if (size == 0) return;
        // A failed write gives the bytes up, so the thread cannot spin on them.
        const unsigned advance = written < 0 ? static_cast<unsigned>(pending.size()) : static_cast<unsigned>(written);
        outTail_ = (outTail_ + advance) % size;
        if (advance) outputFull_ = false;
    }
}

void TSioBaseDispatcher::RefreshStatus()
{
    lineErrors_ |= RefreshCommStatus(commStatus_) & 0x1F;
}

void TSioBaseDispatcher::ResetOutput()
{
    TLock lock(output_);
    outHead_ = outTail_ = 0;
    outputFull_ = false;
}

void TSioBaseDispatcher::ThreadEnded()
{
    if (--liveThreads_ == 0) threadsRunning_ = false;
}

// The three threads of an open port. What a pass throws is reported on the GUI thread and
// the thread goes on.
class TSioComThread : public TThread {
public:
    explicit TSioComThread(TSioBaseDispatcher& d) : d_(d) {}

protected:
    void Execute() override
    {
        while (!d_.killThreads_) {
            DWORD mask = 0;
            if (!d_.WaitCommEvent(mask) || d_.killThreads_) break;
            if (mask & EV_RING) d_.RingSeen();
            d_.pendingMask_ |= mask;
            SetEvent(d_.commEventPending_);
            // Until the dispatch thread has taken the mask (not until its pass is over):
            // events that come meanwhile gather into the next one. Not on dispatcher-general
            // as well: that event carries the output thread's flush acknowledgement.
            // Stopping signals dispatch done.
            WaitForSingleObject(d_.dispatchDone_, INFINITE);
        }
        d_.ThreadEnded();
    }

private:
    TSioBaseDispatcher& d_;
};

class TSioDispThread : public TThread {
public:
    explicit TSioDispThread(TSioBaseDispatcher& d) : d_(d) {}

protected:
    void Execute() override
    {
        while (!d_.killThreads_ && !d_.closingRequested_) {
            const DWORD r = WaitForSingleObject(d_.commEventPending_, 50);
            if (d_.killThreads_) break;
            const DWORD mask = d_.pendingMask_.exchange(0);
            // Only a hand-over is answered: a poll pass must leave no "done" for the next.
            if (r == WAIT_OBJECT_0) SetEvent(d_.dispatchDone_);
            d_.RunReported([&] { d_.HandleCommEvent(mask); });
            d_.RunReported([&] { d_.PollTimersAndStatus(); });
        }
        if (d_.closingRequested_) d_.RunReported([&] { d_.FreeBuffers(); });
        SetEvent(d_.dispatchDone_);
        d_.ThreadEnded();
    }

private:
    TSioBaseDispatcher& d_;
};

class TSioOutThread : public TThread {
public:
    explicit TSioOutThread(TSioBaseDispatcher& d) : d_(d) {}

protected:
    void Execute() override
    {
        const HANDLE waits[2] = {d_.outputReady_, d_.flushRequest_};
        while (!d_.killThreads_ && !d_.closingRequested_) {
            const DWORD r = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (d_.killThreads_) break;
            if (r == WAIT_OBJECT_0) d_.RunReported([&] { d_.OutputStep(); });
            else if (r == WAIT_OBJECT_0 + 1) SetEvent(d_.dispatcherGeneral_);  // the flush is acknowledged
        }
        d_.ThreadEnded();
    }

private:
    TSioBaseDispatcher& d_;
};

void TSioBaseDispatcher::StartThreads()
{
    TLock lock(general_);
    if (threadsRunning_) throw Exception("Dispatcher already started");
    // The last open's threads are gone before the flags are set for the new ones.
    for (TThread** slot : {&comThread_, &dispThread_, &outThread_}) {
        delete *slot;
        *slot = nullptr;
    }
    killThreads_ = false;
    threadsRunning_ = true;
    comThread_ = new TSioComThread(*this);
    dispThread_ = new TSioDispThread(*this);
    outThread_ = new TSioOutThread(*this);
    SetThreadBoost(threadBoost_);
    // All three count before any runs: a communications thread whose first wait fails
    // ends at once, and must not take the count to 0 while the others start.
    liveThreads_ += 3;
    for (TThread* t : {comThread_, dispThread_, outThread_}) t->Resume();
}

void TSioBaseDispatcher::StopThreads()
{
    // Threads that already ended (a close sets the kill flag before it gets here) are still
    // waited for and freed: the flags say nothing of their objects and handles.
    if (!comThread_ && !dispThread_ && !outThread_) return;
    killThreads_ = true;
    // Each thread is woken and waited for while this thread serves its messages: a thread
    // in a synchronised call needs them, and a thread is never killed.
    CancelCommWait();
    if (flushRequest_) SetEvent(flushRequest_);
    if (outputReady_) SetEvent(outputReady_);
    if (commEventPending_) SetEvent(commEventPending_);
    if (dispatcherGeneral_) SetEvent(dispatcherGeneral_);
    if (dispatchDone_) SetEvent(dispatchDone_);
    for (TThread* t : {outThread_, comThread_, dispThread_}) {
        if (!t) continue;
        if (t->ThreadID() != GetCurrentThreadId()) WaitServingSentMessages(t->Handle(), INFINITE);
    }
    bool onOwnThread = false;
    for (TThread** slot : {&outThread_, &comThread_, &dispThread_}) {
        if (*slot && (*slot)->ThreadID() == GetCurrentThreadId()) {
            onOwnThread = true;  // ends itself
            continue;
        }
        delete *slot;
        *slot = nullptr;
    }
    // A thread of the port stopping the others still runs: its end clears the flag, so that
    // no open starts new threads before it is over.
    if (!onOwnThread) threadsRunning_ = false;
}
