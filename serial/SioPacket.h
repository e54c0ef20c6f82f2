// The packet collector: cuts what a port receives into packets by a start and an end
// condition. All packets of one port share one manager, which owns the receive buffer and
// is the one trigger handler of the port's dispatcher; a global list finds a port's manager.
#pragma once

#include "SioPort.h"
#include "UtilWindow.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum TSioPacketStartCond { scString, scAnyData };
using TSioPacketEndCond = unsigned;  // a set of the two below
const TSioPacketEndCond ecString = 1, ecPacketSize = 2;

// Posted to a manager's window once its last packet has left; the manager frees itself.
const UINT SioFreeManagerMessage = 45089;

// A pattern with its escapes dropped: '\' makes the next character a literal, '?' matches
// any byte. Mask holds '1' at the wildcard positions and '0' elsewhere.
struct TSioPacketPattern {
    std::string Text;
    std::string Mask;
    // What it was prepared from, so that an unchanged pattern is not prepared again.
    std::string Source;
    bool CaseBlind = false;
};
TSioPacketPattern SioPreparePattern(const std::string& source, bool upperCase);

using TSioPacketEvent = std::function<void(TObject* sender, const char* data, int size)>;
using TSioStringPacketEvent = std::function<void(TObject* sender, const std::string& data)>;

class TSioDataPacketManager;

class TSioDataPacket : public TSioBaseComponent {
public:
    // The port defaults to the first one found among the owner's components.
    explicit TSioDataPacket(TComponent* owner);
    ~TSioDataPacket() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);  // raises EInvalidProperty (5501..5505) when the settings cannot arm
    bool AutoEnable = true;
    TSioPacketStartCond StartCond = scString;
    std::string StartString;
    TSioPacketEndCond EndCond() const { return endCond_; }
    void SetEndCond(TSioPacketEndCond cond);
    const std::string& EndString() const { return endString_; }
    void SetEndString(const std::string& s);
    int PacketSize = 0;
    bool IncludeStrings = true;
    bool IgnoreCase = true;
    int TimeOut = 2184;  // ticks of 55 ms from the start of collection; 0 = none
    // A packet that grows beyond this many bytes without its end (0: no bound) is dropped
    // whole, up to its end, and collection goes on: an end that never comes cannot fill
    // the memory.
    size_t MaxLength = 0;
    TSioCustomComPort* ComPort() const { return comPort_; }
    void SetComPort(TSioCustomComPort* port);

    TSioPacketEvent OnPacket;
    TSioStringPacketEvent OnStringPacket;
    TNotifyEvent OnTimeout;

    TSioDataPacketManager* Manager() const { return manager_; }

protected:
    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    friend class TSioDataPacketManager;

    enum TCollect { stIdle, stWaitStart, stCollecting };
    struct TScan {
        bool Done = false;
        size_t End = 0;          // one past the packet's last byte
        bool EndString = false;  // ended by the end string (not by the size)
    };

    void Arm();
    // Arms for a setter: on a failure the packet stays disabled and the setter raises.
    void ArmOrDisable();
    void ArmNow();
    // An arm the packet did not ask for itself: a failure disables it and is reported.
    void Rearm();
    void Validate() const;
    void Disarm();
    void EnterCollect();
    void StartTimer();
    void DropTimer();
    void Leave();
    TScan Scan(const uint8_t* buffer, size_t from, size_t to);
    bool Matches(const TSioPacketPattern& pattern, size_t index, uint8_t byte) const;
    size_t RetryEnd(const uint8_t* buffer, size_t at) const;

    bool enabled_ = false;
    TSioPacketEndCond endCond_ = 0;
    std::string endString_;
    TSioCustomComPort* comPort_ = nullptr;
    TSioDataPacketManager* manager_ = nullptr;

    TCollect state_ = stIdle;
    long start_ = -1;         // in the shared buffer
    size_t startIndex_ = 0;   // bytes of the start pattern matched
    size_t endIndex_ = 0;     // bytes of the end pattern matched
    long sizeTarget_ = 0;
    TSioPacketPattern startPattern_, endPattern_;
    bool caseBlind_ = true;
    unsigned timer_ = 0;
    bool armed_ = false;
    bool waitingForBuffer_ = false;
    bool armAfterLoad_ = false;
    bool armPending_ = false;  // asked for while the manager delivered an event
    bool overlong_ = false;    // grew beyond MaxLength: its bytes are dropped, its end awaited
};

class TSioDataPacketManager : public TComponent {
public:
    explicit TSioDataPacketManager(TSioCustomComPort* port);
    ~TSioDataPacketManager() override;

    TSioCustomComPort* Port() const { return port_; }
    int PacketCount() const { return static_cast<int>(packets_.size()); }
    TSioDataPacket* Packets(int index) const { return packets_.at(index); }
    void AddPacket(TSioDataPacket* packet);
    void RemovePacket(TSioDataPacket* packet);

    HWND Handle() const { return window_ ? window_->Handle() : nullptr; }
    bool InEvent() const { return inEvent_; }
    bool HandlerEnabled() const { return handlerEnabled_; }
    size_t Buffered() const { return used_; }
    size_t Capacity() const { return buffer_.size(); }

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    friend class TSioDataPacket;

    void PortNotice(TSioNotifyKind kind);
    void EnableHandler();
    void DisableHandler();
    TSioBaseDispatcher* Dispatcher() const;
    void Trigger(UINT message, WPARAM first);
    void Timer(unsigned handle);
    void Receive(unsigned count);
    void Offer(size_t from);
    void DropOverlong();
    void Complete(TSioDataPacket* packet, const TSioDataPacket::TScan& scan);
    void TimedOut(TSioDataPacket* packet);
    template <class F>
    void Deliver(TSioDataPacket* packet, F&& events);
    void AfterEvent();
    // The bytes before `end` are used up; Compact drops them.
    void UseUpTo(size_t end);
    void Compact();
    void Restart(TSioDataPacket* except);
    void PostFreeIfEmpty();

    // What the port's callbacks reach: cleared when the manager goes, so a callback the port
    // or the dispatcher still holds finds nothing.
    std::shared_ptr<TSioDataPacketManager*> alive_;
    TSioCustomComPort* port_;
    std::vector<TSioDataPacket*> packets_;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    TSioDataPacket* owner_ = nullptr;  // the packet collecting data
    TSioDataPacket* eventPacket_ = nullptr;
    bool handlerEnabled_ = false;
    bool enableLater_ = false;
    bool inEvent_ = false;
    long deferredOffer_ = -1;  // where to offer from once the event is over
    bool resetPending_ = false;
    std::unique_ptr<TUtilWindow> window_;
};

class TSioDataPacketManagerList {
public:
    TSioDataPacketManagerList() = default;
    TSioDataPacketManagerList(const TSioDataPacketManagerList&) = delete;
    TSioDataPacketManagerList& operator=(const TSioDataPacketManagerList&) = delete;
    // Frees the managers still there, the last first.
    ~TSioDataPacketManagerList();

    TSioDataPacketManager* Find(const TSioCustomComPort* port) const;
    TSioDataPacketManager* FindOrCreate(TSioCustomComPort* port);
    int Count() const { return static_cast<int>(items_.size()); }

private:
    friend class TSioDataPacketManager;
    std::vector<TSioDataPacketManager*> items_;
};

TSioDataPacketManagerList& SioDataPacketManagers();
