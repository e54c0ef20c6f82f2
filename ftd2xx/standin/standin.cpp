// A stand-in for the FTDI driver, for tests and the demo. It behaves like the driver for
// the calls tavrin makes, over devices that a configuration file names:
//
//   device SERIAL HOST:PORT [batch N]   a converter; its line is a TCP connection (the
//                                       simulated instrument listens there); with batch N
//                                       the receive event waits until N bytes are in; the
//                                       receive buffer holds 64 KiB, the line waits beyond
//   fail CALL STATUS                    CALL (e.g. FT_OpenEx) returns STATUS while listed
//
// FTD2XX_STANDIN names the file (read again at every call); FTD2XX_STANDIN_LOG names a file
// that gets a line per call with its arguments and status; FTD2XX_STANDIN_ABSENT=1 makes
// the library refuse to load, as on a PC without the driver.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "ftd2xx.h"

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct TDeviceEntry {
    std::string serial, endpoint;
    size_t batch = 1;
};

struct TConfig {
    std::vector<TDeviceEntry> devices;
    std::map<std::string, FT_STATUS> failures;
};

const size_t ReceiveBufferSize = 65536;

struct TDevice {
    TDeviceEntry entry;
    SOCKET socket = INVALID_SOCKET;
    HANDLE event = nullptr;
    std::mutex lock;
    std::condition_variable room;  // the receive buffer has room again, or the device closes
    bool closing = false;
    std::string received;
    std::thread reader;
};

std::mutex devicesLock;
std::set<TDevice*> devices;

std::string Env(const char* name)
{
    char value[1024];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

TConfig ParseConfig(const std::string& path)
{
    TConfig config;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string verb;
        words >> verb;
        if (verb == "device") {
            TDeviceEntry d;
            words >> d.serial >> d.endpoint;
            std::string option;
            while (words >> option)
                if (option == "batch") words >> d.batch;
            if (!d.serial.empty()) config.devices.push_back(d);
        } else if (verb == "fail") {
            std::string call;
            FT_STATUS status = 0;
            words >> call >> status;
            config.failures[call] = status;
        }
    }
    return config;
}

// The configuration as the file says now: parsed again only when its name, time or size
// changed, which a look at its attributes tells without opening it.
TConfig ReadConfig()
{
    static std::mutex lock;
    static std::string lastPath;
    static WIN32_FILE_ATTRIBUTE_DATA lastData = {};
    static bool lastFound = false;
    static TConfig last;
    const std::string path = Env("FTD2XX_STANDIN");
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    const bool found = GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) != 0;
    std::lock_guard<std::mutex> guard(lock);
    const bool same = path == lastPath && found == lastFound &&
                      (!found || (CompareFileTime(&data.ftLastWriteTime, &lastData.ftLastWriteTime) == 0 &&
                                  data.nFileSizeLow == lastData.nFileSizeLow &&
                                  data.nFileSizeHigh == lastData.nFileSizeHigh));
    if (!same) {
        last = found ? ParseConfig(path) : TConfig{};
        lastPath = path;
        lastData = data;
        lastFound = found;
    }
    return last;
}

void Log(const char* format, ...)
{
    const std::string path = Env("FTD2XX_STANDIN_LOG");
    if (path.empty()) return;
    char line[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line - 2, format, args);
    va_end(args);
    std::string text(line, n < 0 ? 0 : std::min<size_t>(n, sizeof line - 3));
    text += "\r\n";
    // One handle per log file, kept open: readers share it, and each line is written whole.
    static std::mutex logLock;
    static std::string openPath;
    static HANDLE file = INVALID_HANDLE_VALUE;
    std::lock_guard<std::mutex> guard(logLock);
    if (path != openPath) {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        openPath = path;
    }
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The status an injected failure gives this call, or FT_OK.
FT_STATUS Injected(const TConfig& config, const char* call)
{
    auto it = config.failures.find(call);
    return it == config.failures.end() ? FT_OK : it->second;
}

TDevice* Find(FT_HANDLE handle)
{
    std::lock_guard<std::mutex> guard(devicesLock);
    auto* d = static_cast<TDevice*>(handle);
    return devices.count(d) ? d : nullptr;
}

SOCKET Connect(const std::string& endpoint)
{
    const size_t colon = endpoint.rfind(':');
    if (colon == std::string::npos) return INVALID_SOCKET;
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) return INVALID_SOCKET;
    addrinfo hints = {}, *found = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(endpoint.substr(0, colon).c_str(), endpoint.substr(colon + 1).c_str(), &hints, &found) != 0)
        return INVALID_SOCKET;
    SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (s != INVALID_SOCKET && connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) {
        closesocket(s);
        s = INVALID_SOCKET;
    }
    freeaddrinfo(found);
    if (s != INVALID_SOCKET) {
        BOOL on = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    }
    return s;
}

