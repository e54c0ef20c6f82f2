// A device for the dispatcher that a test scripts: bytes it has received, what was written
// to it, its modem lines and line errors, its state, and failures on demand.
#pragma once

#include "SioUser.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class TFakeDispatcher : public TSioBaseDispatcher {
public:
    explicit TFakeDispatcher(TComponent* owner = nullptr) : TSioBaseDispatcher(owner)
    {
        State.DCBlength = sizeof State;
        State.BaudRate = 9600;
        State.ByteSize = 8;
        State.Parity = NOPARITY;
        State.StopBits = ONESTOPBIT;
        wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        WriteSeen = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    ~TFakeDispatcher() override
    {
        CloseDevice();
        CloseHandle(wake_);
        CloseHandle(WriteSeen);
    }

    // What the device holds for the dispatcher to read.
    void Receive(const std::string& bytes)
    {
        std::lock_guard<std::mutex> g(lock_);
        incoming_ += bytes;
    }
    // A comm event for the communications thread.
    void Event(DWORD mask)
    {
        {
            std::lock_guard<std::mutex> g(lock_);
            events_.push_back(mask);
        }
        SetEvent(wake_);
    }
    std::string Written()
    {
        std::lock_guard<std::mutex> g(lock_);
        return written_;
    }
    size_t Holding()
    {
        std::lock_guard<std::mutex> g(lock_);
        return incoming_.size();
    }

    DCB State = {};
    int StateWrites = 0;
    std::vector<int> Escapes;
    DWORD Lines = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
    unsigned Errors = 0;  // handed over, then cleared, by the next status refresh
    bool RunThreads = false;
    bool FailOpen = false;
    DWORD FailError = ERROR_FILE_NOT_FOUND;
    unsigned MaxRead = 0xFFFFFFFF;  // the most one read returns
    int Opens = 0;
    HANDLE WriteSeen;  // set by every write to the device

    int EscapeFunction(int code) override
    {
        Escapes.push_back(code);
        return 0;
    }
    int Flush(bool input) override
    {
        if (input) {
            std::lock_guard<std::mutex> g(lock_);
            incoming_.clear();
        } else {
            ResetOutput();
        }
        return 0;
    }
    unsigned RefreshCommStatus(TSioCommStatus& status) override
    {
        std::lock_guard<std::mutex> g(lock_);
        status.InQueue = static_cast<unsigned>(incoming_.size());
        status.Errors = Errors;
        const unsigned errors = Errors;
        Errors = 0;
        return errors;
    }
    int ReadDeviceState(DCB& dcb) override
    {
        dcb = State;
        return 0;
    }
    int ReadDevice(void* buffer, unsigned count) override
    {
        std::lock_guard<std::mutex> g(lock_);
        const unsigned n = std::min<unsigned>({count, static_cast<unsigned>(incoming_.size()), MaxRead});
        std::memcpy(buffer, incoming_.data(), n);
        incoming_.erase(0, n);
        return static_cast<int>(n);
    }
    int WriteDeviceState(const DCB& dcb) override
    {
        State = dcb;
        ++StateWrites;
        return 0;
    }
    bool WaitCommEvent(DWORD& mask) override
    {
        for (;;) {
            {
                std::lock_guard<std::mutex> g(lock_);
                if (cancelled_) return false;
                if (!events_.empty()) {
                    mask = events_.front();
                    events_.pop_front();
                    return true;
                }
            }
            WaitForSingleObject(wake_, INFINITE);
        }
    }
    void CancelCommWait() override
    {
        {
            std::lock_guard<std::mutex> g(lock_);
            cancelled_ = true;
        }
        SetEvent(wake_);
    }
    bool SetQueueSizes(unsigned, unsigned) override { return true; }
    int OpenDeviceHandle(const std::string&) override
    {
        if (FailOpen) {
            SetLastError(FailError);
            return -1;
        }
        ++Opens;
        std::lock_guard<std::mutex> g(lock_);
        cancelled_ = false;
        return 1;
    }
    int CloseDeviceHandle() override
    {
        CancelCommWait();
        return 0;
    }
    void StartThreads() override
    {
        if (RunThreads) TSioBaseDispatcher::StartThreads();
    }
    int ReadModemLines(DWORD& lines) override
    {
        lines = Lines;
        return 0;
    }
    int WriteDevice(const uint8_t* bytes, unsigned count) override
    {
        std::lock_guard<std::mutex> g(lock_);
        written_.append(reinterpret_cast<const char*>(bytes), count);
        SetEvent(WriteSeen);
        return static_cast<int>(count);
    }

    // What the port asked of the handler flags (modes 1 and 2), and where they stand.
    std::vector<int> HandlerModes;
    void UpdateHandlerFlags(int mode) override
    {
        if (mode != 0) HandlerModes.push_back(mode);
        TSioBaseDispatcher::UpdateHandlerFlags(mode);
    }
    bool PortHandler() const { return portHandler_; }
    bool ServiceNeeded() const { return serviceNeeded_; }
    size_t MethodHandlerCount() const { return methodHandlers_.size(); }
    int Yields = 0;
    void YieldCpu() override { ++Yields; }
    int Boost() const { return threadBoost_; }
    bool RS485() const { return rs485_; }

    using TSioBaseDispatcher::CheckStatusTriggers;
    using TSioBaseDispatcher::NextTriggerHandle;
    using TSioBaseDispatcher::ScanDataTriggers;

private:
    std::mutex lock_;
    std::string incoming_, written_;
    std::deque<DWORD> events_;
    bool cancelled_ = false;
    HANDLE wake_;
};
