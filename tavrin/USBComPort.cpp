#include "USBComPort.h"

#include "Application.h"
#include "Handles.h"
#include "ftd2xx.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

const int BaudRates[] = {300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

// Not a driver status: the driver library is missing.
const unsigned long DriverMissing = 0xFFFF0001;

}  // namespace

bool FtdiDriverPresent()
{
    // The imports are delay-loaded; they are used only once the library and all nine
    // entry points are known to be there, so a PC without the driver never faults.
    static const bool present = [] {
        HMODULE module = LoadLibraryA("ftd2xx.dll");
        if (!module) return false;
        for (const char* name : {"FT_ListDevices", "FT_OpenEx", "FT_SetEventNotification", "FT_SetDataCharacteristics",
                                 "FT_SetBaudRate", "FT_GetStatus", "FT_Read", "FT_Write", "FT_Close"})
            if (!GetProcAddress(module, name)) return false;
        return true;  // stays loaded for the delay-load thunks
    }();
    return present;
}

void RaiseUSBPortError(const std::string& operation, unsigned long status)
{
    static const char* const texts[] = {"Invalid Handle", "Device Not Found", "Device Not Opened", "General IO Error",
                                        "Insufficient Resources", "Invalid Parameter"};
    std::string text = "Unspecified USBPort Error";
    if (status >= 1 && status <= 6) text = texts[status - 1];
    if (status == DriverMissing) text = "FTDI USB driver (ftd2xx.dll) not installed";
    throw EUSBPortError(operation + ":  " + text);
}

