// The USB port to the VR7 through an FTDI USB-serial converter and its D2XX driver. The
// port is chosen by COM number, mapped to the converter's serial number through the
// registry; a reader thread wakes on received characters and the GUI thread cuts them into
// lines at EndChar.
#pragma once

#include "Classes.h"
#include "SysUtils.h"
#include "Thread.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

class EUSBPortError : public Exception {
public:
    using Exception::Exception;
};

enum TBaudRate {
    br___300, br___600, br__1200, br__2400, br__4800, br__9600, br_14400,
    br_19200, br_38400, br_57600, br115200, br230400, br460800, br921600,
};
enum TDataBits { db7, db8 };
#ifndef TAVRIN_TPARITY
#define TAVRIN_TPARITY
enum TParity { pNone, pOdd, pEven, pMark, pSpace };
#endif
enum TStopBits { sb1, sb2 };

using TPacketEvent = std::function<void(TObject* sender, const std::string& packet)>;
using TUSBPortArray = std::vector<int>;

class TUSBComPort;

// Waits for the driver's receive event and hands the work to the GUI thread.
class TPacketThread : public TThread {
public:
    explicit TPacketThread(TUSBComPort& owner);
    ~TPacketThread() override;

    HANDLE Event() const { return event_; }
    std::atomic<int> WaitTime{1000};
    // Enabled false makes the thread wait for Wake without touching the driver.
    std::atomic<bool> Running{false};
    void Wake() { SetEvent(control_); }

protected:
    void Execute() override;

private:
    TUSBComPort& owner_;
    HANDLE event_;    // auto-reset, set by the driver on received characters
    HANDLE control_;  // auto-reset, set on Enabled changes and at the end
};

class TUSBComPort : public TComponent {
public:
    explicit TUSBComPort(TComponent* owner);
    ~TUSBComPort() override;

    int ComNumber() const { return comNumber_; }
    void SetComNumber(int n);
    TBaudRate BaudRate() const;
    void SetBaudRate(TBaudRate rate);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits bits) { dataBits_ = bits; }
    TParity Parity() const { return parity_; }
    void SetParity(TParity parity) { parity_ = parity; }
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits bits) { stopBits_ = bits; }
    int InSize() const { return inSize_; }
    void SetInSize(int size);
    int TimeOut() const { return timeOut_; }
    void SetTimeOut(int ms);
    bool Open() const { return open_; }
    void SetOpen(bool open);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    char EndChar() const { return endChar_; }
    void SetEndChar(char c) { endChar_ = c; }
    TThreadPriority Priority() const { return priority_; }
    void SetPriority(TThreadPriority priority);

    TPacketEvent OnPacket;
    TNotifyEvent OnTimeOut;

    // Read step, run on the GUI thread when characters arrived. It hands over at most a
    // batch of lines and reads no further ahead than a batch, so that the GUI thread stays
    // free for the user between steps; MoreToRead says whether it stopped early.
    virtual void ReadPending();
    // Time-out step, run on the GUI thread after an empty wait.
    virtual void DoTimeOut();
    virtual void SendData(const std::string& data);

    const std::string& SerialNumber() const { return serial_; }

    // A line longer than this (0: no bound) is dropped whole, up to its end, and the port
    // goes on: a stream that never ends a line cannot fill the memory.
    size_t MaxLength = 0;
    // Lines handed over, and pieces of InSize read ahead, per read step.
    static const int BatchLines = 256;
    static const int ReadAhead = 16;
    bool MoreToRead() const { return more_; }
    // Forgets the received text not yet ended by EndChar.
    void ClearPending();

private:
    void CloseDevice();
    void ReadDriver();
    void Cut();

    int comNumber_ = 0;
    int baud_ = 115200;
    TDataBits dataBits_ = db8;
    TParity parity_ = pNone;
    TStopBits stopBits_ = sb1;
    int inSize_ = 4096;
    int timeOut_ = 1000;
    bool open_ = false;
    bool enabled_ = false;
    bool started_ = false;
    char endChar_ = '\r';
    TThreadPriority priority_ = tpNormal;
    void* handle_ = nullptr;
    std::string serial_;
    std::string pending_;
    size_t taken_ = 0;        // pending_ before this is handed over already
    bool dropping_ = false;   // inside a line too long to keep
    std::atomic<bool> more_{false};
    TPacketThread* thread_ = nullptr;
};

// The COM number the registry gives a converter's serial number, or 0.
int FtdiComNumber(const std::string& serial);
// The COM numbers of all attached converters.
void ListFtdiComPorts(TUSBPortArray& ports);
// Raises EUSBPortError: the operation's text, ":  " and the status's text.
[[noreturn]] void RaiseUSBPortError(const std::string& operation, unsigned long status);
// Whether the driver library is installed (loaded and complete).
bool FtdiDriverPresent();
