#include "SioPacket.h"

#include "Application.h"
#include "SioExcept.h"
#include "SioMisc.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

const size_t BufferStep = 1u << 20;

uint8_t Upper(uint8_t c)
{
    return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 'a' + 'A') : c;
}

// The list exists from the unit's start, so it outlives the ports made after it.
const bool listAtStart = (SioDataPacketManagers(), true);

}  // namespace

TSioPacketPattern SioPreparePattern(const std::string& source, bool upperCase)
{
    TSioPacketPattern pattern;
    for (size_t i = 0; i < source.size(); ++i) {
        char c = source[i];
        bool wildcard = false;
        // A '\' at the very end has nothing to escape and stays itself.
        if (c == '\\' && i + 1 < source.size()) c = source[++i];
        else if (c == '?') wildcard = true;
        pattern.Text += upperCase ? static_cast<char>(Upper(static_cast<uint8_t>(c))) : c;
        pattern.Mask += wildcard ? '1' : '0';
    }
    return pattern;
}

TSioDataPacket::TSioDataPacket(TComponent* owner) : TSioBaseComponent(owner)
{
    SetComPort(TSioCustomComPort::FindPort(owner));
}

TSioDataPacket::~TSioDataPacket()
{
    SetDestroying();
    Leave();
}

void TSioDataPacket::Leave()
{
    Disarm();
    if (manager_) manager_->RemovePacket(this);
    if (comPort_) comPort_->RemoveFreeNotification(this);
    comPort_ = nullptr;
}

void TSioDataPacket::SetComPort(TSioCustomComPort* port)
{
    if (port == comPort_) return;
    Leave();
    if (port) {
        comPort_ = port;
        port->FreeNotification(this);
        SioDataPacketManagers().FindOrCreate(port)->AddPacket(this);
    }
    if (enabled_) ArmOrDisable();
}

void TSioDataPacket::Notification(TComponent* component, TOperation operation)
{
    TSioBaseComponent::Notification(component, operation);
    if (operation == opRemove && component && component == comPort_) Leave();
}

void TSioDataPacket::SetEnabled(bool on)
{
    if (on == enabled_) return;
    enabled_ = on;
    if (on) ArmOrDisable();
    else Disarm();
}

void TSioDataPacket::SetEndCond(TSioPacketEndCond cond)
{
    Disarm();
    endCond_ = cond & (ecString | ecPacketSize);
    if (enabled_) ArmOrDisable();
}

void TSioDataPacket::SetEndString(const std::string& s)
{
    Disarm();
    endString_ = s;
    if (enabled_) ArmOrDisable();
}

void TSioDataPacket::Loaded()
{
    TSioBaseComponent::Loaded();
    if (!std::exchange(armAfterLoad_, false) || !enabled_) return;
    try {
        Arm();
    } catch (...) {
        enabled_ = false;
        Application->HandleException(this);
    }
}

void TSioDataPacket::ArmOrDisable()
{
    try {
        Arm();
    } catch (...) {
        enabled_ = false;
        Disarm();
        throw;
    }
}

void TSioDataPacket::Rearm()
{
    try {
        Arm();
    } catch (...) {
        enabled_ = false;
        Disarm();
        Application->HandleException(this);
    }
}

void TSioDataPacket::Arm()
{
    if (ComponentState() & csLoading) {
        armAfterLoad_ = true;
        return;
    }
    if (manager_ && manager_->inEvent_) {
        // The settings are checked now, so the caller hears of a mistake; the state changes
        // once the event is over, when the buffer may move again.
        Validate();
        armPending_ = true;
        return;
    }
    ArmNow();
}

void TSioDataPacket::Validate() const
{
    const bool bySize = (endCond_ & ecPacketSize) != 0;
    if (StartCond == scAnyData) {
        if (endCond_ == 0) throw EInvalidProperty(5503);
    } else {
        if (StartString.empty()) throw EInvalidProperty(5501);
        if (bySize && PacketSize < static_cast<int>(SioPreparePattern(StartString, false).Text.size()))
            throw EInvalidProperty(5502);
    }
    if ((endCond_ & ecString) && endString_.empty()) throw EInvalidProperty(5504);
    if (bySize && PacketSize <= 0) throw EInvalidProperty(5505);
}