int FtdiComNumber(const std::string& serial)
{
    // Under HKEY_LOCAL_MACHINE a subkey path must not begin with a backslash.
    const std::string path = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+" + serial +
                             "A\\0000\\Device Parameters\\";
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return 0;
    TRegKey key(raw);
    char value[64] = {};
    DWORD size = sizeof value - 1, type = 0;
    if (RegQueryValueExA(key.Get(), "PortName", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return 0;
    const std::string name(value);
    // "COM7": the number after the first three characters; anything else is no port.
    if (name.size() <= 3) return 0;
    const int n = StrToIntDef(name.substr(3), 0);
    return n > 0 && n <= 255 ? n : 0;
}

namespace {

// The serial numbers of the attached converters, in index order; false when even the count fails.
bool ListSerials(std::vector<std::string>& serials, FT_STATUS& last)
{
    serials.clear();
    if (!FtdiDriverPresent()) {
        last = DriverMissing;
        return false;
    }
    DWORD count = 0;
    last = FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
    if (last != FT_OK) return false;
    for (DWORD i = 0; i < count; ++i) {
        char buffer[40] = {};
        last = FT_ListDevices(reinterpret_cast<PVOID>(static_cast<UINT_PTR>(i)), buffer,
                              FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
        if (last != FT_OK) continue;
        buffer[39] = '\0';
        serials.push_back(buffer);
    }
    return true;
}

}  // namespace

void ListFtdiComPorts(TUSBPortArray& ports)
{
    ports.clear();
    std::vector<std::string> serials;
    FT_STATUS status;
    ListSerials(serials, status);
    for (const std::string& serial : serials)
        if (const int n = FtdiComNumber(serial)) ports.push_back(n);
}

TPacketThread::TPacketThread(TUSBComPort& owner)
    : owner_(owner), event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)), control_(CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
    SetPriority(tpHighest);
}

TPacketThread::~TPacketThread()
{
    Terminate();
    Wake();
    if (!Finished()) {
        while (Suspended()) Resume();
        WaitFor();
    }
    CloseHandle(event_);
    CloseHandle(control_);
}

void TPacketThread::Execute()
{
    const HANDLE events[2] = {event_, control_};
    bool more = false;
    while (!Terminated()) {
        if (!Running) {
            WaitForSingleObject(control_, INFINITE);
            continue;
        }
        DWORD r = WAIT_OBJECT_0;
        const int wait = WaitTime;
        if (more) {
            // The last step stopped early: the GUI thread gets a moment for the user's input
            // (which a run of synchronised calls would starve) before the next one.
            WaitForSingleObject(control_, 1);
        } else {
            r = WaitForMultipleObjects(2, events, FALSE, wait > 0 ? wait : 1000);
        }
        more = false;
        if (Terminated() || !Running) continue;
        // Reported on the GUI thread; the reader goes on.
        if (r == WAIT_OBJECT_0) {
            Synchronize([this] {
                try {
                    owner_.ReadPending();
                } catch (...) {
                    Application->HandleException(&owner_);
                }
            });
            more = owner_.MoreToRead();
        } else if (r == WAIT_TIMEOUT && wait != 0) {
            Synchronize([this] {
                try {
                    owner_.DoTimeOut();
                } catch (...) {
                    Application->HandleException(&owner_);
                }
            });
        }
    }
}

TUSBComPort::TUSBComPort(TComponent* owner) : TComponent(owner)
{
    thread_ = new TPacketThread(*this);
    SetTimeOut(1000);
    thread_->SetPriority(priority_);  // the reader runs at the priority the port reads
}

TUSBComPort::~TUSBComPort()
{
    SetDestroying();
    delete thread_;  // waits for the reader, serving a call it has pending
    thread_ = nullptr;
    if (open_) CloseDevice();
}

void TUSBComPort::SetComNumber(int n)
{
    if (n == comNumber_) return;
    if (n == 0) {
        SetOpen(false);
        return;
    }
    std::vector<std::string> serials;
    FT_STATUS last = FT_OK;
    ListSerials(serials, last);
    if (last != FT_OK || serials.empty()) RaiseUSBPortError("Error setting COM Number", last);
    for (const std::string& serial : serials) {
        if (FtdiComNumber(serial) == n) {
            serial_ = serial;
            comNumber_ = n;
            return;
        }
    }
    // No converter has that number: Open must not reach the converter chosen before.
    RaiseUSBPortError("Error setting COM Number", FT_DEVICE_NOT_FOUND);
}

TBaudRate TUSBComPort::BaudRate() const
{
    const int* found = std::find(std::begin(BaudRates), std::end(BaudRates), baud_);
    return found == std::end(BaudRates) ? br__9600 : static_cast<TBaudRate>(found - std::begin(BaudRates));
}

void TUSBComPort::SetBaudRate(TBaudRate rate)
{
    baud_ = BaudRates[rate];
}

void TUSBComPort::SetInSize(int size)
{
    inSize_ = std::max(1, size);
}

void TUSBComPort::SetTimeOut(int ms)
{
    timeOut_ = ms;
    thread_->WaitTime = ms;
}

void TUSBComPort::SetPriority(TThreadPriority priority)
{
    priority_ = std::max(priority, tpNormal);
    thread_->SetPriority(priority_);
}

void TUSBComPort::SetOpen(bool open)
{
    if (open == open_) return;
    if (!open) {
        open_ = false;
        SetEnabled(false);
        const FT_STATUS status = FT_Close(handle_);
        handle_ = nullptr;
        if (status != FT_OK) RaiseUSBPortError("Error Closing USBPort", status);
        return;
    }
    if (!FtdiDriverPresent()) RaiseUSBPortError("Error Opening USBPort", DriverMissing);
    FT_HANDLE handle = nullptr;
    FT_STATUS status = FT_OpenEx(const_cast<char*>(serial_.c_str()), FT_OPEN_BY_SERIAL_NUMBER, &handle);
    if (status == FT_OK) status = FT_SetEventNotification(handle, FT_EVENT_RXCHAR, thread_->Event());
    if (status == FT_OK)
        status = FT_SetDataCharacteristics(handle, dataBits_ == db7 ? FT_BITS_7 : FT_BITS_8,
                                           stopBits_ == sb2 ? FT_STOP_BITS_2 : FT_STOP_BITS_1,
                                           static_cast<UCHAR>(parity_));
    if (status == FT_OK) status = FT_SetBaudRate(handle, baud_);
    if (status != FT_OK) {
        if (handle) FT_Close(handle);  // a later step failed: the device is not left open
        RaiseUSBPortError("Error Opening USBPort", status);
    }
    handle_ = handle;
    ClearPending();
    SetEnabled(true);
    open_ = true;
}

void TUSBComPort::CloseDevice()
{
    FT_Close(handle_);
    handle_ = nullptr;
    open_ = false;
}

void TUSBComPort::SetEnabled(bool enabled)
{
    enabled_ = enabled;
    // The reader waits for its control event instead of being suspended: a suspended
    // thread could hold a lock of the driver or of the C library.
    thread_->Running = enabled;
    if (enabled && !started_) {
        started_ = true;
        thread_->Resume();
    }
    thread_->Wake();
}

void TUSBComPort::ReadPending()
{
    more_ = false;
    if (!open_) return;
    ReadDriver();
    Cut();
}

void TUSBComPort::ReadDriver()
{
    DWORD rx = 0, tx = 0, events = 0;
    const FT_STATUS status = FT_GetStatus(handle_, &rx, &tx, &events);
    if (status != FT_OK) RaiseUSBPortError("Error receiving data", status);
    // Never more than the buffer holds: the reported count is taken in pieces of InSize,
    // and no more than ReadAhead pieces are held at once; the driver keeps the rest.
    std::vector<char> buffer(inSize_);
    const size_t ahead = static_cast<size_t>(inSize_) * ReadAhead;
    while (rx > 0 && pending_.size() - taken_ < ahead) {
        DWORD read = 0;
        const DWORD piece = std::min<DWORD>(rx, static_cast<DWORD>(inSize_));
        if (FT_Read(handle_, buffer.data(), piece, &read) != FT_OK || read == 0) break;
        pending_.append(buffer.data(), read);
        rx -= std::min(rx, read);
    }
    if (rx > 0) more_ = true;
}

void TUSBComPort::Cut()
{
    // Lines are cut where they lie; the text left over moves down once, at the end.
    int lines = 0;
    size_t end;
    while (lines < BatchLines && (end = pending_.find(endChar_, taken_)) != std::string::npos) {
        const size_t from = std::exchange(taken_, end + 1);
        if (std::exchange(dropping_, false)) continue;  // the end of a line too long to keep
        ++lines;
        if (OnPacket && !Destroying()) OnPacket(this, pending_.substr(from, end + 1 - from));
        if (!open_) break;  // the handler closed the port: what is left goes with it
    }
    if (!open_) {
        ClearPending();
        return;
    }
    if (pending_.find(endChar_, taken_) != std::string::npos) {
        more_ = true;
    } else if (dropping_ || (MaxLength > 0 && pending_.size() - taken_ > MaxLength)) {
        taken_ = pending_.size();
        dropping_ = true;
    }
    pending_.erase(0, taken_);
    taken_ = 0;
}

void TUSBComPort::ClearPending()
{
    pending_.clear();
    taken_ = 0;
    dropping_ = false;
}

void TUSBComPort::DoTimeOut()
{
    if (OnTimeOut && !Destroying()) OnTimeOut(this);
}

void TUSBComPort::SendData(const std::string& data)
{
    DWORD written = 0;
    const FT_STATUS status = open_ ? FT_Write(handle_, const_cast<char*>(data.data()), static_cast<DWORD>(data.size()),
                                              &written)
                                   : FT_INVALID_HANDLE;
    if (status != FT_OK || written != data.size()) RaiseUSBPortError("Error sending data", status);
}