void ReadLine(TDevice* d)
{
    char buffer[16384];
    for (;;) {
        {
            // A driver's receive buffer is finite: while it is full the line waits (the
            // instrument's socket fills and its sends wait), as a converter's would.
            std::unique_lock<std::mutex> guard(d->lock);
            d->room.wait(guard, [d] { return d->received.size() < ReceiveBufferSize || d->closing; });
            if (d->closing) return;
        }
        const int n = recv(d->socket, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        std::lock_guard<std::mutex> guard(d->lock);
        d->received.append(buffer, n);
        if (d->event && d->received.size() >= d->entry.batch) SetEvent(d->event);
    }
}

// Every export answers with a status; nothing may unwind into the caller.
template <class F>
FT_STATUS Guard(F&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return FT_IO_ERROR;
    }
}

}  // namespace

extern "C" {

FT_STATUS WINAPI FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags)
{
    return Guard([&]() -> FT_STATUS {
        const TConfig config = ReadConfig();
        FT_STATUS status = Injected(config, "FT_ListDevices");
        if (Flags & FT_LIST_NUMBER_ONLY) {
            if (status == FT_OK) *static_cast<DWORD*>(pArg1) = static_cast<DWORD>(config.devices.size());
            Log("FT_ListDevices count -> %lu", status);
            return status;
        }
        const DWORD index = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(pArg1));
        if (status == FT_OK) {
            if ((Flags & FT_LIST_BY_INDEX) && (Flags & FT_OPEN_BY_SERIAL_NUMBER) && index < config.devices.size()) {
                const std::string& serial = config.devices[index].serial;
                std::memset(pArg2, 0, 16);
                std::memcpy(pArg2, serial.c_str(), std::min<size_t>(serial.size(), 15));
            } else {
                status = index < config.devices.size() ? FT_INVALID_PARAMETER : FT_DEVICE_NOT_FOUND;
            }
        }
        Log("FT_ListDevices %lu -> %lu", index, status);
        return status;
    });
}

FT_STATUS WINAPI FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE* pHandle)
{
    return Guard([&]() -> FT_STATUS {
        const TConfig config = ReadConfig();
        const std::string serial = pArg1 ? static_cast<const char*>(pArg1) : "";
        FT_STATUS status = Injected(config, "FT_OpenEx");
        const TDeviceEntry* entry = nullptr;
        for (const auto& d : config.devices)
            if (d.serial == serial) entry = &d;
        if (status == FT_OK && (Flags != FT_OPEN_BY_SERIAL_NUMBER || !pHandle)) status = FT_INVALID_PARAMETER;
        if (status == FT_OK && !entry) status = FT_DEVICE_NOT_FOUND;
        if (status == FT_OK) {
            std::lock_guard<std::mutex> guard(devicesLock);
            for (TDevice* d : devices)
                if (d->entry.serial == serial) status = FT_DEVICE_NOT_OPENED;  // open already
        }
        if (status == FT_OK) {
            auto* d = new TDevice;
            d->entry = *entry;
            d->socket = Connect(entry->endpoint);
            if (d->socket == INVALID_SOCKET) {
                delete d;
                status = FT_DEVICE_NOT_OPENED;
            } else {
                d->reader = std::thread([d] {
                    try {
                        ReadLine(d);
                    } catch (...) {
                    }
                });
                std::lock_guard<std::mutex> guard(devicesLock);
                devices.insert(d);
                *pHandle = d;
            }
        }
        Log("FT_OpenEx %s -> %lu", serial.c_str(), status);
        return status;
    });
}

FT_STATUS WINAPI FT_SetEventNotification(FT_HANDLE ftHandle, DWORD Mask, PVOID Param)
{
    return Guard([&]() -> FT_STATUS {
        FT_STATUS status = Injected(ReadConfig(), "FT_SetEventNotification");
        TDevice* d = Find(ftHandle);
        if (status == FT_OK && !d) status = FT_INVALID_HANDLE;
        if (status == FT_OK) {
            std::lock_guard<std::mutex> guard(d->lock);
            d->event = (Mask & FT_EVENT_RXCHAR) ? static_cast<HANDLE>(Param) : nullptr;
            if (d->event && d->received.size() >= d->entry.batch) SetEvent(d->event);
        }
        Log("FT_SetEventNotification %lu -> %lu", Mask, status);
        return status;
    });
}