void TSioDataPacket::ArmNow()
{
    Validate();
    TSioBaseDispatcher* d = manager_ ? manager_->Dispatcher() : nullptr;
    if (TimeOut > 0 && !timer_ && d) timer_ = static_cast<unsigned>(SioCheck(this, d->NewTimerTrigger()));
    if (timer_ && d) d->ArmTimerTrigger(timer_, 0, false);
    if (manager_ && manager_->owner_ == this) manager_->owner_ = nullptr;
    caseBlind_ = IgnoreCase;
    // Prepared again only when they changed: a packet re-arms after each one it ends.
    const auto prepare = [this](TSioPacketPattern& pattern, bool used, const std::string& source) {
        if (!used) {
            pattern = {};
        } else if (pattern.Source != source || pattern.CaseBlind != caseBlind_ || pattern.Text.empty()) {
            pattern = SioPreparePattern(source, caseBlind_);
            pattern.Source = source;
            pattern.CaseBlind = caseBlind_;
        }
    };
    prepare(startPattern_, StartCond == scString, StartString);
    prepare(endPattern_, (endCond_ & ecString) != 0, endString_);
    sizeTarget_ = PacketSize;
    startIndex_ = endIndex_ = 0;
    start_ = -1;
    armed_ = true;
    armPending_ = false;
    waitingForBuffer_ = false;
    if (StartCond == scString) {
        state_ = stWaitStart;
    } else if (manager_ && manager_->owner_) {
        state_ = stIdle;
        waitingForBuffer_ = true;
    } else {
        EnterCollect();
    }
}

void TSioDataPacket::Disarm()
{
    DropTimer();
    state_ = stIdle;
    overlong_ = false;
    armed_ = false;
    armPending_ = false;
    waitingForBuffer_ = false;
    start_ = -1;
    startIndex_ = endIndex_ = 0;
    if (manager_ && manager_->owner_ == this) manager_->owner_ = nullptr;
}

void TSioDataPacket::EnterCollect()
{
    state_ = stCollecting;
    waitingForBuffer_ = false;
    endIndex_ = 0;
    if (!manager_) return;
    manager_->owner_ = this;
    StartTimer();
    manager_->Restart(this);
}

void TSioDataPacket::StartTimer()
{
    if (TimeOut <= 0) return;
    TSioBaseDispatcher* d = manager_ ? manager_->Dispatcher() : nullptr;
    if (!d) return;
    if (!timer_) timer_ = static_cast<unsigned>(SioCheck(this, d->NewTimerTrigger()));
    SioCheck(this, d->ArmTimerTrigger(timer_, std::min(TimeOut, SioMaxTicks), true));
}

void TSioDataPacket::DropTimer()
{
    if (!timer_) return;
    if (TSioBaseDispatcher* d = manager_ ? manager_->Dispatcher() : nullptr) d->DropTrigger(timer_);
    timer_ = 0;
}

bool TSioDataPacket::Matches(const TSioPacketPattern& pattern, size_t index, uint8_t byte) const
{
    if (pattern.Mask[index] == '1') return true;
    return (caseBlind_ ? Upper(byte) : byte) == static_cast<uint8_t>(pattern.Text[index]);
}

size_t TSioDataPacket::RetryEnd(const uint8_t* buffer, size_t at) const
{
    // The partial match of endIndex_ bytes ended before `at`; each later starting point up
    // to `at` itself is tried, the earliest first.
    const size_t matched = endIndex_;
    for (size_t shift = 1; shift <= matched; ++shift) {
        const size_t from = at - matched + shift;
        const size_t length = matched - shift + 1;
        size_t i = 0;
        while (i < length && Matches(endPattern_, i, buffer[from + i])) ++i;
        if (i == length) return length;
    }
    return 0;
}

TSioDataPacket::TScan TSioDataPacket::Scan(const uint8_t* buffer, size_t from, size_t to)
{
    for (size_t p = from; p < to; ++p) {
        if (state_ == stIdle) {
            if (!waitingForBuffer_) return {};
            EnterCollect();
        }
        const uint8_t c = buffer[p];
        if (state_ == stWaitStart) {
            if (Matches(startPattern_, startIndex_, c)) {
                if (startIndex_ == 0) start_ = static_cast<long>(p);
                if (++startIndex_ < startPattern_.Text.size()) continue;
                if (endCond_ == 0) return {true, p + 1, false};
                EnterCollect();
                // A size no larger than the start string ends the packet with it.
                if ((endCond_ & ecPacketSize) && static_cast<long>(startIndex_) >= sizeTarget_)
                    return {true, p + 1, false};
            } else if (startIndex_ > 0) {
                p = static_cast<size_t>(start_);  // the loop goes on at the byte after the abandoned start
                start_ = -1;
                startIndex_ = 0;
            }
            continue;
        }
        if (start_ < 0) start_ = static_cast<long>(p);
        if (MaxLength > 0 && p - static_cast<size_t>(start_) >= MaxLength) overlong_ = true;
        if ((endCond_ & ecPacketSize) && static_cast<long>(p) - start_ + 1 >= sizeTarget_) return {true, p + 1, false};
        if (!(endCond_ & ecString)) continue;
        if (Matches(endPattern_, endIndex_, c)) ++endIndex_;
        else if (endIndex_ > 0) endIndex_ = RetryEnd(buffer, p);
        if (endIndex_ == endPattern_.Text.size()) return {true, p + 1, true};
    }
    return {};
}