FT_STATUS WINAPI FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits, UCHAR Parity)
{
    return Guard([&]() -> FT_STATUS {
        FT_STATUS status = Injected(ReadConfig(), "FT_SetDataCharacteristics");
        if (status == FT_OK && !Find(ftHandle)) status = FT_INVALID_HANDLE;
        if (status == FT_OK && ((WordLength != 7 && WordLength != 8) || (StopBits != 0 && StopBits != 2) || Parity > 4))
            status = FT_INVALID_PARAMETER;
        Log("FT_SetDataCharacteristics %u %u %u -> %lu", WordLength, StopBits, Parity, status);
        return status;
    });
}

FT_STATUS WINAPI FT_SetBaudRate(FT_HANDLE ftHandle, ULONG BaudRate)
{
    return Guard([&]() -> FT_STATUS {
        FT_STATUS status = Injected(ReadConfig(), "FT_SetBaudRate");
        if (status == FT_OK && !Find(ftHandle)) status = FT_INVALID_HANDLE;
        if (status == FT_OK && (BaudRate < 300 || BaudRate > 3000000)) status = FT_INVALID_PARAMETER;
        Log("FT_SetBaudRate %lu -> %lu", BaudRate, status);
        return status;
    });
}

FT_STATUS WINAPI FT_GetStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes, DWORD* dwTxBytes, DWORD* dwEventDWord)
{
    return Guard([&]() -> FT_STATUS {
        FT_STATUS status = Injected(ReadConfig(), "FT_GetStatus");
        TDevice* d = Find(ftHandle);
        if (status == FT_OK && !d) status = FT_INVALID_HANDLE;
        DWORD rx = 0;
        if (status == FT_OK) {
            std::lock_guard<std::mutex> guard(d->lock);
            rx = static_cast<DWORD>(d->received.size());
            *dwRxBytes = rx;
            *dwTxBytes = 0;
            *dwEventDWord = 0;
        }
        Log("FT_GetStatus %lu -> %lu", rx, status);
        return status;
    });
}

FT_STATUS WINAPI FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpBytesReturned)
{
    return Guard([&]() -> FT_STATUS {
        FT_STATUS status = Injected(ReadConfig(), "FT_Read");
        TDevice* d = Find(ftHandle);
        if (status == FT_OK && !d) status = FT_INVALID_HANDLE;
        DWORD n = 0;
        if (status == FT_OK) {
            std::lock_guard<std::mutex> guard(d->lock);
            n = static_cast<DWORD>(std::min<size_t>(dwBytesToRead, d->received.size()));
            std::memcpy(lpBuffer, d->received.data(), n);
            d->received.erase(0, n);
            *lpBytesReturned = n;
            d->room.notify_one();
        }
        Log("FT_Read %lu %lu -> %lu", dwBytesToRead, n, status);
        return status;
    });
}

FT_STATUS WINAPI FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpBytesWritten)
{
    return Guard([&]() -> FT_STATUS {
        FT_STATUS status = Injected(ReadConfig(), "FT_Write");
        TDevice* d = Find(ftHandle);
        if (status == FT_OK && !d) status = FT_INVALID_HANDLE;
        DWORD written = 0;
        if (status == FT_OK) {
            const char* p = static_cast<const char*>(lpBuffer);
            while (written < dwBytesToWrite) {
                const int n = send(d->socket, p + written, static_cast<int>(dwBytesToWrite - written), 0);
                if (n <= 0) {
                    status = FT_IO_ERROR;
                    break;
                }
                written += n;
            }
            *lpBytesWritten = written;
        }
        Log("FT_Write %lu %lu -> %lu", dwBytesToWrite, written, status);
        return status;
    });
}

FT_STATUS WINAPI FT_Close(FT_HANDLE ftHandle)
{
    return Guard([&]() -> FT_STATUS {
        FT_STATUS status = Injected(ReadConfig(), "FT_Close");
        TDevice* d = Find(ftHandle);
        if (!d) status = FT_INVALID_HANDLE;
        // An injected failure is reported, but the device is closed all the same.
        if (d) {
            {
                std::lock_guard<std::mutex> guard(devicesLock);
                devices.erase(d);
            }
            {
                std::lock_guard<std::mutex> guard(d->lock);
                d->closing = true;
            }
            d->room.notify_one();
            shutdown(d->socket, SD_BOTH);
            closesocket(d->socket);
            if (d->reader.joinable()) d->reader.join();
            delete d;
        }
        Log("FT_Close -> %lu", status);
        return status;
    });
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH && Env("FTD2XX_STANDIN_ABSENT") == "1") return FALSE;
    return TRUE;
}

}  // extern "C"