TSioDataPacketManager::TSioDataPacketManager(TSioCustomComPort* port)
    : TComponent(nullptr), alive_(std::make_shared<TSioDataPacketManager*>(this)), port_(port)
{
    window_ = std::make_unique<TUtilWindow>([this](UINT message, WPARAM, LPARAM, LRESULT& result) {
        if (message != SioFreeManagerMessage) return false;
        result = 0;
        // A packet may have joined since the message was posted. Nothing of the manager is
        // touched after the delete, which takes this window with it.
        if (packets_.empty() && !inEvent_ && !Destroying()) delete this;
        return true;
    });
    SioDataPacketManagers().items_.push_back(this);
    if (!port_) return;
    port_->FreeNotification(this);
    auto alive = alive_;
    // A port assigned from this one gets a copy of the entry: only our port is listened to.
    port_->RegisterNotification(
        this,
        [alive](TSioCustomComPort* from, TSioNotifyKind kind) {
            if (*alive && from && from == (*alive)->port_) (*alive)->PortNotice(kind);
        },
        true);
    EnableHandler();
}

TSioDataPacketManager::~TSioDataPacketManager()
{
    SetDestroying();
    *alive_ = nullptr;
    auto& list = SioDataPacketManagers().items_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    for (TSioDataPacket* p : packets_) {
        p->Disarm();
        p->manager_ = nullptr;
    }
    packets_.clear();
    owner_ = eventPacket_ = nullptr;
    DisableHandler();
    if (port_) port_->DeregisterNotification(this);
}

TSioBaseDispatcher* TSioDataPacketManager::Dispatcher() const
{
    return handlerEnabled_ && port_ ? port_->CurrentDispatcher() : nullptr;
}

void TSioDataPacketManager::EnableHandler()
{
    if (handlerEnabled_ || !port_) return;
    TSioBaseDispatcher* d = port_->CurrentDispatcher();
    if (!d || port_->State() != psOpen || (port_->ComponentState() & csLoading) || port_->Destroying()) {
        enableLater_ = true;
        return;
    }
    auto alive = alive_;
    // Synchronised: the dispatch thread hands every trigger to the GUI thread, where the
    // packets and their handlers live.
    d->AttachMethodHandler(
        this,
        [alive](UINT message, WPARAM first, LPARAM) {
            if (*alive) (*alive)->Trigger(message, first);
        },
        true);
    d->SetAvailThreshold(1);
    handlerEnabled_ = true;
    enableLater_ = false;
}

void TSioDataPacketManager::DisableHandler()
{
    enableLater_ = false;
    if (TSioBaseDispatcher* d = Dispatcher()) {
        d->DetachMethodHandler(this);
        d->SetAvailThreshold(0);
    }
    handlerEnabled_ = false;
}

void TSioDataPacketManager::Notification(TComponent* component, TOperation operation)
{
    TComponent::Notification(component, operation);
    if (operation != opRemove || !component || component != port_) return;
    // The port is in its destructor: nothing of it is used from here on.
    handlerEnabled_ = false;
    enableLater_ = false;
    for (TSioDataPacket* p : packets_) p->timer_ = 0;
    port_ = nullptr;
}

void TSioDataPacketManager::AddPacket(TSioDataPacket* packet)
{
    if (!packet || std::find(packets_.begin(), packets_.end(), packet) != packets_.end()) return;
    packets_.push_back(packet);
    packet->manager_ = this;
}

void TSioDataPacketManager::RemovePacket(TSioDataPacket* packet)
{
    const auto it = std::find(packets_.begin(), packets_.end(), packet);
    if (it == packets_.end()) return;
    packet->Disarm();
    packets_.erase(it);
    packet->manager_ = nullptr;
    if (owner_ == packet) owner_ = nullptr;
    if (eventPacket_ == packet) eventPacket_ = nullptr;
    PostFreeIfEmpty();
}

void TSioDataPacketManager::PostFreeIfEmpty()
{
    if (packets_.empty() && !Destroying() && !inEvent_ && Handle()) PostMessageA(Handle(), SioFreeManagerMessage, 0, 0);
}

void TSioDataPacketManager::PortNotice(TSioNotifyKind kind)
{
    try {
        switch (kind) {
        case snOpened: {
            EnableHandler();
            if (!inEvent_) used_ = 0;
            const std::vector<TSioDataPacket*> packets = packets_;
            for (TSioDataPacket* p : packets)
                if (p->manager_ == this && p->enabled_) p->Rearm();
            break;
        }
        case snClosing:
            // The timers go before the port saves its triggers, and the handler before the
            // dispatcher does; the packets start over when the port opens again.
            for (TSioDataPacket* p : packets_) p->Disarm();
            owner_ = nullptr;
            DisableHandler();
            if (inEvent_) resetPending_ = true;
            else used_ = 0;
            break;
        case snClosed:
            handlerEnabled_ = false;
            break;
        case snInputFlushed:
            // What was collected came before the flush and goes with it; the packets start over.
            owner_ = nullptr;
            if (inEvent_) resetPending_ = true;
            else used_ = 0;
            Restart(nullptr);
            break;
        }
    } catch (...) {
        Application->HandleException(this);
    }
}

void TSioDataPacketManager::Trigger(UINT message, WPARAM first)
{
    try {
        if (!handlerEnabled_) return;
        if (message == SioAvailMessage) Receive(static_cast<unsigned>(first));
        else if (message == SioTimerMessage) Timer(static_cast<unsigned>(first));
    } catch (...) {
        Application->HandleException(this);
    }
}

void TSioDataPacketManager::Receive(unsigned count)
{
    TSioBaseDispatcher* d = Dispatcher();
    // During an event the bytes stay in the dispatcher's ring; the next offer brings them.
    if (!d || count == 0 || inEvent_) return;
    if (used_ + count > buffer_.size()) {
        const size_t steps = (used_ + count - buffer_.size() + BufferStep - 1) / BufferStep;
        buffer_.resize(buffer_.size() + steps * BufferStep);
    }
    const int got = d->TakeInput(buffer_.data() + used_, count);
    if (got <= 0) return;
    const size_t from = used_;
    used_ += static_cast<size_t>(got);
    Offer(from);
}

void TSioDataPacketManager::Timer(unsigned handle)
{
    for (TSioDataPacket* p : packets_) {
        if (p->timer_ != handle) continue;
        if (p->state_ == TSioDataPacket::stCollecting) TimedOut(p);
        return;
    }
}

void TSioDataPacketManager::Offer(size_t from)
{
    if (inEvent_) {
        if (deferredOffer_ < 0 || static_cast<long>(from) < deferredOffer_) deferredOffer_ = static_cast<long>(from);
        return;
    }
    for (;;) {
        TSioDataPacket* done = nullptr;
        TSioDataPacket::TScan scan;
        if (owner_) {
            scan = owner_->Scan(buffer_.data(), from, used_);
            if (scan.Done) done = owner_;
        } else {
            for (size_t i = 0; i < packets_.size(); ++i) {
                TSioDataPacket* p = packets_[i];
                if (!p->armed_ || p->manager_ != this) continue;
                scan = p->Scan(buffer_.data(), from, used_);
                if (scan.Done) done = p;
                if (scan.Done || owner_) break;
            }
        }
        if (!done) {
            DropOverlong();
            break;
        }
        Complete(done, scan);
        if (deferredOffer_ < 0) break;
        from = static_cast<size_t>(std::exchange(deferredOffer_, -1));
    }
    Compact();
}

void TSioDataPacketManager::DropOverlong()
{
    TSioDataPacket* p = owner_;
    if (!p || !p->overlong_ || p->state_ != TSioDataPacket::stCollecting || p->start_ < 0) return;
    const size_t start = static_cast<size_t>(p->start_);
    // The bytes of a partial end match stay: the end may complete with the next ones.
    const size_t keep = std::min(p->endIndex_, used_ - start);
    std::memmove(buffer_.data() + start, buffer_.data() + used_ - keep, keep);
    used_ = start + keep;
}

template <class F>
void TSioDataPacketManager::Deliver(TSioDataPacket* packet, F&& events)
{
    inEvent_ = true;
    eventPacket_ = packet;
    try {
        events();
    } catch (...) {
        Application->HandleException(eventPacket_ ? static_cast<TObject*>(eventPacket_) : this);
    }
    inEvent_ = false;
}

void TSioDataPacketManager::Complete(TSioDataPacket* packet, const TSioDataPacket::TScan& scan)
{
    size_t begin = static_cast<size_t>(packet->start_);
    size_t length = scan.End - begin;
    if (!packet->IncludeStrings) {
        if (packet->StartCond == scString) {
            const size_t startLength = std::min(length, packet->startPattern_.Text.size());
            begin += startLength;
            length -= startLength;
        }
        if (scan.EndString) length -= std::min(length, packet->endPattern_.Text.size());
    }
    // The end of a packet that grew too long is only used up: its start is gone already.
    const bool overlong = packet->overlong_;
    packet->Disarm();
    if (!packet->AutoEnable) packet->enabled_ = false;
    const char* data = reinterpret_cast<const char*>(buffer_.data()) + begin;
    TSioDataPacket* still = packet;
    if (!overlong) {
        Deliver(packet, [&] {
            if (packet->OnPacket) packet->OnPacket(packet, data, static_cast<int>(length));
            if (eventPacket_ && packet->OnStringPacket) packet->OnStringPacket(packet, std::string(data, length));
        });
        still = std::exchange(eventPacket_, nullptr);
    }
    if (!resetPending_) {
        // Everything up to the packet's end is used up; the rest is offered again. The bytes
        // stay where they are until the offer is over: a move per packet would cost the
        // whole rest of a read for each of its packets.
        UseUpTo(scan.End);
        deferredOffer_ = static_cast<long>(scan.End);
    }
    if (still && still->AutoEnable && still->enabled_ && !still->armed_) still->armPending_ = true;
    AfterEvent();
}

void TSioDataPacketManager::TimedOut(TSioDataPacket* packet)
{
    const long start = packet->start_;
    packet->Disarm();
    packet->enabled_ = false;
    Deliver(packet, [&] {
        if (packet->OnTimeout) packet->OnTimeout(packet);
    });
    eventPacket_ = nullptr;
    if (!resetPending_ && start >= 0 && static_cast<size_t>(start) < used_) used_ = static_cast<size_t>(start);
    AfterEvent();
    if (deferredOffer_ >= 0) Offer(static_cast<size_t>(std::exchange(deferredOffer_, -1)));
    else Compact();
}

void TSioDataPacketManager::AfterEvent()
{
    if (std::exchange(resetPending_, false)) {
        used_ = 0;
        deferredOffer_ = -1;
    }
    // By index, without a copy per packet: arming runs no handler, so the list stays.
    for (size_t i = 0; i < packets_.size(); ++i) {
        TSioDataPacket* p = packets_[i];
        if (p->manager_ != this || !std::exchange(p->armPending_, false)) continue;
        if (p->enabled_) p->Rearm();
    }
    PostFreeIfEmpty();
}

void TSioDataPacketManager::UseUpTo(size_t end)
{
    const long front = static_cast<long>(std::min(end, used_));
    for (TSioDataPacket* p : packets_) {
        if (p->start_ < 0) continue;
        if (p->state_ == TSioDataPacket::stWaitStart) {
            // Its partial match is given up: the rest is offered to it again from the start.
            p->start_ = -1;
            p->startIndex_ = 0;
        } else {
            p->start_ = std::max(p->start_, front);
        }
    }
}

void TSioDataPacketManager::Compact()
{
    // Only what a packet still collects, or may still match, is kept.
    size_t keep = used_;
    for (const TSioDataPacket* p : packets_)
        if (p->start_ >= 0) keep = std::min(keep, static_cast<size_t>(p->start_));
    if (keep == 0) return;
    std::memmove(buffer_.data(), buffer_.data() + keep, used_ - keep);
    used_ -= keep;
    for (TSioDataPacket* p : packets_)
        if (p->start_ >= 0) p->start_ -= static_cast<long>(keep);
}

void TSioDataPacketManager::Restart(TSioDataPacket* except)
{
    for (size_t i = 0; i < packets_.size(); ++i) {
        TSioDataPacket* p = packets_[i];
        if (p != except && p->manager_ == this && p->armed_) p->Rearm();
    }
}

TSioDataPacketManagerList::~TSioDataPacketManagerList()
{
    while (!items_.empty()) delete items_.back();
}

TSioDataPacketManager* TSioDataPacketManagerList::Find(const TSioCustomComPort* port) const
{
    if (!port) return nullptr;
    for (TSioDataPacketManager* m : items_)
        if (m->Port() == port) return m;
    return nullptr;
}

TSioDataPacketManager* TSioDataPacketManagerList::FindOrCreate(TSioCustomComPort* port)
{
    if (TSioDataPacketManager* m = Find(port)) return m;
    return new TSioDataPacketManager(port);
}

TSioDataPacketManagerList& SioDataPacketManagers()
{
    static TSioDataPacketManagerList list;
    return list;
}
